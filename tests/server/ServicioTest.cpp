#include "server/Servicio.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "ConServicio.h"
#include "clock/Conexion.h"
#include "kit/RecordingSdk.h"

namespace lector::test {
namespace {

using server::SyncCall;
using servicesim::Guion;

Guion Texto(const std::string& t, int veces = 1) {
  Guion g;
  g.texto = t;
  g.veces = veces;
  return g;
}

class SyncCallTest : public ConServicio {};

TEST_F(SyncCallTest, SinSesionNoPideNada) {
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "");
  EXPECT_TRUE(sim.Peticiones().empty());
}

TEST_F(SyncCallTest, EnviaLaFuncionEnLaUrlYLosParametrosComoFormulario) {
  Ingresa();
  l.estado.ModoLog = true;
  reloj.dormidas.clear();
  sim.EncolaTarea("7", "CO");
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "1");
  auto p = sim.PeticionesA("sync.php").back();
  EXPECT_EQ(p.metodo, "POST");
  EXPECT_EQ(p.destino,
            "/main/sync.php?ss=" + l.estado.IdSesion + "&appid=1234&function=comm.read.has");
  EXPECT_EQ(p.cuerpo, "relojid=7");
  bool tipo = false;
  for (auto& [n, v] : p.cabeceras) {
    if (n == "Content-Type") tipo = v == "application/x-www-form-urlencoded";
    EXPECT_NE(n, "Cookie");
  }
  EXPECT_TRUE(tipo);
  EXPECT_EQ(reloj.dormidas, std::vector<int>{1000});
  auto log = LineasLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "main/sync.php?function=comm.read.has&params=relojid=7");
  EXPECT_EQ(log.back(), "1");
}

TEST_F(SyncCallTest, PalabrasDeFallaTerminanEnUnIntento) {
  Ingresa();
  for (const std::string& r :
       {std::string("Error"), std::string("hubo un error interno"), std::string("cancel"),
        std::string("vantiro dice no"), std::string("Please try again later.")}) {
    sim.OlvidaPeticiones();
    sim.Programa("comm.read.has", Texto(r));
    EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "error") << r;
    EXPECT_EQ(sim.PeticionesA("sync.php").size(), 1u) << r;
  }
  // The search is case-sensitive.
  sim.Programa("comm.read.has", Texto("ERROR"));
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "ERROR");
  EXPECT_TRUE(l.estado.SesionAbierta);
}

TEST_F(SyncCallTest, PaginasDeErrorConEnlacesSePidenCincoVeces) {
  Ingresa();
  sim.OlvidaPeticiones();
  sim.Programa("lector.relojes", Guion::PaginaError(-1));
  EXPECT_EQ(SyncCall(l, "lector.relojes", "appid=1234"), "error");
  EXPECT_EQ(sim.PeticionesA("sync.php").size(), 5u);

  sim.OlvidaGuiones();
  sim.OlvidaPeticiones();
  sim.Programa("comm.read.has", Texto("problem, see http://x/", 2));
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "0");
  EXPECT_EQ(sim.PeticionesA("sync.php").size(), 3u);
  EXPECT_TRUE(l.estado.SesionAbierta);
}

TEST_F(SyncCallTest, SoloLaRespuestaExactaDeSinSesionCierraLaSesion) {
  Ingresa();
  sim.Programa("comm.read.has", Texto("aviso: error no session open"));
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "error");
  EXPECT_TRUE(l.estado.SesionAbierta);
  sim.Programa("comm.read.has", Texto("error no session open "));
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "error");
  EXPECT_TRUE(l.estado.SesionAbierta);
  sim.Programa("comm.read.has", Texto("error no session open"));
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "error");
  EXPECT_FALSE(l.estado.SesionAbierta);
  EXPECT_FALSE(l.estado.IdSesion.empty());  // only a failed login clears it
}

