#pragma once
// Text that came from the service or a clock, made safe to show: on a terminal, in the journal,
// in a window or in the activity list.
#include <cstddef>
#include <string>

namespace lector {

// Control characters (C0, DEL and the C1 range, U+0080 to U+009F) become "?", so that no escape
// sequence reaches a terminal; line breaks become blanks, so a text stays one line.
std::string SinControles(const std::string& texto);
// At most `maximo` bytes of a line, cut on a character boundary and marked as cut; shorter texts
// come back unchanged.
std::string Acotada(const std::string& texto, size_t maximo);
// A dotted-quad IPv4 address (four decimal parts 0 to 255, no leading zeros, nothing else).
bool EsIpv4(const std::string& texto);
// Whether the service's address encrypts the traffic; the password travels in its query string.
bool EsHttps(const std::string& url);
// The warning shown for an address that is not https://.
std::string AvisoSinCifrar(const std::string& url);

}  // namespace lector
