// The core's seams: the connection file choosing the engine, cBaseDatos taking the engine its factory
// builds, statements passed rather than parked, and the pump's failures reaching the steps as ErrorBD.
#include <sys/stat.h>

#include <stdexcept>

#include "Apoyo.h"
#include "nucleo/Conexion.h"

namespace solvane::pruebas {
namespace {

using Log = std::vector<std::string>;

// Each file builds the engine it names, checked by connecting: the simulated one opens its script, the
// ODBC one goes to the driver manager and fails with the masked connection string. A file with a password
// that others can read is told, and used all the same; an unknown engine is refused with file and line.
TEST(CrearMotor, ElArchivoEligeElMotor) {
  struct Caso {
    std::string texto;
    mode_t modo;
    std::string conectado;  // NombreServidor once connected; empty: connecting must fail with `error`
    std::string error;      // part of the error of CrearMotor (unknown engine) or of Conectar
    bool aviso;
  };
  Carpeta carpeta;
  Escribir(carpeta / "base.sql", ScriptVersion("30100"));
  const std::string archivo = (carpeta / "PagoraCliente.conexion").string();
  const std::string simulado = "SQL Server simulado (" + (carpeta / "base.sql").string() + ")";
  const Caso casos[] = {
      {"Motor=simulado\nArchivo=base.sql\n", 0600, simulado, "", false},
      {"Motor=SIMULADO\nArchivo=base.sql\nClave=x\n", 0644, simulado, "", true},
      {"Motor=odbc\nCadena=Driver=NoHayTal;PWD=secreta\n", 0600, "", " - Cadena: Driver=NoHayTal;PWD=****",
       false},
      {"Motor=odbc\nCadena=Driver=NoHayTal\nClave=secreta\n", 0640, "", " - Cadena: Driver=NoHayTal;PWD=****",
       true},
      {"# nada\nMotor=otro\n", 0600, "",
       "Archivo de conexión " + archivo + ", línea 2: motor desconocido 'otro'", false},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.texto);
    Escribir(archivo, c.texto);
    ASSERT_EQ(::chmod(archivo.c_str(), c.modo), 0);
    auto grabador = std::make_shared<Grabador>();
    cMensajes mensajes;
    mensajes.FijarPresentador(grabador);
    std::string error;
    try {
      auto motor = CrearMotor(archivo, mensajes);
      ASSERT_NE(motor, nullptr);
      motor->Conectar();
      EXPECT_EQ(motor->NombreServidor(), c.conectado);
    } catch (const ErrorBD& e) {
      error = e.Descripcion;
    }
    EXPECT_EQ(error.empty(), c.error.empty()) << error;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(error.find("secreta"), std::string::npos) << error;
    ASSERT_EQ(grabador->mensajes.size(), c.aviso ? 1u : 0u);
    if (c.aviso) {
      EXPECT_EQ(grabador->mensajes[0].texto,
                "El archivo de conexión " + archivo +
                    " contiene una clave y otros usuarios pueden leerlo (corríjalo "
                    "con: chmod 600 " +
                    archivo + ")");
      EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloExclamacion);
    }
  }
}

// cBaseDatos asks its factory for the engine of the file it found, telling through its own messages;
// wraps what the factory built; and reports the factory's refusal, or an engine that never came, as a
// failed connection with the password hidden.
TEST(FabricaMotor, CBaseDatosConectaLoQueLaFabricaConstruye) {
  struct Caso {
    std::function<std::unique_ptr<MotorBD>(const std::shared_ptr<Log>&)> construir;
    bool conecta;
    std::string mensaje;
  };
  const std::string archivo = "/no/importa/PagoraCliente.conexion";
  const Caso casos[] = {
      {[](const std::shared_ptr<Log>& log) { return std::make_unique<MotorFalso>(log); }, true, ""},
      {[](const std::shared_ptr<Log>&) -> std::unique_ptr<MotorBD> { throw ErrorBD(7, "Cadena=PWD=abc;x"); },
       false, "No se pudo conectar a la base de datos: 7 Cadena=PWD=****;x"},
      {[](const std::shared_ptr<Log>&) { return std::unique_ptr<MotorBD>(); }, false,
       "No se pudo conectar a la base de datos: 0 Archivo de conexión " + archivo +
           ": no se pudo crear el motor"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.mensaje);
    auto log = std::make_shared<Log>();
    std::string pedido;
    cMensajes* avisa = nullptr;
    cBaseDatos bd([&](const std::string& a, cMensajes& m) {
      pedido = a;
      avisa = &m;
      return c.construir(log);
    });
    auto grabador = std::make_shared<Grabador>();
    cMensajes mensajes;
    mensajes.FijarPresentador(grabador);
    bd.Mensajes(&mensajes);
    bd.ArchivoExplicito(archivo);
    bd.BuscarArchivoConexion();
    bool envuelto = false;
    bd.Envoltorio([&](std::unique_ptr<MotorBD> m) {
      envuelto = true;
      return m;
    });
    EXPECT_EQ(bd.Conectar(), c.conecta);
    EXPECT_EQ(pedido, archivo);
    EXPECT_EQ(avisa, &mensajes);
    EXPECT_EQ(envuelto, c.conecta);
    EXPECT_EQ(bd.Conectado(), c.conecta);
    EXPECT_EQ(*log, c.conecta ? Log{"conectar"} : Log{});
    if (c.mensaje.empty()) {
      EXPECT_TRUE(grabador->mensajes.empty());
    } else {
      ASSERT_EQ(grabador->mensajes.size(), 1u);
      EXPECT_EQ(grabador->mensajes[0].texto, c.mensaje);
      EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloStop);
    }
  }
}