TEST_F(SyncCallTest, SesionVencidaSeReabreConOtroIngreso) {
  Ingresa();
  std::string primera = l.estado.IdSesion;
  sim.FijaInactividad(std::chrono::milliseconds(0));
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "error");
  EXPECT_FALSE(l.estado.SesionAbierta);
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "");

  sim.FijaInactividad(std::chrono::minutes(30));
  size_t antes = sim.Peticiones().size();
  Ingresa();  // same credentials: both requests go out again
  EXPECT_EQ(sim.Peticiones().size(), antes + 2);
  EXPECT_NE(l.estado.IdSesion, primera);
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "0");

  sim.ExpiraSesiones();
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "error");
  EXPECT_FALSE(l.estado.SesionAbierta);
}

TEST_F(SyncCallTest, ServidorInalcanzableEsUnaFallaSinReintento) {
  Ingresa();
  l.urlBase = "http://127.0.0.1:" + std::to_string(PuertoLibre()) + "/";
  l.estado.ModoLog = true;
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "error");
  auto log = LineasLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].rfind("Error en conexión con el servidor: ", 0), 0u) << log[1];
  EXPECT_EQ(log[2], "Error");
  EXPECT_TRUE(l.estado.SesionAbierta);
}

class ProcesarTest : public ConServicio {
 protected:
  void SetUp() override { Ingresa(); }
};

TEST_F(ProcesarTest, UnaEntradaSeguidaDeSaltoDaDosEntradas) {
  sim.Programa("lector.relojes", Texto("1|S1|7|Entrada|2|192.168.1.20|||||||1|5<br>"));
  EXPECT_TRUE(server::Procesar(l));
  EXPECT_EQ(l.estado.OperacionActual, "Procesar");
  EXPECT_EQ(display.caption, "Cargando Procesar - Registros: 1, Enviados: 1, Nuevos: 1");
  EXPECT_EQ(sim.PeticionesA("sync.php").back().cuerpo, "appid=1234");
  auto& lista = l.estado.ListaRelojes;
  ASSERT_EQ(lista.size(), 2u);
  EXPECT_EQ(lista[0].Numero, 1);
  EXPECT_EQ(lista[0].Serial, "S1");
  EXPECT_EQ(lista[0].RelojId, "7");
  EXPECT_EQ(lista[0].Nombre, "Entrada");
  EXPECT_EQ(lista[0].Etiqueta, "2");
  EXPECT_EQ(lista[0].IP, "192.168.1.20");
  for (auto& c : lista[0].Campos7a12) EXPECT_EQ(c, "");
  EXPECT_EQ(lista[0].Conectado, 1);
  EXPECT_EQ(lista[0].Intervalo, 5);
  EXPECT_EQ(lista[1].Numero, 0);
  EXPECT_EQ(lista[1].Serial, "");
  EXPECT_EQ(lista[1].IP, "");
}

TEST_F(ProcesarTest, SinSaltoQuedaUnaEntradaVacia) {
  l.estado.ListaRelojes.resize(4);
  sim.Programa("lector.relojes", Texto("1|S1|7|Entrada|2|192.168.1.20|||||||1|5"));
  EXPECT_FALSE(server::Procesar(l));
  ASSERT_EQ(l.estado.ListaRelojes.size(), 1u);
  EXPECT_EQ(l.estado.ListaRelojes[0].Serial, "");
}

TEST_F(ProcesarTest, RespuestaFallidaDejaLaListaComoEstaba) {
  server::LlenaListaRelojes(l.estado.ListaRelojes, "3|S3|9|Caja|1|10.0.0.3|||||||0|10<br>");
  for (const std::string& r : {std::string("error de base de datos"), std::string("")}) {
    sim.Programa("lector.relojes", Texto(r));
    EXPECT_FALSE(server::Procesar(l));
    ASSERT_EQ(l.estado.ListaRelojes.size(), 2u);
    EXPECT_EQ(l.estado.ListaRelojes[0].Nombre, "Caja");
  }
  EXPECT_EQ(display.caption, kTituloVentana);
}

