// The whole chain the way a shop runs it: solvane -> unixODBC -> FreeTDS -> TDS -> solvane-servidor, against
// the same chain on the simulated engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>

#include "Servido.h"
#include "motores/odbc/MotorOdbc.h"
#include "nucleo/cBaseDatos.h"
#include "nucleo/cMensajes.h"
#include "pasos/ArnesCadena.h"

namespace solvane::pruebas {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const char* const kRechazo = "Sentencia rechazada a propósito por el servidor.";

// How many of a sweep to run: CI takes `enCi`, a run by hand sets the variable (1 = every one).
std::size_t Cuantos(const char* variable, std::size_t enCi) {
  const char* v = std::getenv(variable);
  return v && *v ? std::strtoul(v, nullptr, 10) : enCi;
}

std::size_t CuantasLineas(const std::string& s) {
  return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n'));
}

const std::string& Final() {
  static const std::string f = PorSimulado(ScriptDemo()).archivo;
  return f;
}

// Same start, same everything: exit status, what the operator reads, the record and the file. A failing
// chain leaves the served file as it was.
TEST(CadenaSqlServer, TerminaIgualQueElMotorSimulado) {
  struct Caso {
    std::string nombre, inicial, error;  // error: the start of the operator's message when the chain fails
  };
  const std::string en30004 = DemoEn(30004);
  const std::vector<Caso> casos = {
      {"desde 0", ScriptDemo(), ""},
      {"desde 30004", en30004, ""},
      {"falla 3.0.5",
       Con(en30004, {"Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values "
                     "('20010000','Viejo',1,1)",
                     "Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values "
                     "('20110000','Nuevo',1,1)"}),
       "Error Act BD - Violation of PRIMARY KEY constraint 'PK_Seguridad'"},
      {"falla 3.1.0", Con(DemoEn(30009), {"DROP TABLE TarjetaCaja"}),
       "ERROR de Actualización a Version 3.1.0 \n208 Invalid object name 'TarjetaCaja'."},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.nombre);
    const Comparada a = PorSimulado(c.inicial), b = PorServidor(c.inicial);
    EXPECT_EQ(b.corrida.estado, a.corrida.estado);
    EXPECT_EQ(b.corrida.salida, a.corrida.salida);
    EXPECT_EQ(b.corrida.errores, a.corrida.errores);
    EXPECT_EQ(SinLineasDelMotor(b.registro), a.registro);
    EXPECT_TRUE(b.archivo == a.archivo) << "el archivo servido difiere del simulado";
    if (c.error.empty()) {
      EXPECT_EQ(b.corrida.estado, 0) << b.corrida.errores;
      EXPECT_EQ(VersionGrabada(b.archivo), "30100");
    } else {
      EXPECT_EQ(b.corrida.estado, 1);
      EXPECT_EQ(b.corrida.errores.rfind(c.error, 0), 0u) << b.corrida.errores;
      EXPECT_TRUE(b.archivo == c.inicial) << "una cadena fallida cambió el archivo";
    }
  }
  EXPECT_FALSE(Final().empty());
}

// The whole chain over an encrypted session (Encryption=require, as against a server that forces it) does
// exactly what it does in clear text: same messages, same record, same file.
TEST(CadenaSqlServer, CifradaTerminaIgualQueSinCifrar) {
  const Comparada claro = PorServidor(ScriptDemo()), cifrada = PorServidor(ScriptDemo(), "", "require");
  EXPECT_EQ(cifrada.corrida.estado, 0) << cifrada.corrida.errores;
  EXPECT_EQ(cifrada.corrida.salida, claro.corrida.salida);
  EXPECT_EQ(cifrada.corrida.errores, claro.corrida.errores);
  EXPECT_EQ(cifrada.registro, claro.registro);
  EXPECT_TRUE(cifrada.archivo == claro.archivo)
      << "el archivo servido difiere del que deja la sesión sin cifrar";
  EXPECT_NE(cifrada.servidor.find(", cifrada (TLSv1.2 "), std::string::npos) << cifrada.servidor;
  EXPECT_EQ(cifrada.servidor.find(", sin cifrar"), std::string::npos) << cifrada.servidor;
  EXPECT_NE(claro.servidor.find(", sin cifrar"), std::string::npos) << claro.servidor;
}

