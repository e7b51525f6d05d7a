// cBaseDatos on the ODBC engine, opened from a connection file: nested transactions and connection failures.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "BancoOdbc.h"
#include "cBaseDatos.h"
#include "cMensajes.h"

namespace solvane::pruebas {
namespace {

class Anotador : public Presentador {
 public:
  int Mostrar(const std::string&, const std::string& texto, int estilo) override {
    vistos.push_back({texto, estilo});
    return kRespuestaAceptar;
  }
  std::vector<std::pair<std::string, int>> vistos;
};

class BaseOdbc : public ConBanco {
 protected:
  void SetUp() override {
    ConBanco::SetUp();
    if (IsSkipped()) return;
    mensajes.FijarPresentador(anotador);
    bd.Mensajes(&mensajes);
    const auto carpeta = std::filesystem::temp_directory_path();
    conexion = (carpeta / ("PagoraCliente_" + std::to_string(::getpid()) + ".conexion")).string();
    Escribir("# prueba\nMotor=odbc\nCadena=" + banco->cadena + "\nTiempoSentencia=20\n");
    bd.ArchivoExplicito(conexion);
    bd.OpcionConexion1(false);
    bd.OpcionConexion2(true);
    bd.TextoConexion("");
    bd.BuscarArchivoConexion();
    ASSERT_EQ(bd.ArchivoConexion(), conexion);
  }
  void TearDown() override {
    bd.Desconectar();
    std::filesystem::remove(conexion);
    ConBanco::TearDown();
  }
  void Escribir(const std::string& texto) {
    std::ofstream(conexion, std::ios::trunc) << texto;
    std::filesystem::permissions(conexion,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  void Correr(const std::string& sentencia) {
    bd.CargarSQL(sentencia);
    bd.EjecutarSQL();
  }
  void Insertar(int id) {
    Correr("INSERT INTO " + banco->tabla + " (Id) VALUES (" + std::to_string(id) + ")");
  }
  // Rows as a second connection sees them: only committed work.
  long Guardadas() { return banco->Contar(*banco->Conectado()); }

  cMensajes mensajes;
  std::shared_ptr<Anotador> anotador = std::make_shared<Anotador>();
  cBaseDatos bd;
  std::string conexion;
};

TEST_P(BaseOdbc, SoloLaConfirmacionExteriorGuardaYCancelarDeshaceTodo) {
  ASSERT_TRUE(bd.Conectar()) << (anotador->vistos.empty() ? "" : anotador->vistos.back().first);
  banco->CrearTabla(*bd.MotorActual());

  bd.IniciarTransaccion();
  Insertar(1);
  bd.IniciarTransaccion();
  Insertar(2);
  bd.ConfirmarTransaccion();
  EXPECT_EQ(Guardadas(), 0) << "la confirmación interior no debe guardar";
  bd.ConfirmarTransaccion();
  EXPECT_EQ(Guardadas(), 2);

  bd.IniciarTransaccion();
  Insertar(3);
  bd.IniciarTransaccion();
  Insertar(4);
  bd.ConfirmarTransaccion();
  bd.CancelarTransaccion();
  EXPECT_EQ(bd.NivelTransaccion(), 0);
  EXPECT_EQ(Guardadas(), 2);

  // The helpers' probes and readings go through AbrirConsulta.
  Recordset rs;
  long opciones = 0;
  bd.CargarSQL("SELECT Id, Nombre FROM " + banco->tabla + " ORDER BY Id");
  ASSERT_TRUE(bd.AbrirConsulta(rs, opciones));
  EXPECT_EQ(rs.Campo("id"), "1");
  EXPECT_EQ(rs.Campo(std::size_t{1}), std::nullopt);
  bd.CargarSQL("SELECT Id FROM " + banco->tabla + " WHERE Id > 100");
  EXPECT_FALSE(bd.AbrirConsulta(rs, opciones));
}

TEST_P(BaseOdbc, DesconectarConTransaccionAbiertaLaDeshace) {
  ASSERT_TRUE(bd.Conectar());
  banco->CrearTabla(*bd.MotorActual());
  bd.IniciarTransaccion();
  bd.IniciarTransaccion();
  Insertar(1);
  bd.ConfirmarTransaccion();
  bd.Desconectar();
  EXPECT_EQ(Guardadas(), 0);
}

TEST_P(BaseOdbc, UnaSentenciaRechazadaLlegaAlLlamadorConSuNumero) {
  ASSERT_TRUE(bd.Conectar());
  bd.CargarSQL("SELECT * FROM NoExiste");
  try {
    bd.EjecutarSQL();
    FAIL();
  } catch (const ErrorBD& e) {
    EXPECT_EQ(e.Numero, banco->dialecto.tablaInexistente);
    EXPECT_EQ(e.Descripcion, banco->dialecto.textoTablaInexistente);
  }
}

INSTANTIATE_TEST_SUITE_P(Odbc, BaseOdbc, ::testing::Values("sqlite", "sqlserver"), NombreDelBanco);

// A file that names a driver that is not there: Conectar says False and the operator reads why, with a
// stop icon and without the password, whether it came in Clave= or inside the string.
TEST(BaseOdbcConexion, ElFalloSeMuestraSinLaClave) {
  const auto conexion =
      (std::filesystem::temp_directory_path() / ("PagoraMala_" + std::to_string(::getpid()) + ".conexion"))
          .string();
  const std::string contenidos[] = {
      "Motor=odbc\nCadena=Driver=NoHayTal;Server=s;UID=u;PWD=Cl4ve-Secreta\n",
      "Motor=odbc\nCadena=Driver=SQLite3;Database=/no/existe/base.db\nUsuario=u\nClave=Cl4ve-Secreta\n",
  };
  for (const auto& contenido : contenidos) {
    std::ofstream(conexion, std::ios::trunc) << contenido;
    std::filesystem::permissions(conexion,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    cMensajes mensajes;
    auto anotador = std::make_shared<Anotador>();
    mensajes.FijarPresentador(anotador);
    cBaseDatos bd;
    bd.Mensajes(&mensajes);
    bd.ArchivoExplicito(conexion);
    bd.BuscarArchivoConexion();
    EXPECT_FALSE(bd.Conectar());
    ASSERT_EQ(anotador->vistos.size(), 1u);
    EXPECT_EQ(anotador->vistos[0].second, kEstiloStop);
    EXPECT_GT(anotador->vistos[0].first.size(), 40u);
    EXPECT_EQ(anotador->vistos[0].first.find("Cl4ve-Secreta"), std::string::npos)
        << anotador->vistos[0].first;
  }
  std::filesystem::remove(conexion);
}

}  // namespace
}  // namespace solvane::pruebas
