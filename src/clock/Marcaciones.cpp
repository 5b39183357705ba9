#include "clock/Marcaciones.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <fstream>
#include <functional>
#include <string_view>
#include <vector>

#include "clock/AvisosReloj.h"
#include "clock/ClockSdk.h"
#include "clock/Conexion.h"
#include "server/Servicio.h"
#include "support/Archivos.h"
#include "support/CodePage.h"
#include "support/Falla.h"
#include "support/Log.h"
#include "support/Texto.h"

namespace lector::clock {

void (*TrasEscribirMes)(const std::filesystem::path&) = nullptr;

namespace {

// New lines are handed to the system in batches of about this size; each batch reaches the
// general file (and the disk) before the clock file sees it.
constexpr size_t kLote = 256 * 1024;

std::string MesDe(const FechaHora& fecha) {
  return Formatea(fecha, "yyMM");
}

[[noreturn]] void FallaArchivo(const std::string& que, const std::filesystem::path& ruta,
                               int error) {
  throw Falla(kAccesoArchivo, que + " " + ruta.string() + ": " + std::strerror(error));
}

// A month file opened for appending. Lines are collected and written in batches; Escribe and
// Sincroniza throw failure 75 when the system refuses.
class Anexo {
 public:
  explicit Anexo(std::filesystem::path ruta) : ruta_(std::move(ruta)) {
    fd_ = AbreSinEnlace(ruta_, O_RDWR | O_APPEND | O_CREAT);
    if (fd_ < 0) FallaArchivo("No se puede abrir", ruta_, errno);
    QuitaLineaCortada();
  }
  ~Anexo() {
    if (fd_ >= 0) ::close(fd_);
  }
  Anexo(const Anexo&) = delete;
  Anexo& operator=(const Anexo&) = delete;

  std::string& Pendiente() { return pendiente_; }

  void Escribe() {
    const char* p = pendiente_.data();
    size_t resta = pendiente_.size();
    while (resta > 0) {
      ssize_t n = ::write(fd_, p, resta);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) FallaArchivo("No se puede escribir", ruta_, n < 0 ? errno : ENOSPC);
      p += n;
      resta -= static_cast<size_t>(n);
      sucio_ = true;
    }
    if (!pendiente_.empty() && TrasEscribirMes) TrasEscribirMes(ruta_);
    pendiente_.clear();
  }

  // Forces what was written to the disk (nothing to do when nothing changed).
  void Sincroniza() {
    if (!sucio_) return;
    if (::fsync(fd_) != 0) FallaArchivo("No se puede guardar", ruta_, errno);
    sucio_ = false;
  }

  void Cierra() {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) FallaArchivo("No se puede cerrar", ruta_, errno);
  }

 private:
  // Every line this program writes ends in CR LF, so a file whose end has none was cut by a
  // crash in the middle of a write: the piece is dropped (its record is still in the clock and
  // is written whole again). A long tail without a line end is not such a piece; it is kept
  // and ended instead.
  void QuitaLineaCortada() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || st.st_size == 0) return;
    const off_t fin = st.st_size;
    char c = 0;
    if (::pread(fd_, &c, 1, fin - 1) != 1 || c == '\n') return;
    constexpr off_t kMaximo = 4096;
    const off_t desde = fin > kMaximo ? fin - kMaximo : 0;
    std::string cola(static_cast<size_t>(fin - desde), '\0');
    if (::pread(fd_, cola.data(), cola.size(), desde) != static_cast<ssize_t>(cola.size())) return;
    size_t p = cola.rfind('\n');
    if (p != std::string::npos || desde == 0) {
      off_t corte = p == std::string::npos ? 0 : desde + static_cast<off_t>(p) + 1;
      if (::ftruncate(fd_, corte) != 0) FallaArchivo("No se puede escribir", ruta_, errno);
      sucio_ = true;
    } else {
      pendiente_ = "\r\n";
    }
  }

  std::filesystem::path ruta_;
  int fd_ = -1;
  std::string pendiente_;
  bool sucio_ = false;
};

// Writes what both files hold pending: the general file first and on disk before the clock
// file is touched, so the clock file never holds a line the general file lacks.
// While a batch is in the general file and not yet in the clock file, this marker exists: a
// reading cut there left lines the next reading would otherwise write to the general file twice.
std::filesystem::path MarcaPendiente(const std::filesystem::path& rutaReloj) {
  return rutaReloj.string() + ".pendiente";
}

void Vuelca(Anexo& general, Anexo& reloj, const std::filesystem::path& marca) {
  if (general.Pendiente().empty()) return;
  if (int fd = AbreSinEnlace(marca, O_WRONLY | O_CREAT); fd >= 0) ::close(fd);
  general.Escribe();
  general.Sincroniza();
  reloj.Escribe();
  std::error_code ec;
  std::filesystem::remove(marca, ec);
}

