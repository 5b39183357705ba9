#include "support/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "support/Archivos.h"
#include "support/CodePage.h"

namespace lector {

void EscribeLog(Lector& l, const std::string& texto) {
  if (!l.estado.ModoLog) return;
  std::string linea =
      Utf8ACp1252(Formatea(l.reloj.Ahora(), "yyMMdd hhmmss") + ": " + texto) + "\r\n";
  // Owner-only: with the switch on it holds the session id, cards, templates and names.
  int fd = AbreSinEnlace(l.ArchivoLog(), O_WRONLY | O_APPEND | O_CREAT);
  if (fd < 0) return;
  // One write per line with O_APPEND keeps a line whole; loop only for a partial write.
  const char* p = linea.data();
  size_t resta = linea.size();
  while (resta > 0) {
    ssize_t n = ::write(fd, p, resta);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    resta -= static_cast<size_t>(n);
  }
  ::close(fd);
}

}  // namespace lector
