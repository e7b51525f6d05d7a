// The database file when the operating system fails: each call of one Abrir and one Escribir fails in turn.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "Apoyo.h"
#include "motor/Archivo.h"

using simulado::ArchivoBase;
using simulado::ErrorArchivo;
using simulado::LlamadasArchivo;
namespace fs = std::filesystem;
using apoyo::Leer;

namespace {

// Which call fails: the `cual`-th (from 1) after the count was reset; 0 lets every call through.
struct Inyeccion {
  int cual = 0;
  int cuenta = 0;
  int error = EIO;
  std::string fallida;
};
Inyeccion g;
LlamadasArchivo sistema;

bool Falla(const char* nombre) {
  if (++g.cuenta != g.cual) return false;
  g.fallida = nombre;
  errno = g.error;
  return true;
}

// Closing calls fail after doing their work, as the kernel does: the descriptor is gone either way.
LlamadasArchivo Trampas() {
  LlamadasArchivo t{};
  t.abrir = [](const char* r, int b, mode_t m) { return Falla("open") ? -1 : sistema.abrir(r, b, m); };
  t.cerrar = [](int fd) {
    const int r = sistema.cerrar(fd);
    return Falla("close") ? -1 : r;
  };
  t.leer = [](int fd, void* d, size_t n) { return Falla("read") ? ssize_t{-1} : sistema.leer(fd, d, n); };
  t.escribir = [](int fd, const void* o, size_t n) {
    return Falla("write") ? ssize_t{-1} : sistema.escribir(fd, o, n);
  };
  t.sincronizar = [](int fd) { return Falla("fsync") ? -1 : sistema.sincronizar(fd); };
  t.renombrar = [](const char* a, const char* b) { return Falla("rename") ? -1 : sistema.renombrar(a, b); };
  t.borrar = [](const char* r) { return Falla("unlink") ? -1 : sistema.borrar(r); };
  t.cambiarModo = [](int fd, mode_t m) { return Falla("fchmod") ? -1 : sistema.cambiarModo(fd, m); };
  t.cambiarDueno = [](int fd, uid_t u, gid_t gr) {
    return Falla("fchown") ? -1 : sistema.cambiarDueno(fd, u, gr);
  };
  t.bloquear = [](int fd, int op) { return Falla("flock") ? -1 : sistema.bloquear(fd, op); };
  t.estado = [](int fd, struct stat* st) { return Falla("fstat") ? -1 : sistema.estado(fd, st); };
  t.estadoRuta = [](const char* r, struct stat* st) {
    return Falla("stat") ? -1 : sistema.estadoRuta(r, st);
  };
  t.estadoEnlace = [](const char* r, struct stat* st) {
    return Falla("lstat") ? -1 : sistema.estadoEnlace(r, st);
  };
  t.posicionar = [](int fd, off_t o, int w) {
    return Falla("lseek") ? off_t{-1} : sistema.posicionar(fd, o, w);
  };
  t.crearTemporal = [](char* p, int b) { return Falla("mkostemp") ? -1 : sistema.crearTemporal(p, b); };
  t.rutaReal = [](const char* r, char* d) { return Falla("realpath") ? nullptr : sistema.rutaReal(r, d); };
  t.abrirCarpeta = [](const char* r) { return Falla("opendir") ? nullptr : sistema.abrirCarpeta(r); };
  t.leerCarpeta = [](DIR* d) { return Falla("readdir") ? nullptr : sistema.leerCarpeta(d); };
  t.cerrarCarpeta = [](DIR* d) {
    const int r = sistema.cerrarCarpeta(d);
    return Falla("closedir") ? -1 : r;
  };
  return t;
}

// Failures the file deliberately lives with: releasing a handle, the best-effort sweep of leftovers,
// and what follows the rename (the new state is already in place).
const std::set<std::string> kToleradas = {"close", "closedir", "opendir", "readdir"};
const std::set<std::string> kToleradasTrasRenombrar = {"close", "fstat", "open", "fsync"};

int Descriptores() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

class ArchivoFallos : public ::testing::TestWithParam<int> {
 protected:
  ArchivoFallos() {
    std::string p = (fs::temp_directory_path() / "fallosXXXXXX").string();
    carpeta = ::mkdtemp(p.data());
    base = carpeta / "base.sql";
    enlace = carpeta / "enlace.sql";
    std::ofstream(base, std::ios::binary) << "-- original\n";
    fs::create_symlink(base, enlace);
    sistema = simulado::Llamadas();
    g = {};
    g.error = GetParam();
  }
  ~ArchivoFallos() override {
    simulado::Llamadas() = sistema;
    std::error_code e;
    fs::remove_all(carpeta, e);
  }

