// The simulated engine's hold on its database file, as the operator meets it through cBaseDatos.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "Apoyo.h"

namespace solvane::pruebas {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> Temporales(const std::filesystem::path& carpeta) {
  std::vector<std::string> r;
  for (const auto& e : std::filesystem::directory_iterator(carpeta))
    if (e.path().filename().string().rfind(".base.sql.", 0) == 0) r.push_back(e.path().filename().string());
  return r;
}

// A second run on the same file waits a little and is then told, in words, that the database is in use;
// it gets the file once the first run disconnects.
TEST(ArchivoSimulado, UnaSegundaEjecucionEncuentraLaBaseEnUso) {
  BaseSimulada base(ScriptVersion("20500"));
  Operador primero(base.Conexion()), segundo(base.Conexion());
  ASSERT_TRUE(primero.bd.Conectar()) << primero.Ultimo();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(segundo.bd.Conectar());
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 4s) << "refused without waiting for the holder";
  const std::string texto = segundo.Ultimo();
  EXPECT_EQ(texto.rfind("No se pudo conectar a la base de datos: " + std::to_string(EWOULDBLOCK) + " ", 0),
            0u)
      << texto;
  EXPECT_NE(texto.find("está en uso por otro programa"), std::string::npos) << texto;
  EXPECT_NE(texto.find("base.sql"), std::string::npos) << texto;

  // The first run's commit is not disturbed, and the second one then sees it.
  primero.bd.IniciarTransaccion();
  Correr(primero.bd, "UPDATE Parametros SET PAR_Version = 30100");
  EXPECT_TRUE(primero.bd.ConfirmarTransaccion());
  primero.bd.Desconectar();
  ASSERT_TRUE(segundo.bd.Conectar()) << segundo.Ultimo();
  EXPECT_EQ(Version(segundo.bd), "30100");
}

// Whatever stops the file from being written at the outermost commit, the operator is told with the OS
// error number, the transaction is undone in memory and the file keeps what it had.
TEST(ArchivoSimulado, UnaConfirmacionRechazadaDeshaceYConservaElArchivo) {
  struct Caso {
    const char* que;
    long numero;
    const char* palabra;
    void (*danar)(const std::filesystem::path&);
  };
  const Caso casos[] = {
      {"read-only file", EACCES, "solo lectura",
       [](const std::filesystem::path& p) { ::chmod(p.c_str(), 0444); }},
      {"edited by another program", 0, "cambió",
       [](const std::filesystem::path& p) {
         std::string t = Leer(p);
         t[0] = '#';  // same size, in place
         Escribir(p, t);
       }},
  };
  for (const auto& c : casos) {
    BaseSimulada base(ScriptVersion("20500"));
    Operador op(base.Conexion());
    ASSERT_TRUE(op.bd.Conectar()) << op.Ultimo();
    op.bd.IniciarTransaccion();
    Correr(op.bd, "UPDATE Parametros SET PAR_Version = 30100");
    c.danar(base.carpeta / "base.sql");
    const std::string antes = base.Script();
    try {
      op.bd.ConfirmarTransaccion();
      ADD_FAILURE() << c.que << ": committed";
    } catch (const ErrorBD& e) {
      EXPECT_EQ(e.Numero, c.numero) << c.que;
      EXPECT_NE(e.Descripcion.find(c.palabra), std::string::npos) << c.que << ": " << e.Descripcion;
    }
    EXPECT_EQ(op.bd.NivelTransaccion(), 0) << c.que;
    EXPECT_EQ(Version(op.bd), "20500") << c.que << ": memory and file disagree";
    EXPECT_EQ(base.Script(), antes) << c.que;
    EXPECT_TRUE(Temporales(base.carpeta.Ruta()).empty()) << c.que;
  }
}

// Archivo= naming a folder (the connection file's own, with ".") or a device is refused at connect,
// instead of loading as an empty database that fails later.
TEST(ArchivoSimulado, ArchivoQueNoEsUnArchivoSeRechazaAlConectar) {
  BaseSimulada base(ScriptVersion("20500"));
  std::filesystem::create_directory(base.carpeta / "sub");
  for (const char* archivo : {".", "sub", "/dev/null"}) {
    Escribir(base.Conexion(), std::string("Motor=simulado\nArchivo=") + archivo + "\n");
    Operador op(base.Conexion());
    EXPECT_FALSE(op.bd.Conectar()) << archivo;
    EXPECT_NE(op.Ultimo().find("no un archivo"), std::string::npos) << archivo << ": " << op.Ultimo();
  }
}

// A run killed in the middle of writing the file at a commit leaves its temporary (with the whole
// database in it) beside the file; the next run removes it and loads the file whole.
TEST(ArchivoSimulado, UnaEjecucionMatadaAlGrabarNoDejaRestos) {
  std::string script =
      ScriptVersion("20500") + "CREATE TABLE Relleno (a int NOT NULL, b varchar (60) NULL)\nGO\n";
  for (int i = 0; i < 4000; ++i)
    script +=
        "INSERT INTO Relleno (a, b) VALUES (" + std::to_string(i) + ", '" + std::string(50, 'r') + "')\n";
  script += "GO\n";
  BaseSimulada base(script);
  bool visto = false;
  for (int intento = 0; intento < 10 && !visto; ++intento) {
    const pid_t hijo = ::fork();
    ASSERT_GE(hijo, 0);
    if (hijo == 0) {
      try {
        Operador op(base.Conexion());
        if (!op.bd.Conectar()) ::_exit(3);
        for (int i = 0; i < 1000; ++i) {
          op.bd.IniciarTransaccion();
          Correr(op.bd, "UPDATE Parametros SET PAR_Version = " + std::to_string(20000 + i));
          op.bd.ConfirmarTransaccion();
        }
      } catch (...) {
        ::_exit(4);
      }
      ::_exit(0);
    }
    const auto limite = std::chrono::steady_clock::now() + 20s;
    while (Temporales(base.carpeta.Ruta()).empty() && std::chrono::steady_clock::now() < limite)
      std::this_thread::sleep_for(100us);
    ::kill(hijo, SIGKILL);
    int estado = 0;
    ASSERT_EQ(::waitpid(hijo, &estado, 0), hijo);
    ASSERT_TRUE(WIFSIGNALED(estado)) << "the writer ended by itself with " << WEXITSTATUS(estado);
    visto = !Temporales(base.carpeta.Ruta()).empty();
  }
  ASSERT_TRUE(visto) << "no kill landed while a temporary existed";

  Operador op(base.Conexion());
  ASSERT_TRUE(op.bd.Conectar()) << op.Ultimo();
  EXPECT_EQ(Temporales(base.carpeta.Ruta()), std::vector<std::string>{});
  const int version = std::stoi(Version(op.bd));
  EXPECT_TRUE(version == 20500 || (version >= 20000 && version < 21000)) << version;
  op.bd.CargarSQL("Select COUNT(*) From Relleno");
  Recordset rs;
  long cero = 0;
  ASSERT_TRUE(op.bd.AbrirConsulta(rs, cero));
  EXPECT_EQ(rs.Campo(std::size_t{0}), ValorCampo("4000"));
}

}  // namespace
}  // namespace solvane::pruebas
