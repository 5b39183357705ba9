#pragma once
// The process-wide state: one instance per process (tests make their own), touched only from
// the user-interface thread. Names are the program's own throughout the code base.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lector {

// One clock of the account, as the service lists it: 14 "|"-separated fields.
struct DatosReloj {
  int16_t Numero = 0;    // field 1
  std::string Serial;    // field 2: serial number the clock must report
  std::string RelojId;   // field 3: the clock's id at the service
  std::string Nombre;    // field 4
  std::string Etiqueta;  // field 5: a number written as the last field of record lines
  std::string IP;        // field 6
  std::array<std::string, 6> Campos7a12;  // fields 7 to 12, kept but unused
  int16_t Conectado = 0;                  // field 13: a 16-bit boolean (-1 true, 0 false)
  int16_t Intervalo = 0;                  // field 14: reading interval in minutes
  // An entry with a number field that is not a number: the failure its visit gives (number
  // 0: none). Only that clock's visit fails; the others go on.
  int NumeroDefecto = 0;
  std::string Defecto;
};

// 16-bit booleans as stored in records: true is -1.
constexpr int16_t kVerdadero = -1;
constexpr int16_t kFalso = 0;

struct Estado {
  std::string Usuario, Clave;  // account credentials, typed or remembered
  bool Recordar = false, AutoIngreso = false;
  bool SesionAbierta = false;
  std::string IdSesion;
  std::string UltimoUsuario, UltimaClave;
  std::string IdEquipo;     // machine identity, decimal text
  bool ModoLog = false;     // the activity log file is written
  float UltimaLectura = 0;  // seconds since local midnight of the last reading
  std::vector<DatosReloj> ListaRelojes;
  // Text lists keep an empty last slot that is never searched; no slots = a list not made yet.
  std::vector<std::string> LineasLeidas;
  std::vector<std::string> ConnectionRegistry;
  std::string OperacionActual;
  // The last request's transport failure, in words ("" after an answer): shown by the login.
  std::string FallaConexion;
  // Serials whose refused communication key was told this cycle (a text list).
  std::vector<std::string> ClavesRechazadas;
  int32_t PingTiempo = 0;  // round-trip time of the last answered echo
  // A cycle is running; a cycle asked for meanwhile ("Cargar") runs right after it.
  bool CicloEnCurso = false, CicloPendiente = false;
  // Clock id -> when (seconds, local) its time was last said to be off.
  std::map<std::string, int64_t> AvisoHoraReloj;
};

}  // namespace lector
