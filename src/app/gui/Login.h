#pragma once
// The login window: user name, password, remember-user and automatic login; on a successful
// login it hands over to the main window and starts its processing timer.
#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace lector::app {
class Principal;
}

namespace lector::login {

// The wait before an automatic login, and the retry of a failed one.
constexpr int kEsperaAutomatico = 1500;
constexpr int kReintento = 30000;

class Login : public QDialog {
 public:
  explicit Login(app::Principal& principal);
  ~Login() override;

  // Start-up shows it modally, closing the session without blocking the main window.
  void MuestraModal();
  void MuestraNoModal();
  // An automatic login is waiting to run (the opening sequence found remembered credentials).
  bool IngresoAutomatico() const;

  void cmdOK_Click();  // the OK action
  void cmdCancel_Click();
  void CRec_Click();
  void TimerIni_Timer();
  // Enables the user and password boxes (after the session was closed).
  void HabilitaUsuario();
  // Stops the automatic login and its retry (the program is ending).
  void Detiene();

 protected:
  void showEvent(QShowEvent* e) override;    // the opening sequence
  void closeEvent(QCloseEvent* e) override;  // ends the program unless signed in
  void reject() override;                    // Esc: "Salir"

 private:
  void Apertura();
  // The login's outcome, back from the worker: signed in, or the failure to show.
  void Ingreso(bool abierta, const std::string& falla, const std::vector<std::string>& sinGuardar);
  // The warnings under the inputs: an address without https://, a failed connection.
  void Avisa(const std::string& falla);

  app::Principal& p_;
  QLineEdit *TUser_, *TPass_;
  QPushButton *cmdOK_, *cmdCancel_;
  QCheckBox *CRec_, *CAuto_;
  QTimer *TimerIni_, *espera_;
  QLabel* aviso_;
  bool ingresado_ = false;  // the last login of this window succeeded
};

}  // namespace lector::login
