// The console front end: options, exit status, what the operator reads; and the progress sweep.
#include <initializer_list>
#include <sstream>

#include "Apoyo.h"
#include "frentes/Consola.h"
#include "frentes/Vaiven.h"

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

TEST_F(Consola, ErroresDeUso) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--consola", "--si", "--no"}, {"--consola", "--conexion"}, {"--consola", "--otra"}, {"--si"}}) {
    EXPECT_EQ(Correr(args), 2);
  }
  EXPECT_NE(errores.str().find("opcion desconocida: --otra"), std::string::npos);
  EXPECT_EQ(Correr({"--help"}), 0);
  EXPECT_NE(salida.str().find("Uso: solvane"), std::string::npos);
  EXPECT_EQ(Correr({"--version"}), 0);
  EXPECT_NE(salida.str().find("Pagora Vavidev Act. BD 3.1.0"), std::string::npos);
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

TEST_F(Consola, ProbarConexion) {
  BaseSimulada base(ScriptVersion("20508"));
  EXPECT_EQ(Correr({"--consola", "--probar-conexion", "--conexion", base.Conexion()}), 0);
  EXPECT_NE(salida.str().find("Servidor: SQL Server simulado ("), std::string::npos);
  EXPECT_NE(salida.str().find("PAR_Version: 20508\n"), std::string::npos);
  EXPECT_EQ(Correr({"--consola", "--probar-conexion", "--conexion", base.Conexion() + ".no"}), 1);
  EXPECT_NE(errores.str().find(".no"), std::string::npos);
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
  EXPECT_NE(salida.str().find("PAR_Version: 30004\n"), std::string::npos) << salida.str();
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