// A text field of a record line as it can be stored: a comma would add a field and a control
// character would split or end the line, so each becomes "?". True when something was replaced.
bool CampoDeLinea(std::string& destino, const std::string& campo) {
  bool cambiado = false;
  for (char c : campo) {
    const auto u = static_cast<unsigned char>(c);
    const bool rompe = c == ',' || u < 0x20 || u == 0x7f;
    destino += rompe ? '?' : c;
    cambiado |= rompe;
  }
  return cambiado;
}

// After a reading cut between its two writes: the whole lines of this clock in the general file
// beyond those its own file holds go to the clock file (and to LineasLeidas), so that they count
// as known instead of being written to the general file again.
void CompletaReloj(Lector& l, const std::filesystem::path& rutaGeneral,
                   const std::filesystem::path& rutaReloj, const std::string& relojId) {
  // Only a file's lines can be completed; a device there (a full disk's stand-in) reads forever,
  // and a link is not followed.
  std::error_code ec;
  if (std::filesystem::symlink_status(rutaGeneral, ec).type() !=
      std::filesystem::file_type::regular)
    return;
  std::ifstream general(rutaGeneral, std::ios::binary);
  auto& lineas = l.estado.LineasLeidas;  // slot 0 empty, the file's lines, a last empty slot
  std::string prefijo;
  CampoDeLinea(prefijo, relojId);
  prefijo += ',';
  size_t iguales = 0;
  std::string linea, faltan;
  while (std::getline(general, linea)) {
    if (general.eof()) break;  // a piece without its line end was cut by the crash
    if (!linea.empty() && linea.back() == '\r') linea.pop_back();
    if (linea.compare(0, prefijo.size(), prefijo) != 0) continue;
    const std::string texto = Cp1252AUtf8(linea);
    if (faltan.empty() && iguales + 2 < lineas.size() && lineas[iguales + 1] == texto) {
      ++iguales;
      continue;
    }
    faltan += linea + "\r\n";
    lineas.insert(lineas.end() - 1, texto);
  }
  if (faltan.empty()) return;
  Anexo reloj(rutaReloj);
  reloj.Pendiente() += faltan;
  reloj.Escribe();
  reloj.Sincroniza();
  reloj.Cierra();
}

bool EsAscii(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
  return true;
}

// LineasLeidas: an empty slot 0, the file's lines in slots 1..n, an empty slot n+1. Lines end at
// CR LF, CR or LF; a last line without an end counts too. The slots of the previous reading are
// written over, so their storage is used again rather than freed and allocated line by line.
void CargaLineas(Lector& l, const std::filesystem::path& ruta) {
  auto& lineas = l.estado.LineasLeidas;
  if (lineas.empty()) lineas.emplace_back();
  lineas[0].clear();
  size_t usadas = 1;
  auto guarda = [&](const char* p, size_t n) {
    if (usadas == lineas.size()) lineas.emplace_back();
    std::string& s = lineas[usadas++];
    if (EsAscii(p, n))
      s.assign(p, n);
    else
      s = Cp1252AUtf8(std::string(p, n));
  };

  int fd = AbreSinEnlace(ruta, O_RDONLY);
  if (fd < 0) FallaArchivo("No se puede leer", ruta, errno);
  // Room for as many lines as the file can hold (a record line has at least 27 bytes), so the
  // list is not copied while it grows.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {  // a device would never end
    ::close(fd);
    FallaArchivo("No se puede leer", ruta, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  }
  if (st.st_size > 0) lineas.reserve(static_cast<size_t>(st.st_size) / 27 + 2);
  std::string bloque(256 * 1024, '\0');
  std::string resto;  // a line that runs on into the next block
  bool trasCR = false;
  for (;;) {
    ssize_t leidos = ::read(fd, bloque.data(), bloque.size());
    if (leidos < 0 && errno == EINTR) continue;
    if (leidos < 0) {
      int e = errno;
      ::close(fd);
      FallaArchivo("No se puede leer", ruta, e);
    }
    if (leidos == 0) break;
    const char* b = bloque.data();
    const size_t m = static_cast<size_t>(leidos);
    size_t i = 0;
    if (trasCR && b[0] == '\n') i = 1;  // the LF of a CR LF split between blocks
    trasCR = false;
    while (i < m) {
      size_t j = i;
      while (j < m && b[j] != '\r' && b[j] != '\n') ++j;
      if (j == m) {
        resto.append(b + i, m - i);
        break;
      }
      if (resto.empty()) {
        guarda(b + i, j - i);
      } else {
        resto.append(b + i, j - i);
        guarda(resto.data(), resto.size());
        resto.clear();
      }
      i = j + 1;
      if (b[j] == '\r') {
        if (i == m)
          trasCR = true;
        else if (b[i] == '\n')
          ++i;
      }
    }
  }
  ::close(fd);
  if (!resto.empty()) guarda(resto.data(), resto.size());
  lineas.resize(usadas + 1);
  lineas[usadas].clear();
}

