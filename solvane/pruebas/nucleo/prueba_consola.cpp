// The console front end: options, exit status, what the operator reads; and the progress sweep.
#include <stdio.h>

#include <initializer_list>
#include <sstream>

#include "Apoyo.h"
#include "frentes/Consola.h"
#include "frentes/Vaiven.h"
#include "nucleo/Desenlace.h"

namespace solvane::pruebas {
namespace {

struct Consola : ::testing::Test {
  int Correr(const std::vector<std::string>& args, const std::string& entrada = "") {
    std::istringstream in(entrada);
    cBaseDatos bd;
    cMensajes m;
    return PrincipalConsola(args, in, salida, errores, bd, m);
  }
  std::ostringstream salida, errores;
};

// A SQLite database behind the ODBC driver, with its connection file, standing in for a server.
struct BaseSqlite {
  BaseSqlite() {
    Escribir(conexion, "Motor=odbc\nCadena=Driver=SQLite3;Database=" + (c / "p.db").string() + "\n");
    bd.Mensajes(&m);
    bd.ArchivoExplicito(conexion);
    bd.BuscarArchivoConexion();
  }
  void Ejecutar(std::initializer_list<const char*> sentencias) {
    for (const char* s : sentencias) {
      bd.CargarSQL(s);
      bd.EjecutarSQL();
    }
  }
  Carpeta c;
  const std::string conexion = (c / "PagoraCliente.conexion").string();
  cMensajes m;
  cBaseDatos bd;
};

// What a JSON parser that is not ours reads in `json`: the fields of an outcome on one line, or the
// parser's complaint.
std::string LeidoPorPython(const std::string& json) {
  Carpeta c;
  Escribir(c / "desenlace.json", json);
  const std::string orden =
      "timeout 30 python3 -c 'import json,sys\n"
      "d=json.load(open(sys.argv[1],encoding=\"utf-8\"))\n"
      "e=d[\"error\"] or {}\n"
      "print(d[\"resultado\"],d[\"exito\"],d[\"version_antes\"],d[\"codigo_antes\"],d[\"version_despues\"],"
      "[p[\"hacia\"] for p in d[\"pasos\"]],e.get(\"numero\"),repr(e.get(\"texto\",\"\")),"
      "type(d[\"segundos\"]).__name__)' " +
      (c / "desenlace.json").string() + " 2>&1";
  FILE* p = ::popen(orden.c_str(), "r");
  if (p == nullptr) return "popen";
  std::string r;
  char bloque[512];
  while (const std::size_t n = ::fread(bloque, 1, sizeof bloque, p)) r.append(bloque, n);
  ::pclose(p);
  return r;
}

TEST_F(Consola, ErroresDeUso) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--consola", "--si", "--no"},
                                             {"--consola", "--conexion"},
                                             {"--consola", "--otra"},
                                             {"--si"},
                                             {"--consola", "--salida", "xml"},
                                             {"--salida", "json"},
                                             {"--consola", "--salida"},
                                             {"--consola", "--salida", "json", "--probar-conexion"}}) {
    EXPECT_EQ(Correr(args), 2);
  }
  EXPECT_NE(errores.str().find("opción desconocida: --otra"), std::string::npos);
  EXPECT_NE(errores.str().find("falta el formato (json o texto) después de --salida"), std::string::npos);
  EXPECT_EQ(Correr({"--help"}), 0);
  EXPECT_NE(salida.str().find("Uso: solvane"), std::string::npos);
  EXPECT_EQ(Correr({"--version"}), 0);
  EXPECT_NE(salida.str().find("solvane 3.1.0 (Pagora Vavidev Act. BD)\n"), std::string::npos);
  EXPECT_FALSE(PideConsola({}));
  EXPECT_FALSE(PideConsola({"--conexion", "x"}));
  EXPECT_TRUE(PideConsola({"--consola"}));
}

