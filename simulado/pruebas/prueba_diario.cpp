// The journal beside the database file: a sequence of commits cut by a crash at every OS call, or by a
// failed write or fsync, reloads to exactly what was acknowledged; torn and foreign journals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Apoyo.h"
#include "motor/Deposito.h"

using simulado::Deposito;
using simulado::ErrorArchivo;
using simulado::LlamadasArchivo;
namespace fs = std::filesystem;
using apoyo::Leer;
using apoyo::Poner;

namespace {

// How the calls go wrong from the `cual`-th on (counted from 1 after Armar): a crash stops the process
// there (that call and all after it do nothing, a write leaves half its bytes: what kill -9 leaves in the
// page cache); a failure fails only that one, and only among writes or fsyncs when `solo` says so.
struct Inyeccion {
  enum class Modo { Nada, Caida, Fallo } modo = Modo::Nada;
  int cual = 0, cuenta = 0;
  std::string solo;
  bool ocurrio = false;
};
Inyeccion g;
LlamadasArchivo sistema;

// Whether this call must not happen; errno is then set for the failure.
bool Falla(const char* nombre) {
  if (g.modo == Inyeccion::Modo::Nada) return false;
  if (g.modo == Inyeccion::Modo::Fallo && !g.solo.empty() && g.solo != nombre) return false;
  const int n = ++g.cuenta;
  const bool falla = g.modo == Inyeccion::Modo::Caida ? n >= g.cual : n == g.cual;
  if (falla) {
    g.ocurrio = true;
    errno = EIO;
  }
  return falla;
}

LlamadasArchivo Trampas() {
  LlamadasArchivo t = sistema;
  t.abrir = [](const char* r, int b, mode_t m) { return Falla("open") ? -1 : sistema.abrir(r, b, m); };
  t.escribir = [](int fd, const void* o, size_t n) -> ssize_t {
    const bool caida = g.modo == Inyeccion::Modo::Caida && g.cuenta + 1 == g.cual;
    if (!Falla("write")) return sistema.escribir(fd, o, n);
    if (caida && n > 1) sistema.escribir(fd, o, n / 2);
    return -1;
  };
  t.sincronizar = [](int fd) { return Falla("fsync") ? -1 : sistema.sincronizar(fd); };
  t.renombrar = [](const char* a, const char* b) { return Falla("rename") ? -1 : sistema.renombrar(a, b); };
  t.borrar = [](const char* r) { return Falla("unlink") ? -1 : sistema.borrar(r); };
  t.cambiarModo = [](int fd, mode_t m) { return Falla("fchmod") ? -1 : sistema.cambiarModo(fd, m); };
  t.estado = [](int fd, struct stat* st) { return Falla("fstat") ? -1 : sistema.estado(fd, st); };
  t.estadoRuta = [](const char* r, struct stat* st) {
    return Falla("stat") ? -1 : sistema.estadoRuta(r, st);
  };
  t.posicionar = [](int fd, off_t o, int w) {
    return Falla("lseek") ? off_t{-1} : sistema.posicionar(fd, o, w);
  };
  t.crearTemporal = [](char* p, int b) { return Falla("mkostemp") ? -1 : sistema.crearTemporal(p, b); };
  t.truncar = [](int fd, off_t n) { return Falla("ftruncate") ? -1 : sistema.truncar(fd, n); };
  t.leer = [](int fd, void* d, size_t n) { return Falla("read") ? ssize_t{-1} : sistema.leer(fd, d, n); };
  t.bloquear = [](int fd, int op) { return Falla("flock") ? -1 : sistema.bloquear(fd, op); };
  // Closing is what the kernel does for a dead process too: it always happens.
  return t;
}

// Transactions of every kind a journal must replay exactly: the clock, identities given out and then
// rolled back or lost to a failed statement, an unnamed default (its name drawn from the id sequence),
// IDENTITY_INSERT, updates and deletes; a schema change and a journal past its size rewrite the file.
struct Transaccion {
  std::vector<std::string> sentencias;
  bool confirmar = true;
};
const std::vector<Transaccion> kSecuencia = {
    {{"INSERT INTO Caja (nombre, monto, hora) VALUES ('a', 1.5, GETDATE())"}},
    {{"INSERT INTO Caja (nombre) VALUES ('deshecha')"}, false},
    {{"INSERT INTO Caja (nombre) VALUES (NULL)", "INSERT INTO Caja (nombre, hora) VALUES ('b', GETDATE())",
      "UPDATE Caja SET monto = monto * 2 WHERE id = 1"}},
    {{"DELETE FROM Caja WHERE nombre = 'a'"}},
    {{"ALTER TABLE Caja ADD nota varchar(10) NOT NULL DEFAULT ('-')"}},
    {{"INSERT INTO Caja (nombre) VALUES ('c')", "SET IDENTITY_INSERT Caja ON",
      "INSERT INTO Caja (id, nombre, nota) VALUES (100, 'x', 'y')", "SET IDENTITY_INSERT Caja OFF"}},
    {{"INSERT INTO Caja (nombre, nota) VALUES ('d', 'e'), ('f', 'g'), ('h', 'i'), ('j', 'k'), ('l', 'm')"}},
    {{"UPDATE Caja SET nota = 'última' WHERE nombre = 'c'"}},
    {{"INSERT INTO Caja (nombre, hora) VALUES ('n', GETDATE())"}},
    {{"DELETE FROM Caja WHERE id = 100", "INSERT INTO Caja (nombre) VALUES ('o')"}},
};
constexpr std::uint64_t kMaximo = 600;  // bytes: the journal is folded into the file once on the way

class Diario : public ::testing::Test {
 protected:
  Diario() {
    std::string p = (fs::temp_directory_path() / "diarioXXXXXX").string();
    carpeta = ::mkdtemp(p.data());
    base = carpeta / "base.sql";
    diario = carpeta / "base.sql.diario";
    simulado::Servidor s("base");
    s.Ejecutar(
        "CREATE TABLE Caja (id int IDENTITY (1, 1) NOT NULL PRIMARY KEY, nombre varchar(40) NOT NULL, "
        "monto decimal(9,2) NULL, hora datetime NULL)");
    s.Ejecutar("INSERT INTO Caja (nombre, monto) VALUES ('inicial', 10), ('otra', NULL)");
    inicial = s.Script();
    sistema = simulado::Llamadas();
  }
  ~Diario() override {
    simulado::Llamadas() = sistema;
    std::error_code e;
    fs::remove_all(carpeta, e);
  }

