#pragma once
// Seam for the main window's operations and the modal boxes, so that every module can show
// progress without knowing Qt; tests use a recorder (tests/kit/RecordingDisplay.h).
#include <cstdint>
#include <string>

namespace lector {

// Lamp colours, as Windows RGB values (low byte red).
constexpr int32_t kLampGris = 12632256;
constexpr int32_t kLampRojo = 255;
constexpr int32_t kLampVerde = 49152;

constexpr const char* kTituloVentana = "VANTIRO Lector de Relojes";

class Display {
 public:
  virtual ~Display() = default;
  // Activity list: the implementation stamps the line ("dd/MM/yy hh:mm ") and puts it on top.
  virtual void AddLog(const std::string& texto) = 0;
  virtual void SetCaption(const std::string& texto) = 0;
  virtual std::string Caption() const = 0;
  // The clock list box `relojes`.
  virtual void ClearRelojes() = 0;
  virtual void AddReloj(const std::string& fila) = 0;
  virtual int CountRelojes() const = 0;
  virtual std::string Reloj(int indice) const = 0;  // "" when out of range
  virtual void SetReloj(int indice, const std::string& fila) = 0;
  virtual void SetLamp(int32_t color) = 0;
  virtual void SetLID(const std::string& texto) = 0;
  virtual void Repaint() = 0;
  // Lets pending window events run (the points where an operation yields).
  virtual void DoEvents() = 0;
  // Modal boxes: OK box with the critical-error icon; Yes/No question (true = Yes).
  virtual void MensajeCritico(const std::string& texto) = 0;
  virtual bool PreguntaSiNo(const std::string& texto) = 0;
};

}  // namespace lector