void Numero(std::string& s, long long n) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  s.append(buf, r.ptr);
}

// clock id, serial, year, month, day, hour, minute, enrolment, verify mode, in/out mode, work
// code, tag: always 12 fields joined by ",". True when a text field had to be altered.
bool ArmaLinea(std::string& s, const std::string& relojId, const std::string& serial,
               const std::string& enrolamiento, int32_t verificacion, int32_t entradaSalida,
               int32_t anio, int32_t mes, int32_t dia, int32_t hora, int32_t minuto,
               int32_t codigoTrabajo, int16_t etiqueta) {
  s.clear();
  bool cambiado = CampoDeLinea(s, relojId);
  s += ',';
  cambiado |= CampoDeLinea(s, serial);
  for (int32_t v : {anio, mes, dia, hora, minuto}) {
    s += ',';
    Numero(s, v);
  }
  s += ',';
  cambiado |= CampoDeLinea(s, enrolamiento);
  for (int32_t v : {verificacion, entradaSalida, codigoTrabajo}) {
    s += ',';
    Numero(s, v);
  }
  s += ',';
  Numero(s, etiqueta);
  return cambiado;
}

// The lines stored before the reading, indexed: for each distinct line the last slot that holds
// it, in an open-addressing table of slot numbers. A line is in the window from slot `desde` to
// the end exactly when its last slot is at or after `desde`, so each record costs one probe
// whatever the file's size or the records' order.
class Recientes {
 public:
  explicit Recientes(const std::vector<std::string>& lineas) : lineas_(lineas) {
    const size_t n = lineas.empty() ? 0 : lineas.size() - 1;  // the last slot is never searched
    if (n >= UINT32_MAX) throw Falla(kDesbordamiento, "Demasiadas líneas en el archivo del mes");
    size_t capacidad = 16;
    while (capacidad < 2 * n) capacidad <<= 1;
    tabla_.assign(capacidad, 0);
    mascara_ = capacidad - 1;
    for (size_t i = 0; i < n; ++i) tabla_[Celda(lineas[i])] = static_cast<uint32_t>(i + 1);
  }

  bool Esta(const std::string& linea, size_t desde) const {
    const uint32_t ultima = tabla_[Celda(linea)];
    return ultima != 0 && ultima - 1 >= desde;
  }

 private:
  size_t Celda(std::string_view linea) const {
    size_t i = std::hash<std::string_view>{}(linea)&mascara_;
    while (tabla_[i] != 0 && lineas_[tabla_[i] - 1] != linea) i = (i + 1) & mascara_;
    return i;
  }

  const std::vector<std::string>& lineas_;
  std::vector<uint32_t> tabla_;  // slot + 1; 0 for an empty cell
  size_t mascara_ = 0;
};

std::string Visible(const std::string& s) {
  std::string r;
  for (char c : s) r += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
  return r;
}

}  // namespace

void EnviaRespuestasDeLectura(Lector& l, const std::string& relojId, long long leidos) {
  server::SendTaskReply(l, relojId, "CO", "1", "0");
  server::SendTaskReply(l, relojId, "LM", std::to_string(leidos), "0");
}

std::filesystem::path GeneralMonthFile(const Lector& l, const FechaHora& fecha) {
  return l.Marcaciones() / (MesDe(fecha) + ".txt");
}

std::filesystem::path ClockMonthFile(const Lector& l, const FechaHora& fecha,
                                     const std::string& relojId) {
  return l.Marcaciones() / (MesDe(fecha) + " " + relojId + ".txt");
}

bool RelojIdValido(const std::string& relojId) {
  if (relojId.empty() || relojId.find("..") != std::string::npos) return false;
  for (char c : relojId) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f || c == '/' || c == '\\') return false;
  }
  return true;
}

void CompruebaRelojId(Lector& l, const std::string& relojId) {
  if (RelojIdValido(relojId)) return;
  std::string texto =
      "Id de reloj no valido para el archivo de marcaciones: \"" + Visible(relojId) + "\"";
  l.display.AddLog(texto);
  EscribeLog(l, texto);
  throw Falla(kArgumentoInvalido, texto);
}

