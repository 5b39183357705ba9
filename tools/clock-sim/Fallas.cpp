#include "clock-sim/Fallas.h"

#include <algorithm>
#include <cctype>

#include "clock-sim/Sesion.h"

namespace clocksim {

namespace {

struct NombreTipo {
  const char* nombre;
  TipoFalla tipo;
  bool conValor;
};
const NombreTipo kTipos[] = {
    {"drop-after", TipoFalla::kCorta, true},
    {"delay", TipoFalla::kRetrasa, true},
    {"garbage", TipoFalla::kBasura, false},
    {"refuse", TipoFalla::kRechaza, false},
    {"bad-checksum", TipoFalla::kChecksumMalo, false},
    {"silent", TipoFalla::kMudo, false},
    {"drop", TipoFalla::kPierde, true},
    {"duplicate", TipoFalla::kDuplica, true},
    {"reorder", TipoFalla::kReordena, true},
    {"punch", TipoFalla::kMarca, false},
};

std::optional<uint32_t> Numero(const std::string& s) {
  if (s.empty() || s.size() > 10) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(v);
}

}  // namespace

std::optional<uint16_t> ComandoDeTexto(const std::string& texto) {
  if (auto n = Numero(texto)) {
    if (*n > 0xFFFF) return std::nullopt;
    return static_cast<uint16_t>(*n);
  }
  std::string buscado = texto;
  std::transform(buscado.begin(), buscado.end(), buscado.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (buscado.rfind("CMD_", 0) != 0) buscado = "CMD_" + buscado;
  for (uint32_t c = 0; c <= 0xFFFF; ++c) {
    if (NombreCodigo(static_cast<uint16_t>(c)) == buscado) return static_cast<uint16_t>(c);
  }
  return std::nullopt;
}

std::optional<Falla> LeeFalla(const std::string& texto, std::string& error) {
  Falla f;
  std::string resto = texto;
  if (auto estrella = resto.find('*'); estrella != std::string::npos) {
    auto veces = Numero(resto.substr(estrella + 1));
    if (!veces || *veces == 0 || *veces > 1000000) {
      error = "veces inválidas en \"" + texto + "\"";
      return std::nullopt;
    }
    f.veces = static_cast<int>(*veces);
    resto.resize(estrella);
  }
  if (auto arroba = resto.find('@'); arroba != std::string::npos) {
    auto c = ComandoDeTexto(resto.substr(arroba + 1));
    if (!c) {
      error = "comando desconocido en \"" + texto + "\"";
      return std::nullopt;
    }
    f.comando = *c;
    resto.resize(arroba);
  }
  std::string valor;
  if (auto igual = resto.find('='); igual != std::string::npos) {
    valor = resto.substr(igual + 1);
    resto.resize(igual);
  }
  for (const auto& t : kTipos) {
    if (resto != t.nombre) continue;
    f.tipo = t.tipo;
    if (!valor.empty()) {
      auto v = Numero(valor);
      if (!v) {
        error = "valor inválido en \"" + texto + "\"";
        return std::nullopt;
      }
      f.valor = *v;
    } else if (t.conValor) {
      error = "\"" + resto + "\" necesita un valor (" + resto + "=N)";
      return std::nullopt;
    }
    return f;
  }
  error = "falla desconocida \"" + resto +
          "\" (drop-after, delay, garbage, refuse, bad-checksum, silent, drop, duplicate, "
          "reorder, punch)";
  return std::nullopt;
}

std::string DescribeFalla(const Falla& f) {
  std::string s;
  for (const auto& t : kTipos) {
    if (t.tipo == f.tipo) s = t.nombre;
  }
  if (f.valor) s += "=" + std::to_string(f.valor);
  if (f.comando) s += "@" + NombreCodigo(f.comando);
  if (f.veces >= 0) s += "*" + std::to_string(f.veces);
  return s;
}

}  // namespace clocksim
