#include "server/Servicio.h"

#include <filesystem>

#include "server/Http.h"
#include "support/Falla.h"
#include "support/Log.h"
#include "support/Texto.h"
#include "support/Visible.h"

namespace lector::server {
namespace {

// Error pages holding links are worth asking again; at most this many attempts in all.
constexpr int kIntentosPaginaError = 5;
// Far more clocks than any account holds. A longer list is refused before its entries (some
// hundred bytes each against four for a "<br>") take the memory.
constexpr size_t kMaximoRelojes = 10000;
const std::string kSalto = "<br>";

size_t CuentaSaltos(const std::string& respuesta) {
  size_t n = 0;
  for (size_t p = respuesta.find(kSalto); p != std::string::npos;
       p = respuesta.find(kSalto, p + kSalto.size()))
    ++n;
  return n;
}

// A number of the clock list: blanks and line breaks around it are allowed, and an empty field
// (what the field extractor gives for a missing one) is 0.
int16_t NumeroDeLista(const std::string& campo) {
  const char* kBlancos = " \t\r\n";
  size_t a = campo.find_first_not_of(kBlancos);
  if (a == std::string::npos) return 0;
  return AEntero16(campo.substr(a, campo.find_last_not_of(kBlancos) + 1 - a));
}

bool Contiene(const std::string& texto, const char* parte) {
  return texto.find(parte) != std::string::npos;
}

bool LlamadaFallida(const std::string& r) {
  if (r == "Error") return true;
  for (const char* palabra : {"cancel", "problem", "error", "vantiro", "Please try again later."})
    if (Contiene(r, palabra)) return true;
  return false;
}

std::string ArchivoDelMes(Lector& l) {
  return Formatea(l.reloj.Ahora(), "yyMM") + ".txt";
}

}  // namespace

std::string SyncCall(Lector& l, const std::string& funcion, const std::string& params) {
  Estado& e = l.estado;
  if (!e.SesionAbierta) return "";
  try {
    std::string respuesta;
    for (int intento = 0; intento < kIntentosPaginaError;) {
      EscribeLog(l, "main/sync.php?function=" + funcion + "&params=" + params);
      std::string url = l.urlBase + "main/sync.php?ss=" + CodificaValor(e.IdSesion) +
                        "&appid=" + CodificaValor(e.IdEquipo) + "&function=" + funcion;
      respuesta = HttpPostForm(l, url, params);
      EscribeLog(l, respuesta);
      if (!LlamadaFallida(respuesta)) return respuesta;
      if (!Contiene(respuesta, "http://")) break;
      ++intento;
    }
    if (respuesta == "error no session open") e.SesionAbierta = false;
    return "error";
  } catch (...) {
    // A step of the call itself failed (not the service): the call answers "0". Memory running
    // out is no answer at all, and goes to the caller's handler.
    Falla f = FallaActual();
    if (f.numero == kSinMemoria) throw f;
    return "0";
  }
}

void LlenaListaRelojes(std::vector<DatosReloj>& lista, const std::string& respuesta) {
  // What follows the last "<br>" is not read; its entry stays empty.
  lista.assign(CuentaSaltos(respuesta) + 1, DatosReloj{});
  size_t inicio = 0;
  for (size_t i = 0, p; (p = respuesta.find(kSalto, inicio)) != std::string::npos; ++i) {
    const std::string t = respuesta.substr(inicio, p - inicio);
    inicio = p + kSalto.size();
    auto campo = [&](long k) { return Campo(t, k, "|"); };
    DatosReloj& r = lista[i];
    r.Serial = campo(2);
    r.RelojId = campo(3);
    r.Nombre = campo(4);
    r.Etiqueta = campo(5);
    r.IP = campo(6);
    for (long k = 7; k <= 12; ++k) r.Campos7a12[k - 7] = campo(k);
    try {
      r.Numero = NumeroDeLista(campo(1));
      r.Conectado = NumeroDeLista(campo(13));
      r.Intervalo = NumeroDeLista(campo(14));
    } catch (const Falla& f) {
      r.Numero = r.Conectado = r.Intervalo = 0;
      r.NumeroDefecto = f.numero;
      r.Defecto = f.descripcion;
    }
    // The field names an IPv4 address; a host name would send the clock's commands wherever
    // it resolves (localhost included).
    if (!r.NumeroDefecto && !EsIpv4(r.IP)) {
      r.NumeroDefecto = kArgumentoInvalido;
      r.Defecto = "Dirección IP no válida: \"" + SinControles(r.IP) + "\"";
    }
  }
}

bool Procesar(Lector& l) {
  Estado& e = l.estado;
  e.OperacionActual = "Procesar";
  std::string respuesta = SyncCall(l, "lector.relojes", "appid=" + CodificaValor(e.IdEquipo));
  if (respuesta == "error" || respuesta.empty() || respuesta == "error no session open")
    return false;
  if (size_t relojes = CuentaSaltos(respuesta); relojes > kMaximoRelojes) {
    const std::string texto = "Lista de relojes rechazada: " + std::to_string(relojes) +
                              " relojes, el máximo es " + std::to_string(kMaximoRelojes);
    EscribeLog(l, texto);
    l.display.AddLog(texto);
    return false;
  }
  ShowProgress(l, 1, 1, 1);
  LlenaListaRelojes(e.ListaRelojes, respuesta);
  return e.ListaRelojes.size() > 1;
}

std::string SendTaskReply(Lector& l, const std::string& relojId, const std::string& tarea,
                          const std::string& respuesta, const std::string& empleadoId) {
  return SyncCall(l, "comm.read.reply",
                  "relojid=" + CodificaValor(relojId) + "&tarea=" + CodificaValor(tarea) +
                      "&respuesta=" + CodificaValor(respuesta) +
                      "&empleadoid=" + CodificaValor(empleadoId));
}

std::string UploadTemplate(Lector& l, const std::string& empleadoId, const std::string& dedo,
                           const std::string& plantilla) {
  return SyncCall(l, "huellas.up",
                  "empleadoid=" + CodificaValor(empleadoId) + "&dedo=" + CodificaValor(dedo) +
                      "&template=" + CodificaValor(plantilla));
}

std::string SendClockPing(Lector& l, const std::string& serial) {
  return SyncCall(l, "pingreloj.up", "&relojserial=" + CodificaValor(serial));
}

void ShowProgress(Lector& l, long a, long b, long c) {
  std::string texto = "Cargando " + l.estado.OperacionActual +
                      " - Registros: " + std::to_string(a) + ", Enviados: " + std::to_string(b) +
                      ", Nuevos: " + std::to_string(c);
  l.display.SetCaption(texto);
  EscribeLog(l, texto);
  l.display.DoEvents();
}

void sendTxt(Lector& l) {
  Estado& e = l.estado;
  EscribeLog(l, "sendTxt");
  std::error_code ec;
  if (!std::filesystem::exists(l.Marcaciones() / ArchivoDelMes(l), ec)) return;
  if (e.SesionAbierta) {
    // The lines kept by the last reading are not needed once the file goes up.
    e.LineasLeidas.resize(2);
    e.LineasLeidas[0].clear();
    std::string archivo = ArchivoDelMes(l);
    if (std::filesystem::exists(l.Marcaciones() / archivo, ec)) {
      l.display.AddLog("Subiendo archivo a " + HostDeUrl(l.urlBase));
      std::string url = l.urlBase + "subeback.php";
      std::string respuesta = HttpUploadFile(
          l, archivo, url, l.Marcaciones(),
          "ss=" + CodificaValor(e.IdSesion) + "&vGId=" + CodificaValor(e.IdEquipo), "", "");
      std::string texto = respuesta;
      if (respuesta == "0") {
        texto = "Error al enviar el archivo";
        e.UltimaLectura = 0;
      }
      EscribeLog(l, texto);
      l.display.AddLog(texto);
    }
  } else {
    e.UltimaLectura = 0;  // no session for the upload: the next cycle reads and uploads
  }
  l.display.DoEvents();
  l.display.SetCaption(kTituloVentana);
}

}  // namespace lector::server