std::string LeeReloj(Lector& l, int16_t numero, int16_t etiqueta, const std::string& relojId,
                     const std::string& ip, int16_t& conectado, const std::string& serial,
                     Lectura* lectura) {
  Lectura propia;
  Lectura& hecho = lectura ? *lectura : propia;
  hecho.cargadas = false;
  hecho.leidos = hecho.nuevos = 0;
  EscribeLog(
      l, "LeeReloj " + std::to_string(numero) + " - " + std::to_string(etiqueta) + " - " + relojId);
  // The id names a file: one that could leave the records folder is refused before anything is
  // contacted or written.
  CompruebaRelojId(l, relojId);
  const FechaHora inicio = l.reloj.Ahora();

  std::string resultado;
  conectado = ConectaReloj(l, ip, serial) ? kVerdadero : kFalso;
  if (!conectado) AvisaMotivo(l, relojId, ip);
  if (conectado) {
    if (!hecho.callada) server::SendClockPing(l, serial);
    // Whole numbers: a clock may hold far more records than a 16-bit count.
    long long leidos = 0, nuevos = 0;
    ClockSdk& sdk = l.Sdk();
    const bool leida = sdk.ReadGeneralLogData(0);
    if (!leida) {
      AvisaMotivo(l, relojId, ip);
      AnotaIntercambio(l, ip);
    }
    if (leida) {
      EscribeLog(l, "ReadGeneralLogData");
      RevisaHoraReloj(l, relojId);
      const auto rutaReloj = ClockMonthFile(l, inicio, relojId);
      const auto rutaGeneral = GeneralMonthFile(l, inicio);
      { Anexo crea(rutaReloj); }
      CargaLineas(l, rutaReloj);
      const auto marca = MarcaPendiente(rutaReloj);
      if (std::filesystem::exists(marca)) {
        CompletaReloj(l, rutaGeneral, rutaReloj, relojId);
        std::filesystem::remove(marca);
      }

      EscribeLog(l, "Append new");
      Anexo reloj(rutaReloj);
      Anexo general(rutaGeneral);
      const Recientes recientes(l.estado.LineasLeidas);
      long long alterados = 0;
      std::string enrolamiento, linea;
      int32_t verificacion = 0, entradaSalida = 0, anio = 0, mes = 0, dia = 0, hora = 0, minuto = 0,
              segundo = 0, codigoTrabajo = 0;
      while (sdk.SSR_GetGeneralLogData(0, enrolamiento, verificacion, entradaSalida, anio, mes, dia,
                                       hora, minuto, segundo, codigoTrabajo)) {
        if (ArmaLinea(linea, relojId, serial, enrolamiento, verificacion, entradaSalida, anio, mes,
                      dia, hora, minuto, codigoTrabajo, etiqueta))
          ++alterados;
        // The line is looked up as the file will give it back: a character the code page cannot
        // hold is stored as "?", and compared as the original it would never be found again and
        // be written anew on every reading.
        if (!EsAscii(linea.data(), linea.size())) linea = Cp1252AUtf8(Utf8ACp1252(linea));
        // Known when a slot from max(read - 10, 0) to the end holds the line. Records read back
        // in stored order sit in the slot after their position: that slot is tried first.
        const auto& lineas = l.estado.LineasLeidas;
        const size_t propia = static_cast<size_t>(leidos) + 1;
        const bool conocida =
            (propia + 1 < lineas.size() && lineas[propia] == linea) ||
            recientes.Esta(linea, leidos > 10 ? static_cast<size_t>(leidos - 10) : 0);
        if (!conocida) {
          std::string bytes = Utf8ACp1252(linea);
          bytes += "\r\n";
          general.Pendiente() += bytes;
          reloj.Pendiente() += bytes;
          ++nuevos;
          if (general.Pendiente().size() >= kLote) Vuelca(general, reloj, marca);
        }
        ++leidos;
        if (leidos % 100 == 0) {
          l.display.SetCaption("Reloj " + relojId + " - Leido: " + std::to_string(leidos) +
                               ", Nuevos: " + std::to_string(nuevos));
          l.display.DoEvents();
        }
      }
      // Both files on disk before the service hears of the reading.
      Vuelca(general, reloj, marca);
      reloj.Sincroniza();
      general.Cierra();
      reloj.Cierra();
      hecho.cargadas = true;
      if (alterados > 0)
        l.display.AddLog("Reloj " + relojId + ": " + std::to_string(alterados) +
                         " registros con comas o caracteres de control; se guardaron con \"?\" "
                         "en su lugar");
      l.display.DoEvents();
    }
    l.display.SetCaption(kTituloVentana);
    resultado = std::to_string(leidos) + "," + std::to_string(nuevos);
    hecho.leidos = leidos;
    hecho.nuevos = nuevos;
    if (!hecho.callada) EnviaRespuestasDeLectura(l, relojId, leidos);
  } else {
    resultado = "0";
  }

  const std::string fila = relojId + " - " + ip + (conectado ? " - Conectado" : " - Desconectado");
  for (int i = 0; i < l.display.CountRelojes(); ++i) {
    const std::string actual = l.display.Reloj(i);
    if (actual.compare(0, relojId.size(), relojId) == 0) l.display.SetReloj(i, fila);
  }
  return resultado;
}

}  // namespace lector::clock
