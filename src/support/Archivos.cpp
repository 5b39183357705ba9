#include "support/Archivos.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace lector {

int AbreSinEnlace(const std::filesystem::path& ruta, int banderas, mode_t modo) {
  return ::open(ruta.c_str(), banderas | O_NOFOLLOW | O_CLOEXEC, modo);
}

bool LeeArchivo(const std::filesystem::path& ruta, std::string& contenido, bool crea) {
  int fd = AbreSinEnlace(ruta, O_RDONLY | (crea ? O_CREAT : 0));
  if (fd < 0) return false;
  struct stat st {};
  // Only a file is read whole: a device in its place would be read forever.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return false;
  }
  contenido.clear();
  contenido.reserve(static_cast<size_t>(st.st_size));
  char bloque[64 * 1024];
  for (;;) {
    ssize_t n = ::read(fd, bloque, sizeof bloque);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      errno = e;
      return false;
    }
    if (n == 0) break;
    contenido.append(bloque, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

void ProtegeCarpeta(Lector& l) {
  ::umask(077);
  int fd = AbreSinEnlace(l.ArchivoIni(), O_RDONLY);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0 &&
      ::fchmod(fd, st.st_mode & 0700) == 0)
    l.display.AddLog("Lector.ini podía ser leído por otros usuarios; ahora solo por su dueño.");
  ::close(fd);
}

bool EscribeArchivo(const std::filesystem::path& ruta, const std::string& contenido) {
  std::string temporal = ruta.string() + ".XXXXXX";
  int fd = ::mkostemp(temporal.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0600) == 0;
  const char* p = contenido.data();
  size_t resta = contenido.size();
  while (ok && resta > 0) {
    ssize_t n = ::write(fd, p, resta);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      p += n, resta -= static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temporal.c_str(), ruta.c_str()) == 0;
  if (!ok) {
    const int e = errno;
    ::unlink(temporal.c_str());
    errno = e;
  }
  return ok;
}

}  // namespace lector
