#pragma once
// Character counts of UTF-8 texts: the clocks take names cut to a number of characters, and a
// cut must never fall inside a character.
#include <string>

namespace lector::clock {

inline bool EsContinuacion(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The first n characters of s.
inline std::string PrimerosCaracteres(const std::string& s, size_t n) {
  size_t i = 0;
  for (size_t cuenta = 0; i < s.size() && cuenta < n; ++cuenta) {
    ++i;
    while (i < s.size() && EsContinuacion(s[i])) ++i;
  }
  return s.substr(0, i);
}

inline size_t CuentaCaracteres(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += !EsContinuacion(c);
  return n;
}

}  // namespace lector::clock