  void Armar(int n) {
    g.cual = n;
    g.cuenta = 0;
    g.fallida.clear();
    simulado::Llamadas() = Trampas();
  }
  void Desarmar() { simulado::Llamadas() = sistema; }

  // Nothing of a run is left: the folder holds only the file and its link, no descriptor stayed open,
  // the lock went with the object (another opener gets it at once).
  void SinRestos(int antes, const std::string& contenido, int n) {
    EXPECT_EQ(Descriptores(), antes) << "descriptor left open, call " << n << " (" << g.fallida << ")";
    int entradas = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(carpeta)) ++entradas;
    EXPECT_EQ(entradas, 2) << "temporary left behind, call " << n << " (" << g.fallida << ")";
    EXPECT_EQ(Leer(base), contenido) << "call " << n << " (" << g.fallida << ")";
    EXPECT_NO_THROW(ArchivoBase::Abrir(enlace.string(), std::chrono::milliseconds(0)))
        << "lock kept, call " << n << " (" << g.fallida << ")";
  }

  fs::path carpeta, base, enlace;
};

TEST_P(ArchivoFallos, CadaLlamadaDeAbrir) {
  int n = 1;
  for (; n < 200; ++n) {
    const int antes = Descriptores();
    Armar(n);
    std::unique_ptr<ArchivoBase> a;
    try {
      a = ArchivoBase::Abrir(enlace.string(), std::chrono::milliseconds(0));
    } catch (const ErrorArchivo& e) {
      EXPECT_EQ(e.errno_, g.error) << "call " << n << " (" << g.fallida << "): " << e.descripcion;
      EXPECT_NE(e.descripcion.find(enlace.string()), std::string::npos) << e.descripcion;
    }
    Desarmar();
    const bool terminado = g.fallida.empty();
    if (a) {
      EXPECT_TRUE(terminado || kToleradas.count(g.fallida))
          << "call " << n << " (" << g.fallida << ") hidden";
      EXPECT_EQ(a->Contenido(), "-- original\n");
      a.reset();
    }
    SinRestos(antes, "-- original\n", n);
    if (terminado) break;
  }
  EXPECT_GT(n, 8) << "too few calls seen: is the table in use?";
  EXPECT_LT(n, 200);
}

// After a refused write the same object writes again once the system recovers.
TEST_P(ArchivoFallos, CadaLlamadaDeEscribir) {
  int n = 1;
  for (; n < 200; ++n) {
    const int antes = Descriptores();
    auto a = ArchivoBase::Abrir(enlace.string(), std::chrono::milliseconds(0));
    Armar(n);
    std::string esperado = "-- nuevo\n";
    try {
      a->Escribir(esperado);
      Desarmar();
      EXPECT_TRUE(g.fallida.empty() || kToleradasTrasRenombrar.count(g.fallida))
          << "call " << n << " (" << g.fallida << ") hidden";
    } catch (const ErrorArchivo& e) {
      Desarmar();
      EXPECT_EQ(e.errno_, g.error) << "call " << n << " (" << g.fallida << "): " << e.descripcion;
      EXPECT_EQ(Leer(base), "-- original\n") << "call " << n << " (" << g.fallida << ")";
      EXPECT_NO_THROW(a->Escribir(esperado)) << "after call " << n << " (" << g.fallida << ")";
    }
    a.reset();
    SinRestos(antes, esperado, n);
    std::ofstream(base, std::ios::binary | std::ios::trunc) << "-- original\n";
    if (g.fallida.empty()) break;
  }
  EXPECT_GT(n, 8) << "too few calls seen: is the table in use?";
  EXPECT_LT(n, 200);
}

INSTANTIATE_TEST_SUITE_P(Errores, ArchivoFallos, ::testing::Values(EIO, ENOSPC));

}  // namespace
