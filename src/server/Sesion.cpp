#include "server/Sesion.h"

#include "server/Http.h"
#include "support/Falla.h"
#include "support/Ini.h"
#include "support/Log.h"

namespace lector::server {
namespace {

// A session identifier is a short token; longer answers are texts of the service.
constexpr size_t kLargoSesion = 26;

bool Contiene(const std::string& texto, const char* parte) {
  return texto.find(parte) != std::string::npos;
}

std::string UrlLogin(const Lector& l, const std::string& ss, const std::string& usuario,
                     const std::string& clave, const std::string& idEquipo) {
  return l.urlBase + "login2.php?ss=" + CodificaValor(ss) + "&nit=" + kNit +
         "&serial=" + kSerialLector + "&usuario=" + CodificaValor(usuario) +
         "&clave=" + CodificaValor(clave) + "&id=" + CodificaValor(idEquipo) +
         "&dev=" + kDispositivo + "&v=" + std::to_string(kVersionMayor) + "." +
         std::to_string(kVersionMenor) + "." + std::to_string(kVersionRevision);
}

// The pause where a login starts, and starts over after a failure of its own steps.
void Pausa(Lector& l) {
  l.display.DoEvents();
  l.reloj.Dormir(500);
  l.display.DoEvents();
}

// Both requests and the classification.
bool IntentaLogin(Lector& l, const std::string& usuario, const std::string& clave,
                  const std::string& idEquipo) {
  l.reloj.Dormir(100);
  Estado& e = l.estado;
  e.UltimoUsuario = usuario;
  e.UltimaClave = clave;
  std::string ss = HttpGet(l, l.urlBase + "main/ajax.php?call=ss");
  std::string respuesta = HttpGet(l, UrlLogin(l, ss, usuario, clave, idEquipo));
  e.IdSesion = respuesta;
  EscribeLog(l, respuesta);
  if (!LoginRechazado(respuesta, clave)) return true;
  std::string bajo = Minusculas(respuesta);
  if (Caracteres(respuesta) > kLargoSesion &&
      !Contiene(bajo, Minusculas("¡Objeto no localizado!").c_str()) &&
      !Contiene(bajo, "bad request") && (Contiene(bajo, "usuario") || Contiene(bajo, "contraseña")))
    l.display.MensajeCritico(respuesta);
  e.IdSesion.clear();
  return false;
}

}  // namespace

size_t Caracteres(const std::string& texto) {
  size_t n = 0;
  for (unsigned char c : texto)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string Minusculas(const std::string& texto) {
  std::string out = texto;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = out[i];
    if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < out.size() && (out[i + 1] & 0xC0) == 0x80) {
      // U+00C0..U+00DE (but not U+00D7, the multiplication sign) are capitals of U+00E0..U+00FE.
      // A stray lead byte skips nothing, so the letter after it is still lowered.
      unsigned char d = out[i + 1];
      if (d >= 0x80 && d <= 0x9E && d != 0x97) out[i + 1] = static_cast<char>(d + 0x20);
      ++i;
    }
  }
  return out;
}

bool LoginRechazado(const std::string& respuesta, const std::string& clave) {
  if (respuesta == "Error" || respuesta.empty()) return true;
  std::string bajo = Minusculas(respuesta);
  for (const char* palabra :
       {"cancel", "problem", "error", "vantiro", "incorrecta", "usuario", "contraseña"})
    if (Contiene(bajo, palabra)) return true;
  return Caracteres(clave) > kLargoSesion && Caracteres(respuesta) > kLargoSesion;
}

bool ServerLogin(Lector& l, const std::string& usuario, const std::string& clave,
                 const std::string& idEquipo) {
  if (usuario.empty() || clave.empty()) return false;
  const Estado& e = l.estado;
  if (usuario == e.UltimoUsuario && clave == e.UltimaClave && e.SesionAbierta) return true;
  // A failure of the login's own steps starts it over once; a second one goes to the caller.
  Pausa(l);
  try {
    return IntentaLogin(l, usuario, clave, idEquipo);
  } catch (...) {
  }
  try {
    Pausa(l);
    return IntentaLogin(l, usuario, clave, idEquipo);
  } catch (...) {
    throw FallaActual();
  }
}

bool Reingresa(Lector& l) {
  l.display.DoEvents();
  // The settings file names the service when it has a URL; read at every sign-in, so an edited
  // file takes effect at the next one.
  if (!LeeIni(l.ArchivoIni(), "SERVIDOR", "URL", "").empty()) l.urlBase = LeeUrlBase(l);
  Estado& e = l.estado;
  e.SesionAbierta = ServerLogin(l, e.Usuario, e.Clave, e.IdEquipo);
  return e.SesionAbierta;
}

}  // namespace lector::server
