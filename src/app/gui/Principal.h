#pragma once
// The main window: clock list, activity list, lamp, machine identity, the two buttons, the
// processing timer TProcess and the tray icon with its menu. It is the program's Display and
// the cycle's timer, and it owns the program's context and the worker thread that runs the
// cycles: its Display operations may be called from either thread and reach the widgets in order.
#include <QIcon>
#include <QRect>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/gui/Trabajador.h"
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

  // Runs a job on the worker thread, after those queued (see Trabajador::Pon).
  void Trabaja(std::function<void()> trabajo, std::string clase = "") {
    trabajo_.Pon(std::move(trabajo), std::move(clase));
  }
  // No job is running or waiting on the worker thread.
  bool Libre() const { return trabajo_.Libre(); }
  // Another copy of the program asked to be shown: the login window or the main window comes up.
  void Despierta();

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
  // Opens an address in the desktop's browser; false when there is none. Tests replace it.
  std::function<bool(const std::string&)> abreNavegador;

 protected:
  void closeEvent(QCloseEvent* e) override;  // Form_Unload
  void changeEvent(QEvent* e) override;      // Form_Resize
  void hideEvent(QHideEvent* e) override;    // keeps the place the window had

 private:
  void Eco(const std::string& linea);
  // Hides the window 100 ms from now, when a tray can bring it back.
  void OcultaLuego();
  QWidget* PadreCaja();
  // Runs f on the windows' thread: now when called there, else queued after earlier calls.
  void EnVentana(std::function<void()> f);
  // A modal box on the windows' thread; from the worker it waits for the answer, and a stop
  // request answers it "No" (false).
  bool Caja(std::function<bool()> caja);
  // Shows the window at the place and size it had (Lector.ini, section "VENTANA"), within the
  // screen's free area.
  void MuestraEnPantalla();
  void GuardaLugar();

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
  int anidado_ = 0;  // inside a box: the windows' thread is in a nested event loop
  bool avisoSinBandeja_ = false, terminando_ = false;
  std::optional<QRect> lugar_;  // the window's place to restore; none until one is known
  // What the worker reads back of the window, kept beside the widgets.
  mutable std::mutex espejo_;
  std::string caption_;
  std::vector<std::string> filas_;
  Trabajador trabajo_;  // last: its thread ends before the rest goes
};

}  // namespace lector::app
