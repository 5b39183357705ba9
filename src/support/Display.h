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

// A Display that shows nothing, keeps only the caption and answers every question No: the
// base of the terminal's display and what benchmarks run with.
class SinVentana : public Display {
 public:
  void AddLog(const std::string&) override {}
  void SetCaption(const std::string& t) override { caption_ = t; }
  std::string Caption() const override { return caption_; }
  void ClearRelojes() override {}
  void AddReloj(const std::string&) override {}
  int CountRelojes() const override { return 0; }
  std::string Reloj(int) const override { return ""; }
  void SetReloj(int, const std::string&) override {}
  void SetLamp(int32_t) override {}
  void SetLID(const std::string&) override {}
  void Repaint() override {}
  void DoEvents() override {}
  void MensajeCritico(const std::string&) override {}
  bool PreguntaSiNo(const std::string&) override { return false; }

 private:
  std::string caption_ = kTituloVentana;
};

}  // namespace lector
