#pragma once
// Windows-1252 <-> UTF-8 at the file boundary. Every one of the 256 codes maps both ways (the
// five undefined codes to the C1 controls of the same value); a character with no
// Windows-1252 form, or a byte that is not valid UTF-8, becomes "?".
#include <string>

namespace lector {

std::string Utf8ACp1252(const std::string& utf8);
std::string Cp1252AUtf8(const std::string& cp1252);

}  // namespace lector
