#pragma once
// Seam for the main window's timer TProcess: the cycle sets its interval and switches it off
// while it visits the clocks. The window implements it with a QTimer, tests with a recorder.
namespace lector {

class Temporizador {
 public:
  virtual ~Temporizador() = default;
  virtual void SetInterval(int ms) = 0;
  virtual void SetEnabled(bool activo) = 0;
};

}  // namespace lector
