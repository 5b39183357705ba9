#pragma once
// A Display that keeps every call, for exact checks of what an operation showed, answers every
// Yes/No question No (only the windows ask them), and at its yields runs a handler or raises
// scripted failures, to drive the failure handling of the operations that yield.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "support/Display.h"
#include "support/Falla.h"

namespace lector::test {

class RecordingDisplay : public Display {
 public:
  struct Llamada {
    std::string op;  // "AddLog", "SetCaption", "ClearRelojes", "AddReloj", "SetReloj", "SetLamp",
                     // "SetLID", "Repaint", "DoEvents", "MensajeCritico", "PreguntaSiNo"
    std::string texto;
    int64_t valor = 0;
  };

  void AddLog(const std::string& t) override { logs.push_back(Anota("AddLog", t)); }
  void SetCaption(const std::string& t) override { caption = Anota("SetCaption", t); }
  std::string Caption() const override { return caption; }
  void ClearRelojes() override {
    Anota("ClearRelojes");
    relojes.clear();
  }
  void AddReloj(const std::string& fila) override { relojes.push_back(Anota("AddReloj", fila)); }
  int CountRelojes() const override { return static_cast<int>(relojes.size()); }
  std::string Reloj(int i) const override { return i >= 0 && i < CountRelojes() ? relojes[i] : ""; }
  void SetReloj(int i, const std::string& fila) override {
    Anota("SetReloj", fila, i);
    if (i >= 0 && i < CountRelojes()) relojes[i] = fila;
  }
  void SetLamp(int32_t color) override { Anota("SetLamp", "", lamp = color); }
  void SetLID(const std::string& t) override { Anota("SetLID", t); }
  void Repaint() override { Anota("Repaint"); }
  void DoEvents() override {
    Anota("DoEvents");
    if (alCeder) alCeder();
    int n = siempre;
    if (!n && !fallas.empty()) {
      n = fallas.front();
      fallas.pop_front();
    }
    if (n) throw Falla(n, "Falla de prueba");
  }
  void MensajeCritico(const std::string& t) override {
    mensajes.push_back(Anota("MensajeCritico", t));
  }
  bool PreguntaSiNo(const std::string& t) override {
    Anota("PreguntaSiNo", t);
    return false;
  }

  // Calls whose op is the given one, in order.
  std::vector<Llamada> De(const std::string& op) const {
    std::vector<Llamada> r;
    for (const auto& l : llamadas)
      if (l.op == op) r.push_back(l);
    return r;
  }

  std::vector<Llamada> llamadas;
  std::vector<std::string> logs;      // AddLog texts, oldest first
  std::vector<std::string> mensajes;  // texts of the critical boxes
  std::vector<std::string> relojes;
  std::string caption = kTituloVentana;
  int32_t lamp = kLampGris;
  std::function<void()> alCeder;  // runs at every yield, as a window event would
  std::deque<int> fallas;         // numbers raised by the next yields (0 = no failure)
  int siempre = 0;                // raised by every yield when not 0

 private:
  const std::string& Anota(const char* op, const std::string& texto = "", int64_t valor = 0) {
    llamadas.push_back({op, texto, valor});
    return texto;
  }
};

}  // namespace lector::test
