#include "server/Http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <sstream>

#include "support/Archivos.h"
#include "support/Falla.h"
#include "support/Log.h"

namespace lector::server {
namespace {

// The fixed pause after a GET or a POST has been sent.
constexpr int kPausaMs = 1000;

void IniciaCurl() {
  static std::once_flag una;
  std::call_once(una, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The service answers with short texts; an answer past this size is not one of them, and is cut
// off (the request fails) rather than allowed to exhaust the memory.
constexpr size_t kMaximoRespuesta = 64u << 20;

// The answer so far, and whether the memory ran out while it was kept.
struct Recibido {
  std::string texto;
  bool sinMemoria = false;
};

size_t Acumula(char* datos, size_t tam, size_t n, void* destino) {
  auto* r = static_cast<Recibido*>(destino);
  if (r->texto.size() + tam * n > kMaximoRespuesta) return 0;  // aborts the transfer
  try {
    r->texto.append(datos, tam * n);
  } catch (const std::bad_alloc&) {
    r->sinMemoria = true;  // never let an exception cross libcurl's C frames
    return 0;
  }
  return tam * n;
}

// The hosts no proxy serves: the environment's own list and this machine's addresses (setting
// the list replaces the environment's, so both are given). A lone "*" already means every host.
std::string SinProxy() {
  const char* entorno = std::getenv("no_proxy");
  if (!entorno || !*entorno) entorno = std::getenv("NO_PROXY");
  std::string lista = entorno ? entorno : "";
  if (lista == "*") return lista;
  if (!lista.empty()) lista += ",";
  return lista + "localhost,127.0.0.0/8,::1";
}

struct LiberaHandle {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct LiberaLista {
  void operator()(curl_slist* s) const { curl_slist_free_all(s); }
};

std::string QueFallo(CURLcode codigo, const std::string& detalle) {
  switch (codigo) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "no se encontró el servidor por su nombre";
    case CURLE_COULDNT_CONNECT:
      return "el servidor rechazó la conexión o no se pudo llegar a él";
    case CURLE_OPERATION_TIMEDOUT:
      return "se agotó el tiempo de espera";
    case CURLE_PEER_FAILED_VERIFICATION:
      if (detalle.find("name") != std::string::npos)
        return "el certificado del servidor no corresponde a su nombre de host";
      return "el certificado del servidor no es de confianza";
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return "problema con el certificado del servidor";
    case CURLE_SSL_CONNECT_ERROR:
      return "falló la conexión segura (TLS) con el servidor";
    case CURLE_ABORTED_BY_CALLBACK:
      return "el programa se está cerrando";
    case CURLE_UNSUPPORTED_PROTOCOL:
      return "la dirección del servicio no es http:// ni https://";
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
      return "se cortó la conexión con el servidor";
    default:
      return "falló la conexión con el servidor";
  }
}

// libcurl asks about once a second, and at every chunk: a stop request ends the transfer.
int SigueSinParada(void* parada, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const Parada*>(parada)->Pedida() ? 1 : 0;
}

// One request: a fresh handle with the four limits and nothing carried over.
class Peticion {
 public:
  Peticion(const std::string& url, const Lector& l) {
    const long limiteMs = l.limiteHttpMs;
    IniciaCurl();
    h_.reset(curl_easy_init());
    if (!h_) throw Falla(kFallaSubida, "No se pudo crear la petición HTTP");
    curl_easy_setopt(h_.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(h_.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h_.get(), CURLOPT_NOSIGNAL, 1L);
    // A proxy from the environment is honoured, but never for this machine's own addresses.
    curl_easy_setopt(h_.get(), CURLOPT_NOPROXY, SinProxy().c_str());
    curl_easy_setopt(h_.get(), CURLOPT_CONNECTTIMEOUT_MS, limiteMs);
    curl_easy_setopt(h_.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h_.get(), CURLOPT_LOW_SPEED_TIME, std::max(1L, limiteMs / 1000));
    curl_easy_setopt(h_.get(), CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h_.get(), CURLOPT_WRITEFUNCTION, Acumula);
    curl_easy_setopt(h_.get(), CURLOPT_WRITEDATA, &recibido_);
    curl_easy_setopt(h_.get(), CURLOPT_ERRORBUFFER, error_);
    curl_easy_setopt(h_.get(), CURLOPT_XFERINFOFUNCTION, SigueSinParada);
    curl_easy_setopt(h_.get(), CURLOPT_XFERINFODATA, &l.parada);
    curl_easy_setopt(h_.get(), CURLOPT_NOPROGRESS, 0L);
    error_[0] = 0;
  }

  void Cabecera(const std::string& linea) {
    cabeceras_.reset(curl_slist_append(cabeceras_.release(), linea.c_str()));
    curl_easy_setopt(h_.get(), CURLOPT_HTTPHEADER, cabeceras_.get());
  }

  // A POST with these bytes as its body, sent as they are.
  void Cuerpo(const std::string& cuerpo) {
    cuerpo_ = cuerpo;
    curl_easy_setopt(h_.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(h_.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(cuerpo_.size()));
    curl_easy_setopt(h_.get(), CURLOPT_POSTFIELDS, cuerpo_.data());
    // No "100-continue" round trip: the body follows the headers at once.
    Cabecera("Expect:");
  }

  void Credenciales(const std::string& usuario, const std::string& clave) {
    curl_easy_setopt(h_.get(), CURLOPT_USERNAME, usuario.c_str());
    curl_easy_setopt(h_.get(), CURLOPT_PASSWORD, clave.c_str());
    curl_easy_setopt(h_.get(), CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  }

  // Sends and receives; false with Descripcion() set when the exchange failed.
  bool Envia() {
    codigo_ = curl_easy_perform(h_.get());
    if (recibido_.sinMemoria) throw Falla(kSinMemoria, "Memoria insuficiente");
    return codigo_ == CURLE_OK;
  }

  // What failed, in words a user can act on, then libcurl's own text for diagnosis.
  std::string Descripcion() const {
    std::string d = curl_easy_strerror(codigo_);
    if (error_[0]) d += std::string(": ") + error_;
    return QueFallo(codigo_, error_) + " (" + d + ")";
  }

  // Whether a response status line arrived, so that its text (even partial) can be read.
  bool HayRespuesta() const {
    long estado = 0;
    curl_easy_getinfo(h_.get(), CURLINFO_RESPONSE_CODE, &estado);
    return estado != 0;
  }

  const std::string& Respuesta() const { return recibido_.texto; }

 private:
  std::unique_ptr<CURL, LiberaHandle> h_;
  std::unique_ptr<curl_slist, LiberaLista> cabeceras_;
  std::string cuerpo_;
  Recibido recibido_;
  char error_[CURL_ERROR_SIZE];
  CURLcode codigo_ = CURLE_OK;
};

std::string FallaConexion(Lector& l, const std::string& descripcion) {
  EscribeLog(l, "Error en conexión con el servidor: " + descripcion);
  // The activity list hears of a failure when it starts or changes, not at every request.
  if (l.estado.FallaConexion != descripcion)
    l.display.AddLog("Error en conexión con el servidor: " + descripcion);
  l.estado.FallaConexion = descripcion;
  return "Error";
}

}  // namespace

std::string HttpGet(Lector& l, const std::string& url) {
  try {
    Peticion p(url, l);
    if (!p.Envia()) return FallaConexion(l, p.Descripcion());
    l.estado.FallaConexion.clear();
    l.reloj.Dormir(kPausaMs);
    return p.Respuesta();
  } catch (...) {
    return FallaConexion(l, FallaActual().descripcion);
  }
}

std::string HttpPostForm(Lector& l, const std::string& url, const std::string& cuerpo) {
  try {
    Peticion p(url, l);
    p.Cabecera("Content-Type: application/x-www-form-urlencoded");
    p.Cuerpo(cuerpo);
    if (!p.Envia()) return FallaConexion(l, p.Descripcion());
    l.estado.FallaConexion.clear();
    l.reloj.Dormir(kPausaMs);
    return p.Respuesta();
  } catch (...) {
    return FallaConexion(l, FallaActual().descripcion);
  }
}

std::string CuerpoMultipart(const std::string& nombreArchivo, const std::string& contenido) {
  const std::string crlf = "\r\n";
  std::string cuerpo;
  cuerpo.reserve(contenido.size() + 120 + nombreArchivo.size());
  cuerpo += std::string("--") + kFrontera + crlf;
  cuerpo +=
      "Content-Disposition: form-data; name=\"file\";filename=\"" + nombreArchivo + "\" " + crlf;
  cuerpo += "Content-type: file" + crlf;
  cuerpo += crlf;
  cuerpo += contenido;
  cuerpo += crlf;
  cuerpo += std::string("--") + kFrontera + "--";
  return cuerpo;
}

std::string HttpUploadFile(Lector& l, const std::string& nombreArchivo, std::string& url,
                           const std::filesystem::path& carpeta, const std::string& extraQuery,
                           const std::string& usuario, const std::string& clave) {
  std::unique_ptr<Peticion> p;
  try {
    url += "?slots=" + CodificaValor(nombreArchivo) + "&" + extraQuery;
    p = std::make_unique<Peticion>(url, l);
    if (!usuario.empty() && !clave.empty()) p->Credenciales(usuario, clave);
    p->Cabecera(std::string("Content-Type: multipart/form-data; boundary=") + kFrontera);
    p->Cuerpo(CuerpoMultipart(nombreArchivo, ReadWholeFile(carpeta / nombreArchivo)));
    if (!p->Envia()) throw Falla(kFallaSubida, p->Descripcion());
    return p->Respuesta();
  } catch (...) {
    Falla f = FallaActual();
    EscribeLog(l, "Error enviando archivo: " + f.descripcion);
    // Only a response that began to arrive can be shown; otherwise the caller decides.
    if (!p || !p->HayRespuesta()) throw f;
    EscribeLog(l, "Respuesta parcial: " + p->Respuesta());
    return "0";
  }
}

std::string ReadWholeFile(const std::filesystem::path& ruta) {
  // Only a file is sent, and not through a link: a device would be read forever, a link would
  // upload a file from elsewhere.
  std::string contenido;
  if (!LeeArchivo(ruta, contenido, true))
    throw Falla(kAccesoArchivo, "Error de acceso a ruta/archivo: " + ruta.string());
  return contenido;
}

std::string CodificaValor(const std::string& valor) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(valor.size());
  for (unsigned char c : valor) {
    bool libre = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~';
    if (libre) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string HostDeUrl(const std::string& url) {
  size_t i = url.find("://");
  i = i == std::string::npos ? 0 : i + 3;
  size_t fin = url.find_first_of("/?#", i);
  std::string autoridad = url.substr(i, fin == std::string::npos ? std::string::npos : fin - i);
  if (size_t arroba = autoridad.rfind('@'); arroba != std::string::npos)
    autoridad.erase(0, arroba + 1);
  if (!autoridad.empty() && autoridad[0] == '[') {
    size_t cierre = autoridad.find(']');
    return cierre == std::string::npos ? autoridad : autoridad.substr(0, cierre + 1);
  }
  return autoridad.substr(0, autoridad.find(':'));
}

}  // namespace lector::server
