// The database file: lock between openers, leftovers, what is not a file, read-only files, changes behind
// our back and failed writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Apoyo.h"
#include "motor/Archivo.h"

using simulado::ArchivoBase;
using simulado::ErrorArchivo;
namespace fs = std::filesystem;
using apoyo::Leer;
using apoyo::Poner;
using namespace std::chrono_literals;

namespace {

struct stat Estado(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st;
}

std::vector<std::string> Nombres(const fs::path& carpeta) {
  std::vector<std::string> r;
  for (const auto& e : fs::directory_iterator(carpeta)) r.push_back(e.path().filename().string());
  std::sort(r.begin(), r.end());
  return r;
}

// The error Abrir or Escribir refuses with; a test fails when nothing is refused.
template <class F>
ErrorArchivo Rechazo(F&& f) {
  try {
    f();
  } catch (const ErrorArchivo& e) {
    return e;
  }
  ADD_FAILURE() << "not refused";
  return ErrorArchivo(-1, "");
}

class Archivo : public ::testing::Test {
 protected:
  Archivo() {
    std::string p = (fs::temp_directory_path() / "archivoXXXXXX").string();
    carpeta = ::mkdtemp(p.data());
    base = carpeta / "base.sql";
    Poner(base, "-- original\n");
  }
  ~Archivo() override {
    std::error_code e;
    fs::permissions(carpeta, fs::perms::owner_all, e);
    fs::remove_all(carpeta, e);
  }
  fs::path carpeta;
  fs::path base;
};

// --- Two openers: flock belongs to the open file description, so a second Abrir in this very process
// competes exactly as another program would.

TEST_F(Archivo, ElSegundoEsperaYEsRechazadoHastaQueElPrimeroCierra) {
  auto primero = ArchivoBase::Abrir(base.string());
  const auto t0 = std::chrono::steady_clock::now();
  const auto e = Rechazo([&] { ArchivoBase::Abrir(base.string(), 200ms); });
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 190ms) << "refused without waiting";
  EXPECT_EQ(e.errno_, EWOULDBLOCK);
  EXPECT_NE(e.descripcion.find("en uso por otro programa"), std::string::npos) << e.descripcion;
  EXPECT_NE(e.descripcion.find(base.string()), std::string::npos) << e.descripcion;

  // A waiting opener gets the file once the holder closes, within its wait.
  std::unique_ptr<ArchivoBase> segundo;
  std::thread espera([&] { segundo = ArchivoBase::Abrir(base.string(), 5s); });
  std::this_thread::sleep_for(100ms);
  primero.reset();
  espera.join();
  ASSERT_TRUE(segundo);
  EXPECT_EQ(segundo->Contenido(), "-- original\n");
}

// Each write puts a new file (inode) at the path: the lock must move with it, and an opener that was
// waiting on the old one must end up with the last file written, not the one it first opened.
TEST_F(Archivo, ElBloqueoSigueAlArchivoAlReemplazarlo) {
  auto primero = ArchivoBase::Abrir(base.string());
  primero->Escribir("-- 1\n");
  EXPECT_THROW(ArchivoBase::Abrir(base.string(), 50ms), ErrorArchivo) << "the lock was lost in the rename";

  std::unique_ptr<ArchivoBase> segundo;
  std::atomic<bool> tiene{false};
  std::thread espera([&] {
    segundo = ArchivoBase::Abrir(base.string(), 5s);
    tiene = true;
  });
  std::this_thread::sleep_for(100ms);
  for (int i = 2; i <= 5; ++i) {
    primero->Escribir("-- " + std::to_string(i) + "\n");
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(tiene) << "a second holder while the first still writes, after write " << i;
  }
  primero.reset();
  espera.join();
  ASSERT_TRUE(segundo);
  EXPECT_EQ(segundo->Contenido(), "-- 5\n");
  segundo->Escribir("-- 6\n");
  EXPECT_EQ(Leer(base), "-- 6\n");
}

// --- Leftovers of a killed write: only our exact pattern, only a regular file nobody holds.

