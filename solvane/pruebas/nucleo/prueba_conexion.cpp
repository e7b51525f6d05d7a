// The connection file: lookup order, reading errors with file and line, warnings, password masking.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Apoyo.h"
#include "nucleo/Conexion.h"

namespace solvane::pruebas {
namespace {

struct Lugares : ::testing::Test {
  Lugares() {
    for (const char* n : {"programa", "trabajo", "xdg/pagora", "home/.config/pagora", "etc"})
      std::filesystem::create_directories(c / n);
    l.carpetaPrograma = (c / "programa").string();
    l.carpetaTrabajo = (c / "trabajo").string();
    l.xdgConfig = (c / "xdg").string();
    l.home = (c / "home").string();
    l.etc = (c / "etc").string();
  }
  std::string Poner(const std::string& carpeta) {
    const auto r = c / carpeta / kNombreArchivoConexion;
    Escribir(r, "Motor=simulado\nArchivo=x.sql\n");
    return r.string();
  }
  Carpeta c;
  LugaresConexion l;
};

TEST_F(Lugares, OrdenDeBusqueda) {
  EXPECT_EQ(BuscarConexion(l), "");
  const auto etc = Poner("etc");
  EXPECT_EQ(BuscarConexion(l), etc);
  const auto xdg = Poner("xdg/pagora");
  EXPECT_EQ(BuscarConexion(l), xdg);
  const auto trabajo = Poner("trabajo");
  EXPECT_EQ(BuscarConexion(l), trabajo);
  const auto programa = Poner("programa");
  EXPECT_EQ(BuscarConexion(l), programa);
  l.variable = "/de/la/variable";
  EXPECT_EQ(BuscarConexion(l), "/de/la/variable");
  l.explicito = "/dada.conexion";
  EXPECT_EQ(BuscarConexion(l), "/dada.conexion") << "what the operator names is used even if missing";
  l.explicito = "   ";
  EXPECT_EQ(BuscarConexion(l), "/de/la/variable");
  l.soloExplicito = true;
  EXPECT_EQ(BuscarConexion(l), "");
}

TEST_F(Lugares, SinXdgUsaHomeConfig) {
  l.xdgConfig.clear();
  const auto home = Poner("home/.config/pagora");
  EXPECT_EQ(BuscarConexion(l), home);
  std::filesystem::create_directories(c / "trabajo" / kNombreArchivoConexion);  // a folder is not a file
  EXPECT_EQ(BuscarConexion(l), home);
}

std::string ErrorDe(const std::string& contenido) {
  Carpeta c;
  const auto r = (c / "PagoraCliente.conexion").string();
  Escribir(r, contenido);
  try {
    LeerConexion(r);
  } catch (const ErrorBD& e) {
    EXPECT_NE(e.Descripcion.find(r), std::string::npos) << e.Descripcion;
    return e.Descripcion.substr(e.Descripcion.find(r) + r.size());
  }
  return "(sin error)";
}

TEST(LeerConexion, ErroresNombranArchivoYLinea) {
  EXPECT_EQ(ErrorDe("# c\n\nMotor=simulado\nesto no\n"),
            ", línea 4: falta el '=' (se esperaba Nombre=Valor)");
  EXPECT_EQ(ErrorDe("=x\n"), ", línea 1: falta la clave antes de '='");
  EXPECT_EQ(ErrorDe("Motor=simulado\nArchivo=a\nARCHIVO=b\n"),
            ", línea 3: la clave 'archivo' ya se dio en la línea 2");
  EXPECT_EQ(ErrorDe("Archivo=a\n"), ": falta la clave Motor");
  EXPECT_EQ(ErrorDe("\n motor = oracle\n"), ", línea 2: motor desconocido 'oracle' (simulado u odbc)");
  EXPECT_EQ(ErrorDe("Motor=simulado\n"), ": Motor=simulado necesita la clave Archivo");
  EXPECT_EQ(ErrorDe("Motor=odbc\n"), ": Motor=odbc necesita la clave Cadena");
  EXPECT_NE(ErrorDe("").find("falta la clave Motor"), std::string::npos);
  const std::string falta = "/no/existe/PagoraCliente.conexion";
  EXPECT_THROW(LeerConexion(falta), ErrorBD);
}

TEST(LeerConexion, ClavesSinCasoValoresRecortadosYClaveDetectada) {
  Carpeta c;
  const auto r = (c / "a.conexion").string();
  Escribir(r, "\xEF\xBB\xBF# utf8\r\n  MOTOR = ODBC \r\nCadena=Driver=FreeTDS;Server=s;PWD=se#creta\r\n");
  // A byte-order mark on the first line would make it a key; the first line here is a comment.
  ::chmod(r.c_str(), 0644);
  auto a = LeerConexion(r);
  EXPECT_EQ(a.ajustes["motor"], "odbc");
  EXPECT_EQ(a.ajustes["cadena"], "Driver=FreeTDS;Server=s;PWD=se#creta");
  EXPECT_TRUE(a.tieneClave);
  EXPECT_TRUE(a.legibleOtros);
  ::chmod(r.c_str(), 0600);
  EXPECT_FALSE(LeerConexion(r).legibleOtros);
  // The warning about a readable file must not depend on how the string spells the password's key.
  for (const auto& [cadena, conClave] : {std::pair{"Driver=X;Password={a b}", true},
                                         {"Driver=X; pwd = y", true},
                                         {"Driver=X;Server=pwdserver", false}}) {
    Escribir(r, std::string("Motor=odbc\nCadena=") + cadena + "\n");
    EXPECT_EQ(LeerConexion(r).tieneClave, conClave) << cadena;
  }
}

TEST(OcultarClaves, NingunaClaveQuedaALaVista) {
  EXPECT_EQ(OcultarClaves("Driver=X;PWD=abc;UID=u"), "Driver=X;PWD=****;UID=u");
  EXPECT_EQ(OcultarClaves("pwd = {a;b}c;Server=s"), "pwd = ****c;Server=s");
  EXPECT_EQ(OcultarClaves("Password=xyz clave=123"), "Password=****") << "a blank does not end a value";
  EXPECT_EQ(OcultarClaves("Password=xyz; clave =123"), "Password=****; clave =****");
  EXPECT_EQ(OcultarClaves("sin nada"), "sin nada");
}

// Through cBaseDatos::Conectar, where every message is masked: each file ends in one stop message that
// names the file and, for a line, its number; a long value shaped like a password key neither crashes the
// masking nor hides the hint.
TEST(LimitesDeConexion, ArchivosDesmedidosSeRechazanConArchivoYLinea) {
  const std::string largo(40 * 1024, 'x');
  std::string comentarios;
  while (comentarios.size() <= kMaximoArchivoConexion) comentarios += "# comentario corto\n";
  const std::pair<std::string, std::string> casos[] = {
      {"Motor=simulado\nArchivo=clave=" + largo + "\n", ", línea 2: línea demasiado larga (40974 caracteres"},
      {"Motor=clave=" + largo + "\n", ", línea 1: línea demasiado larga (40972 caracteres"},
      {"Motor=odbc\nCadena=Driver=X;PWD=" + largo + "\n", ", línea 2: línea demasiado larga"},
      {comentarios + "Motor=simulado\n", ": demasiado grande (más de 65536 bytes)"},
      {"Motor=simulado\nesto no\n", ", línea 2: falta el '=' (se esperaba Nombre=Valor)"},
  };
  for (const auto& [contenido, esperado] : casos) {
    SCOPED_TRACE(esperado);
    Carpeta c;
    const auto r = (c / "PagoraCliente.conexion").string();
    Escribir(r, contenido);
    auto grabador = std::make_shared<Grabador>();
    cMensajes m;
    m.FijarPresentador(grabador);
    cBaseDatos bd;
    bd.Mensajes(&m);
    bd.ArchivoExplicito(r);
    bd.BuscarArchivoConexion();
    EXPECT_FALSE(bd.Conectar());
    ASSERT_EQ(grabador->mensajes.size(), 1u);
    EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloStop);
    EXPECT_NE(grabador->mensajes[0].texto.find(r + esperado), std::string::npos)
        << grabador->mensajes[0].texto;
    EXPECT_LT(grabador->mensajes[0].texto.size(), 400u);
  }
}

// LeerConexion in a child process that the alarm ends after ten seconds, so that a read that never ends
// fails the test instead of hanging it: the error's description, "(sin error)", or "" when it hung.
std::string ErrorEnHijo(const std::string& ruta) {
  int tubo[2];
  if (::pipe(tubo) != 0) return "(sin tubo)";
  const pid_t hijo = ::fork();
  if (hijo == 0) {
    ::close(tubo[0]);
    ::alarm(10);
    std::string r = "(sin error)";
    try {
      LeerConexion(ruta);
    } catch (const ErrorBD& e) {
      r = e.Descripcion;
    }
    ::_exit(::write(tubo[1], r.data(), r.size()) < 0 ? 1 : 0);
  }
  ::close(tubo[1]);
  std::string r;
  char trozo[512];
  for (ssize_t n; (n = ::read(tubo[0], trozo, sizeof trozo)) > 0;)
    r.append(trozo, static_cast<std::size_t>(n));
  ::close(tubo[0]);
  ::waitpid(hijo, nullptr, 0);
  return r;
}

// A path given by the operator may name anything: a FIFO nobody writes to would block the open for good.
TEST(LimitesDeConexion, LoQueNoEsUnArchivoRegularSeRechazaSinColgarse) {
  Carpeta c;
  const auto fifo = (c / "fifo.conexion").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& ruta : {fifo, c.Ruta().string()}) {
    SCOPED_TRACE(ruta);
    EXPECT_EQ(ErrorEnHijo(ruta), "Archivo de conexión " + ruta + ": no es un archivo regular");
  }
}