  void Reponer() {
    Poner(base, inicial);
    std::error_code e;
    fs::remove(diario, e);
  }

  // Runs the sequence; returns the state after each acknowledged commit (the first entry: as loaded).
  // Stops at the first refused commit when `seguir` is false (the process is taken as dead there).
  std::vector<std::string> Correr(bool seguir) {
    std::vector<std::string> estados;
    try {
      Deposito d(base.string(), std::chrono::milliseconds(0), "base", maximo);
      std::int64_t hora = 1700000000000;
      d.Motor().Reloj([&] { return hora += 1000; });
      estados.push_back(d.Motor().Script());
      for (const auto& t : kSecuencia) {
        d.Motor().Ejecutar("BEGIN TRANSACTION");
        for (const auto& s : t.sentencias) try {
            d.Motor().Ejecutar(s);
          } catch (const simulado::ErrorSql&) {
          }
        if (!t.confirmar) {
          d.Motor().Ejecutar("ROLLBACK TRANSACTION");
          continue;
        }
        try {
          d.Confirmar();
        } catch (const ErrorArchivo&) {
          d.Motor().Ejecutar("ROLLBACK TRANSACTION");
          if (!seguir) break;
          continue;
        }
        d.Motor().Ejecutar("COMMIT TRANSACTION");
        estados.push_back(d.Motor().Script());
      }
    } catch (const ErrorArchivo&) {
      // Died while opening.
    }
    return estados;
  }

  std::string Recargar(std::vector<std::string>* avisos = nullptr) {
    Deposito d(base.string(), std::chrono::milliseconds(0), "base");
    if (avisos) *avisos = d.Avisos();
    return d.Motor().Script();
  }

  void Armar(Inyeccion::Modo modo, int cual, std::string solo = {}) {
    g = {};
    g.modo = modo;
    g.cual = cual;
    g.solo = std::move(solo);
    simulado::Llamadas() = Trampas();
  }
  void Desarmar() {
    g.modo = Inyeccion::Modo::Nada;
    simulado::Llamadas() = sistema;
  }

