// The version gate and the chain driver against the simulated engine, steps replaced by scripted ones.
#include <tuple>

#include "Apoyo.h"
#include "nucleo/Proceso.h"

namespace solvane::pruebas {
namespace {

const std::string kPregunta =
    "ATENCIÓN .- LAS BASES DE DATOS DEL SISTEMA NO ESTAN ACTUALIZADAS ACORDE A LA VERSION QUE ESTA "
    "EJECUTANDO.\r\n"
    "DESEA ACTUALIZAR EL SISTEMA AHORA ??";
const std::string kFracaso =
    "LA ACTUALIZACION DE BASE DE DATOS DEL SISTEMA NO SE HA PODIDO REALIZAR. EL SISTEMA NO PUEDE EJECUTARSE";

const std::int16_t kCodigos[] = {0,     20500, 20501, 20502, 20503, 20504, 20505, 20506, 20507,
                                 20509, 20510, 20511, 20514, 20515, 20516, 30000, 30001, 30002,
                                 30003, 30004, 30005, 30006, 30007, 30008, 30009};

struct Gate : ::testing::Test {
  void Preparar(const std::string& script, std::int16_t programa = 30100) {
    base = std::make_unique<BaseSimulada>(script);
    antes = base->Script();
    mensajes.FijarPresentador(grabador);
    bd.Mensajes(&mensajes);
    bd.Registro(base->Registro());
    bd.ArchivoExplicito(base->Conexion());
    bd.BuscarArchivoConexion();
    ASSERT_TRUE(bd.Conectar()) << (grabador->mensajes.empty() ? "" : grabador->mensajes.back().texto);
    act = std::make_unique<cActualiza>(
        bd, mensajes, progreso, [this] { ++bombeos; }, programa);
    // Every step replaced by one that only says it ran.
    for (auto desde : kCodigos)
      act->ReemplazarPaso(desde, [this, desde](bool& ok) {
        corridos.push_back(desde);
        ok = true;
      });
  }
  std::string VersionGrabada() {
    Recordset rs;
    long cero = 0;
    bd.CargarSQL("Select PAR_Version From Parametros");
    if (!bd.AbrirConsulta(rs, cero)) return "(sin filas)";
    return rs.Campo(std::size_t{0}).value_or("NULL");
  }
  std::vector<std::string> Textos(int estilo) const {
    std::vector<std::string> r;
    for (const auto& m : grabador->mensajes)
      if (m.estilo == estilo) r.push_back(m.texto);
    return r;
  }
  std::unique_ptr<BaseSimulada> base;
  std::string antes;
  std::shared_ptr<Grabador> grabador = std::make_shared<Grabador>();
  cMensajes mensajes;
  cBaseDatos bd;
  ProgresoGrabado progreso;
  int bombeos = 0;
  std::unique_ptr<cActualiza> act;
  std::vector<std::int16_t> corridos;
};

TEST_F(Gate, AlDiaNoPreguntaNiToca) {
  Preparar(ScriptVersion("30100"));
  EXPECT_TRUE(act->ActualizaVersion());
  EXPECT_TRUE(grabador->mensajes.empty());
  EXPECT_EQ(progreso.mostrado, 0);
  EXPECT_EQ(Lineas(base->Registro()), (std::vector<std::string>{"Select PAR_Version From Parametros"}));
}

TEST_F(Gate, BaseMasNuevaQueElPrograma) {
  Preparar(ScriptVersion("30200"));
  bool bAct = false;
  std::string sVersion;
  EXPECT_FALSE(act->VersionActual(bAct, sVersion));
  EXPECT_TRUE(bAct);
  EXPECT_EQ(sVersion, "30200");
  EXPECT_FALSE(act->ActualizaVersion());
  EXPECT_EQ(Textos(kEstiloStop),
            (std::vector<std::string>{"DEBE ACTUALIZAR Pagora Vavidev Act. BD a VERSION 30200\r\n"
                                      "VERSION ACTUAL DEL SISTEMA 30100"}));
  EXPECT_TRUE(Textos(kEstiloPregunta).empty());
  bd.Desconectar();
  EXPECT_EQ(base->Script(), antes);
}

TEST_F(Gate, MasViejaYElOperadorDiceNo) {
  Preparar(ScriptVersion("30008"));
  grabador->respuesta = kRespuestaNo;
  EXPECT_FALSE(act->ActualizaVersion());
  ASSERT_EQ(grabador->mensajes.size(), 1u);
  EXPECT_EQ(grabador->mensajes[0].texto, kPregunta);
  EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloPregunta);
  EXPECT_TRUE(corridos.empty());
  EXPECT_EQ(Lineas(base->Registro()).size(), 1u) << "the database was touched after No";
}

TEST_F(Gate, MasViejaYElOperadorDiceSi) {
  Preparar(ScriptVersion("30008"));
  EXPECT_TRUE(act->ActualizaVersion());
  EXPECT_EQ(corridos, (std::vector<std::int16_t>{30008, 30009}));
  EXPECT_EQ(progreso.etiquetas,
            (std::vector<std::string>{"Actualizando Version a 3.0.9", "Actualizando Version a 3.1.0"}));
  EXPECT_EQ(progreso.mostrado, 1);
  EXPECT_EQ(progreso.descargado, 1);
  auto reg = Lineas(base->Registro());
  EXPECT_EQ(std::vector<std::string>(reg.end() - 3, reg.end()),
            (std::vector<std::string>{"BEGIN TRANSACTION", "UpDate Parametros Set PAR_Version = 30100",
                                      "COMMIT TRANSACTION"}));
  EXPECT_EQ(VersionGrabada(), "30100");
  bd.Desconectar();
  ASSERT_TRUE(bd.Conectar());
  EXPECT_EQ(VersionGrabada(), "30100") << "not durable";
}

TEST_F(Gate, VersionIlegibleEmpiezaDesdeCero) {
  for (const std::string& script :
       {std::string("CREATE TABLE Otra (a int NULL)\nGO\n"),
        std::string("CREATE TABLE Parametros (PAR_Version varchar (10) NULL)\nGO\n"
                    "INSERT INTO Parametros (PAR_Version) VALUES ('99999')\nGO\n")}) {
    SCOPED_TRACE(script);
    grabador->mensajes.clear();
    corridos.clear();
    Preparar(script);
    bool bAct = true;
    std::string sVersion = "previo";
    EXPECT_FALSE(act->VersionActual(bAct, sVersion));
    EXPECT_FALSE(bAct);
    EXPECT_EQ(act->iVersionBD(), 0);
    act->ActualizaVersion();
    EXPECT_EQ(Textos(kEstiloPregunta).size(), 1u);
    ASSERT_FALSE(corridos.empty());
    EXPECT_EQ(corridos.front(), 0);
    EXPECT_EQ(corridos.size(), 25u);
    bd.Desconectar();
  }
}

// With no row there is no version to start from nor a row to record the new one in: the run would end as
// finished and leave the database to run the whole chain again next time. Refused before the question.
TEST_F(Gate, TablaVaciaSeRechazaSinPreguntarNiTocar) {
  Preparar(ScriptVersion(""));
  bool bAct = false;
  std::string sVersion = "x";
  try {
    act->VersionActual(bAct, sVersion);
    ADD_FAILURE() << "una tabla Parametros sin filas debe rechazarse";
  } catch (const ErrorBD& e) {
    EXPECT_EQ(e.Numero, 3021);
    EXPECT_NE(e.Descripcion.find("Parametros no tiene filas"), std::string::npos) << e.Descripcion;
  }
  EXPECT_THROW(act->ActualizaVersion(), ErrorBD);
  EXPECT_TRUE(grabador->mensajes.empty());
  EXPECT_TRUE(corridos.empty());
  EXPECT_EQ(progreso.mostrado, 0);
  EXPECT_EQ(VersionGrabada(), "(sin filas)");
  bd.Desconectar();
  EXPECT_EQ(base->Script(), antes);
}

TEST_F(Gate, TextoDeVersionConDecimalesOBasura) {
  const std::pair<std::string, std::int16_t> casos[] = {
      {"'30100.5'", 30100}, {"'30099.5'", 30100}, {"'  20508abc'", 20508}, {"'abc'", 0}, {"NULL", 0}};
  for (const auto& [valor, codigo] : casos) {
    SCOPED_TRACE(valor);
    Preparar(
        "CREATE TABLE Parametros (PAR_Version varchar (10) NULL)\nGO\nINSERT INTO Parametros (PAR_Version) "
        "VALUES (" +
        valor + ")\nGO\n");
    bool bAct = false;
    std::string s;
    act->VersionActual(bAct, s);
    EXPECT_EQ(act->iVersionBD(), codigo);
    bd.Desconectar();
  }
}

TEST_F(Gate, EntradasDeLaCadenaSinPasosIntermedios) {
  Preparar(ScriptVersion("20508"));
  EXPECT_TRUE(act->ActualizaVersion());
  ASSERT_GE(progreso.etiquetas.size(), 4u);
  EXPECT_EQ(progreso.etiquetas[0], "Actualizando Version a 2.5.9");
  EXPECT_EQ(corridos.front(), 20507);
  EXPECT_EQ(progreso.etiquetas[3], "Actualizando Version a 2.5.14");
  EXPECT_EQ(progreso.etiquetas.size(), 17u);
  bd.Desconectar();

  corridos.clear();
  progreso.etiquetas.clear();
  Preparar(ScriptVersion("20512"));
  EXPECT_TRUE(act->ActualizaVersion());
  EXPECT_EQ(progreso.etiquetas.front(), "Actualizando Version a 2.5.14");
  EXPECT_EQ(corridos.front(), 20511);
}

TEST_F(Gate, ProgramaIntermedioSeDetieneEnSuVersion) {
  Preparar(ScriptVersion("20508"), 20510);
  EXPECT_TRUE(act->ActualizaVersion());
  EXPECT_EQ(corridos, (std::vector<std::int16_t>{20507, 20509}));
  EXPECT_EQ(VersionGrabada(), "20510");
}

TEST_F(Gate, CodigoDesconocidoNoSeSellaComoActual) {
  for (const char* codigo : {"20513", "20400", "-3"}) {
    SCOPED_TRACE(codigo);
    grabador->mensajes.clear();
    Preparar(ScriptVersion(codigo));
    EXPECT_FALSE(act->ActualizaVersion());
    EXPECT_EQ(Textos(kEstiloStop),
              (std::vector<std::string>{std::string("VERSION DE BASE DE DATOS NO RECONOCIDA : ") + codigo,
                                        kFracaso}));
    EXPECT_TRUE(corridos.empty());
    EXPECT_EQ(VersionGrabada(), codigo);
    bd.Desconectar();
    EXPECT_EQ(base->Script(), antes);
  }
}

TEST_F(Gate, PasoQueFallaCancelaTodoYNoGraba) {
  Preparar(ScriptVersion("20508"));
  act->ReemplazarPaso(20509, [&](bool& ok) {
    AccesoPrueba::EnTransaccion(*act, "2.5.10", ok, [&] {
      AccesoPrueba::Ejecutar(*act, "UPDATE Parametros SET PAR_LA = 'tocado'");
      AccesoPrueba::Ejecutar(*act, "UPDATE NoHay SET a = 1");
    });
  });
  EXPECT_FALSE(act->ActualizaVersion());
  EXPECT_EQ(corridos, (std::vector<std::int16_t>{20507}));
  const auto errores = Textos(kEstiloStop);
  ASSERT_EQ(errores.size(), 2u);
  EXPECT_EQ(errores[0], "ERROR de Actualización a Version 2.5.10 \r\n208 Invalid object name 'NoHay'.");
  EXPECT_EQ(errores[1], kFracaso);
  EXPECT_EQ(progreso.descargado, 1);
  auto reg = Lineas(base->Registro());
  EXPECT_EQ(std::count(reg.begin(), reg.end(), "ROLLBACK TRANSACTION"), 2);
  EXPECT_EQ(std::count(reg.begin(), reg.end(), "UpDate Parametros Set PAR_Version = 30100"), 0);
  EXPECT_EQ(VersionGrabada(), "20508");
  bd.Desconectar();
  EXPECT_EQ(base->Script(), antes);
}

TEST_F(Gate, FallaAlGrabarLaVersion) {
  Preparar(ScriptVersion("30009"));
  act->ReemplazarPaso(30009, [&](bool& ok) {
    AccesoPrueba::Ejecutar(*act, "DROP TABLE Parametros");
    ok = true;
  });
  EXPECT_FALSE(act->ActualizaVersion());
  const auto errores = Textos(kEstiloStop);
  ASSERT_EQ(errores.size(), 2u);
  EXPECT_EQ(errores[0], "ERROR de Actualización : 208 Invalid object name 'Parametros'.");
  bd.Desconectar();
  EXPECT_EQ(base->Script(), antes);
}

struct Trabajo : ::testing::Test {
  Trabajo() {
    m.FijarPresentador(grabador);
    bd.Mensajes(&m);
  }
  bool Correr(const std::string& conexion, const std::function<void(cActualiza&)>& preparar = {}) {
    bd.ArchivoExplicito(conexion);
    return EjecutarProceso(
        bd, m, progreso, [] {}, 30100, preparar);
  }
  std::shared_ptr<Grabador> grabador = std::make_shared<Grabador>();
  cMensajes m;
  cBaseDatos bd;
  ProgresoGrabado progreso;
};

TEST_F(Trabajo, FinalizadoConTituloDelProducto) {
  BaseSimulada base(ScriptVersion("30009"));
  EXPECT_TRUE(
      Correr(base.Conexion(), [](cActualiza& a) { a.ReemplazarPaso(30009, [](bool& ok) { ok = true; }); }));
  ASSERT_EQ(grabador->mensajes.size(), 2u);
  EXPECT_EQ(grabador->mensajes[1].texto, "Proceso Pagora Vavidev Act. BD Finalizado");
  EXPECT_EQ(grabador->mensajes[1].estilo, kEstiloInfo);
  for (const auto& t : grabador->titulos) EXPECT_EQ(t, "Pagora Vavidev Act. BD");
  EXPECT_FALSE(bd.Conectado());
}

// A step without an error path of its own: the error reaches the operator's job, the driver's own
// failure message is not shown, the progress window stays, the connection is closed, nothing is saved.
TEST_F(Trabajo, PasoQueLanzaTerminaEnErrorActBD) {
  BaseSimulada base(ScriptVersion("30008"));
  const std::string antes = base.Script();
  bd.Registro(base.Registro());
  EXPECT_FALSE(Correr(base.Conexion(), [](cActualiza& a) {
    a.ReemplazarPaso(30008, [](bool&) { throw ErrorBD(207, "Invalid column name 'Caj_TCPuerto'."); });
  }));
  ASSERT_EQ(grabador->mensajes.size(), 2u);
  EXPECT_EQ(grabador->mensajes[1].texto, "Error Act BD - Invalid column name 'Caj_TCPuerto'.");
  EXPECT_EQ(grabador->mensajes[1].estilo, kEstiloStop);
  EXPECT_EQ(progreso.descargado, 0);
  EXPECT_FALSE(bd.Conectado());
  EXPECT_EQ(base.Script(), antes);
  const auto reg = Lineas(base.Registro());
  EXPECT_EQ(std::count(reg.begin(), reg.end(), "COMMIT TRANSACTION"), 0);
}

// Version numbers become a code as "00" pieces; a version whose code passes 16 bits is an overflow.
TEST(CodigoDeVersion, DosCifrasPorParteYDesbordeEn16Bits) {
  EXPECT_EQ(CodigoVersion(3, 1, 0), 30100);
  EXPECT_EQ(CodigoVersion(2, 5, 16), 20516);
  EXPECT_EQ(CodigoVersion(3, 27, 67), 32767);
  EXPECT_EQ(VersionProgramaPorDefecto(), 30100);
  EXPECT_EQ(VersionPrograma().Codigo(), 30100);
  for (const auto& [a, b, c] : {std::tuple{3, 27, 68}, std::tuple{4, 0, 0}, std::tuple{3, 100, 0}}) {
    try {
      CodigoVersion(a, b, c);
      ADD_FAILURE() << a << "." << b << "." << c << " no desborda";
    } catch (const ErrorBD& e) {
      EXPECT_EQ(e.Numero, 6);
      EXPECT_EQ(e.Descripcion, "Overflow");
    }
  }
}

// The code is worked out when the job creates its cActualiza: an overflow there is an error of the run,
// told as any other, not a failure that escapes the operator's button.
TEST_F(Trabajo, VersionQueNoCabeEn16BitsTerminaEnErrorActBD) {
  BaseSimulada base(ScriptVersion("30009"));
  const std::string antes = base.Script();
  bd.ArchivoExplicito(base.Conexion());
  bool finalizado = true;
  EXPECT_NO_THROW(finalizado = EjecutarProceso(
                      bd, m, progreso, [] {}, VersionPrograma(4, 0, 0)));
  EXPECT_FALSE(finalizado);
  ASSERT_EQ(grabador->mensajes.size(), 1u);
  EXPECT_EQ(grabador->mensajes[0].texto, "Error Act BD - Overflow");
  EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloStop);
  EXPECT_EQ(progreso.mostrado, 0);
  EXPECT_FALSE(bd.Conectado());
  EXPECT_EQ(base.Script(), antes);

