#include "support/Ini.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

#include "support/Archivos.h"
#include "support/CodePage.h"
#include "support/Falla.h"

namespace lector {
namespace {

constexpr size_t kMaxValor = 999;  // the read buffer holds 1000 characters with its NUL
constexpr size_t kLargoCodificado = 501;
constexpr size_t kMinimoLargo = 450;  // shorter stored texts are read as hexadecimal pairs
constexpr size_t kMaxTexto = 230;
constexpr int kIntentosCodifica = 1000;

// ---- INI layer: lines of 8-bit text; "[section]" headers; "key=value" with the value kept
// byte for byte after the first "=". Names compare without case and without blanks around.

bool Blanco(char c) {
  return c == ' ' || c == '\t';
}

std::string Recorta(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && Blanco(s[a])) ++a;
  while (b > a && Blanco(s[b - 1])) --b;
  return s.substr(a, b - a);
}

bool MismoNombre(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> Lineas(const std::string& contenido) {
  std::vector<std::string> lineas;
  size_t inicio = 0;
  while (inicio < contenido.size()) {
    size_t fin = contenido.find('\n', inicio);
    if (fin == std::string::npos) fin = contenido.size();
    std::string linea = contenido.substr(inicio, fin - inicio);
    if (!linea.empty() && linea.back() == '\r') linea.pop_back();
    lineas.push_back(std::move(linea));
    inicio = fin + 1;
  }
  return lineas;
}

// A section header gives its name.
bool EsSeccion(const std::string& linea, std::string& nombre) {
  size_t a = 0;
  while (a < linea.size() && Blanco(linea[a])) ++a;
  if (a >= linea.size() || linea[a] != '[') return false;
  size_t b = linea.find(']', a + 1);
  if (b == std::string::npos) return false;
  nombre = Recorta(linea.substr(a + 1, b - a - 1));
  return true;
}

// A key line gives its name and where its value begins.
bool EsClave(const std::string& linea, std::string& nombre, size_t& valor) {
  size_t igual = linea.find('=');
  if (igual == std::string::npos) return false;
  nombre = Recorta(linea.substr(0, igual));
  valor = igual + 1;
  return true;
}

struct Ubicacion {
  long seccion = -1;  // line of the first header of the section
  long clave = -1;    // line of the key within it
  long ultima = -1;   // last non-blank line of that first section
};

Ubicacion Busca(const std::vector<std::string>& lineas, const std::string& seccion,
                const std::string& clave) {
  Ubicacion u;
  bool dentro = false, primera = false;
  for (size_t i = 0; i < lineas.size(); ++i) {
    std::string nombre;
    size_t valor;
    if (EsSeccion(lineas[i], nombre)) {
      dentro = MismoNombre(nombre, seccion);
      primera = dentro && u.seccion < 0;
      if (primera) u.seccion = u.ultima = static_cast<long>(i);
      continue;
    }
    if (!dentro) continue;
    if (primera && !Recorta(lineas[i]).empty()) u.ultima = static_cast<long>(i);
    if (EsClave(lineas[i], nombre, valor) && MismoNombre(nombre, clave)) {
      u.clave = static_cast<long>(i);
      return u;
    }
  }
  return u;
}

// ---- Scrambling, on 8-bit codes.

std::mt19937& Generador() {
  static std::mt19937 g = [] {
    std::random_device rd;
    std::seed_seq semilla{rd(), rd(), rd(), static_cast<unsigned>(time(nullptr))};
    return std::mt19937(semilla);
  }();
  return g;
}

// A uniform draw 0 <= u < 1 scaled and rounded to the nearest integer, ties to the even one.
int Sorteo(double escala, double base) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  return static_cast<int>(std::nearbyint(u(Generador()) * escala + base));
}

std::string DecodificaHex8(const std::string& t) {
  auto digito = [](unsigned char c) { return c >= '0' && c <= '9' ? c - '0' : c - 55; };
  std::string out;
  for (size_t i = 0; i < t.size(); i += 2) {
    auto a = static_cast<unsigned char>(t[i]);
    auto b = i + 1 < t.size() ? static_cast<unsigned char>(t[i + 1]) : a;
    int v = 16 * digito(a) + digito(b);
    if (v < 0 || v > 255) break;
    out += static_cast<char>(v);
  }
  return out;
}

std::string Decodifica8(const std::string& t) {
  if (t.size() < kMinimoLargo) return DecodificaHex8(t);
  auto codigo = [&](long posicion, int& c) {  // positions count from 1
    if (posicion < 1 || posicion > static_cast<long>(t.size())) return false;
    c = static_cast<unsigned char>(t[posicion - 1]);
    return true;
  };
  int c;
  codigo(2, c);
  long s = c - 200;
  if (!codigo(s + 3, c)) return "";
  long n = c - 20;
  std::string out;
  for (long k = 1; k <= n; ++k) {
    if (!codigo(s + 2 + 2 * k, c)) return "";
    long v = c - s - k;
    if (v < 0 || v > 255) return "";
    out += static_cast<char>(v);
  }
  return out;
}

std::string Codifica8(const std::string& texto) {
  const std::string t = texto.substr(0, kMaxTexto);
  const int n = static_cast<int>(t.size());
  // The shift 0 is the most room there is; when even it overflows a code, no draw can help.
  for (int k = 1; k <= n; ++k)
    if (static_cast<unsigned char>(t[k - 1]) + k > 255) return "";
  auto relleno = [] { return static_cast<char>(Sorteo(220, 30)); };
  for (int intento = 0; intento < kIntentosCodifica; ++intento) {
    int s = Sorteo(10, 0);
    std::string out;
    out.reserve(kLargoCodificado);
    out += relleno();
    out += static_cast<char>(200 + s);
    for (int i = 0; i < s; ++i) out += static_cast<char>(Sorteo(10, 200));
    out += static_cast<char>(n + 20);
    bool cabe = true;
    for (int k = 1; k <= n && cabe; ++k) {
      int c = static_cast<unsigned char>(t[k - 1]) + s + k;
      // A line break would not survive the settings file.
      cabe = c <= 255 && c != '\r' && c != '\n';
      out += static_cast<char>(c);
      out += relleno();
    }
    if (!cabe) continue;
    while (out.size() < kLargoCodificado) out += relleno();
    if (Decodifica8(out) == t) return out;
  }
  return "";
}

// The first 230 characters of a UTF-8 text (a character is a code point).
std::string Corta(const std::string& utf8) {
  size_t caracteres = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && caracteres++ == kMaxTexto)
      return utf8.substr(0, i);
  }
  return utf8;
}

}  // namespace

