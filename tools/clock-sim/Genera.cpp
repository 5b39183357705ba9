#include "clock-sim/Genera.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace clocksim {

namespace {

// splitmix64: tiny, fast and the same on every platform (the standard distributions are not).
class Azar {
 public:
  explicit Azar(uint64_t semilla) : s_(semilla) {}
  uint64_t Siguiente() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [a, b].
  int64_t Entre(int64_t a, int64_t b) {
    return a + static_cast<int64_t>(Siguiente() % static_cast<uint64_t>(b - a + 1));
  }
  bool Probabilidad(int porCiento) { return Entre(1, 100) <= porCiento; }
  template <class T, size_t N>
  const T& Uno(const T (&a)[N]) {
    return a[Siguiente() % N];
  }

 private:
  uint64_t s_;
};

const char* const kNombres[] = {
    "José",   "María",  "Juan",     "Ana",    "Luis",   "Carmen", "Carlos", "Lucía",
    "Jorge",  "Sofía",  "Andrés",   "Inés",   "Pedro",  "Rosa",   "Miguel", "Elena",
    "Óscar",  "Marta",  "Ramón",    "Paula",  "Álvaro", "Laura",  "Jesús",  "Isabel",
    "Diego",  "Raquel", "Fernando", "Silvia", "Pablo",  "Irene",  "Tomás",  "Nuria",
    "Javier", "Belén",  "Sergio",   "Julia",  "Iván",   "Mónica", "Rubén",  "Verónica"};
const char* const kApellidos[] = {
    "García",  "Fernández", "González", "Rodríguez", "López",   "Martínez",  "Sánchez",
    "Pérez",   "Gómez",     "Martín",   "Jiménez",   "Ruiz",    "Hernández", "Díaz",
    "Moreno",  "Muñoz",     "Álvarez",  "Romero",    "Alonso",  "Gutiérrez", "Navarro",
    "Torres",  "Domínguez", "Vázquez",  "Ramos",     "Gil",     "Ramírez",   "Serrano",
    "Blanco",  "Molina",    "Morales",  "Suárez",    "Ortega",  "Delgado",   "Castro",
    "Ortiz",   "Rubio",     "Marín",    "Sanz",      "Núñez",   "Iglesias",  "Medina",
    "Garrido", "Cortés",    "Castillo", "Santos",    "Lozano",  "Guerrero",  "Cano",
    "Prieto",  "Méndez",    "Cruz",     "Calvo",     "Gallego", "Peña",      "Ibáñez"};

// UTF-8 text of at most n characters.
std::string CortaCaracteres(const std::string& s, size_t n) {
  size_t caracteres = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<uint8_t>(s[i]) & 0xC0) != 0x80 && caracteres++ == n) return s.substr(0, i);
  }
  return s;
}

zk::Bytes Datos(Azar& azar, size_t n, std::initializer_list<uint8_t> cabeza) {
  zk::Bytes b(cabeza);
  b.reserve(n);
  while (b.size() < n) b.push_back(static_cast<uint8_t>(azar.Siguiente()));
  return b;
}

void GeneraUsuarios(EstadoReloj& e, Azar& azar, int n) {
  std::set<std::string> usados;
  int64_t siguiente = azar.Entre(1, 150);
  for (int i = 0; i < n; ++i) {
    Usuario u;
    u.uid = static_cast<uint16_t>(i + 1);
    if (azar.Probabilidad(10)) {
      // A national identity number used as the enrolment number.
      do {
        u.id = std::to_string(azar.Entre(10000000, 99999999));
      } while (usados.count(u.id));
    } else {
      siguiente += azar.Probabilidad(15) ? azar.Entre(2, 40) : 1;
      while (usados.count(std::to_string(siguiente))) ++siguiente;
      u.id = std::to_string(siguiente);
    }
    usados.insert(u.id);
    std::string nombre = std::string(azar.Uno(kNombres)) + " " + azar.Uno(kApellidos);
    if (azar.Probabilidad(40)) nombre += std::string(" ") + azar.Uno(kApellidos);
    u.nombre = CortaCaracteres(nombre, 23);
    u.privilegio = i == 0 ? 3 : azar.Probabilidad(3) ? static_cast<int>(azar.Entre(1, 3)) : 0;
    u.habilitado = i == 0 || !azar.Probabilidad(3);
    if (azar.Probabilidad(12)) u.clave = std::to_string(azar.Entre(1000, 999999));
    if (azar.Probabilidad(45)) {
      // Proximity cards: mostly 24 to 32-bit numbers, a few small ones.
      u.tarjeta = static_cast<uint32_t>(azar.Probabilidad(10) ? azar.Entre(1, 65535)
                                                              : azar.Entre(65536, 4294967295ll));
    }
    u.grupo = 1;
    if (azar.Probabilidad(65)) {
      static const uint8_t kDedos[] = {6, 1, 5, 0, 9, 4};
      int cuantos = static_cast<int>(azar.Entre(1, 3));
      for (int d = 0; d < cuantos; ++d) {
        size_t tam = static_cast<size_t>(azar.Entre(1200, 1600));
        // Templates of this family start with a size word and "SS21".
        e.plantillas[{u.uid, kDedos[d]}] =
            Plantilla{1, Datos(azar, tam,
                               {static_cast<uint8_t>(tam), static_cast<uint8_t>(tam >> 8), 'S', 'S',
                                '2', '1', 0, 0, 4, 0xBE, 0xBE, 4, 8, 5, 7, 9, 0xCE, 0xD0})};
      }
    }
    if (azar.Probabilidad(10)) {
      e.caras[{u.uid, 50}] =
          Datos(azar, static_cast<size_t>(azar.Entre(1600, 2400)), {'F', 'A', 'C', 'E'});
    }
    e.usuarios.push_back(std::move(u));
  }
}

