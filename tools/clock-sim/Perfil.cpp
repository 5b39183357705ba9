#include "clock-sim/Perfil.h"

#include "clock-sim/Estado.h"

namespace clocksim {

const std::vector<Perfil>& Perfiles() {
  static const std::vector<Perfil> perfiles = [] {
    std::vector<Perfil> v;
    auto agrega = [&](const char* nombre, const char* filas, const char* descripcion) -> Perfil& {
      Perfil& p = v.emplace_back();
      p.nombre = nombre;
      p.filas = filas;
      p.descripcion = descripcion;
      return p;
    };
    agrega("", "", "el emulador tal cual (formato del manual, nuestras caras)");
    agrega("trozos", "6 7 8 9 10",
           "DATA de 1008 bytes en escrituras de 256, sesión = índice, ACK_OK tardío")
        .trozosDeDispositivo = true;
    agrega("marcaciones8", "1 18", "registros de 8 bytes con la hora en el byte 4 (ZEM500, MA300)")
        .formatoMarcacion = 8;
    agrega("marcaciones16", "18", "registros de 16 bytes").formatoMarcacion = 16;
    agrega("marcaciones49", "2", "registros de 49 bytes (caras nuevas)").formatoMarcacion = 49;
    {
      Perfil& p =
          agrega("cuenta-cero", "3 4", "registros de 49 bytes; tamaños de 112 bytes, cuenta 0");
      p.formatoMarcacion = 49;
      p.tamCapacidades = 112;
      p.cuentaCero = true;
    }
    {
      Perfil& p =
          agrega("cuenta-errada", "4 5", "tamaños de 80 bytes con una cuenta que no cuadra");
      p.tamCapacidades = 80;
      p.cuentaDesfasada = 3;
    }
    agrega("usuarios28", "-", "usuarios de 28 bytes, registros de 16").formatoUsuario = 28;
    v.back().formatoMarcacion = 16;
    agrega("ids-letras", "20 21", "ids como 100001lp; bytes tras el NUL de los nombres")
        .idsConLetras = true;
    agrega("solo-udp", "13", "acepta TCP y nunca contesta en él; UDP funciona").tcpMudo = true;
    agrega("clave", "15", "pide clave de comunicación y rechaza una errada").pideClave = true;
    agrega("cifrado", "14", "contesta 6001 a CMD_CONNECT (sesión cifrada)").cifrado = true;
    agrega("sigue-marcando", "16", "acepta DISABLEDEVICE pero sigue tomando marcaciones")
        .sigueMarcando = true;
    agrega("registros-raros", "17 19", "duplicados idénticos, 30 de febrero, 2000-01-01 00:00:00")
        .registrosRaros = true;
    agrega("hora-perdida", "17 19", "perdió la hora en un corte de luz: va 3 días atrás")
        .horaPerdida = 3 * 86400 + 17 * 60;
    agrega("caras150", "25", "caras por el comando 150 en registros de 2576 bytes").caras150 = true;
    return v;
  }();
  return perfiles;
}

const Perfil* BuscaPerfil(const std::string& nombre) {
  for (const auto& p : Perfiles())
    if (nombre == p.nombre) return &p;
  return nullptr;
}

void AplicaPerfil(EstadoReloj& e) {
  const Perfil* p = BuscaPerfil(e.perfil);
  if (!p) return;
  if (p->formatoMarcacion) e.formatoMarcacion = p->formatoMarcacion;
  if (p->formatoUsuario) e.formatoUsuario = p->formatoUsuario;
  if (p->pideClave && !e.claveComm) e.claveComm = 1234;
  if (p->horaPerdida) {
    if (e.horaFija)
      *e.horaFija -= p->horaPerdida;
    else
      e.desfaseHora -= p->horaPerdida;
  }
  if (p->idsConLetras) {
    for (size_t i = 0; i < e.usuarios.size(); i += 3) {
      const std::string viejo = e.usuarios[i].id;
      e.usuarios[i].id = viejo.substr(0, 20) + (i % 2 ? "cb" : "lp");
      for (auto& m : e.marcaciones)
        if (m.usuario == viejo) m.usuario = e.usuarios[i].id;
    }
  }
  if (p->registrosRaros && !e.marcaciones.empty()) {
    e.marcaciones.push_back(e.marcaciones[e.marcaciones.size() / 2]);  // the same punch twice
    Marcacion m = e.marcaciones.front();
    m.hora = zk::CodificaHora({2024, 2, 30, 8, 1, 0}).value_or(0);
    e.marcaciones.push_back(m);
    m.hora = 0;  // 2000-01-01 00:00:00: a clock that lost its time
    e.marcaciones.push_back(m);
  }
  e.InvalidaCaches();
}

}  // namespace clocksim