std::string LeeIni(const std::filesystem::path& archivo, const std::string& seccion,
                   const std::string& clave, const std::string& porDefecto) {
  std::string valor = Utf8ACp1252(porDefecto), contenido;
  if (LeeArchivo(archivo, contenido)) {
    auto lineas = Lineas(contenido);
    auto u = Busca(lineas, Recorta(Utf8ACp1252(seccion)), Recorta(Utf8ACp1252(clave)));
    if (u.clave >= 0) {
      std::string nombre;
      size_t inicio = 0;
      EsClave(lineas[u.clave], nombre, inicio);
      valor = lineas[u.clave].substr(inicio);
    }
  }
  if (valor.size() > kMaxValor) valor.resize(kMaxValor);
  return Cp1252AUtf8(valor);
}

bool GrabaIni(const std::filesystem::path& archivo, const std::string& seccion,
              const std::string& clave, const std::string& valor) {
  // The windows' thread and the worker both write the file: one whole rewrite at a time.
  static std::mutex uno;
  std::lock_guard<std::mutex> g(uno);
  const std::string s = Recorta(Utf8ACp1252(seccion)), k = Recorta(Utf8ACp1252(clave));
  // Names that the file could not give back as the same section and key are refused.
  auto malo = [](const std::string& x) { return x.find_first_of("\r\n") != std::string::npos; };
  if (s.empty() || k.empty() || malo(s) || malo(k) || s.find(']') != std::string::npos ||
      k.find('=') != std::string::npos || k[0] == '[')
    return false;
  std::string v = Utf8ACp1252(valor);
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';

  std::string contenido;
  std::error_code ec;
  if (std::filesystem::exists(archivo, ec) && !LeeArchivo(archivo, contenido)) return false;
  auto lineas = Lineas(contenido);
  auto u = Busca(lineas, s, k);
  const std::string linea = k + "=" + v;
  if (u.clave >= 0) {
    lineas[u.clave] = linea;
  } else if (u.seccion >= 0) {
    lineas.insert(lineas.begin() + u.ultima + 1, linea);
  } else {
    lineas.push_back("[" + s + "]");
    lineas.push_back(linea);
  }
  std::string salida;
  for (const auto& l : lineas) salida += l + "\r\n";
  return EscribeArchivo(archivo, salida);
}

