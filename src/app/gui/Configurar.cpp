// `lector --configurar`: the settings of a machine without a desktop, asked on the terminal.
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "app/gui/Programa.h"
#include "server/Execute.h"
#include "support/Display.h"
#include "support/Identidad.h"
#include "support/Ini.h"
#include "support/SystemClock.h"
#include "support/Visible.h"

namespace lector::app {
namespace {

// What the login shows goes to the terminal; there is nobody to answer a question.
class Terminal : public SinVentana {
 public:
  void AddLog(const std::string& t) override { std::cout << SinControles(t) << std::endl; }
  void MensajeCritico(const std::string& t) override {
    std::cout << SinControles(t) << std::endl;
    mostrado = true;
  }
  bool mostrado = false;
};

termios eco{};
bool ecoApagado = false;

void RestauraEco() {
  if (ecoApagado) tcsetattr(STDIN_FILENO, TCSANOW, &eco);
  ecoApagado = false;
}

void AlInterrumpir(int) {
  if (ecoApagado) tcsetattr(STDIN_FILENO, TCSANOW, &eco);
  _exit(130);
}

// One line of the terminal (without its line end); false at the end of the input.
bool Pregunta(const std::string& texto, std::string& respuesta, bool oculta = false) {
  std::cout << texto << std::flush;
  if (oculta && isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &eco) == 0) {
    termios sinEco = eco;
    sinEco.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ecoApagado = tcsetattr(STDIN_FILENO, TCSANOW, &sinEco) == 0;
  }
  bool leida = static_cast<bool>(std::getline(std::cin, respuesta));
  if (ecoApagado) {
    RestauraEco();
    std::cout << std::endl;
  }
  if (!respuesta.empty() && respuesta.back() == '\r') respuesta.pop_back();
  return leida;
}

int Aborta(const std::string& texto) {
  std::cout << texto << std::endl;
  return 1;
}

// Optional: the communication key of each clock that has one, by its serial. An empty serial or
// the end of the input ends the questions.
int ClavesDeRelojes(const Lector& l) {
  std::string serial, texto;
  while (Pregunta("Serial de un reloj con clave de comunicación (vacío para terminar): ", serial) &&
         !serial.empty()) {
    if (!Pregunta("Clave de comunicación de " + serial + " (0 = sin clave): ", texto, true)) break;
    const std::string error = GuardaClaveComunicacion(l, serial, texto);
    std::cout << (error.empty() ? "Clave guardada para el reloj " + serial + "." : error)
              << std::endl;
  }
  return 0;
}

}  // namespace

int Configurar(const std::filesystem::path& carpeta) {
  std::signal(SIGINT, AlInterrumpir);
  std::signal(SIGTERM, AlInterrumpir);
  ::umask(077);
  Terminal terminal;
  RelojSistema reloj;
  Lector l(terminal, reloj, carpeta);
  const std::string actual = LeeUrlBase(l);
  std::string url, usuario, clave;
  if (!Pregunta("Dirección del servicio [" + actual + "]: ", url))
    return Aborta("Configuración cancelada.");
  if (url.empty()) url = actual;
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0)
    return Aborta("La dirección debe empezar con http:// o https://");
  if (url.back() != '/') url += '/';
  if (!EsHttps(url)) {
    std::cout << AvisoSinCifrar(url) << std::endl;
    std::string si;
    if (!Pregunta("¿Continuar con esta dirección? (s/N): ", si) || (si != "s" && si != "S"))
      return Aborta("Configuración cancelada.");
  }
  if (!Pregunta("Usuario: ", usuario) || !Pregunta("Contraseña: ", clave, true))
    return Aborta("Configuración cancelada.");

  // The check signs in from an empty folder: the settings file, whose address the login would
  // take over the one just typed, is only written once the service accepted the credentials.
  char plantilla[] = "/tmp/lector-configurar-XXXXXX";
  const char* vacia = mkdtemp(plantilla);
  if (!vacia) return Aborta("No se pudo crear una carpeta temporal.");
  l.carpeta = vacia;
  l.urlBase = url;
  Estado& e = l.estado;
  e.Usuario = usuario;
  e.Clave = clave;
  e.Recordar = e.AutoIngreso = true;
  SerialDisco(l);
  server::Execute(l, "Login");
  std::error_code ec;
  std::filesystem::remove_all(vacia, ec);
  l.carpeta = carpeta;
  if (!e.SesionAbierta) {
    // A transport failure was already told, in words, by the line of the failed request.
    if (!e.FallaConexion.empty())
      std::cout << "No se pudo conectar con el servicio." << std::endl;
    else if (!terminal.mostrado)
      std::cout << "El servicio no aceptó el ingreso." << std::endl;
    return Aborta("No se guardó la configuración.");
  }
  if (!GrabaIni(l.ArchivoIni(), "SERVIDOR", "URL", url))
    return Aborta("No se pudo escribir " + l.ArchivoIni().string());
  std::vector<std::string> sinGuardar = GuardaConfig(l);
  if (!sinGuardar.empty())
    return Aborta("El usuario o la contraseña tienen caracteres que Lector.ini no admite.");
  std::cout << "Ingreso correcto. Configuración guardada en " << l.ArchivoIni().string()
            << " con ingreso automático." << std::endl;
  return ClavesDeRelojes(l);
}

}  // namespace lector::app