TEST_F(Archivo, QuitaLosTemporalesPropiosYDejaLosAjenos) {
  struct Caso {
    const char* nombre;
    bool quitado;
  };
  const Caso casos[] = {
      {".base.sql.Ab3xZ9", true},   {".base.sql.000000", true},   {".base.sql.Ab3xZ", false},
      {".base.sql.Ab3xZ99", false}, {".base.sql.Ab-xZ9", false},  {".base.sql.Ab3xZ.", false},
      {"base.sql.Ab3xZ9", false},   {".otra.sql.Ab3xZ9", false},  {".base.sqlAb3xZ9", false},
      {"..base.sql.Ab3xZ9", false}, {".base.sql.Ab3xZ9~", false},
  };
  for (const auto& c : casos) Poner(carpeta / c.nombre, "restos con datos de tarjeta");
  fs::create_directory(carpeta / ".base.sql.Carpet");
  fs::create_symlink(base, carpeta / ".base.sql.Enlace");
  // One of our pattern still locked by somebody.
  Poner(carpeta / ".base.sql.Tomado", "x");
  auto tomado = ArchivoBase::Abrir((carpeta / ".base.sql.Tomado").string());

  {
    auto quien = ArchivoBase::Abrir(base.string());
    EXPECT_EQ(quien->Contenido(), "-- original\n");
  }
  for (const auto& c : casos) EXPECT_EQ(!fs::exists(carpeta / c.nombre), c.quitado) << c.nombre;
  EXPECT_TRUE(fs::is_directory(carpeta / ".base.sql.Carpet"));
  EXPECT_TRUE(fs::is_symlink(carpeta / ".base.sql.Enlace"));
  EXPECT_TRUE(fs::exists(carpeta / ".base.sql.Tomado"));
  EXPECT_EQ(Leer(base), "-- original\n");
}

TEST_F(Archivo, SinElBloqueoNoSeTocanLosTemporales) {
  auto primero = ArchivoBase::Abrir(base.string());
  Poner(carpeta / ".base.sql.q1W2e3", "a medio escribir");
  EXPECT_THROW(ArchivoBase::Abrir(base.string(), 20ms), ErrorArchivo);
  EXPECT_TRUE(fs::exists(carpeta / ".base.sql.q1W2e3")) << "removed by an opener that did not hold the file";
}

// --- What is not a regular file is refused at once (a fifo must not hang the open).

TEST_F(Archivo, RechazaLoQueNoEsUnArchivo) {
  ASSERT_EQ(::mkfifo((carpeta / "tuberia").c_str(), 0600), 0);
  fs::create_directory(carpeta / "sub");
  struct Caso {
    std::string ruta;
    const char* palabra;
  };
  const Caso casos[] = {
      {".", "carpeta"},
      {carpeta.string(), "carpeta"},
      {(carpeta / "sub").string() + "/", "carpeta"},
      {(carpeta / "tuberia").string(), "tubería"},
      {"/dev/null", "dispositivo"},
      {(carpeta / "no-existe.sql").string(), "No se encuentra"},
      {"", "No se indicó"},
  };
  for (const auto& c : casos) {
    const auto e = Rechazo([&] { ArchivoBase::Abrir(c.ruta, 100ms); });
    EXPECT_NE(e.descripcion.find(c.palabra), std::string::npos) << c.ruta << ": " << e.descripcion;
    EXPECT_NE(e.errno_, 0) << c.ruta;
  }
}

// A symbolic link names the database: the file it points to is replaced, the link stays a link.
TEST_F(Archivo, UnEnlaceReemplazaSuDestino) {
  const auto enlace = carpeta / "enlace.sql";
  fs::create_symlink("base.sql", enlace);
  auto a = ArchivoBase::Abrir(enlace.string());
  a->Escribir("-- por el enlace\n");
  EXPECT_TRUE(fs::is_symlink(enlace));
  EXPECT_EQ(Leer(base), "-- por el enlace\n");
  EXPECT_THROW(ArchivoBase::Abrir(base.string(), 20ms), ErrorArchivo) << "link and target are one file";
}

// --- Read-only files are honoured; a replaced file keeps its mode and owner.

TEST_F(Archivo, SoloLecturaSeRespetaAunSiendoRoot) {
  for (const mode_t modo : {0444u, 0400u, 0555u, 0000u}) {
    if (modo == 0000u && ::geteuid() != 0) continue;  // unreadable for anyone but root
    Poner(base, "-- intacta\n");
    ASSERT_EQ(::chmod(base.c_str(), modo), 0);
    auto a = ArchivoBase::Abrir(base.string());
    const auto e = Rechazo([&] { a->Escribir("-- nueva\n"); });
    EXPECT_NE(e.descripcion.find("solo lectura"), std::string::npos) << e.descripcion;
    EXPECT_EQ(Leer(base), "-- intacta\n");
    EXPECT_EQ(Estado(base).st_mode & 07777, modo);
    EXPECT_EQ(Nombres(carpeta), std::vector<std::string>{"base.sql"});
    ::chmod(base.c_str(), 0600);
  }
}

TEST_F(Archivo, ReemplazarConservaModoYDueno) {
  for (const mode_t modo : {0600u, 0640u, 0664u, 0604u, 0660u | S_ISGID}) {
    ASSERT_EQ(::chmod(base.c_str(), modo), 0);
    auto a = ArchivoBase::Abrir(base.string());
    a->Escribir("-- modo\n");
    EXPECT_EQ(Estado(base).st_mode & 07777, modo);
  }
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another owner takes root";
  ASSERT_EQ(::chown(base.c_str(), 4321, 4322), 0);
  auto a = ArchivoBase::Abrir(base.string());
  a->Escribir("-- dueño\n");
  EXPECT_EQ(Estado(base).st_uid, 4321u);
  EXPECT_EQ(Estado(base).st_gid, 4322u);
}

