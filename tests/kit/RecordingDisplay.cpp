#include "kit/RecordingDisplay.h"

namespace lector::test {

void RecordingDisplay::AddLog(const std::string& texto) {
  llamadas.push_back({"AddLog", texto});
  logs.push_back(texto);
}

void RecordingDisplay::SetCaption(const std::string& texto) {
  llamadas.push_back({"SetCaption", texto});
  caption = texto;
}

void RecordingDisplay::ClearRelojes() {
  llamadas.push_back({"ClearRelojes", ""});
  relojes.clear();
}

void RecordingDisplay::AddReloj(const std::string& fila) {
  llamadas.push_back({"AddReloj", fila});
  relojes.push_back(fila);
}

std::string RecordingDisplay::Reloj(int indice) const {
  if (indice < 0 || indice >= CountRelojes()) return "";
  return relojes[indice];
}

void RecordingDisplay::SetReloj(int indice, const std::string& fila) {
  llamadas.push_back({"SetReloj", fila, indice});
  if (indice >= 0 && indice < CountRelojes()) relojes[indice] = fila;
}

void RecordingDisplay::SetLamp(int32_t color) {
  llamadas.push_back({"SetLamp", "", color});
  lamp = color;
}

void RecordingDisplay::SetLID(const std::string& texto) {
  llamadas.push_back({"SetLID", texto});
  lid = texto;
}

void RecordingDisplay::Repaint() {
  llamadas.push_back({"Repaint", ""});
}
void RecordingDisplay::DoEvents() {
  llamadas.push_back({"DoEvents", ""});
}

void RecordingDisplay::MensajeCritico(const std::string& texto) {
  llamadas.push_back({"MensajeCritico", texto});
  mensajes.push_back(texto);
}

bool RecordingDisplay::PreguntaSiNo(const std::string& texto) {
  bool si = false;
  if (!respuestas.empty()) {
    si = respuestas.front();
    respuestas.pop_front();
  }
  llamadas.push_back({"PreguntaSiNo", texto, si});
  return si;
}

std::vector<RecordingDisplay::Llamada> RecordingDisplay::De(const std::string& op) const {
  std::vector<Llamada> r;
  for (const auto& l : llamadas)
    if (l.op == op) r.push_back(l);
  return r;
}

}  // namespace lector::test
