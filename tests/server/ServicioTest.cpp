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

class Servicio : public ConServicio {
 protected:
  void SetUp() override { Ingresa(); }
};

TEST_F(Servicio, SyncCallEnviaLaFuncionEnLaUrlYLosParametrosComoFormulario) {
  l.estado.ModoLog = true;
  reloj.dormidas.clear();
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), "0");
  EXPECT_EQ(reloj.dormidas, std::vector<int>{1000});  // the pause after a request
  auto p = sim.PeticionesA("sync.php").back();
  EXPECT_EQ(p.destino,
            "/main/sync.php?ss=" + l.estado.IdSesion + "&appid=1234&function=comm.read.has");
  for (auto& [n, v] : p.cabeceras)
    EXPECT_TRUE(n != "Cookie" && (n != "Content-Type" || v == "application/x-www-form-urlencoded"))
        << n << ": " << v;
  EXPECT_EQ(LineasLog(), (std::vector<std::string>{
                             "main/sync.php?function=comm.read.has&params=relojid=7", "0"}));
  // The values travel percent-encoded and reach the service as they were.
  const std::string json = "[{\"codigo\":\"15\",\"nombre\":\"Peña & Cía+1%\"}]";
  server::SendTaskReply(l, "7", "LP", json, "15");
  EXPECT_EQ(sim.Respuestas().at(0).respuesta + sim.Respuestas()[0].empleadoId, json + "15");
}

TEST_F(Servicio, SyncCallClasificaLasRespuestas) {
  // Answer, times it comes (-1: always), result, requests; only the last closes the session.
  const std::tuple<std::string, int, std::string, size_t> casos[] = {
      {"Error", 1, "error", 1},
      {"hubo un error interno", 1, "error", 1},
      {"cancel", 1, "error", 1},
      {"vantiro dice no", 1, "error", 1},
      {"Please try again later.", 1, "error", 1},
      {"ERROR", 1, "ERROR", 1},                    // the search is case-sensitive
      {"problem, see http://x/", -1, "error", 5},  // pages with links: 5 attempts
      {"problem, see http://x/", 2, "0", 3},
      {"aviso: error no session open", 1, "error", 1},
      {"error no session open ", 1, "error", 1},
      {"error no session open", 1, "error", 1}};
  for (const auto& [texto, veces, resultado, pedidos] : casos) {
    sim.OlvidaGuiones();
    sim.OlvidaPeticiones();
    sim.Programa("comm.read.has", {texto, 200, 0, veces});
    EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7"), resultado) << texto;
    EXPECT_EQ(sim.PeticionesA("sync.php").size(), pedidos) << texto;
  }
  EXPECT_FALSE(l.estado.IdSesion.empty());  // only a failed login clears it
  sim.OlvidaPeticiones();                   // closed by the last answer: nothing is asked
  EXPECT_EQ(SyncCall(l, "comm.read.has", "relojid=7") + std::to_string(sim.Peticiones().size()),
            "0");
}

// Number:Serial:Conectado:Intervalo of every entry, and !failure when it has one.
std::string Resumen(const std::vector<DatosReloj>& lista) {
  std::string r;
  for (const auto& d : lista)
    r += (r.empty() ? "" : " ") + std::to_string(d.Numero) + ":" + d.Serial + ":" +
         std::to_string(d.Conectado) + ":" + std::to_string(d.Intervalo) +
         (d.NumeroDefecto ? "!" + std::to_string(d.NumeroDefecto) : "");
  return r;
}

TEST(ListaRelojes, CadaPiezaEsUnaEntradaYLosNumerosMalosSonFallas) {
  const std::string uno = "1|S1|7|Entrada|2|192.168.1.20|||||||1|5";
  const std::pair<std::string, std::string> casos[] = {
      {uno, "0::0:0"},
      {uno + "<br><br>", "1:S1:1:5 0::0:0!5 0::0:0"},  // an empty entry, without an address
      {"\r\n" + uno + "\r\n<br>\r\n2|S2|8|Salida|2|10.0.0.2|||||||0| 10 \n<br>",
       "1:S1:1:5 2:S2:0:10 0::0:0"},
      {uno + "<br>2|S2|8|Salida|2|10.0.0.2|||||||1|cinco<br>", "1:S1:1:5 0:S2:0:0!13 0::0:0"},
      {"70000|S1<br>", "0:S1:0:0!6 0::0:0"},
      // Only an IPv4 address names a clock.
      {"1|S1|7|E|2|localhost|||||||1|5<br>1|S1|7|E|2|10.0.0.022|||||||1|5<br>",
       "1:S1:1:5!5 1:S1:1:5!5 0::0:0"}};
  for (const auto& [respuesta, entradas] : casos) {
    std::vector<DatosReloj> lista(5);
    server::LlenaListaRelojes(lista, respuesta);
    EXPECT_EQ(Resumen(lista), entradas) << respuesta;
  }
}

