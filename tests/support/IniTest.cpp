#include "support/Ini.h"

#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "kit/Fixtures.h"
#include "support/CodePage.h"
#include "support/Falla.h"

namespace lector {
namespace {

class Config : public ::testing::Test {
 protected:
  test::LectorDePrueba p;
  Estado& e = p.l.estado;
  std::filesystem::path ini = p.l.ArchivoIni();
  void Guarda(std::string usuario, std::string clave, bool recordar, bool autoIngreso) {
    e.Usuario = usuario;
    e.Clave = clave;
    e.Recordar = recordar;
    e.AutoIngreso = autoIngreso;
    GuardaConfig(p.l);
    e = Estado{};
    CargaConfig(p.l);
  }
  // User|password|R for remembered|A for automatic login.
  std::string Cargado() const {
    return e.Usuario + "|" + e.Clave + "|" + (e.Recordar ? "R" : "") + (e.AutoIngreso ? "A" : "");
  }
};

TEST_F(Config, DefectosNombresRechazadosYPermisos) {
  EXPECT_TRUE(LeeIni(ini, "USER", "REC", "0") == "0" && !std::filesystem::exists(ini));
  // Names the file could not give back (no caller writes one but its own constant names).
  EXPECT_FALSE(GrabaIni(ini, "USER", "A=B", "v") || std::filesystem::exists(ini));
  ASSERT_TRUE(GrabaIni(ini, "USER", "USER", "a\r\nb\nc\r"));
  EXPECT_EQ(test::LeeArchivo(ini), "[USER]\r\nUSER=a  b c \r\n");
  EXPECT_EQ(LeeIni(ini, "OTRA", "USER", "d") + LeeIni(ini, "USER", "AUTO", ""), "d");
  // Only its owner reads it, even when it had been left readable by others.
  std::filesystem::permissions(ini, std::filesystem::perms(0644));
  ASSERT_TRUE(GrabaIni(ini, "USER", "USER", std::string(1200, 'x')));
  EXPECT_EQ(std::filesystem::status(ini).permissions(), std::filesystem::perms(0600));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(p.carpeta.ruta()), {}), 1);
  EXPECT_EQ(LeeIni(ini, "USER", "USER", ""), std::string(999, 'x'));
  std::filesystem::remove(ini);
  std::filesystem::create_directory(ini);
  EXPECT_TRUE(!GrabaIni(ini, "USER", "K", "v") && LeeIni(ini, "USER", "K", "d") == "d");
}

// Values come back byte for byte, blanks and quotes around them too (any bytes: the fuzz target).
TEST_F(Config, NombresSinMayusculasYLoDemasSeConserva) {
  std::ofstream(ini, std::ios::binary)
      << "; hecho a mano\r\n[servidor]\r\nURL=http://x/\r\n\r\n[User]\r\n  rec = viejo\r\n"
         "otra=1\r\n\r\n[FIN]\nk=v\n";
  EXPECT_EQ(LeeIni(ini, "USER", "REC", ""), " viejo");
  ASSERT_TRUE(GrabaIni(ini, "user", "Rec", "nuevo"));
  ASSERT_TRUE(GrabaIni(ini, "USER", "AUTO", "\"a\""));
  ASSERT_TRUE(GrabaIni(ini, "NUEVA", "K", " b\t"));
  EXPECT_EQ(test::LeeArchivo(ini),
            "; hecho a mano\r\n[servidor]\r\nURL=http://x/\r\n\r\n[User]\r\nRec=nuevo\r\n"
            "otra=1\r\nAUTO=\"a\"\r\n\r\n[FIN]\r\nk=v\r\n[NUEVA]\r\nK= b\t\r\n");
  EXPECT_EQ(LeeIni(ini, "Servidor", "url", "") + LeeIni(ini, "FIN", "K", "") +
                LeeIni(ini, "user", "auto", "") + LeeIni(ini, "NUEVA", "K", ""),
            "http://x/v\"a\" b\t");
}

// 501 codes, and none of its markers, spacers or fillers a line break or a NUL (where they are:
// the value read back by hand below; Codifica reads each value back before it gives it).
TEST(Codifica, FormaLargaDe501YSoloRechazaLoQueNoCabe) {
  for (int vuelta = 0; vuelta < 100; ++vuelta) {
    const std::string c = Utf8ACp1252(Codifica("abc"));
    ASSERT_EQ(c.size(), 501u);
    EXPECT_EQ(std::count_if(c.begin(), c.end(), [](unsigned char b) { return b < 20; }), 0);
  }
  // 255 + shift + place > 255 for every shift; no Windows-1252 code; not UTF-8.
  for (const char* t : {"abcdeÿ", "中", "a\xC3"}) EXPECT_EQ(Codifica(t), "") << t;
  // A tab in the first place would become a line feed with shift 0; another shift is drawn.
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(Utf8ACp1252(Codifica("\t\x0b")).find_first_of("\r\n"), std::string::npos);
  std::mt19937 g(777);
  for (int i = 0; i < 2000; ++i) {
    std::string t;
    bool cabe = true;
    for (int k = 1, n = g() % 231; k <= n; ++k) {
      t += static_cast<char>(g() % 256);
      cabe = cabe && static_cast<unsigned char>(t.back()) + k <= 255;
    }
    const std::string valor = Codifica(Cp1252AUtf8(t));
    ASSERT_EQ(valor.empty(), !cabe) << i;
    ASSERT_EQ(Utf8ACp1252(Decodifica(valor)), cabe ? t : "") << i;
  }
}

