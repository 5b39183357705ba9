// clock-sim: an attendance clock of the ZKTeco family on ADDRESS:4370, for tests and demos.
// Run with --help for the options. SIGUSR1 writes the state file; SIGINT/SIGTERM stop the
// emulator and write it.
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "clock-sim/Perfil.h"

namespace {

const char kAyuda[] =
    "uso: clock-sim --address 127.0.0.2 [opciones]\n"
    "  --address IP            dirección donde escucha (127.0.0.x)\n"
    "  --port N                puerto (4370; 0 = uno libre)\n"
    "  --state ARCHIVO.json    estado inicial si existe; se graba al salir y con SIGUSR1\n"
    "  --users N --records N --seed S\n"
    "                          genera usuarios y marcaciones (deterministas)\n"
    "  --until 'aaaa-mm-dd hh:mm:ss'\n"
    "                          fin de las marcaciones generadas (hoy a las 00:00)\n"
    "  --comm-key K            clave de comunicación (0 = ninguna)\n"
    "  --udp                   solo UDP (equipo antiguo que rechaza TCP)\n"
    "  --tcp-and-udp           TCP y UDP en el mismo puerto\n"
    "  --layout 72|28          formato de usuarios\n"
    "  --records-layout 40|49|16|8\n"
    "  --perfil NOMBRE         firmware de la calle (solo --perfil: la lista)\n"
    "                          formato de marcaciones\n"
    "  --serial S  --firmware TEXTO  --platform P\n"
    "  --fault TIPO[=VALOR][@COMANDO][*VECES]   (repetible)\n"
    "                          drop-after=N, delay=MS, garbage[=N], refuse, bad-checksum, silent,\n"
    "                          drop=N, duplicate=N, reorder=N, punch\n"
    "  --no-pacing             no esperar a que el cliente lea cada paquete\n"
    "  --idle-timeout MS       corta a un cliente callado (60000)\n"
    "  --verbose N             0 nada, 1 comandos, 2 + datos, 3 + paquetes enteros\n"
    "  --reproducir ARCHIVO    contesta lo grabado en una captura de lector --capturar\n";

[[noreturn]] void Sale(const std::string& error) {
  std::cerr << "clock-sim: " << error << "\n";
  std::exit(2);
}

int64_t Entero(const std::string& opcion, const std::string& valor, int64_t min, int64_t max) {
  try {
    size_t fin = 0;
    long long v = std::stoll(valor, &fin, 10);
    if (fin == valor.size() && v >= min && v <= max) return v;
  } catch (const std::exception&) {
  }
  Sale(opcion + ": valor inválido \"" + valor + "\"");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace clocksim;
  std::vector<std::string> args(argv + 1, argv + argc);
  Opciones op;
  op.direccion.clear();
  std::optional<int> usuarios, marcaciones;
  uint64_t semilla = 1;
  std::optional<int64_t> hasta;
  std::optional<uint32_t> clave;
  std::optional<size_t> formatoUsuario, formatoMarcacion;
  std::optional<std::string> serie, firmware, plataforma;
  std::vector<Falla> fallas;
  std::optional<std::string> perfil;
  std::optional<std::string> captura;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::cout << kAyuda;
      return 0;
    }
    auto valor = [&]() -> std::string {
      if (i + 1 >= args.size()) Sale(a + " necesita un valor");
      return args[++i];
    };
    if (a == "--address") {
      op.direccion = valor();
    } else if (a == "--port") {
      op.puerto = static_cast<uint16_t>(Entero(a, valor(), 0, 65535));
    } else if (a == "--state") {
      op.archivoEstado = valor();
    } else if (a == "--users") {
      usuarios = static_cast<int>(Entero(a, valor(), 0, 65534));
    } else if (a == "--records") {
      marcaciones = static_cast<int>(Entero(a, valor(), 0, 50000000));
    } else if (a == "--seed") {
      semilla = static_cast<uint64_t>(Entero(a, valor(), 0, INT64_MAX));
    } else if (a == "--until") {
      auto f = LeeFecha(valor());
      if (!f) Sale("--until: se espera 'aaaa-mm-dd hh:mm:ss'");
      hasta = SegundosCiviles(*f);
    } else if (a == "--comm-key") {
      clave = static_cast<uint32_t>(Entero(a, valor(), 0, 0xFFFFFFFFll));
    } else if (a == "--udp") {
      op.tcp = false;
      op.udp = true;
    } else if (a == "--tcp-and-udp") {
      op.tcp = op.udp = true;
    } else if (a == "--layout") {
      std::string v = valor();
      if (v != "72" && v != "28") Sale("--layout: 72 o 28");
      formatoUsuario = std::stoul(v);
    } else if (a == "--records-layout") {
      std::string v = valor();
      if (v != "40" && v != "49" && v != "16" && v != "8") Sale("--records-layout: 40, 49, 16 u 8");
      formatoMarcacion = std::stoul(v);
    } else if (a == "--perfil") {
      if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
        for (const auto& p : Perfiles())
          if (*p.nombre)
            std::cout << p.nombre << "\t(filas " << p.filas << ")\t" << p.descripcion << "\n";
        return 0;
      }
      perfil = valor();
      if (!BuscaPerfil(*perfil)) Sale("--perfil: desconocido " + *perfil + " (--perfil: la lista)");
    } else if (a == "--serial") {
      serie = valor();
    } else if (a == "--firmware") {
      firmware = valor();
    } else if (a == "--platform") {
      plataforma = valor();
    } else if (a == "--fault") {
      std::string error;
      auto f = LeeFalla(valor(), error);
      if (!f) Sale("--fault: " + error);
      fallas.push_back(*f);
    } else if (a == "--no-pacing") {
      op.pausado = false;
    } else if (a == "--idle-timeout") {
      op.inactividad = std::chrono::milliseconds(Entero(a, valor(), 100, 86400000));
    } else if (a == "--reproducir") {
      captura = valor();
    } else if (a == "--verbose") {
      op.verbosidad = static_cast<int>(Entero(a, valor(), 0, 3));
    } else {
      Sale("opción desconocida " + a + " (--help)");
    }
  }
  if (op.direccion.empty()) Sale("falta --address");
  if (captura) {
    try {
      op.reproduccion = std::make_shared<Reproduccion>(Reproduccion::Carga(*captura));
    } catch (const std::exception& ex) {
      Sale(ex.what());
    }
    // Where the clock was heard is where it listens: a clock never heard on TCP refuses it.
    op.tcp = op.reproduccion->HayTcp();
    op.udp = op.reproduccion->HayUdp();
    if (!op.tcp && !op.udp) Sale(*captura + ": la captura no tiene ningún paquete");
  }

  EstadoReloj estado;
  try {
    if (!op.archivoEstado.empty() && std::filesystem::exists(op.archivoEstado)) {
      estado = EstadoReloj::Carga(op.archivoEstado);
    }
  } catch (const std::exception& ex) {
    Sale(ex.what());
  }
  if (clave) estado.claveComm = *clave;
  if (formatoUsuario) estado.formatoUsuario = *formatoUsuario;
  if (formatoMarcacion) estado.formatoMarcacion = *formatoMarcacion;
  if (serie) estado.serie = *serie;
  if (firmware) estado.firmware = *firmware;
  if (plataforma) estado.plataforma = *plataforma;
  if (usuarios || marcaciones) {
    Genera(estado, {usuarios.value_or(0), marcaciones.value_or(0), semilla, hasta});
  }
  // A profile changes the contents once: when they are made, or when it is first given to them.
  const bool perfilNuevo = perfil && *perfil != estado.perfil;
  if (perfil) estado.perfil = *perfil;
  if (perfilNuevo || usuarios || marcaciones) AplicaPerfil(estado);
  if (const Perfil* p = BuscaPerfil(estado.perfil); p && p->tcpMudo) op.udp = true;
  size_t nUsuarios = estado.usuarios.size(), nMarcaciones = estado.marcaciones.size();
  // Encode the records now, not on the first client's time.
  estado.ConjuntoMarcaciones();

  // The signals are taken by sigwait below; the emulator's thread inherits the mask.
  sigset_t senales;
  sigemptyset(&senales);
  for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGHUP}) sigaddset(&senales, s);
  pthread_sigmask(SIG_BLOCK, &senales, nullptr);

  Emulador emulador(std::move(estado), op);
  for (const auto& f : fallas) emulador.AgregaFalla(f);
  try {
    emulador.Inicia();
  } catch (const std::exception& ex) {
    Sale(ex.what());
  }
  if (captura)
    std::cout << "clock-sim: reproduciendo " << *captura << " (" << op.reproduccion->Pedidos()
              << " pedidos)" << std::endl;
  std::cout << "clock-sim: escuchando en " << op.direccion << ":" << emulador.Puerto()
            << (op.tcp ? " TCP" : "") << (op.udp ? " UDP" : "") << ", " << nUsuarios
            << " usuarios, " << nMarcaciones << " marcaciones" << std::endl;
  for (;;) {
    int s = 0;
    if (sigwait(&senales, &s) != 0) continue;
    if (s == SIGUSR1) {
      try {
        emulador.GrabaEstado();
        std::cout << "clock-sim: estado grabado" << std::endl;
      } catch (const std::exception& ex) {
        std::cerr << "clock-sim: " << ex.what() << std::endl;
      }
      continue;
    }
    break;
  }
  try {
    emulador.Detiene();
  } catch (const std::exception& ex) {
    std::cerr << "clock-sim: no se pudo grabar el estado: " << ex.what() << std::endl;
    return 1;
  }
  return 0;
}
