// A reading over month files holding any bytes (files cut by a crash, edited by hand, from
// another program) and a clock giving any enrolment text: no crash, and the record ends up a
// line of the clock's file.
#include <cstdlib>
#include <fstream>
#include <string>

#include "clock/Marcaciones.h"
#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"
#include "support/CodePage.h"

using namespace lector;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Everything per input, the folder gone before the next (libFuzzer may end the process
  // without exit handlers).
  test::LectorDePrueba p;
  test::RecordingSdk sdk;
  p.l.sdk = &sdk;
  p.alcance.tabla["127.0.0.2"] = 0;
  sdk.serial = "S1";
  // Input: enrolment text, then the clock file, then the general file, split at the first two
  // 0xFF bytes.
  std::string texto(reinterpret_cast<const char*>(data), size);
  size_t a = texto.find('\xFF');
  size_t b = a == std::string::npos ? std::string::npos : texto.find('\xFF', a + 1);
  sdk.registros = {{texto.substr(0, a)}};
  std::filesystem::create_directory(p.l.Marcaciones());
  const auto rutaReloj = p.l.Marcaciones() / "2603 7.txt";
  std::ofstream(rutaReloj, std::ios::binary)
      << (a == std::string::npos ? "" : texto.substr(a + 1, b - a - 1));
  std::ofstream(p.l.Marcaciones() / "2603.txt", std::ios::binary)
      << (b == std::string::npos ? "" : texto.substr(b + 1));

  int16_t conectado = 0;
  std::string r = clock::LeeReloj(p.l, 1, 2, "7", "127.0.0.2", conectado, "S1");
  if (r != "1,0" && r != "1,1") abort();
  // The record's line is now a whole line of the clock's file.
  std::string linea = "7,S1,2026,3,3,8,0,";
  for (char c : sdk.registros[0].enrolamiento)
    linea += c == ',' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
  linea = Utf8ACp1252(linea + ",1,0,0,2");
  if (r == "1,1" &&
      ("\n" + test::LeeArchivo(rutaReloj)).find("\n" + linea + "\r\n") == std::string::npos)
    abort();
  return 0;
}