TEST_F(Consola, AlDiaSaleConCero) {
  BaseSimulada base(ScriptVersion("30100"));
  EXPECT_EQ(Correr({"--consola", "--conexion", base.Conexion(), "--registro", base.Registro()}), 0);
  EXPECT_EQ(salida.str(), "Proceso Pagora Vavidev Act. BD Finalizado\n");
  EXPECT_EQ(errores.str(), "");
  EXPECT_EQ(Lineas(base.Registro()), (std::vector<std::string>{"Select PAR_Version From Parametros"}));
}

TEST_F(Consola, MasNuevaAvisaPorErrorYSaleConUno) {
  BaseSimulada base(ScriptVersion("30200"));
  EXPECT_EQ(Correr({"--consola", "--conexion", base.Conexion()}), 1);
  EXPECT_EQ(errores.str(),
            "DEBE ACTUALIZAR Pagora Vavidev Act. BD a VERSION 30200\nVERSION ACTUAL DEL SISTEMA 30100\n");
}

TEST_F(Consola, LaPreguntaSeLeeDeLaEntrada) {
  BaseSimulada base(ScriptVersion("30008"));
  const std::string antes = base.Script();
  EXPECT_EQ(Correr({"--consola", "--conexion", base.Conexion()}, "quizas\n  n\n"), 1);
  EXPECT_NE(salida.str().find("DESEA ACTUALIZAR EL SISTEMA AHORA ??\n(S/N) (S/N) "), std::string::npos);
  EXPECT_EQ(Correr({"--consola", "--conexion", base.Conexion()}, ""), 1) << "end of input means No";
  EXPECT_EQ(Correr({"--consola", "--no", "--conexion", base.Conexion()}, "S\n"), 1);
  EXPECT_EQ(base.Script(), antes);
}

// The probe shows the version as read and as a.b.c, and the steps a run would take from it, and changes
// nothing (the record holds the probe alone).
TEST_F(Consola, ProbarConexion) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> casos = {
      {"20508",
       {"PAR_Version: 20508 (2.5.8)\nVersión del programa: 3.1.0\nPasos pendientes (17):\n"
        "  2.5.8 → 2.5.9  Actualizando Version a 2.5.9\n  2.5.9 → 2.5.10  Actualizando Version a 2.5.10\n",
        "  3.0.9 → 3.1.0  Actualizando Version a 3.1.0\n"}},
      {"30100", {"PAR_Version: 30100 (3.1.0)\n", "Pasos pendientes: ninguno, la base está al día\n"}},
      {"30200", {"PAR_Version: 30200 (3.2.0)\n", "ninguno; la base es de una versión posterior"}},
      {"12345",
       {"PAR_Version: 12345 (1.23.45)\n", "Pasos pendientes (0):\n",
        "la actualización se detendría en 1.23.45: el programa no tiene paso"}},
      {"NULL", {"PAR_Version: sin valor legible", "Pasos pendientes (25):\n  0.0.0 → 2.5.0"}},
  };
  for (const auto& [version, esperados] : casos) {
    SCOPED_TRACE(version);
    BaseSimulada base(ScriptVersion(version));
    const std::string antes = base.Script();
    salida.str("");
    EXPECT_EQ(Correr({"--consola", "--probar-conexion", "--conexion", base.Conexion(), "--registro",
                      base.Registro()}),
              0);
    EXPECT_NE(salida.str().find("Servidor: SQL Server simulado ("), std::string::npos);
    for (const std::string& e : esperados) EXPECT_NE(salida.str().find(e), std::string::npos) << salida.str();
    EXPECT_EQ(base.Script(), antes);
    EXPECT_EQ(Lineas(base.Registro()), (std::vector<std::string>{"Select PAR_Version From Parametros"}));
  }
  EXPECT_EQ(Correr({"--consola", "--probar-conexion", "--conexion", "/nohay/x.conexion"}), 1);
  EXPECT_NE(errores.str().find("/nohay/x.conexion"), std::string::npos);
}

