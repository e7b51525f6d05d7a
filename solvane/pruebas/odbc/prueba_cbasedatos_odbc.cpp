// cBaseDatos on the ODBC engine, opened from a connection file: nested transactions and connection failures.
#include <gtest/gtest.h>

#include <vector>

#include "BancoOdbc.h"
#include "nucleo/cBaseDatos.h"
#include "nucleo/cMensajes.h"

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

// Lets the real engine work and refuses the Nth statement (counting from 1), as a server would.
class MotorQueFalla : public MotorBD {
 public:
  MotorQueFalla(std::unique_ptr<MotorBD> real, int fallar) : real_(std::move(real)), fallar_(fallar) {}
  void Conectar() override { real_->Conectar(); }
  void Desconectar() noexcept override { real_->Desconectar(); }
  void Ejecutar(const std::string& sentencia) override {
    if (++cuenta_ == fallar_) throw ErrorBD(8152, "String or binary data would be truncated.");
    real_->Ejecutar(sentencia);
  }
  PrimeraFila Consultar(const std::string& sentencia) override { return real_->Consultar(sentencia); }
  void Comenzar() override { real_->Comenzar(); }
  void Confirmar() override { real_->Confirmar(); }
  void Deshacer() noexcept override { real_->Deshacer(); }
  bool TransaccionAbierta() const override { return real_->TransaccionAbierta(); }
  std::string NombreServidor() const override { return real_->NombreServidor(); }

 private:
  std::unique_ptr<MotorBD> real_;
  int fallar_;
  int cuenta_ = 0;
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
    pruebas::Escribir(conexion, texto);
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
  if (banco->dialecto.leeJuntoAUnaTransaccion) {
    EXPECT_EQ(Guardadas(), 0) << "la confirmación interior no debe guardar";
  }
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
  bd.CargarSQL("SELECT Id, Nombre FROM " + banco->tabla + banco->dialecto.enOrden);
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

// The shape of a migration run: one outer transaction, steps with their own inner ones. Whichever statement
// fails, the caller's cancel leaves the database as it was; with no failure, everything is there.
TEST_P(BaseOdbc, UnaFallaEnCualquierSentenciaNoDejaNadaAMedias) {
  {
    auto m = banco->Conectado();
    banco->CrearTabla(*m);
  }
  constexpr int kPasos = 3, kPorPaso = 2;
  for (int fallar = 1; fallar <= kPasos * kPorPaso + 1; ++fallar) {
    bd.Envoltorio([fallar](std::unique_ptr<MotorBD> real) -> std::unique_ptr<MotorBD> {
      return std::make_unique<MotorQueFalla>(std::move(real), fallar);
    });
    ASSERT_TRUE(bd.Conectar());
    bool fallo = false;
    bd.IniciarTransaccion();
    try {
      for (int paso = 0; paso < kPasos; ++paso) {
        bd.IniciarTransaccion();
        for (int i = 0; i < kPorPaso; ++i) Insertar(100 * fallar + 10 * paso + i);
        bd.ConfirmarTransaccion();
      }
      bd.ConfirmarTransaccion();
    } catch (const ErrorBD& e) {
      EXPECT_EQ(e.Numero, 8152);
      fallo = true;
      bd.CancelarTransaccion();
    }
    bd.Desconectar();
    const long esperadas = fallar > kPasos * kPorPaso ? kPasos * kPorPaso : 0;
    EXPECT_EQ(fallo, esperadas == 0) << "falla en la sentencia " << fallar;
    EXPECT_EQ(Guardadas(), esperadas) << "falla en la sentencia " << fallar;
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
    pruebas::Escribir(conexion, contenido);
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
