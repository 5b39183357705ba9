#include "clock/CapturaReloj.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <ostream>
#include <set>
#include <tuple>
#include <vector>

#include "clock/zk/Captura.h"
#include "clock/zk/ZkSdk.h"
#include "support/Archivos.h"

namespace lector::clock {

namespace {

std::string Fecha(int a, int m, int d, int h, int mi, int s) {
  char b[64];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", a, m, d, h, mi, s);
  return b;
}

std::tm Local() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

// A record date that a clock keeping its time could not have written: no such day, the clocks'
// zero (2000-01-01 00:00:00), or later than tomorrow here.
bool FechaRara(int a, int m, int d, int h, int mi, int s, const std::tm& hoy) {
  static const int kDias[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool bisiesto = (a % 4 == 0 && a % 100 != 0) || a % 400 == 0;
  if (m < 1 || m > 12 || d < 1 || d > kDias[m - 1] || (m == 2 && d == 29 && !bisiesto)) return true;
  if (a <= 2000 && m == 1 && d == 1 && h == 0 && mi == 0 && s == 0) return true;
  const auto clave = std::make_tuple(a, m, d);
  return clave > std::make_tuple(hoy.tm_year + 1900, hoy.tm_mon + 1, hoy.tm_mday + 1);
}

// The file written again with the users' passwords masked (through a new file renamed over it,
// so that a failure leaves the capture as it was). Empty, or why it could not be done.
std::string EnmascaraArchivo(const std::filesystem::path& ruta) {
  std::string texto;
  if (!LeeArchivo(ruta, texto)) return std::strerror(errno);
  const std::string enmascarado = zk::EnmascaraCaptura(texto);
  if (enmascarado == texto || EscribeArchivo(ruta, enmascarado)) return {};
  return std::strerror(errno);
}

}  // namespace

std::string NombreCaptura(const std::string& ip) {
  const std::tm tm = Local();
  char b[32];
  std::strftime(b, sizeof b, "%Y%m%d-%H%M%S", &tm);
  return "captura-" + ip + "-" + b + ".txt";
}

int CapturaReloj(const OpcionesCaptura& o, std::ostream& resumen, std::ostream& errores) {
  std::ofstream archivo(o.archivo, std::ios::binary | std::ios::trunc);
  if (!archivo) {
    errores << "lector: no se puede escribir " << o.archivo.string() << "\n";
    return 2;
  }
  const std::tm inicio = Local();
  char cuando[32];
  std::strftime(cuando, sizeof cuando, "%Y-%m-%d %H:%M:%S", &inicio);
  archivo << zk::kCabeceraCaptura << "\n# reloj " << o.ip << ":" << o.puerto << ", " << cuando
          << "\n# la clave de comunicación (CMD_AUTH) y las claves de los usuarios van "
             "enmascaradas con **"
          << std::endl;

  zk::ZkSdk sdk(o.espera);
  std::vector<std::string> rarezas, fallas;
  sdk.PoneBitacora([&](const std::string& s) { rarezas.push_back(s); });
  zk::GrabadorCaptura grabador(archivo);
  sdk.PoneEscucha(&grabador);
  if (o.clave) sdk.SetCommPassword(o.clave);
  auto termina = [&] {
    // Units are written as they come (a capture cut short still holds what happened); the
    // passwords inside them are only found once the whole exchange is there.
    sdk.PoneEscucha(nullptr);
    archivo.close();
    if (const std::string motivo = EnmascaraArchivo(o.archivo); !motivo.empty())
      errores << "lector: no se pudieron enmascarar las claves de los usuarios en "
              << o.archivo.string() << ": " << motivo << "\n";
    resumen << "Archivo: " << std::filesystem::absolute(o.archivo).string() << " ("
            << grabador.Unidades() << " unidades)\n";
  };
  if (!sdk.Connect_Net(o.ip, o.puerto)) {
    std::string motivo = sdk.MotivoDeFalla(o.ip);
    if (motivo.empty()) motivo = "no contesta";
    errores << "lector: no se pudo conectar con el reloj " << o.ip << ":" << o.puerto << ": "
            << motivo << "\n";
    archivo << "# no se pudo conectar: " << motivo << "\n";
    termina();
    return 1;
  }
  resumen << "Captura del reloj " << o.ip << ":" << o.puerto << " por "
          << (sdk.PorUdp() ? "UDP" : "TCP") << "\n";
  auto paso = [&](const char* que, bool ok) {
    if (!ok) fallas.push_back(que);
    return ok;
  };

  std::string texto;
  if (paso("número de serie", sdk.GetSerialNumber(0, texto)))
    resumen << "  número de serie: " << texto << "\n";
  if (paso("versión del firmware", sdk.GetFirmwareVersion(0, texto)))
    resumen << "  firmware: " << texto << "\n";

  // Records first, as a visit reads them.
  if (paso("marcaciones", sdk.ReadGeneralLogData(0))) {
    const size_t tam = sdk.TamMarcacion();
    const std::tm hoy = Local();
    long long n = 0, raras = 0, repetidas = 0;
    std::string primera, ultima, usuario;
    std::set<std::string> vistas;
    int32_t v = 0, es = 0, a = 0, m = 0, d = 0, h = 0, mi = 0, s = 0, codigo = 0;
    while (sdk.SSR_GetGeneralLogData(0, usuario, v, es, a, m, d, h, mi, s, codigo)) {
      ++n;
      const std::string fecha = Fecha(a, m, d, h, mi, s);
      if (FechaRara(a, m, d, h, mi, s, hoy)) {
        ++raras;
      } else {
        if (primera.empty() || fecha < primera) primera = fecha;
        if (fecha > ultima) ultima = fecha;
      }
      if (!vistas.insert(usuario + " " + fecha + " " + std::to_string(es)).second) ++repetidas;
    }
    resumen << "  marcaciones leídas: " << n;
    if (n) resumen << " (registros de " << tam << " bytes), del " << primera << " al " << ultima;
    resumen << "\n";
    const auto& caps = sdk.CapacidadesLeidas();
    if (caps && caps->registros != n)
      rarezas.push_back("el reloj cuenta " + std::to_string(caps->registros) +
                        " marcaciones y entregó " + std::to_string(n));
    if (!caps) rarezas.push_back("el reloj no dio sus cuentas (CMD_GET_FREE_SIZES)");
    if (raras)
      rarezas.push_back("marcaciones con fecha imposible, en cero o posterior a mañana: " +
                        std::to_string(raras));
    if (repetidas) rarezas.push_back("marcaciones repetidas: " + std::to_string(repetidas));
  } else if (const std::string motivo = sdk.MotivoDeFalla(o.ip); !motivo.empty()) {
    rarezas.push_back("marcaciones: " + motivo);
  }

  int32_t a = 0, m = 0, d = 0, h = 0, mi = 0, s = 0;
  if (sdk.Conectado() && paso("hora del reloj", sdk.GetDeviceTime(0, a, m, d, h, mi, s)))
    resumen << "  hora del reloj: " << Fecha(a, m, d, h, mi, s) << " (aquí " << cuando << ")\n";

  std::string primero;
  if (sdk.Conectado() && paso("usuarios", sdk.ReadAllUserID(0))) {
    long long n = 0;
    std::string id, nombre, clave;
    int32_t privilegio = 0;
    bool habilitado = false;
    while (sdk.SSR_GetAllUserInfo(0, id, nombre, clave, privilegio, habilitado)) {
      if (!n) primero = id;
      ++n;
    }
    resumen << "  usuarios leídos: " << n << " (registros de " << sdk.TamUsuario() << " bytes)\n";
    const auto& caps = sdk.CapacidadesLeidas();
    if (caps && caps->usuarios != n)
      rarezas.push_back("el reloj cuenta " + std::to_string(caps->usuarios) +
                        " usuarios y entregó " + std::to_string(n));
  }
  if (sdk.Conectado() && !primero.empty()) {
    int huellas = 0;
    int32_t largo = 0;
    for (int dedo = 0; dedo < 10 && sdk.Conectado(); ++dedo)
      huellas += sdk.SSR_GetUserTmpStr(0, primero, dedo, texto, largo);
    const bool cara = sdk.Conectado() && sdk.GetUserFaceStr(0, primero, 50, texto, largo);
    resumen << "  usuario " << primero << ": " << huellas << " huellas, "
            << (cara ? "con cara (" + std::to_string(largo) + " bytes)" : "sin cara") << "\n";
  }
  if (!sdk.Conectado()) fallas.push_back("la conexión se cortó");
  sdk.Disconnect();

  for (const auto& f : fallas) rarezas.push_back("falló: " + f);
  resumen << (rarezas.empty() ? "Nada fuera de lo común.\n" : "Observaciones:\n");
  for (const auto& r : rarezas) resumen << "  - " << r << "\n";
  termina();
  return 0;
}

}  // namespace lector::clock
