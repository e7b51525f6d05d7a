// cBaseDatos: transaction nesting, the statement record, result sets, and the simulated engine's file.
#include <sys/stat.h>

#include "Apoyo.h"
#include "motor/Archivo.h"
#include "motores/MotorSimulado.h"

namespace solvane::pruebas {
namespace {

using Log = std::vector<std::string>;

struct ConFalso : ::testing::Test {
  ConFalso() {
    auto m = std::make_unique<MotorFalso>(log);
    motor = m.get();
    bd.Motor(std::move(m));
    bd.Registro((carpeta / "registro.sql").string());
    EXPECT_TRUE(bd.Conectar());
    log->clear();
  }
  void Correr(const std::string& s) { pruebas::Correr(bd, s); }
  std::vector<std::string> Registro() { return Lineas(carpeta / "registro.sql"); }
  Carpeta carpeta;
  std::shared_ptr<Log> log = std::make_shared<Log>();
  MotorFalso* motor = nullptr;
  cBaseDatos bd;
};

TEST_F(ConFalso, SoloElNivelExternoLlegaAlMotor) {
  EXPECT_TRUE(bd.IniciarTransaccion());
  EXPECT_TRUE(bd.IniciarTransaccion());
  Correr("UPDATE a SET b = 1");
  EXPECT_TRUE(bd.ConfirmarTransaccion());
  EXPECT_EQ(bd.NivelTransaccion(), 1);
  EXPECT_EQ(*log, (Log{"comenzar", "ejecutar UPDATE a SET b = 1"})) << "an inner confirm must not commit";
  EXPECT_TRUE(bd.ConfirmarTransaccion());
  EXPECT_EQ(log->back(), "confirmar");
  EXPECT_FALSE(bd.ConfirmarTransaccion());
  EXPECT_FALSE(bd.CancelarTransaccion());
  EXPECT_EQ(log->size(), 3u);
}

TEST_F(ConFalso, CancelarEnCualquierNivelDeshaceTodo) {
  bd.IniciarTransaccion();
  bd.IniciarTransaccion();
  bd.IniciarTransaccion();
  EXPECT_TRUE(bd.CancelarTransaccion());
  EXPECT_EQ(bd.NivelTransaccion(), 0);
  EXPECT_FALSE(bd.ConfirmarTransaccion());
  EXPECT_FALSE(bd.CancelarTransaccion());
  EXPECT_EQ(*log, (Log{"comenzar", "deshacer"}));
  EXPECT_EQ(Registro(), (Log{"BEGIN TRANSACTION", "BEGIN TRANSACTION", "BEGIN TRANSACTION",
                             "ROLLBACK TRANSACTION", "COMMIT TRANSACTION", "ROLLBACK TRANSACTION"}));
}

TEST_F(ConFalso, ElRegistroAnotaSentenciasErroresYTransacciones) {
  bd.IniciarTransaccion();
  Correr("CREATE TABLE x (a int)");
  bd.CargarSQL("Select FALLA From x");
  Recordset rs;
  long cero = 0;
  EXPECT_THROW(bd.AbrirConsulta(rs, cero), ErrorBD);
  bd.CargarSQL("Select a From x");
  EXPECT_TRUE(bd.AbrirConsulta(rs, cero));
  EXPECT_EQ(rs.Campo("VALOR"), ValorCampo("7"));
  EXPECT_EQ(rs.Campo(std::size_t{0}), ValorCampo("7"));
  EXPECT_THROW(rs.Campo("otra"), ErrorBD);
  bd.CargarSQL("Select a From VACIA");
  EXPECT_FALSE(bd.AbrirConsulta(rs, cero));
  EXPECT_THROW(rs.Campo(std::size_t{0}), ErrorBD);
  bd.ConfirmarTransaccion();
  EXPECT_EQ(Registro(), (Log{"BEGIN TRANSACTION", "CREATE TABLE x (a int)", "Select FALLA From x",
                             "-- ERROR 208 Invalid object name 'FALLA'.", "Select a From x",
                             "Select a From VACIA", "COMMIT TRANSACTION"}));
}

TEST_F(ConFalso, UnaTransaccionTerminadaPorElServidorNoSigueFueraDeElla) {
  bd.IniciarTransaccion();
  bd.IniciarTransaccion();
  EXPECT_THROW(Correr("UPDATE t SET n = 'ABORTA'"), ErrorBD);
  // A later statement must not run outside the transaction the operator believes open.
  try {
    Correr("UPDATE t SET n = 1");
    ADD_FAILURE() << "no error";
  } catch (const ErrorBD& e) {
    EXPECT_EQ(e.Numero, 3930);
  }
  EXPECT_TRUE(bd.ConfirmarTransaccion());
  EXPECT_THROW(bd.ConfirmarTransaccion(), ErrorBD) << "the outermost confirm of a lost transaction must fail";
  EXPECT_EQ(bd.NivelTransaccion(), 0);
  EXPECT_EQ(std::count(log->begin(), log->end(), "confirmar"), 0);
  EXPECT_EQ(std::count(log->begin(), log->end(), "ejecutar UPDATE t SET n = 1"), 0);
  // A cancel clears it: the next run starts clean.
  bd.IniciarTransaccion();
  EXPECT_THROW(Correr("x ABORTA"), ErrorBD);
  EXPECT_TRUE(bd.CancelarTransaccion());
  Correr("UPDATE t SET n = 2");
}

TEST_F(ConFalso, ConfirmacionExternaFallidaSeInforma) {
  motor->fallarConfirmar = true;
  bd.IniciarTransaccion();
  EXPECT_THROW(bd.ConfirmarTransaccion(), ErrorBD);
  EXPECT_EQ(Registro().back(), "-- ERROR 5 Access denied");
}

TEST_F(ConFalso, DesconectarConTransaccionAbiertaLaDeshace) {
  bd.IniciarTransaccion();
  EXPECT_TRUE(bd.Desconectar());
  EXPECT_EQ(*log, (Log{"comenzar", "deshacer", "desconectar"}));
  EXPECT_EQ(bd.NivelTransaccion(), 0);
  EXPECT_FALSE(bd.Desconectar());
  bd.CargarSQL("Select 1");
  EXPECT_THROW(bd.EjecutarSQL(), ErrorBD);
}

// --- The simulated engine behind cBaseDatos, through a connection file.

const char* const kBase =
    "-- prueba\nCREATE TABLE Parametros (PAR_Version smallint NULL)\nGO\nINSERT INTO Parametros "
    "(PAR_Version) "
    "VALUES (20500)\nGO\n";

struct ConSimulado : ::testing::Test {
  void Correr(const std::string& s) { pruebas::Correr(bd, s); }
  BaseSimulada base{kBase};
  Operador operador{base.Conexion()};
  cBaseDatos& bd = operador.bd;
  std::shared_ptr<Grabador> grabador = operador.grabador;
};

TEST_F(ConSimulado, SoloLaConfirmacionExternaGrabaElArchivo) {
  const std::string antes = base.Script();
  ASSERT_TRUE(bd.Conectar()) << (grabador->mensajes.empty() ? "" : grabador->mensajes[0].texto);
  bd.IniciarTransaccion();
  bd.IniciarTransaccion();
  Correr("UPDATE Parametros SET PAR_Version = 20501");
  bd.ConfirmarTransaccion();
  EXPECT_EQ(base.Script(), antes) << "an inner confirm wrote the file";
  bd.ConfirmarTransaccion();
  EXPECT_NE(base.Script(), antes);
  bd.Desconectar();

  // What was written loads back to the same state, and writing it again gives the same bytes.
  const std::string escrito = base.Script();
  ASSERT_TRUE(bd.Conectar());
  EXPECT_EQ(Version(bd), "20501");
  bd.IniciarTransaccion();
  bd.ConfirmarTransaccion();
  EXPECT_EQ(base.Script(), escrito);
}

TEST_F(ConSimulado, UnaCorridaFallidaDejaElArchivoIgual) {
  const std::string antes = base.Script();
  ASSERT_TRUE(bd.Conectar());
  bd.IniciarTransaccion();
  Correr("UPDATE Parametros SET PAR_Version = 30100");
  bd.IniciarTransaccion();
  EXPECT_THROW(Correr("UPDATE NoExiste SET a = 1"), ErrorBD);
  bd.CancelarTransaccion();
  EXPECT_EQ(Version(bd), "20500");
  bd.IniciarTransaccion();
  Correr("UPDATE Parametros SET PAR_Version = 1");
  bd.Desconectar();  // never confirmed
  EXPECT_EQ(base.Script(), antes);
  ASSERT_TRUE(bd.Conectar());
  EXPECT_EQ(Version(bd), "20500");
}

TEST_F(ConSimulado, SiNoPuedeEscribirDeshaceYAvisa) {
  ASSERT_TRUE(bd.Conectar());
  bd.IniciarTransaccion();
  Correr("UPDATE Parametros SET PAR_Version = 30100");
  // A folder where the file was: the rename fails whoever runs the test.
  const auto archivo = base.carpeta / "base.sql";
  std::filesystem::remove(archivo);
  std::filesystem::create_directory(archivo);
  EXPECT_THROW(bd.ConfirmarTransaccion(), ErrorBD);
  EXPECT_EQ(bd.NivelTransaccion(), 0);
  EXPECT_EQ(Version(bd), "20500") << "memory and file disagree after a failed write";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(base.carpeta.Ruta()), {}), 2)
      << "a temporary file was left behind";
}

TEST(EscrituraAtomica, ReemplazaConservandoElModoYSinTemporales) {
  Carpeta c;
  const auto archivo = c / "base.sql";
  Escribir(archivo, "viejo");
  ::chmod(archivo.c_str(), 0640);
  simulado::ArchivoBase::Abrir(archivo.string())->Escribir("nuevo contenido");
  EXPECT_EQ(Leer(archivo), "nuevo contenido");
  struct stat st {};
  ::stat(archivo.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(c.Ruta()), {}), 1);
  EXPECT_THROW(simulado::ArchivoBase::Abrir((c / "no" / "hay.sql").string()), simulado::ErrorArchivo);
}

}  // namespace
}  // namespace solvane::pruebas