// The server refuses statement N (every `PAGORA_PRUEBA_PASO`-th, from 1, until a run gets past the
// end): every such run fails with the refusal in its message and leaves the served file byte for byte.
TEST(CadenaSqlServer, UnaSentenciaRechazadaPorElServidorNoDejaNadaHecho) {
  const std::size_t paso = std::max<std::size_t>(1, Cuantos("PAGORA_PRUEBA_PASO", 10));
  const std::string original = ScriptDemo();
  std::size_t fallidas = 0, n = 1;
  for (; n < 5000; n += paso) {
    Temporal t;
    Servido s(t.Ruta(), original, {{"PAGORA_SERVIDOR_RECHAZAR", std::to_string(n)}});
    const Salida r = Solvane(t.Ruta(), {"--consola", "--si", "--conexion", s.Conexion().string()});
    EXPECT_EQ(s.Detener(), 0) << "N=" << n;
    const std::string archivo = Leer(s.archivo);
    if (r.estado == 0 && r.errores.find(kRechazo) == std::string::npos) {
      EXPECT_TRUE(archivo == Final()) << "N=" << n;  // past the last statement: nothing was refused
      break;
    }
    ++fallidas;
    EXPECT_EQ(r.estado, 1) << "N=" << n << ": " << r.errores;
    EXPECT_NE(r.errores.find(kRechazo), std::string::npos) << "N=" << n << ": " << r.errores;
    const bool conocido =
        r.errores.rfind("Error Act BD - ", 0) == 0 || r.errores.rfind("ERROR de Actualización", 0) == 0;
    EXPECT_TRUE(conocido) << "N=" << n << ": " << r.errores;
    EXPECT_TRUE(archivo == original) << "N=" << n << " cambió el archivo";
  }
  std::cout << "[ red ] sentencias rechazadas una por corrida: " << fallidas << " (cada " << paso
            << "), la primera corrida completa con N=" << n << "\n";
  EXPECT_GT(fallidas, 20u / paso);
}

// Solvane killed at random moments: the server drops its transaction, the file is as before (or complete,
// when the kill came after the commit) and the next run completes.
TEST(CadenaSqlServer, KillNueveDeSolvaneNoDejaNadaAMedias) {
  const std::size_t veces = Cuantos("PAGORA_PRUEBA_MUERTES", 3);
  const std::string original = ScriptDemo();
  Temporal t;
  auto s = std::make_unique<Servido>(t.Ruta(), original);
  const auto conexion = s->Conexion().string();
  // The kills are spread over the time of one whole run.
  const auto inicio = std::chrono::steady_clock::now();
  ASSERT_EQ(Solvane(t.Ruta(), {"--consola", "--si", "--conexion", conexion}).estado, 0);
  const auto duracion =
      std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - inicio).count();
  std::mt19937 azar(static_cast<unsigned>(Cuantos("PAGORA_PRUEBA_SEMILLA", 12345)));
  std::size_t aMedias = 0;
  for (std::size_t i = 0; i < veces; ++i) {
    if (Leer(s->archivo) != original) {  // the last kill came too late: start over
      s.reset();
      s = std::make_unique<Servido>(t.Ruta(), original);
      s->Conexion();
    }
    const auto espera = milliseconds(std::uniform_int_distribution<long>(0, duracion)(azar));
    const Salida r =
        Solvane(t.Ruta(), {"--consola", "--si", "--conexion", conexion}, seconds(240), [&](pid_t pid) {
          std::this_thread::sleep_for(espera);
          ::kill(pid, SIGKILL);
        });
    const std::string archivo = Leer(s->archivo);
    // After a rolled-back run the server's names for unnamed defaults have moved on: a complete file is
    // compared with them masked.
    EXPECT_TRUE(archivo == original || SinNombresGenerados(archivo) == SinNombresGenerados(Final()))
        << "muerte " << i << " tras " << espera.count();
    if (r.estado == 128 + SIGKILL && archivo == original) ++aMedias;
  }
  const Salida fin = Solvane(t.Ruta(), {"--consola", "--si", "--conexion", conexion});
  EXPECT_EQ(fin.estado, 0) << fin.errores;
  EXPECT_TRUE(SinNombresGenerados(Leer(s->archivo)) == SinNombresGenerados(Final()));
  std::cout << "[ muertes ] " << veces << " kill -9, " << aMedias << " en plena cadena\n";
  EXPECT_GT(aMedias, 0u);
}