// A statement passed to Ejecutar or Consultar runs and is recorded as it is, and leaves the one
// CargarSQL parked for EjecutarSQL and AbrirConsulta alone.
TEST(Sentencias, LasPasadasNoTocanLaCargada) {
  Carpeta carpeta;
  auto log = std::make_shared<Log>();
  cBaseDatos bd;
  bd.Motor(std::make_unique<MotorFalso>(log));
  bd.Registro((carpeta / "registro.sql").string());
  ASSERT_TRUE(bd.Conectar());
  bd.CargarSQL("SELECT cargada");
  bd.Ejecutar("UPDATE pasada");
  EXPECT_FALSE(bd.Consultar("SELECT VACIA").HayFila());
  EXPECT_EQ(bd.Consultar("SELECT Valor").Campo("valor"), ValorCampo("7"));
  Recordset rs;
  long opciones = 0;
  EXPECT_TRUE(bd.AbrirConsulta(rs, opciones));
  EXPECT_THROW(bd.Ejecutar("UPDATE FALLA"), ErrorBD);
  EXPECT_TRUE(bd.EjecutarSQL());
  const Log esperado = {"UPDATE pasada",  "SELECT VACIA", "SELECT Valor",
                        "SELECT cargada", "UPDATE FALLA", "SELECT cargada"};
  Log ejecutado;
  for (const auto& l : *log)
    if (l != "conectar") ejecutado.push_back(l.substr(l.find(' ') + 1));
  EXPECT_EQ(ejecutado, esperado);
  auto registro = Lineas(carpeta / "registro.sql");
  ASSERT_EQ(registro.size(), esperado.size() + 1);
  EXPECT_EQ(registro[5], "-- ERROR 208 Invalid object name 'FALLA'.");
  registro.erase(registro.begin() + 5);
  EXPECT_EQ(registro, esperado);
}

// Whatever the pump raises (a window's event handler) ends the step as a failed statement would: told
// with its number (0 when it had none) and the step's transaction cancelled.
TEST(Bombeo, SusErroresLleganAlPasoComoErrorBD) {
  struct Caso {
    std::function<void()> fallar;
    std::string mensaje;
  };
  const Caso casos[] = {
      {[] { throw std::runtime_error("Falla del bombeo"); },
       "ERROR de Actualización a Version 2.5.10 \r\n0 Falla del bombeo"},
      {[] { throw ErrorBD(91, "Object variable not set"); },
       "ERROR de Actualización a Version 2.5.10 \r\n91 Object variable not set"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.mensaje);
    BaseSimulada base(ScriptVersion("20509"));
    auto grabador = std::make_shared<Grabador>();
    cMensajes mensajes;
    mensajes.FijarPresentador(grabador);
    cBaseDatos bd;
    bd.Mensajes(&mensajes);
    bd.ArchivoExplicito(base.Conexion());
    bd.BuscarArchivoConexion();
    ASSERT_TRUE(bd.Conectar());
    ProgresoGrabado progreso;
    cActualiza act(bd, mensajes, progreso, c.fallar);
    bool ok = true;
    AccesoPrueba::EnTransaccion(
        act, "2.5.10", ok, [&] { AccesoPrueba::Ejecutar(act, "UPDATE Parametros SET PAR_LA = 'tocado'"); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(bd.NivelTransaccion(), 0);
    ASSERT_EQ(grabador->mensajes.size(), 1u);
    EXPECT_EQ(grabador->mensajes[0].texto, c.mensaje);
    EXPECT_EQ(bd.Consultar("SELECT PAR_LA FROM Parametros").Campo("PAR_LA"), ValorCampo("x"));
  }
}

}  // namespace
}  // namespace solvane::pruebas