void GeneraMarcaciones(EstadoReloj& e, Azar& azar, int n, int64_t hasta) {
  std::vector<std::pair<uint16_t, std::string>> quienes;
  for (const auto& u : e.usuarios) quienes.emplace_back(u.uid, u.id);
  if (quienes.empty()) {
    for (int i = 1; i <= 50; ++i) quienes.emplace_back(0, std::to_string(i));
  }
  // About two punches a person a working day; more when that would reach back too far (the
  // packed time starts in 2000).
  int64_t diasMax = std::max<int64_t>(1, (hasta / 86400) - 1);
  double porDia =
      std::max(static_cast<double>(quienes.size()) * 1.8, std::ceil(n / (diasMax * 0.8)));
  std::vector<std::vector<Marcacion>> dias;  // newest day first
  int64_t total = 0;
  for (int64_t dia = hasta / 86400 - 1; total < n && dia >= 0; --dia) {
    std::vector<Marcacion> delDia;
    // 2000-01-01 was a Saturday; 0 = Sunday.
    int semana = static_cast<int>((dia + 6) % 7);
    double factor = semana == 0 ? 0.05 : semana == 6 ? 0.3 : 1.0;
    auto k = static_cast<int64_t>(porDia * factor * (0.9 + 0.2 * (azar.Entre(0, 1000) / 1000.0)));
    for (int64_t i = 0; i < k; ++i) {
      const auto& [uid, id] = quienes[azar.Siguiente() % quienes.size()];
      int64_t segundo = azar.Probabilidad(50) ? azar.Entre(6 * 3600 + 1800, 9 * 3600 + 1800)
                                              : azar.Entre(13 * 3600, 20 * 3600);
      Marcacion m;
      m.uid = uid;
      m.usuario = id;
      m.hora = zk::CodificaHora(FechaDeSegundos(dia * 86400 + segundo)).value_or(0);
      m.estado = segundo < 12 * 3600 ? 0 : 1;
      int v = static_cast<int>(azar.Entre(1, 100));
      m.verificacion = v <= 80 ? 1 : v <= 90 ? 15 : v <= 95 ? 2 : 0;
      delDia.push_back(std::move(m));
    }
    std::sort(delDia.begin(), delDia.end(),
              [](const Marcacion& a, const Marcacion& b) { return a.hora < b.hora; });
    total += static_cast<int64_t>(delDia.size());
    dias.push_back(std::move(delDia));
  }
  e.marcaciones.reserve(static_cast<size_t>(n));
  int64_t sobran = std::max<int64_t>(0, total - n);  // the oldest ones go
  for (auto it = dias.rbegin(); it != dias.rend(); ++it) {
    for (auto& m : *it) {
      if (sobran > 0) {
        --sobran;
        continue;
      }
      e.marcaciones.push_back(std::move(m));
    }
  }
}

}  // namespace

void Genera(EstadoReloj& e, const Generacion& g) {
  Azar azar(g.semilla);
  e.usuarios.clear();
  e.plantillas.clear();
  e.caras.clear();
  e.marcaciones.clear();
  GeneraUsuarios(e, azar, std::clamp(g.usuarios, 0, 65534));
  int64_t hasta = g.hasta ? *g.hasta : e.Hora() / 86400 * 86400;
  // The packed time ends in 2099.
  hasta = std::clamp<int64_t>(hasta, 86400, SegundosCiviles({2099, 12, 31, 0, 0, 0}));
  GeneraMarcaciones(e, azar, std::max(g.marcaciones, 0), hasta);
  e.InvalidaCaches();
}

}  // namespace clocksim