TEST_F(ProcesarTest, CampoNoNumericoEsUnaFallaConLaListaAMedias) {
  sim.Programa("lector.relojes", Texto("1|S1|7|Entrada|2|10.0.0.1|||||||1|5<br>"
                                       "2|S2|8|Salida|2|10.0.0.2|||||||1|cinco<br>"));
  try {
    server::Procesar(l);
    FAIL() << "sin falla";
  } catch (const Falla& f) {
    EXPECT_EQ(f.numero, kTipoIncompatible);
  }
  auto& lista = l.estado.ListaRelojes;
  ASSERT_EQ(lista.size(), 3u);
  EXPECT_EQ(lista[0].Intervalo, 5);
  EXPECT_EQ(lista[1].Nombre, "Salida");
  EXPECT_EQ(lista[1].Intervalo, 0);

  sim.Programa("lector.relojes", Texto("70000|S1|7|Entrada|2|10.0.0.1|||||||1|5<br>"));
  try {
    server::Procesar(l);
    FAIL() << "sin falla";
  } catch (const Falla& f) {
    EXPECT_EQ(f.numero, kDesbordamiento);
  }
}

// Number:Serial:Conectado:Intervalo of every entry.
std::string Resumen(const std::vector<DatosReloj>& lista) {
  std::string r;
  for (const auto& d : lista)
    r += (r.empty() ? "" : " ") + std::to_string(d.Numero) + ":" + d.Serial + ":" +
         std::to_string(d.Conectado) + ":" + std::to_string(d.Intervalo);
  return r;
}

TEST(ListaRelojes, CadaPiezaEsUnaEntradaYLosNumerosMalosSonFallas) {
  const std::string uno = "1|S1|7|Entrada|2|192.168.1.20|||||||1|5";
  const struct {
    std::string respuesta, entradas;
    int falla;
  } casos[] = {
      {uno + "<br>", "1:S1:1:5 0::0:0", 0},
      {uno, "0::0:0", 0},
      {uno + "<br><br>", "1:S1:1:5 0::0:0 0::0:0", 0},  // an empty piece is an empty entry
      {"<br>", "0::0:0 0::0:0", 0},
      {"\r\n" + uno + "\r\n<br>\r\n2|S2|8|Salida|2|10.0.0.2|||||||0| 10 \n<br>",
       "1:S1:1:5 2:S2:0:10 0::0:0", 0},
      {uno + "<br>2|S2|8|Salida|2|10.0.0.2|||||||1|cinco<br>", "1:S1:1:5 2:S2:1:0 0::0:0",
       kTipoIncompatible},
      {"70000|S1<br>", "0::0:0 0::0:0", kDesbordamiento},
  };
  for (const auto& c : casos) {
    std::vector<DatosReloj> lista(5);
    int falla = 0;
    try {
      server::LlenaListaRelojes(lista, c.respuesta);
    } catch (const Falla& f) {
      falla = f.numero;
    }
    EXPECT_EQ(falla, c.falla) << c.respuesta;
    EXPECT_EQ(Resumen(lista), c.entradas) << c.respuesta;
  }
}

TEST_F(ProcesarTest, MasDeDiezMilRelojesEsUnaLlamadaFallida) {
  server::LlenaListaRelojes(l.estado.ListaRelojes, "3|S3|9|Caja|1|10.0.0.3|||||||0|10<br>");
  std::string muchos;
  for (int i = 0; i < 10001; ++i) muchos += "<br>";
  sim.Programa("lector.relojes", Texto(muchos));
  EXPECT_FALSE(server::Procesar(l));
  EXPECT_EQ(Resumen(l.estado.ListaRelojes), "3:S3:0:10 0::0:0");
  ASSERT_FALSE(display.logs.empty());
  EXPECT_EQ(display.logs.back(), "Lista de relojes rechazada: 10001 relojes, el máximo es 10000");
  muchos.resize(4 * 10000);
  sim.Programa("lector.relojes", Texto(muchos));
  EXPECT_TRUE(server::Procesar(l));
  EXPECT_EQ(l.estado.ListaRelojes.size(), 10001u);
}