// The masking is one pass: texts far longer than any line, and shapes that would make a backtracking
// matcher work hard, come back at once and whole.
TEST(LimitesDeConexion, OcultarClavesNoDependeDelLargo) {
  const std::string mucho(1 << 20, 'x');
  EXPECT_EQ(OcultarClaves("clave=" + mucho), "clave=****");
  EXPECT_EQ(OcultarClaves("Archivo=" + mucho + " PWD = {" + mucho), "Archivo=" + mucho + " PWD = ****");
  std::string pares, ocultos, sinIgual;
  for (int i = 0; i < 100000; ++i) {
    pares += "pwd=a b;";
    ocultos += "pwd=****;";
    sinIgual += "pwd password clave ";
  }
  EXPECT_EQ(OcultarClaves(pares), ocultos);
  EXPECT_EQ(OcultarClaves(sinIgual), sinIgual);
}

TEST(ResolverRuta, RelativaALaCarpetaDelArchivo) {
  EXPECT_EQ(ResolverRuta(CarpetaDe("/etc/pagora/P.conexion"), "base.sql"), "/etc/pagora/base.sql");
  EXPECT_EQ(ResolverRuta(CarpetaDe("P.conexion"), "b.sql"), "./b.sql");
  EXPECT_EQ(ResolverRuta(CarpetaDe("/P.conexion"), "b.sql"), "/b.sql");
  EXPECT_EQ(ResolverRuta("/x", "/abs.sql"), "/abs.sql");
}