TEST_F(Servicio, ProcesarLeeLaListaDelServicio) {
  sim.AgregaReloj("ana",
                  servicesim::NuevoReloj("2", "S2", "8", "Bodega", "3", "10.0.0.3", "0", "10"));
  l.estado.ModoLog = true;
  EXPECT_TRUE(server::Procesar(l));
  const std::string progreso = "Cargando Procesar - Registros: 1, Enviados: 1, Nuevos: 1";
  EXPECT_EQ(display.caption + "|" + LineasLog().at(2), progreso + "|" + progreso);
  EXPECT_EQ(display.llamadas.back().op, "DoEvents");
  EXPECT_EQ(sim.PeticionesA("sync.php").back().cuerpo, "appid=1234");
  EXPECT_EQ(Resumen(l.estado.ListaRelojes), "1:S1:1:5 2:S2:0:10 0::0:0");
  // A failed call, or a list of more than ten thousand clocks, leaves the list as it was.
  display.SetCaption("otro");
  std::string muchos;
  for (int i = 0; i < 10001; ++i) muchos += "<br>";
  for (const std::string& r : {std::string("error de base de datos"), std::string(), muchos}) {
    sim.Programa("lector.relojes", {r});
    EXPECT_FALSE(server::Procesar(l));
    EXPECT_EQ(Resumen(l.estado.ListaRelojes), "1:S1:1:5 2:S2:0:10 0::0:0");
  }
  EXPECT_EQ(display.caption, "otro");
  EXPECT_EQ(display.logs, std::vector<std::string>{
                              "Lista de relojes rechazada: 10001 relojes, el máximo es 10000"});
  sim.Programa("lector.relojes", {"1|S1|7|Entrada|2|192.168.1.20|||||||1|5"});
  EXPECT_FALSE(server::Procesar(l));  // no "<br>": one empty entry
  muchos.resize(4 * 10000);           // ten thousand are still a list
  sim.Programa("lector.relojes", {muchos});
  EXPECT_TRUE(server::Procesar(l));
  EXPECT_EQ(l.estado.ListaRelojes.size(), 10001u);
}

// Every allocation of each handler fails in turn: the handler passes it on as failure 7, never
// as an exception its callers do not know, nor as another failure.
TEST_F(Servicio, CadaFallaDeMemoriaEsLaSiete) {
  std::ofstream(carpeta.ruta() / "2603.txt") << "ABC";
  const std::string subida = l.urlBase + "subeback.php", consulta = "ss=" + l.estado.IdSesion;
  RecordingSdk sdk;
  TablaAlcance alcance;
  alcance.tabla["127.0.0.2"] = 0;
  l.sdk = &sdk;
  l.alcance = &alcance;
  std::string url;
  const std::pair<const char*, std::function<void()>> manejadores[] = {
      {"SyncCall", [&] { SyncCall(l, "comm.read.has", "relojid=7"); }},
      {"HttpUploadFile",
       [&] { server::HttpUploadFile(l, "2603.txt", url, carpeta.ruta(), consulta, "", ""); }},
      {"ConectaReloj", [&] { clock::ConectaReloj(l, "127.0.0.2", sdk.serial); }},
  };
  for (const auto& [nombre, manejador] : manejadores) {
    bool siete = false;
    for (long n = 1; n == 1 || SinMemoria::disparada; ++n) {
      display.logs.clear();
      url = subida;
      l.estado.ConnectionRegistry.clear();
      try {
        SinMemoria m(n);
        manejador();
      } catch (const Falla& f) {
        EXPECT_EQ(f.numero, kSinMemoria) << nombre << " " << n;
        siete = true;
      }  // any other exception fails the test
      for (const auto& t : display.logs) {
        EXPECT_EQ(t.find("(1000)"), std::string::npos) << t;
        siete = siete || t.find("(7)") != std::string::npos;
      }
    }
    EXPECT_TRUE(siete) << nombre;
  }
}

TEST_F(Servicio, SendTxtSubeElArchivoDelMesByteAByte) {
  l.estado.ModoLog = true;
  display.llamadas.clear();
  server::sendTxt(l);  // no month file: only the log line
  EXPECT_EQ(LineasLog().back(), "sendTxt");
  EXPECT_TRUE(display.llamadas.empty() && sim.PeticionesA("subeback").empty());
  std::filesystem::create_directories(l.Marcaciones());
  reloj.dormidas.clear();
  for (const std::string& contenido : {std::string("\x80\xE9\xFF\r\n"), std::string()}) {
    std::ofstream(l.Marcaciones() / "2603.txt", std::ios::binary) << contenido;
    l.estado.LineasLeidas = {"a", "b", "c", ""};
    server::sendTxt(l);
    EXPECT_EQ(sim.PeticionesA("subeback.php").back().destino,
              "/subeback.php?slots=2603.txt&ss=" + l.estado.IdSesion + "&vGId=1234");
    EXPECT_EQ(sim.Subidas().back().contenido, contenido);
    EXPECT_EQ(display.logs.back(),
              "Archivo recibido: 2603.txt (" + std::to_string(contenido.size()) + " bytes)");
    EXPECT_EQ(l.estado.LineasLeidas, (std::vector<std::string>{"", "b"}));
  }
  EXPECT_TRUE(reloj.dormidas.empty());  // no pause after an upload
  EXPECT_EQ(display.logs.front(), "Subiendo archivo a 127.0.0.1");
  EXPECT_EQ(server::CuerpoMultipart("2603.txt", "ABC"),
            "--Xu02=$\r\nContent-Disposition: form-data; name=\"file\";filename=\"2603.txt\" "
            "\r\nContent-type: file\r\n\r\nABC\r\n--Xu02=$--");
  // A refused upload asks for a new reading; without a session nothing goes up.
  l.estado.UltimaLectura = 3600;
  sim.Programa("subeback", {"0"});
  server::sendTxt(l);
  EXPECT_EQ(display.logs.back(), "Error al enviar el archivo");
  EXPECT_EQ(l.estado.UltimaLectura, 0);
  l.estado.SesionAbierta = false;
  display.SetCaption("Cargando");
  sim.OlvidaPeticiones();
  display.logs.clear();
  server::sendTxt(l);
  EXPECT_TRUE(sim.Peticiones().empty() && display.logs.empty());
  EXPECT_EQ(display.caption, kTituloVentana);
}

}  // namespace
}  // namespace lector::test