// Two runs at once on one served database: the second waits for the first's transaction, then finds the
// database current and asks nothing (it is told to answer No); the chain is applied once.
TEST(CadenaSqlServer, DosCorridasALaVezAplicanLaCadenaUnaVez) {
  Temporal t, u;
  Servido s(t.Ruta(), ScriptDemo());
  const auto conexion = s.Conexion().string();
  const auto registro = (t / "registro.sql").string();
  const auto so = (t / "primera.out").string();
  const pid_t primera =
      Lanzar({SOLVANE_PROGRAMA, "--consola", "--si", "--conexion", conexion, "--registro", registro}, {}, so,
             (t / "primera.err").string());
  // The second starts once the first is inside its transaction.
  const auto limite = std::chrono::steady_clock::now() + seconds(60);
  while (LeerSiHay(registro).find("BEGIN TRANSACTION") == std::string::npos &&
         std::chrono::steady_clock::now() < limite)
    std::this_thread::sleep_for(milliseconds(5));
  const Salida segunda = Solvane(
      u.Ruta(), {"--consola", "--no", "--conexion", conexion, "--registro", (u / "registro.sql").string()});
  EXPECT_EQ(Esperar(primera, seconds(240)), 0) << LeerSiHay(t / "primera.err");
  EXPECT_EQ(segunda.estado, 0) << segunda.errores;
  EXPECT_EQ(segunda.salida.find("(S/N)"), std::string::npos) << segunda.salida;
  EXPECT_EQ(LeerSiHay(u / "registro.sql").find("BEGIN TRANSACTION"), std::string::npos);
  EXPECT_NE(LeerSiHay(so).find("Finalizado"), std::string::npos);
  EXPECT_TRUE(Leer(s.archivo) == Final());
}

