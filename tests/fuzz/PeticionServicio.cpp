// Any form body, query or multipart body arriving at service-sim.
#include <cstdlib>
#include <string>

#include "ServiceSim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t largo = data[0] % 12;
  if (size < 1 + largo) return 0;
  std::string frontera(reinterpret_cast<const char*>(data + 1), largo);
  std::string cuerpo(reinterpret_cast<const char*>(data + 1 + largo), size - 1 - largo);
  for (const auto& [clave, valor] : servicesim::LeeFormulario(cuerpo))
    if (clave.size() + valor.size() > cuerpo.size()) abort();
  if (auto parte = servicesim::LeeMultipart(cuerpo, frontera))
    if (parte->contenido.size() > cuerpo.size() ||
        cuerpo.find(parte->contenido) == std::string::npos)
      abort();
  return 0;
}
