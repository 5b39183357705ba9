#pragma once
// A Display that keeps every call, for exact checks of what an operation showed, and answers the
// Yes/No questions from a script.
#include <deque>
#include <string>
#include <vector>

#include "support/Display.h"

namespace lector::test {

class RecordingDisplay : public Display {
 public:
  struct Llamada {
    std::string op;  // "AddLog", "SetCaption", "ClearRelojes", "AddReloj", "SetReloj", "SetLamp",
                     // "SetLID", "Repaint", "DoEvents", "MensajeCritico", "PreguntaSiNo"
    std::string texto;
    int64_t valor = 0;
  };

  void AddLog(const std::string& texto) override;
  void SetCaption(const std::string& texto) override;
  std::string Caption() const override { return caption; }
  void ClearRelojes() override;
  void AddReloj(const std::string& fila) override;
  int CountRelojes() const override { return static_cast<int>(relojes.size()); }
  std::string Reloj(int indice) const override;
  void SetReloj(int indice, const std::string& fila) override;
  void SetLamp(int32_t color) override;
  void SetLID(const std::string& texto) override;
  void Repaint() override;
  void DoEvents() override;
  void MensajeCritico(const std::string& texto) override;
  bool PreguntaSiNo(const std::string& texto) override;

  // Calls whose op is the given one, in order.
  std::vector<Llamada> De(const std::string& op) const;

  std::vector<Llamada> llamadas;
  std::vector<std::string> logs;      // AddLog texts, oldest first
  std::vector<std::string> mensajes;  // texts of the critical boxes
  std::vector<std::string> relojes;
  std::string caption = kTituloVentana;
  std::string lid;
  int32_t lamp = kLampGris;
  std::deque<bool> respuestas;  // answers to PreguntaSiNo; "No" when empty
};

}  // namespace lector::test