TEST_F(ProcesarTest, LeeLaListaDelServicio) {
  auto r = servicesim::NuevoReloj("2", "S2", "8", "Bodega", "3", "127.0.0.3", "0", "10");
  r.campos[6] = "extra";
  sim.AgregaReloj("ana", r);
  EXPECT_TRUE(server::Procesar(l));
  auto& lista = l.estado.ListaRelojes;
  ASSERT_EQ(lista.size(), 3u);
  EXPECT_EQ(lista[0].Serial, "S1");
  EXPECT_EQ(lista[1].Nombre, "Bodega");
  EXPECT_EQ(lista[1].Campos7a12[0], "extra");
  EXPECT_EQ(lista[1].Conectado, 0);
  EXPECT_EQ(lista[1].Intervalo, 10);
}

class MensajesTest : public ConServicio {
 protected:
  void SetUp() override { Ingresa(); }
};

TEST_F(MensajesTest, RespuestaDeTareaCierraLaTareaYCodificaLosValores) {
  sim.EncolaTarea("7", "LP");
  EXPECT_EQ(SyncCall(l, "comm.read.one", "relojid=7"), "1|LP|");
  std::string json = "[{\"codigo\":\"15\",\"nombre\":\"Peña & Cía\"}]";
  server::SendTaskReply(l, "7", "LP", json, "15");
  EXPECT_EQ(sim.PeticionesA("comm.read.reply").back().cuerpo,
            "relojid=7&tarea=LP&respuesta=%5B%7B%22codigo%22%3A%2215%22%2C%22nombre%22%3A%22Pe%"
            "C3%B1a%20%26%20C%C3%ADa%22%7D%5D&empleadoid=15");
  auto r = sim.Respuestas();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].respuesta, json);
  EXPECT_EQ(r[0].empleadoId, "15");
  EXPECT_FALSE(r[0].tareaId.empty());
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "0");

  // Plain values travel unchanged.
  server::SendTaskReply(l, "7", "CO", "0", "");
  EXPECT_EQ(sim.PeticionesA("comm.read.reply").back().cuerpo,
            "relojid=7&tarea=CO&respuesta=0&empleadoid=");
}

TEST_F(MensajesTest, RespuestasGrandesLleganEnteras) {
  std::string json = "[";
  for (int i = 0; i < 2000; ++i)
    json += "{\"codigo\":\"" + std::to_string(i) + "\",\"nombre\":\"Nombre Apellido\"},";
  json.back() = ']';
  server::SendTaskReply(l, "7", "LP", json, "");
  ASSERT_EQ(sim.Respuestas().size(), 1u);
  EXPECT_EQ(sim.Respuestas()[0].respuesta, json);
}

TEST_F(MensajesTest, PlantillaBase64SeEscapaYVuelveIgual) {
  server::UploadTemplate(l, "15", "3", "ab+/cd==");
  EXPECT_EQ(sim.PeticionesA("huellas.up").back().cuerpo,
            "empleadoid=15&dedo=3&template=ab%2B%2Fcd%3D%3D");
  ASSERT_EQ(sim.Plantillas().size(), 1u);
  EXPECT_EQ(sim.Plantillas()[0].plantilla, "ab+/cd==");
  EXPECT_EQ(SyncCall(l, "huellas2.down", "empleadoid=15"), "[[\"15\",\"3\",\"ab+\\/cd==\"]]");
  EXPECT_EQ(SyncCall(l, "huellas2.down", "empleadoid=16"), "null");
}

TEST_F(MensajesTest, PingDelRelojEmpiezaConAmpersand) {
  server::SendClockPing(l, "S1");
  EXPECT_EQ(sim.PeticionesA("pingreloj.up").back().cuerpo, "&relojserial=S1");
  ASSERT_EQ(sim.Pings().size(), 1u);
  EXPECT_EQ(sim.Pings()[0].serial, "S1");
}