// --salida json: standard output holds one JSON object, which another parser reads, for runs that end
// every way; the messages go to standard error.
TEST_F(Consola, SalidaJson) {
  struct Caso {
    std::string version;
    std::vector<std::string> extra;
    int estado;
    std::string leido;
  };
  const std::vector<Caso> casos = {
      {"30008",
       {},
       1,
       "fallida False 3.0.8 30008 3.0.8 ['3.0.9'] 4902 'Error Act BD - Cannot find the object \"Acreditada\" "
       "because it does not exist or you do not have permissions.' float\n"},
      {"30009",
       {},
       1,
       "fallida False 3.0.9 30009 3.0.9 ['3.1.0'] 208 \"ERROR de Actualización a Version 3.1.0 "
       "\\n208 Invalid object name 'Tarjeta'.\" float\n"},
      {"30100", {}, 0, "al_dia True 3.1.0 30100 3.1.0 [] None '' float\n"},
      {"30008", {"--no"}, 1, "rechazada False 3.0.8 30008 3.0.8 [] None '' float\n"},
      {"30200",
       {},
       1,
       "fallida False 3.2.0 30200 3.2.0 [] None 'DEBE ACTUALIZAR Pagora Vavidev Act. BD a VERSION "
       "30200\\nVERSION ACTUAL DEL SISTEMA 30100' float\n"},
      {"",
       {},
       1,
       "fallida False None None None [] 3021 'Error Act BD - No se puede leer la versión de la base de "
       "datos: "
       "la tabla Parametros no tiene filas. No se hizo ningún cambio.' float\n"},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.version + (c.extra.empty() ? "" : " " + c.extra[0]));
    BaseSimulada base(ScriptVersion(c.version));
    std::vector<std::string> args = {"--consola", "--si", "--salida", "json", "--conexion", base.Conexion()};
    if (!c.extra.empty()) args = {"--consola", c.extra[0], "--salida", "json", "--conexion", base.Conexion()};
    salida.str("");
    errores.str("");
    EXPECT_EQ(Correr(args), c.estado);
    EXPECT_EQ(LeidoPorPython(salida.str()), c.leido) << salida.str();
    EXPECT_EQ(salida.str().find('\n'), salida.str().size() - 1) << "one line";
    EXPECT_FALSE(errores.str().empty());
  }
}

// A run that completes: every step it took, in order, and the version it left.
TEST_F(Consola, SalidaJsonDeUnaActualizacion) {
  BaseSimulada base(Leer(std::string(DIR_FUENTES) + "/solvane/datos/PagoraDemo.sql"));
  EXPECT_EQ(Correr({"--consola", "--si", "--salida", "json", "--conexion", base.Conexion()}), 0)
      << errores.str();
  const std::string leido = LeidoPorPython(salida.str());
  EXPECT_EQ(leido.substr(0, leido.find('[')), "actualizada True 0.0.0 0 3.1.0 ") << leido;
  EXPECT_NE(leido.find("['2.5.0', '2.5.1', '2.5.2'"), std::string::npos) << leido;
  EXPECT_NE(leido.find("'3.0.9', '3.1.0'] None '' float\n"), std::string::npos) << leido;
  EXPECT_NE(errores.str().find("Proceso Pagora Vavidev Act. BD Finalizado"), std::string::npos);
}