std::string Codifica(const std::string& texto) {
  const std::string corto = Corta(texto);
  std::string t = Utf8ACp1252(corto);
  // A character without a Windows-1252 code would come back as "?": not representable.
  if (Cp1252AUtf8(t) != corto) return "";
  return Cp1252AUtf8(Codifica8(t));
}

std::string Decodifica(const std::string& texto) {
  return Cp1252AUtf8(Decodifica8(Utf8ACp1252(texto)));
}

std::string DecodificaHex(const std::string& texto) {
  return Cp1252AUtf8(DecodificaHex8(Utf8ACp1252(texto)));
}

int16_t ValorHex(const std::string& par) {
  std::string p = Utf8ACp1252(par);
  if (p.empty()) throw Falla(kArgumentoInvalido, "ValorHex: par vacío");
  auto digito = [](unsigned char c) { return c >= '0' && c <= '9' ? c - '0' : c - 55; };
  return static_cast<int16_t>(16 * digito(static_cast<unsigned char>(p.front())) +
                              digito(static_cast<unsigned char>(p.back())));
}

void CargaConfig(Lector& l) {
  CargaConfig(l.ArchivoIni(), l.estado);
}

void CargaConfig(const std::filesystem::path& archivo, Estado& e) {
  e.Recordar = Decodifica(LeeIni(archivo, "USER", "REC", "0")) == "1";
  e.AutoIngreso = Decodifica(LeeIni(archivo, "USER", "AUTO", "0")) == "1";
  e.Usuario = Decodifica(LeeIni(archivo, "USER", "USER", ""));
  e.Clave = Decodifica(LeeIni(archivo, "USER", "PASS", ""));
}

std::vector<std::string> GuardaConfig(Lector& l) {
  auto archivo = l.ArchivoIni();
  auto& e = l.estado;
  std::vector<std::string> sinGuardar;
  auto guarda = [&](const char* clave, std::string& valor) {
    valor = Corta(valor);
    std::string codificado = Codifica(valor);
    if (codificado.empty()) {
      sinGuardar.push_back(clave);
      return;
    }
    GrabaIni(archivo, "USER", clave, codificado);
  };
  if (e.Recordar) guarda("USER", e.Usuario);
  if (e.Recordar && e.AutoIngreso) guarda("PASS", e.Clave);
  GrabaIni(archivo, "USER", "REC", Codifica(e.Recordar ? "1" : "0"));
  GrabaIni(archivo, "USER", "AUTO", Codifica(e.AutoIngreso ? "1" : "0"));
  return sinGuardar;
}

std::string LeeUrlBase(const Lector& l) {
  std::string url = Recorta(LeeIni(l.ArchivoIni(), "SERVIDOR", "URL", ""));
  if (url.empty()) url = kUrlBasePorDefecto;
  if (url.back() != '/') url += '/';
  return url;
}

namespace {

// A serial names a key of the file: only characters that cannot end or break a key line.
bool SerialComoClave(const std::string& serial) {
  if (serial.empty() || serial.size() > 64) return false;
  for (unsigned char c : serial)
    if (!std::isalnum(c) && c != '-' && c != '_' && c != '.') return false;
  return true;
}

}  // namespace

int32_t ClaveComunicacion(const Lector& l, const std::string& serial) {
  if (!SerialComoClave(serial)) return 0;
  const std::string texto = Decodifica(LeeIni(l.ArchivoIni(), kSeccionClaves, serial, ""));
  try {
    const int32_t clave = texto.empty() ? 0 : AEntero32(texto);
    return clave >= 0 && clave <= kClaveComunicacionMaxima ? clave : 0;
  } catch (const Falla&) {
    return 0;
  }
}

std::string GuardaClaveComunicacion(const Lector& l, const std::string& serial,
                                    const std::string& clave) {
  if (!SerialComoClave(serial))
    return "El serial solo puede tener letras, números, \"-\", \"_\" y \".\".";
  bool valida = !clave.empty() && clave.size() <= 6;
  for (unsigned char c : clave) valida = valida && std::isdigit(c);
  if (!valida) return "La clave de comunicación es un número de 0 a 999999.";
  if (!GrabaIni(l.ArchivoIni(), kSeccionClaves, serial, Codifica(std::to_string(std::stol(clave)))))
    return "No se pudo escribir " + l.ArchivoIni().string();
  return "";
}

}  // namespace lector
