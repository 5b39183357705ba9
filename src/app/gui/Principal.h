#pragma once
// The main window: clock list, activity list, lamp, machine identity, the two buttons, the
// processing timer TProcess and the tray icon with its menu. It is the program's Display and
// the cycle's timer, and it owns the program's context.
#include <QIcon>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>

#include "support/Lector.h"

class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTimer;

namespace lector::login {
class Login;
}

namespace lector::app {

// Title of the message boxes.
constexpr const char* kTituloAplicacion = "Lector";

// The program's icon (a clock face with a fingerprint), from the resources.
QIcon Icono();

// The lamp beside "Reloj": a filled circle in a Windows RGB colour (low byte red).
class Lampara : public QWidget {
 public:
  explicit Lampara(QWidget* padre);
  int32_t color = kLampGris;
  QSize sizeHint() const override { return {18, 18}; }

 protected:
  void paintEvent(QPaintEvent*) override;
};

class Principal : public QWidget, public Display, public Temporizador {
 public:
  // consola: nobody watches the screen (headless); every activity line and clock list row is
  // also printed on standard output, and the boxes are printed and answered No / OK.
  Principal(SystemClock& reloj, std::filesystem::path carpeta, bool consola);
  ~Principal() override;

  Lector& lector() { return l_; }
  // Headless: the windows are never put on the (offscreen) screen, which saves their memory.
  bool consola() const { return consola_; }

  void AddLog(const std::string& texto) override;
  void SetCaption(const std::string& texto) override;
  std::string Caption() const override;
  void ClearRelojes() override;
  void AddReloj(const std::string& fila) override;
  int CountRelojes() const override;
  std::string Reloj(int indice) const override;
  void SetReloj(int indice, const std::string& fila) override;
  void SetLamp(int32_t color) override;
  void SetLID(const std::string& texto) override;
  void Repaint() override;
  void DoEvents() override;
  void MensajeCritico(const std::string& texto) override;
  bool PreguntaSiNo(const std::string& texto) override;

  void SetInterval(int ms) override;
  void SetEnabled(bool activo) override;

  // After a login: shown, then tray icon, minimized (into the tray) and "ID: ".
  void Form_Activate();
  void Cerrar_Click();
  void MnuTray_Click(int indice);
  // The exit answered Yes: session off, tray icon removed, timers stopped, program ended.
  void Termina();

  // The service's web site: scheme, host and port of the base URL.
  static std::string SitioWeb(const std::string& urlBase);

  login::Login* login = nullptr;  // set by the login window
  // Whether a system tray can bring a hidden window back; tests replace it.
  std::function<bool()> hayBandeja;
  // Ends the process after Termina has tidied up; tests replace it.
  std::function<void()> salida;

 protected:
  void closeEvent(QCloseEvent* e) override;  // Form_Unload
  void changeEvent(QEvent* e) override;      // Form_Resize

 private:
  void Eco(const std::string& linea);
  // Hides the window 100 ms from now, when a tray can bring it back.
  void OcultaLuego();
  QWidget* PadreCaja();

  Lector l_;
  bool consola_;
  QListWidget* relojes_;
  QListWidget* log_;
  QLabel* lid_;
  Lampara* led_;
  QTimer* proceso_;
  QTimer* ocultar_;  // the 100 ms before hiding
  QMenu* mtray_;
  QSystemTrayIcon* bandeja_;
  int anidado_ = 0;  // inside DoEvents or a box: an operation is under way
  bool avisoSinBandeja_ = false, terminando_ = false;
};

}  // namespace lector::app