// Through cBaseDatos: the messages the operator sees.
TEST(ConectarConArchivo, ErroresYAvisoDePermisos) {
  Carpeta c;
  auto grabador = std::make_shared<Grabador>();
  cMensajes m;
  m.FijarPresentador(grabador);
  cBaseDatos bd;
  bd.Mensajes(&m);
  const auto r = (c / "PagoraCliente.conexion").string();
  bd.ArchivoExplicito(r);
  bd.BuscarArchivoConexion();
  EXPECT_EQ(bd.ArchivoConexion(), r);
  EXPECT_FALSE(bd.Conectar());
  ASSERT_EQ(grabador->mensajes.size(), 1u);
  EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloStop);
  EXPECT_NE(grabador->mensajes[0].texto.find(r), std::string::npos);

  Escribir(r, "Motor=simulado\nArchivo=falta.sql\n");
  EXPECT_FALSE(bd.Conectar());
  EXPECT_NE(grabador->mensajes.back().texto.find("falta.sql"), std::string::npos);

  Escribir(c / "base.sql", "CREATE TABLE Parametros (PAR_Version smallint NULL)\nGO\n");
  Escribir(r, "Motor=simulado\nArchivo=base.sql\nClave=secreta\n");
  ::chmod(r.c_str(), 0644);
  grabador->mensajes.clear();
  EXPECT_TRUE(bd.Conectar());
  ASSERT_EQ(grabador->mensajes.size(), 1u);
  EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloExclamacion);
  EXPECT_EQ(grabador->mensajes[0].texto.find("secreta"), std::string::npos);
  ::chmod(r.c_str(), 0600);
  grabador->mensajes.clear();
  EXPECT_TRUE(bd.Conectar());
  EXPECT_TRUE(grabador->mensajes.empty());
}

}  // namespace
}  // namespace solvane::pruebas
