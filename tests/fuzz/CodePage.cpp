// Any bytes through the code page conversions: Windows-1252 text always survives a round trip.
#include <cstdlib>
#include <string>

#include "support/CodePage.h"

using namespace lector;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (Utf8ACp1252(Cp1252AUtf8(bytes)) != bytes) abort();
  std::string cp = Utf8ACp1252(bytes);
  if (cp.size() > bytes.size()) abort();
  if (Utf8ACp1252(Cp1252AUtf8(cp)) != cp) abort();
  return 0;
}