  // Without a version the build's own is used and recorded.
  grabador->mensajes.clear();
  bd.ArchivoExplicito(base.Conexion());
  EXPECT_TRUE(EjecutarProceso(
      bd, m, progreso, [] {}, VersionPrograma(),
      [](cActualiza& a) { a.ReemplazarPaso(30009, [](bool& ok) { ok = true; }); }));
  ASSERT_FALSE(grabador->mensajes.empty());
  EXPECT_EQ(grabador->mensajes.back().texto, "Proceso Pagora Vavidev Act. BD Finalizado");
}

TEST_F(Trabajo, SinArchivoDeConexion) {
  Carpeta vacia;
  const auto previa = std::filesystem::current_path();
  std::filesystem::current_path(vacia.Ruta());
  ::unsetenv("PAGORA_CONEXION");
  ::setenv("XDG_CONFIG_HOME", vacia.Ruta().c_str(), 1);
  EXPECT_FALSE(Correr(""));
  std::filesystem::current_path(previa);
  ASSERT_EQ(grabador->mensajes.size(), 1u);
  EXPECT_EQ(grabador->mensajes[0].texto, "No se Especifico Archivo de Conexion a Base de Datos");
  EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloExclamacion);
}

}  // namespace
}  // namespace solvane::pruebas
