// The support functions: code page, number conversions and time formats, the machine's
// identity, texts, fields and lists.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "kit/Fixtures.h"
#include "support/Archivos.h"
#include "support/CodePage.h"
#include "support/Falla.h"
#include "support/Identidad.h"
#include "support/Ini.h"
#include "support/Log.h"
#include "support/Texto.h"
#include "support/Visible.h"

namespace lector {
namespace {

// Every code goes and comes back; what has no code becomes "?".
TEST(CodePage, CadaCodigoVaYVuelveYLoQueNoTieneFormaEsInterrogacion) {
  std::string todos;
  for (int b = 0; b < 256; ++b) todos += static_cast<char>(b);
  EXPECT_EQ(Utf8ACp1252(Cp1252AUtf8(todos)), todos);
  // 0x80-0x9F: the code page's own letters and signs; undefined codes keep their C1 control.
  EXPECT_EQ(Cp1252AUtf8("\x80\x81\x8A\x9F\xE1\xF1\xD1\xFC\xFF"), "€\u0081ŠŸáñÑüÿ");
  // Code points past the code page; then bytes that are not UTF-8: stray continuation,
  // truncated, overlong, surrogate, past U+10FFFF.
  const std::pair<std::string, std::string> casos[] = {
      {"a\u4E2Db", "a?b"}, {"\U0001F600", "?"},     {"\u0080\u0099", "??"},
      {"\u0100", "?"},     {"x\x80y", "x?y"},       {"x\xC3", "x?"},
      {"\xC0\xAF", "??"},  {"\xED\xA0\x80", "???"}, {"\xF4\x90\x80\x80", "????"}};
  for (const auto& [utf8, cp] : casos) EXPECT_EQ(Utf8ACp1252(utf8), cp) << utf8;
  EXPECT_EQ(Utf8ACp1252(std::string("\0a", 2)), std::string("\0a", 2));
}

TEST(Conversiones, NumerosRedondeanAlParYLoDemasEs13O6YFechas) {
  const std::pair<const char*, int> enteros[] = {
      {"007", 7}, {" -12 ", -12},   {"+5", 5},         {"2.5", 2},
      {"3.5", 4}, {"32767", 32767}, {"-32768", -32768}};
  for (auto [t, v] : enteros) EXPECT_EQ(AEntero16(t), v) << t;
  EXPECT_EQ(AEntero32("-2147483648"), INT32_MIN);
  EXPECT_FLOAT_EQ(AReal("1.25"), 1.25f);
  using test::NumeroDeFalla;
  for (const char* t : {"", " ", "abc", "1a", "-", ".", "1.2.3", "1 2", "0x10"})
    EXPECT_EQ(NumeroDeFalla([&] { AEntero16(t); }), kTipoIncompatible) << t;
  for (const char* t : {"32768", "-32769"})
    EXPECT_EQ(NumeroDeFalla([&] { AEntero16(t); }), kDesbordamiento) << t;
  EXPECT_EQ(NumeroDeFalla([] { AEntero32("2147483648"); }), kDesbordamiento);
  EXPECT_EQ(NumeroDeFalla([] { AReal("1" + std::string(50, '0')); }), kDesbordamiento);
  EXPECT_EQ(Formatea({2025, 12, 31, 23, 59, 58, 0}, "yyMMdd hhmmss dd/MM"), "251231 235958 31/12");
}

TEST(Identidad, EstableConSignoYConRespaldos) {
  test::LectorDePrueba p;
  auto archivo = [&](const std::string& nombre, const std::string& contenido) {
    std::ofstream(p.carpeta.ruta() / nombre, std::ios::binary) << contenido;
    return p.carpeta.ruta() / nombre;
  };
  const std::regex entero32("0|-?[1-9][0-9]{0,9}");
  const std::string propia = SerialDisco(p.l);
  p.l.estado.IdEquipo = "otro";
  EXPECT_EQ(SerialDisco(p.l) + "|" + p.l.estado.IdEquipo, propia + "|" + propia);
  EXPECT_EQ(SerialDisco(p.l, {archivo("uno", "3d1219c7c4c5404aaa1f6d2a48adfda4\n")}),
            SerialDisco(p.l, {archivo("igual", "  3d1219c7c4c5404aaa1f6d2a48adfda4  \r\n")}));
  int negativos = 0;
  for (int i = 0; i < 64; ++i) {
    std::string t = SerialDisco(p.l, {archivo("id", "maquina-" + std::to_string(i))});
    ASSERT_TRUE(std::regex_match(t, entero32) && std::abs(std::stoll(t)) <= 2147483648LL) << t;
    negativos += t[0] == '-';
  }
  EXPECT_TRUE(negativos > 0 && negativos < 64);  // the highest bit set keeps its minus sign
  // Blank or missing sources give way to the next, and at last to the host name.
  EXPECT_EQ(
      SerialDisco(p.l, {p.carpeta.ruta() / "falta", archivo("vacio", "\n"), archivo("b", "abc")}),
      SerialDisco(p.l, {archivo("c", "abc")}));
  char nombre[256] = {};
  ASSERT_EQ(gethostname(nombre, sizeof nombre - 1), 0);
  EXPECT_EQ(SerialDisco(p.l, {p.carpeta.ruta() / "falta", p.carpeta.ruta()}),
            SerialDisco(p.l, {archivo("nombre", nombre)}));
}

TEST(Texto, ParesJsonCamposYListas) {
  EXPECT_EQ(ParJson("nombre", "José / 1,2 {x}"), "\"nombre\":\"José / 1,2 {x}\"");
  EXPECT_EQ(ParJson("n", std::string("a\"b\\\r\n\t\b\f\0\x1f", 11)),
            "\"n\":\"a\\\"b\\\\\\r\\n\\t\\b\\f\\u0000\\u001f\"");
  EXPECT_EQ(ListaJson(",{\"a\":\"1\"},{\"b\":\"2\"}"), "[{\"a\":\"1\"},{\"b\":\"2\"}]");
  EXPECT_EQ(ListaJson(""), "[]");
  const std::tuple<const char*, const char*, long, const char*> casos[] = {
      {"a;b;c", ";", 1, "a"},        {"a;b;c", ";", 3, "c"},   {"a;b;c", ";", 5, "c"},
      {"a;;b", ";", 2, ""},          {"abc", ";", 2, "abc"},   {"", ";", 1, ""},
      {"a;b;", ";", 2, "b"},         {"a;b;", ";", 3, "a;b;"}, {"1],[", "],[", 2, ""},
      {"1,2],[3,4", "],[", 2, "3,4"}};
  for (auto [texto, sep, n, campo] : casos) EXPECT_EQ(Campo(texto, n, sep), campo) << texto << n;
  EXPECT_EQ((std::vector<long>{CuentaCampos("", ";"), CuentaCampos("1,2],[3,4],[5", "],["),
                               CuentaCampos("ab", "abc")}),
            (std::vector<long>{1, 3, 1}));
  // A list's last slot is always empty and never looked at, so a clock without a serial is never
  // taken for a registered one (removing, and the reading's recent lines: the clock operations).
  EXPECT_FALSE(EstaEnLista({"a", ""}, "") || EstaEnLista({"a", ""}, "A"));
  EXPECT_TRUE(EstaEnLista({"a", ""}, "a"));
}

// Texts of the service and the clocks as printed and listed; addresses as the fields say.
TEST(Visible, SinControlesAcotadaIpv4YHttps) {
  EXPECT_EQ(SinControles("a\x1b[2Jb\r\nc\x7f\u009b\u00e1"), "a?[2Jb  c??\u00e1");
  EXPECT_EQ(Acotada("corto", 10), "corto");
  EXPECT_EQ(Acotada("\u00e1\u00e1\u00e1", 3), "\u00e1… (6 bytes; recortado)");
  for (const char* ip : {"127.0.0.1", "192.168.1.20", "255.255.255.255"}) EXPECT_TRUE(EsIpv4(ip));
  for (const char* ip : {"localhost", "", "10.0.0", "10.0.0.256", "10.0.0.01", " 10.0.0.1", "::1"})
    EXPECT_FALSE(EsIpv4(ip)) << ip;
  EXPECT_TRUE(EsHttps("HTTPS://x/") && !EsHttps("http://x/") && !EsHttps("https:/x"));
}

// The program folder's files: the owner's only, and a link in their place is never followed.
TEST(Archivos, SoloElDuenoYSinSeguirEnlaces) {
  test::LectorDePrueba p;
  Lector& l = p.l;
  std::ofstream(l.ArchivoIni()) << "[USER]\n";
  std::filesystem::permissions(l.ArchivoIni(), std::filesystem::perms(0644));
  const mode_t antes = ::umask(022);
  ProtegeCarpeta(l);
  const mode_t despues = ::umask(antes);
  EXPECT_EQ(despues, 077u);
  auto modo = [](const std::filesystem::path& r) {
    return static_cast<int>(std::filesystem::status(r).permissions()) & 0777;
  };
  EXPECT_EQ(modo(l.ArchivoIni()), 0600);
  EXPECT_EQ(p.display.logs.size(), 1u);
  ProtegeCarpeta(l);  // already private: nothing to say
  EXPECT_EQ(p.display.logs.size(), 1u);
  l.estado.ModoLog = true;
  EscribeLog(l, "x");
  EXPECT_EQ(modo(l.ArchivoLog()), 0600);
  const auto otro = l.carpeta / "otro.txt";
  std::ofstream(otro) << "ajeno";
  const int modoOtro = modo(otro);
  std::filesystem::remove(l.ArchivoLog());
  std::filesystem::create_symlink(otro, l.ArchivoLog());
  EscribeLog(l, "y");
  EXPECT_EQ(test::LeeArchivo(otro), "ajeno");
  std::string contenido;
  EXPECT_FALSE(LeeArchivo(l.ArchivoLog(), contenido));
  std::filesystem::remove(l.ArchivoIni());
  std::filesystem::create_symlink(otro, l.ArchivoIni());
  EXPECT_FALSE(GrabaIni(l.ArchivoIni(), "USER", "AUTO", "1"));
  EXPECT_EQ(test::LeeArchivo(otro), "ajeno");
  EXPECT_EQ(modo(otro), modoOtro);
}

}  // namespace
}  // namespace lector
