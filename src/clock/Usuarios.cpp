#include "clock/Usuarios.h"

#include "clock/Caracteres.h"
#include "clock/ClockSdk.h"
#include "clock/Conexion.h"
#include "server/Servicio.h"
#include "support/Falla.h"
#include "support/Texto.h"

namespace lector::clock {

namespace {

// A template or face text of 20 characters or fewer counts as none.
bool EsPlantilla(const std::string& t) {
  return t.size() > 20;
}

std::string Reemplaza(std::string s, const std::string& de, const std::string& a) {
  for (size_t p = s.find(de); p != std::string::npos; p = s.find(de, p + a.size()))
    s.replace(p, de.size(), a);
  return s;
}

// Enrolment number as the integer the user write and the deletions take, back in decimal.
std::string ComoEntero(const std::string& enrolamiento) {
  return std::to_string(AEntero32(enrolamiento));
}

std::string ObjetoUsuario(const std::string& codigo, const std::string& nombre, bool habilitado,
                          int32_t privilegio) {
  return ",{" + ParJson("codigo", codigo) + "," + ParJson("nombre", nombre) + "," +
         ParJson("estado", TextoBooleano(habilitado)) + "," +
         ParJson("permisos", std::to_string(privilegio));
}

}  // namespace

std::string LeeUsuarios(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return "";
  ClockSdk& sdk = l.Sdk();
  if (!Confirma(l, serial, sdk.ReadAllUserID(1))) return "[]";
  std::string items;
  for (;;) {
    std::string enrolamiento, nombre, clave;
    int32_t privilegio = 0;
    bool habilitado = false;
    if (!sdk.SSR_GetAllUserInfo(1, enrolamiento, nombre, clave, privilegio, habilitado)) break;
    if (enrolamiento.empty()) continue;
    items += ObjetoUsuario(enrolamiento, nombre, habilitado, privilegio) + "}";
  }
  l.display.DoEvents();
  return ListaJson(items);
}

std::string LeeUsuario(Lector& l, const std::string& ip, const std::string& enrolamiento,
                       const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return "";
  ClockSdk& sdk = l.Sdk();
  std::string nombre, clave;
  int32_t privilegio = 0;
  bool habilitado = false;
  Confirma(l, serial, sdk.SSR_GetUserInfo(1, enrolamiento, nombre, clave, privilegio, habilitado));
  if (nombre.empty()) {
    l.display.DoEvents();
    return "[]";
  }

  bool hallada = false;
  for (int32_t dedo = 0; dedo <= 9 && !hallada; ++dedo) {
    std::string plantilla;
    int32_t bandera = 0, largo = 0;
    Confirma(l, serial, sdk.GetUserTmpExStr(1, enrolamiento, dedo, bandera, plantilla, largo));
    l.display.DoEvents();
    hallada = EsPlantilla(plantilla);
  }
  if (!hallada) {
    std::string plantilla;
    int32_t largo = 0;
    Confirma(l, serial, sdk.SSR_GetUserTmpStr(1, enrolamiento, 15, plantilla, largo));
    hallada = EsPlantilla(plantilla);
  }
  for (int32_t dedo = 0; dedo <= 9 && !hallada; ++dedo) {
    std::string plantilla;
    int32_t largo = 0;
    Confirma(l, serial, sdk.SSR_GetUserTmpStr(1, enrolamiento, dedo, plantilla, largo));
    l.display.DoEvents();
    hallada = EsPlantilla(plantilla);
  }
  return ListaJson(ObjetoUsuario(enrolamiento, nombre, habilitado, privilegio) + "," +
                   ParJson("huellas", hallada ? "1" : "") + "}");
}

bool SubeUsuarios(Lector& l, const std::string& ip, const std::string& lista,
                  const std::string& serial, const std::string& relojId) {
  if (!ConectaReloj(l, ip, serial)) return false;
  ClockSdk& sdk = l.Sdk();
  bool hallada = false;
  const long total = CuentaCampos(lista, ";");
  for (long i = 1; i <= total; ++i) {
    const std::string e = Campo(lista, i, ";");
    std::string nombre, clave;
    int32_t privilegio = 0;
    bool habilitado = false;
    Confirma(l, serial, sdk.SSR_GetUserInfo(1, e, nombre, clave, privilegio, habilitado));
    if (!nombre.empty())
      server::SendTaskReply(l, relojId, "LU",
                            ListaJson(ObjetoUsuario(e, nombre, habilitado, privilegio) + "}"), e);
    l.display.SetCaption("Leyendo del Reloj " + ip + " a " + nombre);

    std::string tarjeta;
    Confirma(l, serial, sdk.GetStrCardNumber(tarjeta));
    if (!tarjeta.empty() && AReal(tarjeta) > 0) server::UploadTemplate(l, e, "20", tarjeta);

    hallada = false;
    std::string version;
    Confirma(l, serial, sdk.GetFirmwareVersion(1, version));
    if (version.find("6.60") != std::string::npos) {
      std::string cara;
      int32_t largo = 0;
      Confirma(l, serial, sdk.GetUserFaceStr(1, e, 50, cara, largo));
      if (!cara.empty() && largo >= 21) server::UploadTemplate(l, e, "50", cara);
      for (int32_t dedo = 0; dedo <= 9; ++dedo) {
        std::string plantilla;
        int32_t bandera = 0;
        largo = 0;
        Confirma(l, serial, sdk.GetUserTmpExStr(1, e, dedo, bandera, plantilla, largo));
        if (EsPlantilla(plantilla)) {
          hallada = true;
          server::UploadTemplate(l, e, std::to_string(dedo), plantilla);
        }
      }
    }
    if (!hallada) {
      std::string plantilla;
      int32_t largo = 0;
      Confirma(l, serial, sdk.SSR_GetUserTmpStr(1, e, 15, plantilla, largo));
      if (EsPlantilla(plantilla)) {
        server::UploadTemplate(l, e, "15", plantilla);
        hallada = true;
      } else {
        for (int32_t dedo = 0; dedo <= 9; ++dedo) {
          plantilla.clear();
          largo = 0;
          Confirma(l, serial, sdk.SSR_GetUserTmpStr(1, e, dedo, plantilla, largo));
          if (EsPlantilla(plantilla)) {
            hallada = true;
            server::UploadTemplate(l, e, std::to_string(dedo), plantilla);
          }
        }
      }
    }
    if (!hallada) {
      const std::string prefijo = e + " -";
      for (int j = 0; j < l.display.CountRelojes(); ++j) {
        const std::string fila = l.display.Reloj(j);
        if (fila.compare(0, prefijo.size(), prefijo) == 0)
          l.display.SetReloj(j, fila + " -Sin Huella");
      }
    }
  }
  return hallada;
}

int16_t EnviaUsuarios(Lector& l, const std::string& ip, const std::string& lista,
                      const std::string& nombres, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return 0;
  ClockSdk& sdk = l.Sdk();
  // "1" only for what the device took: every user, card and template.
  bool escrito = true;
  auto confirma = [&](bool respuesta) { escrito = Confirma(l, serial, respuesta) && escrito; };
  const long total = CuentaCampos(lista, ";");
  for (long i = 1; i <= total; ++i) {
    const std::string nombre = Campo(nombres, i, ";");
    l.display.AddLog("Enviando datos a Reloj " + ip + " de " + nombre);
    const std::string e = Campo(lista, i, ";");
    const std::string nombre20 = PrimerosCaracteres(nombre, 20);

    sdk.SetStrCardNumber("0");
    confirma(sdk.SSR_SetUserInfo(1, ComoEntero(e), nombre20, "", 0, true));
    sdk.SetStrCardNumber("0");

    const std::string respuesta =
        server::SyncCall(l, "huellas2.down", "empleadoid=" + server::CodificaValor(e));
    if (respuesta == "null" || respuesta.empty()) continue;
    const long items = CuentaCampos(respuesta, "],[");
    for (long j = 1; j <= items; ++j) {
      std::string item = Campo(respuesta, j, "],[");
      item = Reemplaza(Reemplaza(item, "[[", ""), "]]", "");
      const std::string dedo = Reemplaza(Campo(item, 2, ","), "\"", "");
      std::string dato = Campo(item, 3, ",");
      dato = dato.size() >= 2 ? dato.substr(1, dato.size() - 2) : std::string();
      dato = Reemplaza(dato, "\\/", "/");
      if (dedo == "50") {
        // Many devices have no faces at all: a refused face leaves the answer as it is.
        Confirma(l, serial,
                 sdk.SetUserFaceStr(1, e, 50, dato, static_cast<int32_t>(CuentaCaracteres(dato))));
      } else if (dedo == "20") {
        sdk.SetStrCardNumber(dato);
        confirma(sdk.SSR_SetUserInfo(1, ComoEntero(e), nombre20, "", 0, true));
      } else {
        const int32_t indice = AEntero32(dedo);
        if (!Confirma(l, serial, sdk.SetUserTmpExStr(1, e, indice, 3, dato)))
          confirma(sdk.SSR_SetUserTmpStr(1, e, indice, dato));
      }
    }
  }
  confirma(sdk.RefreshData(1));
  return escrito ? 1 : 0;
}

std::optional<int16_t> BorraUsuario(Lector& l, const std::string& ip, const std::string& lista,
                                    const std::string& serial) {
  if (lista.empty()) return std::nullopt;
  if (!ConectaReloj(l, ip, serial)) return 0;
  ClockSdk& sdk = l.Sdk();
  const long total = CuentaCampos(lista, ";");
  for (long i = 1; i <= total; ++i) {
    const std::string e = Campo(lista, i, ";");
    l.display.AddLog("Borra datos de " + ip + ", persona: " + e);
    const int32_t numero = AEntero32(e);
    // A person the device does not hold is as deleted as one it removed; a broken connection
    // deleted nothing anyone saw.
    Confirma(l, serial, sdk.DeleteEnrollData(1, numero, 1, 12));
    Confirma(l, serial, sdk.SSR_DeleteEnrollData(1, std::to_string(numero), 12));
    Confirma(l, serial, sdk.SSR_DeleteEnrollDataExt(1, std::to_string(numero), 12));
  }
  return Confirma(l, serial, sdk.RefreshData(1)) ? 1 : 0;
}

}  // namespace lector::clock
