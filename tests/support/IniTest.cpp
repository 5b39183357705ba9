#include "support/Ini.h"

#include <sys/stat.h>

#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "kit/Fixtures.h"
#include "support/CodePage.h"
#include "support/Falla.h"

namespace lector {
namespace {

std::string Bytes(const std::string& utf8) {
  return Utf8ACp1252(utf8);
}

void Escribe(const std::filesystem::path& ruta, const std::string& bytes) {
  std::ofstream f(ruta, std::ios::binary);
  f << bytes;
}

class IniArchivo : public ::testing::Test {
 protected:
  test::CarpetaTemporal carpeta;
  std::filesystem::path ini = carpeta.ruta() / "Lector.ini";
};

TEST_F(IniArchivo, FaltaArchivoSeccionOClaveDaElValorPorDefecto) {
  EXPECT_EQ(LeeIni(ini, "USER", "REC", "0"), "0");
  EXPECT_FALSE(std::filesystem::exists(ini));
  ASSERT_TRUE(GrabaIni(ini, "USER", "REC", "x"));
  EXPECT_EQ(LeeIni(ini, "OTRA", "REC", "d"), "d");
  EXPECT_EQ(LeeIni(ini, "USER", "AUTO", ""), "");
}

TEST_F(IniArchivo, PrimeraEscrituraCreaElArchivoSoloParaSuDueno) {
  ASSERT_TRUE(GrabaIni(ini, "USER", "REC", "abc"));
  EXPECT_EQ(test::LeeArchivo(ini), "[USER]\r\nREC=abc\r\n");
  struct stat st {};
  ASSERT_EQ(stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A file left by an older version with wider permissions is narrowed on the next write.
  chmod(ini.c_str(), 0644);
  ASSERT_TRUE(GrabaIni(ini, "USER", "REC", "abc"));
  ASSERT_EQ(stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(carpeta.ruta()), {}), 1);
}

TEST_F(IniArchivo, NombresSinMayusculasYLoDemasSeConserva) {
  Escribe(ini,
          "; hecho a mano\r\n[servidor]\r\nURL=http://x/\r\n\r\n[User]\r\n  rec = viejo\r\n"
          "otra=1\r\n\r\n[FIN]\nk=v\n");
  EXPECT_EQ(LeeIni(ini, "USER", "REC", ""), " viejo");
  EXPECT_EQ(LeeIni(ini, "Servidor", "url", ""), "http://x/");
  ASSERT_TRUE(GrabaIni(ini, "user", "Rec", "nuevo"));
  ASSERT_TRUE(GrabaIni(ini, "USER", "AUTO", "a"));
  ASSERT_TRUE(GrabaIni(ini, "NUEVA", "K", "b"));
  EXPECT_EQ(test::LeeArchivo(ini),
            "; hecho a mano\r\n[servidor]\r\nURL=http://x/\r\n\r\n[User]\r\nRec=nuevo\r\n"
            "otra=1\r\nAUTO=a\r\n\r\n[FIN]\r\nk=v\r\n[NUEVA]\r\nK=b\r\n");
  EXPECT_EQ(LeeIni(ini, "user", "REC", ""), "nuevo");
  EXPECT_EQ(LeeIni(ini, "FIN", "K", ""), "v");
}

TEST_F(IniArchivo, ValoresVuelvenExactamenteComoSeEscribieron) {
  const std::vector<std::string> valores = {
      "",       " ", "  blancos  ", "\"comillas\"", "'x'",  "a=b=c", ";no es comentario",
      "[USER]", "]", "\t",          "ñandú €",      "\x7f", "=",     "[x]=y"};
  for (const auto& v : valores) {
    ASSERT_TRUE(GrabaIni(ini, "USER", "USER", v));
    ASSERT_TRUE(GrabaIni(ini, "USER", "PASS", "otro"));
    EXPECT_EQ(LeeIni(ini, "USER", "USER", "?"), v);
    EXPECT_EQ(LeeIni(ini, "USER", "PASS", "?"), "otro");
  }
  // Every 8-bit code but the two line breaks.
  std::string todos;
  for (int c = 0; c < 256; ++c)
    if (c != '\r' && c != '\n') todos += static_cast<char>(c);
  ASSERT_TRUE(GrabaIni(ini, "USER", "USER", Cp1252AUtf8(todos)));
  EXPECT_EQ(Bytes(LeeIni(ini, "USER", "USER", "")), todos);
  EXPECT_NE(test::LeeArchivo(ini).find("USER=" + todos + "\r\n"), std::string::npos);
}

TEST_F(IniArchivo, SaltosDeLineaSeVuelvenBlancos) {
  ASSERT_TRUE(GrabaIni(ini, "USER", "USER", "a\r\nb\nc\r"));
  EXPECT_EQ(LeeIni(ini, "USER", "USER", ""), "a  b c ");
  EXPECT_EQ(test::LeeArchivo(ini), "[USER]\r\nUSER=a  b c \r\n");
}

TEST_F(IniArchivo, LecturaDevuelveAlMaximo999Caracteres) {
  std::string largo(1200, 'x');
  ASSERT_TRUE(GrabaIni(ini, "USER", "USER", largo));
  EXPECT_EQ(LeeIni(ini, "USER", "USER", ""), std::string(999, 'x'));
  EXPECT_EQ(LeeIni(ini, "USER", "NADA", largo), std::string(999, 'x'));
}

TEST_F(IniArchivo, NombresQueNoVolveriamosALeerSeRechazan) {
  EXPECT_FALSE(GrabaIni(ini, "USER", "", "v"));
  EXPECT_FALSE(GrabaIni(ini, "", "K", "v"));
  EXPECT_FALSE(GrabaIni(ini, "USER", "A=B", "v"));
  EXPECT_FALSE(GrabaIni(ini, "USER", "[K", "v"));
  EXPECT_FALSE(GrabaIni(ini, "US]ER", "K", "v"));
  EXPECT_FALSE(GrabaIni(ini, "USER", "K\n", "v"));
  EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(IniArchivo, CarpetaInexistenteOArchivoQueEsCarpeta) {
  EXPECT_FALSE(GrabaIni(carpeta.ruta() / "no" / "Lector.ini", "USER", "K", "v"));
  std::filesystem::create_directory(ini);
  EXPECT_FALSE(GrabaIni(ini, "USER", "K", "v"));
  EXPECT_EQ(LeeIni(ini, "USER", "K", "d"), "d");
}

// ---- Scrambling

// The 8-bit codes of a scrambled value.
std::vector<int> Codigos(const std::string& utf8) {
  std::vector<int> c;
  for (char b : Utf8ACp1252(utf8)) c.push_back(static_cast<unsigned char>(b));
  return c;
}

TEST(Codifica, FormaLargaDe501ConSusMarcas) {
  for (int vuelta = 0; vuelta < 200; ++vuelta) {
    auto c = Codigos(Codifica("abc"));
    ASSERT_EQ(c.size(), 501u);
    int s = c[1] - 200;
    ASSERT_GE(s, 0);
    ASSERT_LE(s, 10);
    for (int i = 2; i < s + 2; ++i) {
      EXPECT_GE(c[i], 200);
      EXPECT_LE(c[i], 210);
    }
    EXPECT_EQ(c[s + 2], 23);
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(c[s + 1 + 2 * k], 'a' + k - 1 + s + k);
    for (size_t i = s + 3; i < c.size(); ++i) {
      if (i <= static_cast<size_t>(s + 7) && (i - s) % 2 == 1) continue;  // a letter
      EXPECT_GE(c[i], 30) << i;
      EXPECT_LE(c[i], 250) << i;
    }
    EXPECT_GE(c[0], 30);
    EXPECT_LE(c[0], 250);
  }
}

TEST(Codifica, TextoVacioYRecorteA230) {
  auto vacio = Codigos(Codifica(""));
  ASSERT_EQ(vacio.size(), 501u);
  EXPECT_EQ(vacio[vacio[1] - 200 + 2], 20);
  EXPECT_EQ(Decodifica(Codifica("")), "");
  // Only low codes fit at place 230 (code + shift + 230 <= 255).
  EXPECT_EQ(Decodifica(Codifica(std::string(240, '\x0e'))), std::string(230, '\x0e'));
}

TEST(Codifica, TextosQueNoSePuedenRepresentar) {
  EXPECT_EQ(Codifica("ÿ"), "");       // 255 + shift + 1 > 255 for every shift
  EXPECT_EQ(Codifica("abcdeÿ"), "");  // any position
  EXPECT_EQ(Codifica("中"), "");      // no Windows-1252 code
  EXPECT_EQ(Codifica("a\xC3"), "");   // not UTF-8
  // 250 + k fits only with the smallest shifts; the draws are repeated until one fits.
  EXPECT_EQ(Decodifica(Codifica("\u00FA")), "\u00FA");
  // A tab in the first place would become a line feed with shift 0; another shift is drawn.
  for (int i = 0; i < 100; ++i) {
    auto c = Codigos(Codifica("\t\x0b"));
    ASSERT_EQ(c.size(), 501u);
    EXPECT_EQ(std::count(c.begin(), c.end(), '\n') + std::count(c.begin(), c.end(), '\r'), 0);
    EXPECT_EQ(Decodifica(Codifica("\t\x0b")), "\t\x0b");
  }
}

TEST(Decodifica, FormaCortaHexadecimal) {
  EXPECT_EQ(Decodifica("414243"), "ABC");
  EXPECT_EQ(Decodifica("g4"), "");
  EXPECT_EQ(Decodifica("4g"), "p");
  EXPECT_EQ(Decodifica("0"), std::string(1, '\0'));  // missing flag: reads as off
  EXPECT_EQ(Decodifica("1"), "\x11");                // a plain "1" is not on either
  EXPECT_EQ(Decodifica("41g4"), "A");
  EXPECT_EQ(Decodifica("414"), "AD");  // a last single character is its own pair
  EXPECT_EQ(Decodifica(""), "");
  EXPECT_EQ(DecodificaHex("C3A9"), "Ã©");
  EXPECT_EQ(ValorHex("41"), 65);
  EXPECT_EQ(ValorHex("a"), 16 * 42 + 42);
  EXPECT_EQ(ValorHex("g4"), 772);
  EXPECT_EQ(ValorHex(std::string(1, '\0')), -55 * 17);
  EXPECT_THROW(ValorHex(""), Falla);
}

TEST(Decodifica, LimiteEntreFormaCortaYLarga) {
  std::string corto(449, '4');  // pairs "44" = 'D'
  EXPECT_EQ(Decodifica(corto), std::string(224, 'D') + "D");
  std::string largo(450, 'x');
  largo[1] = static_cast<char>(200);
  largo[2] = 22;  // n = 2 at position 3
  largo[3] = 'a' + 1;
  largo[5] = 'b' + 2;
  EXPECT_EQ(Decodifica(Cp1252AUtf8(largo)), "ab");
}

TEST(Decodifica, ValorLargoDanadoDaTextoVacio) {
  // "clave" with shift 3 by hand: filler 30 gives no text at any shift or length.
  std::string base(501, static_cast<char>(30));
  base[1] = static_cast<char>(203);
  base[5] = 20 + 5;
  for (int k = 1; k <= 5; ++k) base[4 + 2 * k] = static_cast<char>("clave"[k - 1] + 3 + k);
  auto con = [&](size_t pos, int codigo) {
    std::string t = base;
    t[pos] = static_cast<char>(codigo);
    return Decodifica(Cp1252AUtf8(t));
  };
  EXPECT_EQ(Decodifica(Cp1252AUtf8(base)), "clave");
  EXPECT_EQ(con(1, 0), "");    // shift -200: position before the start
  EXPECT_EQ(con(1, 255), "");  // shift 55, still in the text
  EXPECT_EQ(con(5, 19), "");   // negative length
  EXPECT_EQ(con(5, 20), "");   // zero length
  EXPECT_EQ(con(5, 255), "");  // meets a code below 0
  EXPECT_EQ(con(6, 0), "");    // a code below 0
  std::string t(450, 'x');     // shift 10 and 230 characters would end at place 472
  t[1] = static_cast<char>(210);
  t[12] = static_cast<char>(250);
  EXPECT_EQ(Decodifica(Cp1252AUtf8(t)), "");
}

// The platform functions trim blanks and quotes around values; this layer must not.
TEST_F(IniArchivo, MilesDeValoresCodificadosSobrevivenAlArchivo) {
  std::mt19937 g(12345);
  std::uniform_int_distribution<int> largo(0, 120), byte(0, 255);
  for (int i = 0; i < 2000; ++i) {
    // Any 8-bit codes, each low enough to fit its place with every shift.
    std::string t;
    for (int k = 1, n = largo(g); k <= n; ++k) t += static_cast<char>(byte(g) % (246 - k));
    std::string plano = Cp1252AUtf8(t);
    std::string valor = Codifica(plano);
    ASSERT_FALSE(valor.empty()) << i;
    const char* clave = i % 2 ? "USER" : "PASS";
    ASSERT_TRUE(GrabaIni(ini, "USER", clave, valor));
    std::string leido = LeeIni(ini, "USER", clave, "");
    ASSERT_EQ(leido, valor) << i;
    ASSERT_EQ(Decodifica(leido), plano) << i;
  }
}

TEST(Codifica, SoloRechazaLoQueNingunDesplazamientoPuedeRepresentar) {
  std::mt19937 g(777);
  std::uniform_int_distribution<int> largo(0, 230), byte(0, 255);
  int rechazados = 0;
  for (int i = 0; i < 2000; ++i) {
    std::string t;
    bool cabe = true;
    for (int k = 1, n = largo(g); k <= n; ++k) {
      t += static_cast<char>(byte(g));
      cabe = cabe && static_cast<unsigned char>(t.back()) + k <= 255;
    }
    std::string valor = Codifica(Cp1252AUtf8(t));
    EXPECT_EQ(valor.empty(), !cabe) << i;
    if (!valor.empty()) {
      EXPECT_EQ(Utf8ACp1252(Decodifica(valor)), t);
    }
    rechazados += valor.empty();
  }
  EXPECT_GT(rechazados, 0);
}

// ---- Loading and saving the settings

class Config : public ::testing::Test {
 protected:
  test::LectorDePrueba p;
  Estado& e = p.l.estado;
  std::filesystem::path ini = p.l.ArchivoIni();
};

TEST_F(Config, SinArchivoTodoApagadoYVacio) {
  e.Usuario = "x", e.Clave = "y", e.Recordar = e.AutoIngreso = true;
  CargaConfig(p.l);
  EXPECT_EQ(e.Usuario, "");
  EXPECT_EQ(e.Clave, "");
  EXPECT_FALSE(e.Recordar);
  EXPECT_FALSE(e.AutoIngreso);
}

TEST_F(Config, GuardaYCargaLosCuatro) {
  e.Usuario = "José", e.Clave = "p@ss \"word\"", e.Recordar = e.AutoIngreso = true;
  EXPECT_TRUE(GuardaConfig(p.l).empty());
  for (const char* k : {"USER", "PASS", "REC", "AUTO"})
    EXPECT_EQ(Utf8ACp1252(LeeIni(ini, "USER", k, "")).size(), 501u) << k;
  EXPECT_EQ(test::LeeArchivo(ini).find("José"), std::string::npos);
  Estado antes = e;
  e = Estado{};
  CargaConfig(p.l);
  EXPECT_EQ(e.Usuario, antes.Usuario);
  EXPECT_EQ(e.Clave, antes.Clave);
  EXPECT_TRUE(e.Recordar);
  EXPECT_TRUE(e.AutoIngreso);
}

TEST_F(Config, RecordarApagadoSoloReescribeLasBanderas) {
  e.Usuario = "ana", e.Clave = "secreta", e.Recordar = e.AutoIngreso = true;
  GuardaConfig(p.l);
  e.Usuario = "otro", e.Clave = "otra", e.Recordar = false;
  GuardaConfig(p.l);
  e = Estado{};
  CargaConfig(p.l);
  EXPECT_EQ(e.Usuario, "ana");
  EXPECT_EQ(e.Clave, "secreta");
  EXPECT_FALSE(e.Recordar);
  EXPECT_TRUE(e.AutoIngreso);
}

TEST_F(Config, SinIngresoAutomaticoNoSeGuardaLaClave) {
  e.Usuario = "ana", e.Clave = "secreta", e.Recordar = true;
  GuardaConfig(p.l);
  EXPECT_EQ(LeeIni(ini, "USER", "PASS", "falta"), "falta");
  CargaConfig(p.l);
  EXPECT_EQ(e.Usuario, "ana");
  EXPECT_EQ(e.Clave, "");
  EXPECT_TRUE(e.Recordar);
  EXPECT_FALSE(e.AutoIngreso);
}

TEST_F(Config, UsuarioLargoSeCortaA230TambienEnMemoria) {
  e.Usuario = std::string(240, '\x0e'), e.Recordar = true;
  EXPECT_TRUE(GuardaConfig(p.l).empty());
  EXPECT_EQ(e.Usuario, std::string(230, '\x0e'));
  e.Usuario.clear();
  CargaConfig(p.l);
  EXPECT_EQ(e.Usuario, std::string(230, '\x0e'));
  // Letters cannot reach place 230 (code + shift + place > 255): cut in memory, not stored.
  std::string enes;
  for (int i = 0; i < 240; ++i) enes += "ñ";
  e.Usuario = enes;
  EXPECT_EQ(GuardaConfig(p.l), std::vector<std::string>{"USER"});
  EXPECT_EQ(e.Usuario, enes.substr(0, 460));
  CargaConfig(p.l);
  EXPECT_EQ(e.Usuario, std::string(230, '\x0e'));
}

TEST_F(Config, LoQueNoSePuedeCodificarNoSeGuardaYSeInforma) {
  e.Usuario = "ana", e.Clave = "vieja", e.Recordar = e.AutoIngreso = true;
  GuardaConfig(p.l);
  e.Usuario = "ÿ", e.Clave = "中";
  EXPECT_EQ(GuardaConfig(p.l), (std::vector<std::string>{"USER", "PASS"}));
  CargaConfig(p.l);
  EXPECT_EQ(e.Usuario, "ana");
  EXPECT_EQ(e.Clave, "vieja");
  EXPECT_TRUE(e.Recordar);
}

TEST_F(Config, ValoresEscritosAManoODanados) {
  Escribe(ini, "[USER]\r\nREC=1\r\nAUTO=" + std::string(500, 'z') + "\r\nUSER=616E61\r\n");
  CargaConfig(p.l);
  EXPECT_FALSE(e.Recordar);
  EXPECT_FALSE(e.AutoIngreso);
  EXPECT_EQ(e.Usuario, "ana");  // short form
}

TEST_F(Config, CerrarSesionApagaSoloElIngresoAutomatico) {
  e.Usuario = "ana", e.Clave = "c", e.Recordar = e.AutoIngreso = true;
  GuardaConfig(p.l);
  GrabaIni(ini, "USER", "AUTO", Codifica("0"));
  e = Estado{};
  CargaConfig(p.l);
  EXPECT_TRUE(e.Recordar);
  EXPECT_FALSE(e.AutoIngreso);
  EXPECT_EQ(e.Clave, "c");
}

TEST_F(Config, UrlBase) {
  EXPECT_EQ(LeeUrlBase(p.l), kUrlBasePorDefecto);
  GrabaIni(ini, "SERVIDOR", "URL", " https://servicio.example/app ");
  EXPECT_EQ(LeeUrlBase(p.l), "https://servicio.example/app/");
  GrabaIni(ini, "SERVIDOR", "URL", "http://127.0.0.1:9000/");
  EXPECT_EQ(LeeUrlBase(p.l), "http://127.0.0.1:9000/");
  GrabaIni(ini, "SERVIDOR", "URL", "  ");
  EXPECT_EQ(LeeUrlBase(p.l), kUrlBasePorDefecto);
}

}  // namespace
}  // namespace lector
