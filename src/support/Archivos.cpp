#include "support/Archivos.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace lector