TEST(Decodifica, FormaCortaHexadecimalYLargaDanadaSinTexto) {
  const std::pair<std::string, std::string> casos[] = {
      {"414243", "ABC"}, {"g4", ""},    {"4g", "p"},   {"0", std::string(1, '\0')},
      {"1", "\x11"},     {"41g4", "A"}, {"414", "AD"}, {"", ""}};
  for (const auto& [t, esperado] : casos) EXPECT_EQ(Decodifica(t), esperado) << t;
  // One character short of the long form: still pairs.
  EXPECT_EQ(Decodifica(std::string(449, '4')), std::string(225, 'D'));
  EXPECT_EQ(DecodificaHex("C3A9"), "Ã©");
  EXPECT_EQ(ValorHex("a"), 16 * 42 + 42);
  EXPECT_THROW(ValorHex(""), Falla);
  // "clave" with shift 3 by hand: filler 30 gives no text at any shift or length.
  std::string base(501, static_cast<char>(30));
  base[1] = static_cast<char>(203);
  base[5] = 20 + 5;
  for (int k = 1; k <= 5; ++k) base[4 + 2 * k] = static_cast<char>("clave"[k - 1] + 3 + k);
  auto con = [&](size_t pos, int codigo) {
    return Decodifica(Cp1252AUtf8(std::string(base).replace(pos, 1, 1, static_cast<char>(codigo))));
  };
  EXPECT_EQ(Decodifica(Cp1252AUtf8(base)), "clave");
  // Shift -200 (a place before the start) or 55; a negative or zero length; a length that meets
  // a code below 0; a code below 0.
  const std::pair<size_t, int> danos[] = {{1, 0}, {1, 255}, {5, 19}, {5, 20}, {5, 255}, {6, 0}};
  for (auto [pos, codigo] : danos) EXPECT_EQ(con(pos, codigo), "") << pos << " " << codigo;
  // Shift 10 and 230 characters in range would end at place 472, past the 450 there are.
  std::string t(450, static_cast<char>(250));
  t[1] = static_cast<char>(210);
  EXPECT_EQ(Decodifica(Cp1252AUtf8(t)), "");
}

TEST_F(Config, GuardaYCargaSegunLasBanderas) {
  e.Usuario = "x";
  e.Recordar = true;
  CargaConfig(p.l);  // no file: all off and empty
  EXPECT_EQ(Cargado(), "||");
  Guarda("José", "p@ss \"word\"", true, true);
  EXPECT_EQ(Cargado(), "José|p@ss \"word\"|RA");
  EXPECT_EQ(test::LeeArchivo(ini).find("José"), std::string::npos);
  GrabaIni(ini, "USER", "AUTO", Codifica("0"));  // closing the session
  CargaConfig(p.l);
  EXPECT_EQ(Cargado(), "José|p@ss \"word\"|R");
  Guarda("otro", "otra", false, true);  // only the flags are written again
  EXPECT_EQ(Cargado(), "José|p@ss \"word\"|A");
  std::filesystem::remove(ini);
  Guarda("ana", "secreta", true, false);  // without automatic login the password stays out
  EXPECT_EQ(LeeIni(ini, "USER", "PASS", "falta"), "falta");
  EXPECT_EQ(Cargado(), "ana||R");
}

TEST_F(Config, LoQueNoSePuedeCodificarNoSeGuardaYSeInforma) {
  Guarda("ana", "vieja", true, true);
  e.Usuario = "ÿ";
  e.Clave = "中";
  e.Recordar = e.AutoIngreso = true;
  EXPECT_EQ(GuardaConfig(p.l), (std::vector<std::string>{"USER", "PASS"}));
  CargaConfig(p.l);
  EXPECT_EQ(Cargado(), "ana|vieja|RA");
  // A long name is cut to 230 characters, in memory too; letters cannot reach place 230.
  e.Usuario = std::string(240, '\x0e');
  EXPECT_TRUE(GuardaConfig(p.l).empty());
  EXPECT_EQ(e.Usuario, std::string(230, '\x0e'));
  const std::string enes = Cp1252AUtf8(std::string(240, '\xF1'));  // 240 "ñ"
  e.Usuario = enes;
  EXPECT_EQ(GuardaConfig(p.l), std::vector<std::string>{"USER"});
  EXPECT_EQ(e.Usuario, enes.substr(0, 460));
  CargaConfig(p.l);
  EXPECT_EQ(e.Usuario, std::string(230, '\x0e'));
  // Values written by hand or damaged.
  std::ofstream(ini, std::ios::binary)
      << "[USER]\r\nREC=1\r\nAUTO=" + std::string(500, 'z') + "\r\nUSER=616E61\r\n";
  CargaConfig(p.l);
  EXPECT_EQ(Cargado(), "ana||");  // the name in the short form
}

TEST_F(Config, UrlBase) {
  const std::pair<const char*, const char*> casos[] = {
      {"", kUrlBasePorDefecto},
      {" https://servicio.example/app ", "https://servicio.example/app/"},
      {"http://127.0.0.1:9000/", "http://127.0.0.1:9000/"},
      {"  ", kUrlBasePorDefecto}};
  for (auto [escrita, leida] : casos) {
    if (*escrita) GrabaIni(ini, "SERVIDOR", "URL", escrita);
    EXPECT_EQ(LeeUrlBase(p.l), leida) << escrita;
  }
}

}  // namespace
}  // namespace lector