// Two runs started at the same instant on one served database (two cash desks): the second waits at connect
// for the first's application lock, then reads the version, finds the database current and does nothing;
// both end well, the chain is applied once and only one record holds it. Repeated, since the order in which
// the two reach the server is chance.
TEST(CadenaSqlServer, DosCorridasSimultaneasAplicanLaCadenaUnaVez) {
  const std::string inicial = DemoEn(30009);
  const std::string final = PorSimulado(inicial).archivo;
  for (std::size_t vuelta = 0; vuelta < Cuantos("PAGORA_PRUEBA_SIMULTANEAS", 5); ++vuelta) {
    SCOPED_TRACE("vuelta " + std::to_string(vuelta));
    Temporal t;
    Servido s(t.Ruta(), inicial);
    const auto conexion = s.Conexion().string();
    pid_t pid[2];
    for (int i = 0; i < 2; ++i) {
      const std::string n = std::to_string(i);
      pid[i] = Lanzar({SOLVANE_PROGRAMA, "--consola", "--si", "--conexion", conexion, "--registro",
                       (t / ("registro" + n + ".sql")).string()},
                      {}, (t / ("salida" + n)).string(), (t / ("errores" + n)).string());
    }
    std::size_t conCadena = 0;
    for (int i = 0; i < 2; ++i) {
      const std::string n = std::to_string(i);
      EXPECT_EQ(Esperar(pid[i], seconds(240)), 0) << LeerSiHay(t / ("errores" + n));
      const std::string registro = LeerSiHay(t / ("registro" + n + ".sql"));
      EXPECT_NE(registro.find("PAR_Version"), std::string::npos) << "cada corrida lee la versión";
      conCadena += registro.find("UpDate Parametros Set PAR_Version = 30100") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(conCadena, 1u) << "la cadena se aplica una sola vez";
    EXPECT_EQ(s.Detener(), 0);
    EXPECT_TRUE(Leer(s.archivo) == final);
  }
}

// A run that cannot get the updater's lock within TiempoBloqueo (another program holds it) stops with the
// embedded engine's "en uso" words and changes nothing; once the holder leaves, the next run goes through.
TEST(CadenaSqlServer, SinElBloqueoATiempoLaBaseEstaEnUso) {
  Temporal t;
  const std::string inicial = DemoEn(30009);
  Servido s(t.Ruta(), inicial);
  auto otra = CrearMotorOdbc({{"cadena", s.Cadena() + ";PWD=" + kClaveServidor}}, "prueba");
  otra->Conectar();
  const auto conexion = s.Conexion("TiempoBloqueo=1\n").string();
  const auto inicio = std::chrono::steady_clock::now();
  const Salida r = Solvane(t.Ruta(), {"--consola", "--si", "--conexion", conexion});
  EXPECT_GE(std::chrono::steady_clock::now() - inicio, seconds(1)) << "espera el plazo";
  EXPECT_EQ(r.estado, 1);
  EXPECT_NE(r.errores.find("está en uso por otro programa"), std::string::npos) << r.errores;
  EXPECT_TRUE(Leer(s.archivo) == inicial);
  otra->Desconectar();
  const Salida despues = Solvane(t.Ruta(), {"--consola", "--si", "--conexion", conexion});
  EXPECT_EQ(despues.estado, 0) << despues.errores;
  EXPECT_EQ(VersionGrabada(Leer(s.archivo)), "30100");
}

TEST(CadenaSqlServer, ProbarConexionMuestraElServidorYLaVersion) {
  Temporal t;
  Servido s(t.Ruta(), DemoEn(30004));
  const Salida r = Solvane(t.Ruta(), {"--consola", "--probar-conexion", "--conexion", s.Conexion().string()});
  EXPECT_EQ(r.estado, 0) << r.errores;
  EXPECT_NE(r.salida.find("Microsoft SQL Server"), std::string::npos) << r.salida;
  EXPECT_NE(r.salida.find("PAR_Version: 30004 (3.0.4)\n"), std::string::npos) << r.salida;
}

// Every awkward password, set on the server and given to Solvane: blanks, ';', braces, '}' and doubled '}',
// accents, the euro sign, 128 characters. Each logs in and reads the version, or, when the installed FreeTDS
// cannot carry it at all (it needs braces and holds "};"), is refused before connecting with the reason,
// never by the server's 18456.
TEST(CadenaSqlServer, ClavesIncomodasEntranOSeRechazanAntesDeConectar) {
  std::string larga;
  for (int i = 0; larga.size() < 128; ++i) larga += "Ab9;{ñ} "[i % 8];
  larga.resize(128);
  const struct {
    std::string clave;
    bool entra;
  } casos[] = {{" ", true},
               {" borde ", true},
               {"a b", true},
               {";", true},
               {"a;b", true},
               {"{", true},
               {"{ab}", true},
               {"}", true},
               {"p} q", true},
               {"llave}}doble;x", true},
               {"Clave;De}Prueba 9", true},
               {"{Abre;y}cierra", true},
               {"contraseña", true},
               {"€uro9", true},
               {larga, true},
               {"};", false},
               {"x};y", false}};
  for (const auto& c : casos) {
    SCOPED_TRACE("[" + c.clave + "]");
    Temporal t;
    Servido s(t.Ruta(), DemoEn(30004), {{"PAGORA_SERVIDOR_CLAVE", c.clave}});
    const Salida r =
        Solvane(t.Ruta(), {"--consola", "--probar-conexion", "--conexion", s.Conexion("", false).string()},
                seconds(60), {}, {{"PAGORA_CLAVE", c.clave}});
    const std::string registro = s.Registro();
    if (c.entra) {
      EXPECT_EQ(r.estado, 0) << r.errores;
      EXPECT_NE(r.salida.find("PAR_Version: 30004"), std::string::npos) << r.salida;
    } else {
      EXPECT_EQ(r.estado, 1);
      EXPECT_NE(r.errores.find("no se puede pasar al driver FreeTDS"), std::string::npos) << r.errores;
      EXPECT_EQ(r.errores.find("18456"), std::string::npos) << r.errores;
      EXPECT_EQ(registro.find("Sesión"), std::string::npos) << "no llegó a conectar: " << registro;
    }
    EXPECT_EQ(registro.find("Acceso rechazado"), std::string::npos) << registro;
  }
}

// A statement that waits past TiempoSentencia (here behind another session's transaction) ends the run
// with a message and nothing done; a server that dies under the run ends it with "Error Act BD - ".
TEST(CadenaSqlServer, EsperaVencidaYServidorCaidoTerminanLaCorrida) {
  const std::string original = ScriptDemo();
  {
    Temporal t;
    Servido s(t.Ruta(), original);
    auto otra = CrearMotorOdbc({{"cadena", s.Cadena() + ";PWD=" + kClaveServidor}}, "prueba",
                               BloqueoActualizacion::Omitir);
    otra->Conectar();
    otra->Comenzar();
    otra->Ejecutar("UPDATE Parametros SET PAR_LA = PAR_LA");
    const auto inicio = std::chrono::steady_clock::now();
    const Salida r =
        Solvane(t.Ruta(), {"--consola", "--si", "--conexion", s.Conexion("TiempoSentencia=2\n").string()});
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, seconds(60));
    EXPECT_EQ(r.estado, 1);
    EXPECT_NE(r.errores.find("Error Act BD - "), std::string::npos) << r.errores;
    otra->Deshacer();
    EXPECT_EQ(s.Detener(), 0);
    EXPECT_TRUE(Leer(s.archivo) == original);
  }
  {
    Temporal t;
    Servido s(t.Ruta(), original);
    const Salida r = Solvane(t.Ruta(),
                             {"--consola", "--si", "--conexion", s.Conexion().string(), "--registro",
                              (t / "registro.sql").string()},
                             seconds(240), [&](pid_t) {
                               const auto limite = std::chrono::steady_clock::now() + seconds(60);
                               // 200 lines into the record the run is inside the 3.0 steps.
                               while (CuantasLineas(LeerSiHay(t / "registro.sql")) < 200 &&
                                      std::chrono::steady_clock::now() < limite)
                                 std::this_thread::sleep_for(milliseconds(2));
                               s.Detener(SIGKILL);
                             });
    EXPECT_EQ(r.estado, 1);
    EXPECT_EQ(r.errores.rfind("Error Act BD - ", 0), 0u) << r.errores;
    EXPECT_TRUE(Leer(s.archivo) == original);
  }
}