// A user who may write a file of somebody else (group or world write bit) must not take it over by
// replacing it: the write is refused and the file stays as it was.
TEST_F(Archivo, SinPoderConservarElDuenoNoSeGraba) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to set the scene for two users";
  ASSERT_EQ(::chmod(carpeta.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(base.c_str(), 0666), 0);
  ASSERT_EQ(::chown(base.c_str(), 4321, 4321), 0);
  const pid_t hijo = ::fork();
  ASSERT_GE(hijo, 0);
  if (hijo == 0) {
    int r = 1;
    if (::setgid(4400) == 0 && ::setuid(4400) == 0) {
      try {
        ArchivoBase::Abrir(base.string())->Escribir("-- usurpada\n");
        r = 2;
      } catch (const ErrorArchivo& e) {
        r = e.descripcion.find("dueño") != std::string::npos ? 0 : 3;
      }
    }
    ::_exit(r);
  }
  int estado = 0;
  ASSERT_EQ(::waitpid(hijo, &estado, 0), hijo);
  ASSERT_TRUE(WIFEXITED(estado));
  EXPECT_EQ(WEXITSTATUS(estado), 0) << "1 no second user, 2 written, 3 other message";
  EXPECT_EQ(Leer(base), "-- original\n");
  EXPECT_EQ(Estado(base).st_uid, 4321u);
  EXPECT_EQ(Nombres(carpeta), std::vector<std::string>{"base.sql"});
}

// --- A file changed by someone else since our load or last write is not overwritten.

TEST_F(Archivo, CambiadoPorOtroNoSeSobrescribe) {
  struct Caso {
    const char* que;
    void (*cambiar)(const fs::path&);
  };
  const Caso casos[] = {
      {"same size in place",
       [](const fs::path& p) {
         auto t = Leer(p);
         t[3] = 'X';
         Poner(p, t);
       }},
      {"same size in place, times put back (as cp -p does)",
       [](const fs::path& p) {
         const struct stat antes = Estado(p);
         auto t = Leer(p);
         t[4] = 'Y';
         Poner(p, t);
         const struct timespec tiempos[2] = {antes.st_atim, antes.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), tiempos, 0), 0);
       }},
      {"appended", [](const fs::path& p) { std::ofstream(p, std::ios::app) << "GO\n"; }},
      {"replaced by rename",
       [](const fs::path& p) {
         Poner(p.string() + ".n", "-- editor\n");
         fs::rename(p.string() + ".n", p);
       }},
      {"removed", [](const fs::path& p) { fs::remove(p); }},
  };
  for (const auto& c : casos) {
    for (const bool yaGrabo : {false, true}) {
      Poner(base, "-- original\n");
      auto a = ArchivoBase::Abrir(base.string());
      if (yaGrabo) a->Escribir("-- propia\n");
      c.cambiar(base);
      const std::string ajeno = fs::exists(base) ? Leer(base) : "";
      const auto e = Rechazo([&] { a->Escribir("-- perdería lo ajeno\n"); });
      EXPECT_NE(e.descripcion.find("cambió"), std::string::npos) << c.que << ": " << e.descripcion;
      EXPECT_EQ(fs::exists(base) ? Leer(base) : "", ajeno) << c.que;
      EXPECT_LE(Nombres(carpeta).size(), 1u) << c.que << ": a temporary was left";
    }
  }
}

// --- A write that fails leaves the file as it was and no temporary. A file size limit makes write()
// fail for root too, where a read-only folder would not.
TEST_F(Archivo, EscrituraFallidaNoDejaTemporal) {
  auto a = ArchivoBase::Abrir(base.string());
  struct rlimit antes {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &antes), 0);
  auto* senal = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit chico = antes;
  chico.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &chico), 0);
  const auto e = Rechazo([&] { a->Escribir(std::string(10000, 'x')); });
  ::setrlimit(RLIMIT_FSIZE, &antes);
  ::signal(SIGXFSZ, senal);
  EXPECT_EQ(e.errno_, EFBIG) << e.descripcion;
  EXPECT_EQ(Leer(base), "-- original\n");
  EXPECT_EQ(Nombres(carpeta), std::vector<std::string>{"base.sql"});
  // Still the holder, and the next write goes through.
  EXPECT_THROW(ArchivoBase::Abrir(base.string(), 20ms), ErrorArchivo);
  a->Escribir("-- luego\n");
  EXPECT_EQ(Leer(base), "-- luego\n");
}

}  // namespace
