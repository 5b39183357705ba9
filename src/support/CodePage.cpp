#include "support/CodePage.h"

#include <cstdint>

namespace lector {
namespace {

// Code points of Windows-1252 codes 0x80 to 0x9F; the five codes the code page leaves
// undefined keep the C1 control of the same value so that every byte survives a round trip.
constexpr char32_t kAlto[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AgregaUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The byte for a code point, or '?' when Windows-1252 has no form for it.
char ACp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i)
    if (kAlto[i] == c) return static_cast<char>(0x80 + i);
  return '?';
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when it is not valid UTF-8
// (truncated, overlong, a surrogate or beyond U+10FFFF).
size_t DecodificaUtf8(const std::string& s, size_t i, char32_t& c) {
  auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t b0 = b(i);
  size_t largo;
  char32_t minimo;
  if (b0 < 0x80) {
    c = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    largo = 2, c = b0 & 0x1F, minimo = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    largo = 3, c = b0 & 0x0F, minimo = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    largo = 4, c = b0 & 0x07, minimo = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < largo) return 0;
  for (size_t k = 1; k < largo; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b(i + k) & 0x3F);
  }
  if (c < minimo || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return largo;
}

}  // namespace

std::string Utf8ACp1252(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t c;
    size_t largo = DecodificaUtf8(utf8, i, c);
    if (largo == 0) {
      out += '?';
      ++i;
    } else {
      out += ACp1252(c);
      i += largo;
    }
  }
  return out;
}

std::string Cp1252AUtf8(const std::string& cp1252) {
  std::string out;
  out.reserve(cp1252.size() + cp1252.size() / 4);
  for (char ch : cp1252) {
    auto b = static_cast<uint8_t>(ch);
    AgregaUtf8(out, b >= 0x80 && b < 0xA0 ? kAlto[b - 0x80] : char32_t{b});
  }
  return out;
}

}  // namespace lector