TEST_F(MensajesTest, ProgresoVaAlTituloAlLogYCedeElTurno) {
  l.estado.ModoLog = true;
  l.estado.OperacionActual = "CargaComm";
  display.llamadas.clear();
  server::ShowProgress(l, 1, 1, 1);
  const std::string t = "Cargando CargaComm - Registros: 1, Enviados: 1, Nuevos: 1";
  EXPECT_EQ(display.caption, t);
  EXPECT_EQ(LineasLog().back(), t);
  ASSERT_EQ(display.llamadas.size(), 2u);
  EXPECT_EQ(display.llamadas[1].op, "DoEvents");
}

// Every allocation of each handler fails in turn: the handler passes it on as failure 7, never
// as an exception its callers do not know, nor as another failure.
TEST_F(MensajesTest, CadaFallaDeMemoriaEsLaSiete) {
  std::filesystem::create_directories(l.Marcaciones());
  std::ofstream(l.Marcaciones() / "2603.txt") << "ABC";
  const auto carpetaMes = l.Marcaciones();
  const std::string subida = l.urlBase + "subeback.php", consulta = "ss=" + l.estado.IdSesion;
  RecordingSdk sdk;
  sdk.serial = "S1";
  TablaAlcance alcance;
  alcance.tabla["127.0.0.2"] = 0;
  l.sdk = &sdk;
  l.alcance = &alcance;
  const std::pair<const char*, std::function<void(long)>> manejadores[] = {
      {"SyncCall",
       [&](long n) {
         SinMemoria m(n);
         SyncCall(l, "comm.read.has", "relojid=7");
       }},
      {"HttpUploadFile",
       [&](long n) {
         std::string url = subida;
         SinMemoria m(n);
         server::HttpUploadFile(l, "2603.txt", url, carpetaMes, consulta, "", "");
       }},
      {"ConectaReloj",
       [&](long n) {
         l.estado.ConnectionRegistry.clear();
         SinMemoria m(n);
         clock::ConectaReloj(l, "127.0.0.2", "S1");
       }},
  };
  for (const auto& [nombre, manejador] : manejadores) {
    bool siete = false;
    for (long n = 1; n == 1 || SinMemoria::disparada; ++n) {
      display.logs.clear();
      try {
        manejador(n);
      } catch (const Falla& f) {
        EXPECT_EQ(f.numero, kSinMemoria) << nombre << " " << n;
        siete = true;
      } catch (const std::exception& e) {
        ADD_FAILURE() << nombre << " " << n << ": " << e.what();
      }
      for (const auto& t : display.logs) {
        EXPECT_EQ(t.find("(1000)"), std::string::npos) << t;
        siete = siete || t.find("(7)") != std::string::npos;
      }
    }
    EXPECT_TRUE(siete) << nombre;
  }
}

class SendTxtTest : public ConServicio {
 protected:
  std::filesystem::path ArchivoMes() { return l.Marcaciones() / "2603.txt"; }
  void Escribe(const std::string& bytes) {
    std::filesystem::create_directories(l.Marcaciones());
    std::ofstream(ArchivoMes(), std::ios::binary) << bytes;
  }
};

TEST_F(SendTxtTest, SinArchivoDelMesSoloEscribeElLog) {
  Ingresa();
  l.estado.ModoLog = true;
  display.SetCaption("otro");
  display.llamadas.clear();
  size_t antes = sim.Peticiones().size();
  server::sendTxt(l);
  EXPECT_EQ(LineasLog().back(), "sendTxt");
  EXPECT_TRUE(display.llamadas.empty());
  EXPECT_EQ(sim.Peticiones().size(), antes);
}