// A server lost inside a transaction is reported as lost by every statement that follows, not as a
// transaction the server ended (3930), which would send the operator after the wrong cause.
TEST(CadenaSqlServer, ConexionPerdidaSeInformaComoTalEnCadaSentencia) {
  Temporal t;
  Servido s(t.Ruta(), ScriptDemo());
  cMensajes m;
  cBaseDatos bd;
  bd.Mensajes(&m);
  bd.OpcionConexion1(false);
  bd.OpcionConexion2(false);
  bd.ArchivoExplicito(s.Conexion().string());
  bd.BuscarArchivoConexion();
  ASSERT_TRUE(bd.Conectar());
  bd.IniciarTransaccion();
  bd.CargarSQL("UPDATE Parametros SET PAR_LA = PAR_LA");
  bd.EjecutarSQL();
  s.Detener(SIGKILL);
  std::vector<ErrorBD> errores;
  for (const char* sentencia : {"UPDATE Parametros SET PAR_LA = 'x'", "Select PAR_LA From Parametros"}) {
    bd.CargarSQL(sentencia);
    try {
      bd.EjecutarSQL();
      ADD_FAILURE() << sentencia << " no falló";
    } catch (const ErrorBD& e) {
      errores.push_back(e);
    }
  }
  ASSERT_EQ(errores.size(), 2u);
  for (const auto& e : errores) {
    EXPECT_NE(e.Numero, 3930) << e.Descripcion;
    EXPECT_EQ(e.Descripcion.rfind("Se perdió la conexión con el servidor", 0), 0u) << e.Descripcion;
  }
  EXPECT_THROW(bd.ConfirmarTransaccion(), ErrorBD);
}

}  // namespace
}  // namespace solvane::pruebas
