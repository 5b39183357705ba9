// A reading over month files holding any bytes (files cut by a crash, edited by hand, from
// another program) and a clock giving any enrolment text: no crash, and the record ends up a
// line of the clock's file.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "clock/ClockSdk.h"
#include "clock/Marcaciones.h"
#include "kit/SinVentana.h"
#include "support/CodePage.h"
#include "support/Display.h"
#include "support/Lector.h"

using namespace lector;

namespace {

using lector::test::SinVentana;

class RelojFijo : public SystemClock {
 public:
  FechaHora Ahora() override { return {2026, 3, 3, 14, 5, 0, 0}; }
  void Dormir(int) override {}
};

class Responde : public Reachability {
 public:
  int32_t MidePing(const std::string&) override { return 0; }
};

// A clock with serial S1 and one record of the given enrolment text.
class UnRegistro : public clock::ClockSdk {
 public:
  std::string enrolamiento;
  bool dado = false;
  bool SetCommPassword(int32_t) override { return true; }
  bool Connect_Net(const std::string&, int32_t) override { return true; }
  void Disconnect() override {}
  bool GetSerialNumber(int32_t, std::string& s) override {
    s = "S1";
    return true;
  }
  bool GetFirmwareVersion(int32_t, std::string&) override { return false; }
  bool ReadGeneralLogData(int32_t) override {
    dado = false;
    return true;
  }
  bool SSR_GetGeneralLogData(int32_t, std::string& e, int32_t& v, int32_t& io, int32_t& a,
                             int32_t& me, int32_t& d, int32_t& h, int32_t& mi, int32_t& s,
                             int32_t& w) override {
    if (dado) return false;
    dado = true;
    e = enrolamiento;
    v = 1, io = 0, a = 2026, me = 3, d = 3, h = 8, mi = 0, s = 0, w = 0;
    return true;
  }
  bool ReadAllUserID(int32_t) override { return false; }
  bool SSR_GetAllUserInfo(int32_t, std::string&, std::string&, std::string&, int32_t&,
                          bool&) override {
    return false;
  }
  bool SSR_GetUserInfo(int32_t, const std::string&, std::string&, std::string&, int32_t&,
                       bool&) override {
    return false;
  }
  bool GetStrCardNumber(std::string&) override { return false; }
  bool SetStrCardNumber(const std::string&) override { return false; }
  bool SSR_SetUserInfo(int32_t, const std::string&, const std::string&, const std::string&, int32_t,
                       bool) override {
    return false;
  }
  bool GetUserFaceStr(int32_t, const std::string&, int32_t, std::string&, int32_t&) override {
    return false;
  }
  bool SetUserFaceStr(int32_t, const std::string&, int32_t, const std::string&, int32_t) override {
    return false;
  }
  bool GetUserTmpExStr(int32_t, const std::string&, int32_t, int32_t&, std::string&,
                       int32_t&) override {
    return false;
  }
  bool SSR_GetUserTmpStr(int32_t, const std::string&, int32_t, std::string&, int32_t&) override {
    return false;
  }
  bool SetUserTmpExStr(int32_t, const std::string&, int32_t, int32_t, const std::string&) override {
    return false;
  }
  bool SSR_SetUserTmpStr(int32_t, const std::string&, int32_t, const std::string&) override {
    return false;
  }
  bool DeleteEnrollData(int32_t, int32_t, int32_t, int32_t) override { return false; }
  bool SSR_DeleteEnrollData(int32_t, const std::string&, int32_t) override { return false; }
  bool SSR_DeleteEnrollDataExt(int32_t, const std::string&, int32_t) override { return false; }
  bool RefreshData(int32_t) override { return false; }
  bool ClearGLog(int32_t) override { return false; }
  bool RestartDevice(int32_t) override { return false; }
  bool Beep(int32_t) override { return false; }
  bool SetDeviceTime2(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {
    return false;
  }
  bool ClearAdministrators(int32_t) override { return false; }
};

std::string Lee(const std::filesystem::path& ruta) {
  std::ifstream f(ruta, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A folder per input, gone before the next (libFuzzer may end the process without exit
  // handlers).
  const auto carpeta =
      std::filesystem::temp_directory_path() / ("fuzz_MesReloj-" + std::to_string(::getpid()));
  std::filesystem::create_directories(carpeta / "Marcaciones");
  struct Borra {
    std::filesystem::path c;
    ~Borra() {
      std::error_code ec;
      std::filesystem::remove_all(c, ec);
    }
  } borra{carpeta};
  // Input: enrolment text, then the clock file, then the general file, split at the first two
  // 0xFF bytes.
  std::string texto(reinterpret_cast<const char*>(data), size);
  size_t a = texto.find('\xFF');
  size_t b = a == std::string::npos ? std::string::npos : texto.find('\xFF', a + 1);
  std::string enrolamiento = texto.substr(0, a);
  std::string archivoReloj = a == std::string::npos ? "" : texto.substr(a + 1, b - a - 1);
  std::string archivoGeneral = b == std::string::npos ? "" : texto.substr(b + 1);
  std::ofstream(carpeta / "Marcaciones" / "2603 7.txt", std::ios::binary) << archivoReloj;
  std::ofstream(carpeta / "Marcaciones" / "2603.txt", std::ios::binary) << archivoGeneral;

  SinVentana display;
  RelojFijo reloj;
  Responde alcance;
  UnRegistro sdk;
  sdk.enrolamiento = enrolamiento;
  Lector l(display, reloj, carpeta);
  l.alcance = &alcance;
  l.sdk = &sdk;
  int16_t conectado = 0;
  std::string r = clock::LeeReloj(l, 1, 2, "7", "127.0.0.2", conectado, "S1");
  if (r != "1,0" && r != "1,1") abort();
  // The record's line is now a whole line of the clock's file.
  std::string linea = "7,S1,2026,3,3,8,0,";
  for (char c : enrolamiento) linea += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  linea = Utf8ACp1252(linea + ",1,0,0,2");
  std::string contenido = "\n" + Lee(carpeta / "Marcaciones" / "2603 7.txt");
  if (r == "1,1" && contenido.find("\n" + linea + "\r\n") == std::string::npos) abort();
  return 0;
}