TEST_F(SendTxtTest, SubeElArchivoByteAByte) {
  Ingresa();
  Escribe("ABC");
  l.estado.LineasLeidas = {"a", "b", "c", ""};
  server::sendTxt(l);
  auto p = sim.PeticionesA("subeback.php");
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].destino, "/subeback.php?slots=2603.txt&ss=" + l.estado.IdSesion + "&vGId=1234");
  const std::string esperado =
      "--Xu02=$\r\n"
      "Content-Disposition: form-data; name=\"file\";filename=\"2603.txt\" \r\n"
      "Content-type: file\r\n"
      "\r\n"
      "ABC\r\n"
      "--Xu02=$--";
  EXPECT_EQ(esperado.size(), 113u);
  EXPECT_EQ(p[0].cuerpo, esperado);
  bool tipo = false;
  for (auto& [n, v] : p[0].cabeceras)
    if (n == "Content-Type") tipo = v == "multipart/form-data; boundary=Xu02=$";
  EXPECT_TRUE(tipo);
  ASSERT_EQ(sim.Subidas().size(), 1u);
  EXPECT_EQ(sim.Subidas()[0].contenido, "ABC");
  ASSERT_EQ(display.logs.size(), 2u);
  EXPECT_EQ(display.logs[0], "Subiendo archivo a 127.0.0.1");
  EXPECT_EQ(display.logs[1], "Archivo recibido: 2603.txt (3 bytes)");
  EXPECT_EQ(display.caption, kTituloVentana);
  EXPECT_EQ(l.estado.LineasLeidas, (std::vector<std::string>{"", "b"}));
}

TEST_F(SendTxtTest, BytesAltosYArchivoVacioViajanTalCual) {
  Ingresa();
  std::string alto;
  for (int c = 0x80; c <= 0xFF; ++c) alto += static_cast<char>(c);
  Escribe(alto + "\r\n");
  server::sendTxt(l);
  EXPECT_EQ(sim.Subidas().back().contenido, alto + "\r\n");
  std::string cuerpo = sim.PeticionesA("subeback.php").back().cuerpo;
  EXPECT_EQ(cuerpo.substr(cuerpo.size() - 12), "\r\n--Xu02=$--");

  Escribe("");
  server::sendTxt(l);
  cuerpo = sim.PeticionesA("subeback.php").back().cuerpo;
  EXPECT_EQ(cuerpo.substr(cuerpo.size() - 20), "file\r\n\r\n\r\n--Xu02=$--");
  EXPECT_EQ(sim.Subidas().back().contenido, "");
}

TEST_F(SendTxtTest, RespuestaCeroPideLeerDeNuevo) {
  Ingresa();
  Escribe("ABC");
  l.estado.UltimaLectura = 3600;
  sim.Programa("subeback", Texto("0"));
  server::sendTxt(l);
  EXPECT_EQ(display.logs.back(), "Error al enviar el archivo");
  EXPECT_EQ(l.estado.UltimaLectura, 0);

  // A session the service no longer knows is refused the same way.
  l.estado.UltimaLectura = 3600;
  sim.ExpiraSesiones();
  server::sendTxt(l);
  EXPECT_EQ(display.logs.back(), "Error al enviar el archivo");
  EXPECT_EQ(l.estado.UltimaLectura, 0);
}

TEST_F(SendTxtTest, SinSesionNoSubePeroRestableceElTitulo) {
  Escribe("ABC");
  display.SetCaption("Cargando");
  server::sendTxt(l);
  EXPECT_TRUE(sim.PeticionesA("subeback").empty());
  EXPECT_EQ(display.caption, kTituloVentana);
  EXPECT_TRUE(display.logs.empty());
}

TEST_F(SendTxtTest, ServidorInalcanzablePasaLaFallaArriba) {
  Ingresa();
  Escribe("ABC");
  l.urlBase = "http://127.0.0.1:" + std::to_string(PuertoLibre()) + "/";
  l.estado.ModoLog = true;
  EXPECT_THROW(server::sendTxt(l), Falla);
  EXPECT_EQ(LineasLog().back().rfind("Error enviando archivo: ", 0), 0u);
}

}  // namespace
}  // namespace lector::test