// Texts reach the parser whole: quotes, backslashes, control characters, and bytes that are not UTF-8
// (a server's message in another encoding) as U+FFFD rather than a document no parser accepts.
TEST(Desenlace, TextosQueCualquierParserLee) {
  Desenlace d;
  d.textoError = std::string("dijo \"no\" \\ a\tb\x01 ñ \xff\xc3 \xed\xa0\x80 fin");
  d.numeroError = -2147217900L;
  d.segundos = 1.23456;
  d.pasos.push_back({-5, 20500, "paso \"raro\""});
  EXPECT_EQ(LeidoPorPython(DesenlaceJson(d)),
            "fallida False None None None ['2.5.0'] -2147217900 'dijo \"no\" \\\\ a\\tb\\x01 ñ "
            "\xEF\xBF\xBD\xEF\xBF\xBD "
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD fin' float\n");
}

// The probe is the same over ODBC: here the SQLite driver stands in for the server.
TEST_F(Consola, ProbarConexionPorOdbc) {
  BaseSqlite b;
  if (!b.bd.Conectar()) GTEST_SKIP() << "SQLite ODBC driver not installed";
  b.bd.IniciarTransaccion();
  b.Ejecutar({"CREATE TABLE Parametros (PAR_Version smallint NULL)",
              "INSERT INTO Parametros (PAR_Version) VALUES (30004)"});
  b.bd.ConfirmarTransaccion();
  b.bd.Desconectar();
  EXPECT_EQ(Correr({"--consola", "--probar-conexion", "--conexion", b.conexion}), 0) << errores.str();
  EXPECT_NE(salida.str().find("PAR_Version: 30004 (3.0.4)\n"), std::string::npos) << salida.str();
}

// With no row in Parametros there is no version to start from nor a row to record the new one in. On
// either engine the run is refused before the question: exit 1, the reason on standard error, nothing sent
// but the version probe, nothing changed.
TEST_F(Consola, ParametrosSinFilasSeRechazaEnAmbosMotores) {
  const auto comprobar = [this](const std::string& conexion, const std::string& registro) {
    salida.str("");
    errores.str("");
    EXPECT_EQ(Correr({"--consola", "--si", "--conexion", conexion, "--registro", registro}), 1);
    EXPECT_EQ(errores.str(),
              "Error Act BD - No se puede leer la versión de la base de datos: la tabla Parametros no tiene "
              "filas. No se hizo ningún cambio.\n");
    EXPECT_EQ(salida.str(), "");
    EXPECT_EQ(Lineas(registro), (std::vector<std::string>{"Select PAR_Version From Parametros"}));
  };

  BaseSimulada simulada(ScriptVersion(""));
  const std::string antes = simulada.Script();
  comprobar(simulada.Conexion(), simulada.Registro());
  EXPECT_EQ(simulada.Script(), antes);

  BaseSqlite b;
  cBaseDatos& bd = b.bd;
  const auto objetos = [&bd] {
    Recordset rs;
    long opciones = 0;
    bd.CargarSQL("SELECT group_concat(name || ':' || sql, ' | ') FROM sqlite_master");
    bd.AbrirConsulta(rs, opciones);
    return rs.Campo(std::size_t{0}).value_or("");
  };
  if (!bd.Conectar()) GTEST_SKIP() << "SQLite ODBC driver not installed";
  b.Ejecutar({"CREATE TABLE Parametros (PAR_Version smallint NULL, PAR_LA varchar (20) NULL)",
              "CREATE TABLE Seguridad (Seg_Codigo int NOT NULL)"});
  const std::string esquema = objetos();
  bd.Desconectar();
  comprobar(b.conexion, (b.c / "registro.sql").string());
  ASSERT_TRUE(bd.Conectar());
  EXPECT_EQ(objetos(), esquema);
  EXPECT_FALSE(HayFila(bd, "SELECT * FROM Parametros"));
}

TEST(Vaiven, DiezTicsYUnaSegundaCorrida) {
  Vaiven v;
  EXPECT_EQ(v.Cargar(), 0);
  std::vector<int> vistos(10);
  for (int& visto : vistos) visto = v.Tick();
  EXPECT_EQ(vistos, (std::vector<int>{1, 2, 3, 2, 1, 0, 1, 2, 3, 2}));
  // A later load shows frame 0 but the index carries on from where it was, upwards.
  EXPECT_EQ(v.Cargar(), 0);
  EXPECT_EQ(v.Tick(), 3);
  EXPECT_EQ(v.Tick(), 2);
}

}  // namespace
}  // namespace solvane::pruebas
