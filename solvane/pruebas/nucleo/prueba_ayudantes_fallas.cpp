// The inspection helpers and the version probe when the server refuses a query for another reason.
#include <initializer_list>

#include "Apoyo.h"
#include "nucleo/Proceso.h"
#include "pasos/MotorConFallas.h"

namespace solvane::pruebas {
namespace {

const char* const kEsquema =
    "CREATE TABLE Parametros (PAR_Version smallint NULL, PAR_LA varchar (20) NULL)\nGO\n"
    "INSERT INTO Parametros (PAR_Version, PAR_LA) VALUES (30009, 'x')\nGO\n"
    "CREATE TABLE TarjetaCaja (TRC_Empresa varchar (6) NOT NULL, TRC_Caja char (3) NOT NULL)\nGO\n"
    "CREATE INDEX IX_TarjetaCaja_Caja ON TarjetaCaja (TRC_Caja)\nGO\n"
    "CREATE VIEW vTarjeta AS SELECT TRC_Empresa FROM TarjetaCaja\nGO\n";

// A simulated database behind the fault-injecting wrapper: RefusarLaSiguiente makes the next
// statement fail as a lost connection or a lock time-out would, the object being there all along.
struct AyudantesConFallas : ::testing::Test {
  AyudantesConFallas() {
    bd.Envoltorio([this](std::unique_ptr<MotorBD> interior) {
      auto envuelto = std::make_unique<MotorConFallas>(std::move(interior), traza);
      motor = envuelto.get();
      return envuelto;
    });
    EXPECT_TRUE(bd.Conectar()) << operador.Ultimo();
  }
  void RefusarLaSiguiente(Falla tipo = Falla::Simple) { motor->FallarEn(traza->contadas + 1, tipo); }
  std::vector<std::string> Preguntas() const {
    std::vector<std::string> r;
    for (const auto& x : grabador->mensajes)
      if (x.estilo == kEstiloPregunta) r.push_back(x.texto);
    return r;
  }
  BaseSimulada base{kEsquema};
  Operador operador{base.Conexion()};
  std::shared_ptr<Grabador> grabador = operador.grabador;
  cMensajes& m = operador.mensajes;
  cBaseDatos& bd = operador.bd;
  std::shared_ptr<Traza> traza = std::make_shared<Traza>();
  MotorConFallas* motor = nullptr;
  ProgresoGrabado progreso;
  cActualiza act{bd, m, progreso, [] {}, 30100};
};

// Every helper passes the refusal on with the server's number: a "no" here would make a step skip a
// change it owes. The value of ExisteCampo is left alone.
TEST_F(AyudantesConFallas, UnaConsultaRefusadaNoSeTomaPorAusencia) {
  auto numero = [](const std::function<void()>& llamada) -> long {
    try {
      llamada();
    } catch (const ErrorBD& e) {
      return e.Numero;
    }
    return -1;
  };
  std::string valor = "sin tocar";
  RefusarLaSiguiente();
  EXPECT_EQ(numero([&] { AccesoPrueba::ExisteCampo(act, "Parametros", "PAR_Version", valor); }),
            kNumeroFalla);
  EXPECT_EQ(valor, "sin tocar");
  EXPECT_EQ(traza->refusada, "Select PAR_Version From Parametros");
  RefusarLaSiguiente(Falla::Condena);
  EXPECT_EQ(numero([&] { AccesoPrueba::ExisteTabla(act, "TarjetaCaja"); }), kNumeroFalla);
  RefusarLaSiguiente();
  EXPECT_EQ(numero([&] { AccesoPrueba::ExisteVista(act, "vTarjeta"); }), kNumeroFalla);
  RefusarLaSiguiente();
  EXPECT_EQ(numero([&] { AccesoPrueba::ExisteIndice(act, "TarjetaCaja", "IX_TarjetaCaja_Caja"); }),
            kNumeroFalla);
  EXPECT_EQ(traza->contadas, 4u);
  // The same questions, unrefused, still get their true answers on the same connection.
  EXPECT_TRUE(AccesoPrueba::ExisteCampo(act, "Parametros", "PAR_Version", valor));
  EXPECT_EQ(valor, "30009");
  EXPECT_TRUE(AccesoPrueba::ExisteTabla(act, "TarjetaCaja"));
  EXPECT_TRUE(AccesoPrueba::ExisteVista(act, "vTarjeta"));
  EXPECT_TRUE(AccesoPrueba::ExisteIndice(act, "TarjetaCaja", "IX_TarjetaCaja_Caja"));
  EXPECT_TRUE(grabador->mensajes.empty()) << "the helpers tell the operator nothing themselves";
}

// Only the server's "no such column / no such object" count as not there.
TEST_F(AyudantesConFallas, SoloLaFaltaDeColumnaOTablaEsUnNo) {
  std::string valor = "sin tocar";
  EXPECT_FALSE(AccesoPrueba::ExisteCampo(act, "Parametros", "PAR_NoHay", valor));
  EXPECT_FALSE(AccesoPrueba::ExisteCampo(act, "NoHay", "PAR_Version", valor));
  EXPECT_EQ(valor, "sin tocar");
  EXPECT_FALSE(AccesoPrueba::ExisteTabla(act, "NoHay"));
  EXPECT_FALSE(AccesoPrueba::ExisteIndice(act, "NoHay", "IX_TarjetaCaja_Caja"));
  // A name that breaks the statement is not an answer about the object either.
  EXPECT_THROW(AccesoPrueba::ExisteCampo(act, "Parametros", "PAR_Version,", valor), ErrorBD);
}

// The version probe refused: no question is asked (a Yes would run the whole chain from the start on
// a database at 3.0.9) and the operator's job ends in its error path with the database untouched.
TEST_F(AyudantesConFallas, VersionIlegiblePorFallaTerminaEnErrorSinPreguntar) {
  std::vector<std::int16_t> corridos;
  auto reemplazar = [&corridos](cActualiza& a) {
    for (std::int16_t desde : std::initializer_list<std::int16_t>{0, 30009})
      a.ReemplazarPaso(desde, [&corridos, desde](bool& ok) {
        corridos.push_back(desde);
        ok = true;
      });
  };
  const std::string antes = base.Script();
  RefusarLaSiguiente();
  bool bAct = true;
  std::string sVersion = "previo";
  EXPECT_THROW(act.VersionActual(bAct, sVersion), ErrorBD);
  EXPECT_FALSE(bAct);
  EXPECT_EQ(sVersion, "previo");
  EXPECT_EQ(act.iVersionBD(), 0);

  bd.Desconectar();
  traza = std::make_shared<Traza>();
  const bool finalizado = EjecutarProceso(
      bd, m, progreso, [] {}, 30100,
      [&](cActualiza& a) {
        motor->FallarEn(1);
        reemplazar(a);
      });
  EXPECT_FALSE(finalizado);
  EXPECT_TRUE(Preguntas().empty());
  EXPECT_TRUE(corridos.empty());
  EXPECT_EQ(progreso.mostrado, 0);
  ASSERT_EQ(grabador->mensajes.size(), 1u);
  EXPECT_EQ(grabador->mensajes[0].texto, "Error Act BD - Falla inyectada en la sentencia 1");
  EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloStop);
  EXPECT_EQ(base.Script(), antes);

  // Unrefused, the same database is simply one step behind.
  grabador->mensajes.clear();
  traza = std::make_shared<Traza>();
  EXPECT_TRUE(EjecutarProceso(
      bd, m, progreso, [] {}, 30100, reemplazar));
  EXPECT_EQ(corridos, (std::vector<std::int16_t>{30009}));
  EXPECT_EQ(Preguntas().size(), 1u);
}

}  // namespace
}  // namespace solvane::pruebas
