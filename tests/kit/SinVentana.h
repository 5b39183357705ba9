#pragma once
// A Display that shows nothing and keeps only the caption: for benchmarks and fuzzing, where
// recording every call would only cost time and memory.
#include <string>

#include "support/Display.h"

namespace lector::test {

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
  std::string caption_;
};

}  // namespace lector::test