  fs::path carpeta, base, diario;
  std::string inicial;
  std::uint64_t maximo = kMaximo;
};

TEST_F(Diario, SinFallosCadaConfirmacionSeRecarga) {
  Reponer();
  const auto estados = Correr(false);
  ASSERT_EQ(estados.size(), 10u) << "a commit was refused";
  EXPECT_TRUE(fs::exists(diario)) << "the last commits go to the journal";
  EXPECT_LT(fs::file_size(diario), kMaximo);
  EXPECT_NE(Leer(base).find("'d'"), std::string::npos) << "the journal was folded in past its size";
  EXPECT_EQ(Recargar(), estados.back());
  // The unnamed default made by a replayed commit has the name the live server gave it.
  EXPECT_NE(estados.back().find("DF__Caja__nota__"), std::string::npos);
}

// A crash at each OS call in turn: what reloads is the last acknowledged commit, or the one in flight
// when its record had reached the file before the crash; it always loads, and never sets a journal aside.
TEST_F(Diario, UnaCaidaEnCadaLlamadaConservaLoReconocido) {
  Reponer();
  const auto esperados = Correr(false);
  int n = 1;
  for (; n < 2000; ++n) {
    Reponer();
    Armar(Inyeccion::Modo::Caida, n);
    const auto estados = Correr(false);
    const bool ocurrio = g.ocurrio;
    Desarmar();
    if (!ocurrio) break;
    const std::size_t reconocidas = estados.empty() ? 0 : estados.size() - 1;
    std::string cargado;
    ASSERT_NO_THROW(cargado = Recargar()) << "call " << n;
    const bool exacto = cargado == esperados[reconocidas];
    const bool enVuelo = reconocidas + 1 < esperados.size() && cargado == esperados[reconocidas + 1];
    EXPECT_TRUE(exacto || enVuelo) << "call " << n << ", " << reconocidas << " acknowledged:\n" << cargado;
    EXPECT_FALSE(fs::exists(carpeta / "base.sql.diario.descartado")) << "call " << n;
  }
  EXPECT_GT(n, 60) << "too few calls seen: is the table in use?";
  EXPECT_LT(n, 2000);
}

// The Nth write or fsync fails and the run goes on: that commit is refused and undone, the others stand,
// and the files reload to exactly the last acknowledged state (identities a refused commit drew are not
// given back in memory, and need not be after a restart).
TEST_F(Diario, UnaEscrituraOUnFsyncFallidosSoloPierdenSuConfirmacion) {
  for (const char* llamada : {"write", "fsync"}) {
    int n = 1;
    for (; n < 500; ++n) {
      Reponer();
      Armar(Inyeccion::Modo::Fallo, n, llamada);
      const auto estados = Correr(true);
      const bool ocurrio = g.ocurrio;
      Desarmar();
      if (!ocurrio) break;
      EXPECT_GE(estados.size(), 9u) << llamada << " " << n << ": more than one commit lost";
      EXPECT_EQ(Recargar(), estados.back()) << llamada << " " << n;
    }
    EXPECT_GT(n, 10) << llamada;
  }
}

TEST_F(Diario, UnFinalCortadoSeDescartaYSeDice) {
  maximo = 1 << 20;
  Reponer();
  const auto estados = Correr(false);
  const std::string entero = Leer(diario), archivo = Leer(base);
  const std::size_t ultimo = entero.rfind("-- Confirmación: ");
  ASSERT_NE(ultimo, std::string::npos);
  ASSERT_GT(ultimo, entero.find("-- Confirmación: ")) << "the test wants two records or more";
  for (std::size_t corte = ultimo; corte < entero.size(); corte += 3) {
    Poner(base, archivo);
    Poner(diario, entero.substr(0, corte));
    std::vector<std::string> avisos;
    ASSERT_EQ(Recargar(&avisos), estados[estados.size() - 2]) << corte;
    EXPECT_EQ(avisos.empty(), corte == ultimo) << corte;
    if (!avisos.empty()) {
      EXPECT_NE(avisos[0].find("incompleta"), std::string::npos) << avisos[0];
    }
    // The cut is made on disk too: the next record follows a whole one.
    EXPECT_EQ(fs::file_size(diario), ultimo);
  }
  // Damage before the end is no torn write: the opening is refused rather than losing what follows.
  std::string danado = entero;
  danado[entero.find("-- Confirmación: ") + 40] ^= 1;
  Poner(diario, danado);
  try {
    Recargar();
    ADD_FAILURE() << "a damaged journal loaded";
  } catch (const ErrorArchivo& e) {
    EXPECT_NE(e.descripcion.find("dañado"), std::string::npos) << e.descripcion;
  }
}

TEST_F(Diario, DiarioSinSuArchivoOAjenoSeExplica) {
  Reponer();
  const auto estados = Correr(false);
  const std::string d = Leer(diario);
  fs::remove(base);
  try {
    Recargar();
    ADD_FAILURE() << "opened without its file";
  } catch (const ErrorArchivo& e) {
    EXPECT_EQ(e.errno_, ENOENT);
    EXPECT_NE(e.descripcion.find("base.sql.diario"), std::string::npos) << e.descripcion;
  }
  // Beside another version of the file (a restored copy): not applied, kept aside, said.
  Poner(base, inicial);
  std::vector<std::string> avisos;
  EXPECT_EQ(Recargar(&avisos), estados[0]);
  ASSERT_EQ(avisos.size(), 1u);
  EXPECT_NE(avisos[0].find("descartado"), std::string::npos) << avisos[0];
  EXPECT_EQ(Leer(carpeta / "base.sql.diario.descartado"), d);
  EXPECT_FALSE(fs::exists(diario));
}

}  // namespace
