// Benchmark: the simulated engine at a shop's size beside sqlite3: loading, the dump, the whole update
// chain, time and memory; and what one commit costs in solvane-servidor.
//
// bench_chain [--antes SERVIDOR] [--sin-cadena] [N ...]   (default 10000 200000 400000 2000000). The
// database is the demo database's base tables plus N generated rows in Transaccion and TransOFF and in
// Tarjeta (whose smallint key holds at most 65,436 generated codes beside the demo's and the chain's own).
// For each N, each measurement runs in a child process of its own, so that its peak resident size (VmHWM in
// /proc/self/status) is its own:
//   carga      the file loaded by the engine (time, CPU, VmRSS after it), then the dump written back (time)
//   cadena     Solvane's whole chain through cBaseDatos on Motor=simulado: connect, chain, commit
//   sqlite3    `sqlite3 :memory:` fed the same file converted mechanically (GO lines to ';', the T-SQL
//              only words of the table definitions dropped), its peak from wait4 (the same counter)
// Then the commits: solvane-servidor serves the demo database, one of about 8 MB and one of about 80 MB,
// and a client (FreeTDS's ODBC driver) times one-row INSERTs in autocommit, each acknowledged only once
// durable: this build's server with --diario 64 and without it, and the server given by --antes (a build
// of the previous version) when there is one. After the server's stop the file must load with every
// acknowledged row.
#include <fcntl.h>
#include <signal.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BaseGrande.h"
#include "motor/Deposito.h"
#include "motores/MotorSimulado.h"
#include "nucleo/cActualiza.h"
#include "nucleo/cBaseDatos.h"
#include "nucleo/cMensajes.h"
#include "pruebas/tds/Proceso.h"

namespace {

using Reloj = std::chrono::steady_clock;

double Segundos(Reloj::time_point desde) {
  return std::chrono::duration<double>(Reloj::now() - desde).count();
}

double Mb(double kb) {
  return kb / 1024.0;
}

// A line of /proc/self/status in kB ("VmRSS", "VmHWM").
double Estado(const char* campo) {
  std::ifstream f("/proc/self/status");
  std::string l;
  while (std::getline(f, l))
    if (l.rfind(campo, 0) == 0 && l[std::string(campo).size()] == ':')
      return std::strtod(l.c_str() + std::string(campo).size() + 1, nullptr);
  return 0;
}

class SinProgreso : public solvane::Progreso {
 public:
  void Mostrar() override {}
  void Etiqueta(const std::string&) override {}
  void Descargar() override {}
};

// Answers Yes to the question and keeps the last message for the report.
class Respondedor : public solvane::Presentador {
 public:
  int Mostrar(const std::string&, const std::string& texto, int estilo) override {
    ultimo = texto;
    return estilo == solvane::kEstiloPregunta ? solvane::kRespuestaSi : solvane::kRespuestaAceptar;
  }
  std::string ultimo;
};

// What a child measured, sent back to the parent through a pipe.
struct Medida {
  double carga = 0, rssCarga = 0, volcado = 0, pico = 0, cadena = 0, cpu = 0;
  bool ok = false;
};

double Cpu(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs `medir` in a child and returns what it measured.
Medida EnHijo(const std::function<Medida()>& medir) {
  int tubo[2];
  if (::pipe(tubo) != 0) std::exit(2);
  const pid_t hijo = ::fork();
  if (hijo < 0) std::exit(2);
  if (hijo == 0) {
    ::close(tubo[0]);
    const Medida m = medir();
    const bool escrito = ::write(tubo[1], &m, sizeof m) == static_cast<ssize_t>(sizeof m);
    _exit(escrito ? 0 : 1);
  }
  ::close(tubo[1]);
  Medida m;
  if (::read(tubo[0], &m, sizeof m) != static_cast<ssize_t>(sizeof m)) m.ok = false;
  ::close(tubo[0]);
  ::waitpid(hijo, nullptr, 0);
  return m;
}

Medida Carga(const std::string& archivo) {
  Medida m;
  try {
    const auto t0 = Reloj::now();
    simulado::Deposito d(archivo, std::chrono::seconds(5), "base");
    m.carga = Segundos(t0);
    m.rssCarga = Estado("VmRSS");
    rusage uso{};
    ::getrusage(RUSAGE_SELF, &uso);
    m.cpu = Cpu(uso);
    const auto t1 = Reloj::now();
    d.Grabar();
    m.volcado = Segundos(t1);
    m.ok = true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "carga: %s\n", e.what());
  }
  m.pico = Estado("VmHWM");
  return m;
}

Medida Cadena(const std::string& archivo) {
  Medida m;
  auto respondedor = std::make_shared<Respondedor>();
  solvane::Mensajes().FijarPresentador(respondedor);
  solvane::cBaseDatos bd;
  bd.Mensajes(&solvane::Mensajes());
  bd.Motor(solvane::CrearMotorSimulado(archivo));
  const auto t0 = Reloj::now();
  if (!bd.Conectar()) {
    std::fprintf(stderr, "no conecta: %s\n", respondedor->ultimo.c_str());
    return m;
  }
  m.carga = Segundos(t0);
  m.rssCarga = Estado("VmRSS");
  SinProgreso progreso;
  const auto t1 = Reloj::now();
  try {
    solvane::cActualiza actualiza(
        bd, solvane::Mensajes(), progreso, [] {}, 30100);
    m.ok = actualiza.ActualizaVersion();
  } catch (const solvane::ErrorBD& e) {
    std::fprintf(stderr, "error %ld %s\n", e.Numero, e.Descripcion.c_str());
  }
  m.cadena = Segundos(t1);
  bd.Desconectar();
  if (!m.ok) std::fprintf(stderr, "la cadena no terminó: %s\n", respondedor->ultimo.c_str());
  m.pico = Estado("VmHWM");
  return m;
}

// The file as SQLite reads it: each GO line a ';', the words of SQL Server's table definitions that
// SQLite does not know dropped (CLUSTERED, COLLATE x, WITH FILLFACTOR = n, IDENTITY (a, b)), comments,
// SET IDENTITY_INSERT and DBCC lines left out. Enough for this benchmark's own databases.
void ASqlite(const std::string& desde, const std::string& hacia) {
  std::ifstream f(desde, std::ios::binary);
  std::ofstream o(hacia, std::ios::binary | std::ios::trunc);
  // Drops `inicio` and what follows it up to the end of the next word (or up to `cierre`, included).
  auto quitar = [](std::string& l, const std::string& inicio, bool palabra, char cierre = 0) {
    for (std::size_t p = l.find(inicio); p != std::string::npos; p = l.find(inicio, p)) {
      std::size_t fin = p + inicio.size();
      if (cierre) {
        fin = l.find(cierre, fin) + 1;
      } else if (palabra) {
        while (fin < l.size() && l[fin] == ' ') ++fin;
        while (fin < l.size() && l[fin] != ' ' && l[fin] != ',' && l[fin] != ')') ++fin;
      }
      l.erase(p, fin - p);
    }
  };
  std::string l;
  while (std::getline(f, l)) {
    if (l.rfind("--", 0) == 0 || l.rfind("SET IDENTITY_INSERT", 0) == 0 || l.rfind("DBCC", 0) == 0) continue;
    if (l == "GO") {
      o << ";\n";
      continue;
    }
    if (l[0] != '(' && l.rfind("INSERT", 0) != 0) {
      quitar(l, " NONCLUSTERED", false);
      quitar(l, " CLUSTERED", false);
      quitar(l, " COLLATE", true);
      quitar(l, " WITH FILLFACTOR =", true);
      quitar(l, " IDENTITY (", false, ')');
    }
    o << l << '\n';
  }
}

Medida Sqlite(const std::string& script) {
  Medida m;
  const auto t0 = Reloj::now();
  const pid_t hijo = ::fork();
  if (hijo == 0) {
    if (!std::freopen(script.c_str(), "r", stdin) || !std::freopen("/dev/null", "w", stdout)) _exit(126);
    ::execlp("sqlite3", "sqlite3", ":memory:", static_cast<char*>(nullptr));
    _exit(127);
  }
  int st = 0;
  rusage uso{};
  ::wait4(hijo, &st, 0, &uso);
  m.carga = Segundos(t0);
  m.cpu = Cpu(uso);
  m.pico = static_cast<double>(uso.ru_maxrss);
  m.ok = WIFEXITED(st) && WEXITSTATUS(st) == 0;
  return m;
}

int Medir(std::size_t n) {
  const auto carpeta = std::filesystem::temp_directory_path() / ("bench_chain_" + std::to_string(::getpid()));
  std::filesystem::create_directories(carpeta);
  const std::string archivo = (carpeta / "base.sql").string(), lite = (carpeta / "sqlite.sql").string();
  bench::EscribirBase(archivo, n);
  ASqlite(archivo, lite);
  const double mbArchivo = static_cast<double>(std::filesystem::file_size(archivo)) / 1048576.0;
  const std::string copia = (carpeta / "copia.sql").string();
  std::filesystem::copy_file(archivo, copia);

  const Medida carga = EnHijo([&] { return Carga(copia); });
  const Medida cadena = EnHijo([&] { return Cadena(archivo); });
  const Medida lite3 = Sqlite(lite);
  const double mbFinal = static_cast<double>(std::filesystem::file_size(archivo)) / 1048576.0;
  std::filesystem::remove_all(carpeta);

  std::printf("N=%zu  archivo %.1f MB (tras la cadena %.1f MB)\n", n, mbArchivo, mbFinal);
  std::printf(
      "  simulado  carga %.2f s (cpu %.2f s), RSS tras la carga %.1f MB; volcado %.2f s (pico %.1f MB)\n",
      carga.carga, carga.cpu, Mb(carga.rssCarga), carga.volcado, Mb(carga.pico));
  std::printf(
      "  cadena    conexión %.2f s + cadena y grabación %.2f s = %.2f s; pico %.1f MB = %.2f × el "
      "archivo%s\n",
      cadena.carga, cadena.cadena, cadena.carga + cadena.cadena, Mb(cadena.pico), Mb(cadena.pico) / mbArchivo,
      cadena.ok ? "" : "  (NO TERMINÓ)");
  std::printf("  sqlite3   :memory: carga %.2f s (cpu %.2f s), pico %.1f MB%s\n", lite3.carga, lite3.cpu,
              Mb(lite3.pico), lite3.ok ? "" : "  (FALLÓ)");
  std::printf(
      "  razones   RSS tras la carga %.2f × SQLite; carga %.2f × SQLite (cpu %.2f ×); pico de la cadena %.2f "
      "× "
      "el archivo\n",
      carga.rssCarga / lite3.pico, carga.carga / lite3.carga, carga.cpu / lite3.cpu,
      Mb(cadena.pico) / mbArchivo);
  std::fflush(stdout);
  return carga.ok && cadena.ok && lite3.ok ? 0 : 1;
}

// ---- commits in solvane-servidor ----

// One connection through FreeTDS's ODBC driver, in autocommit.
class Cliente {
 public:
  explicit Cliente(std::string cadena) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    conectado_ = SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(cadena.data()),
                                                SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
    if (conectado_) SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st_);
  }
  ~Cliente() {
    if (st_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, st_);
    if (conectado_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  Cliente(const Cliente&) = delete;
  Cliente& operator=(const Cliente&) = delete;
  bool Conectado() const { return conectado_; }
  bool Ejecutar(std::string sql) {
    const SQLRETURN r = SQLExecDirect(st_, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
    SQLFreeStmt(st_, SQL_CLOSE);
    return SQL_SUCCEEDED(r);
  }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT st_ = SQL_NULL_HSTMT;
  bool conectado_ = false;
};

struct Latencias {
  std::vector<double> ms;  // one per acknowledged commit, in order
  double parada = 0;       // seconds from SIGTERM to the server's exit (the journal folded in)
  bool ok = false;
};

double Percentil(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

// `programa` serves a copy of `base` (N generated rows) with `opciones`; one-row INSERTs in autocommit are
// timed at the client for about 3 s (at least 5, at most 300); then the server is stopped and the file,
// loaded as the next start would load it, must hold exactly the rows acknowledged.
Latencias Confirmaciones(const std::string& programa, const std::vector<std::string>& opciones,
                         const std::filesystem::path& base, std::size_t n,
                         const std::filesystem::path& carpeta) {
  namespace pr = simulado::pruebas;
  Latencias r;
  std::filesystem::remove_all(carpeta);
  std::filesystem::create_directories(carpeta);
  const auto archivo = carpeta / "PagoraDemo.sql";
  std::filesystem::copy_file(base, archivo);
  std::vector<std::string> argv = {programa, "--archivo", archivo.string(), "--puerto", "0"};
  argv.insert(argv.end(), opciones.begin(), opciones.end());
  const char* const clave = "bench-clave";
  const auto salida = carpeta / "servidor.txt";
  pr::ServidorLanzado servidor;
  try {
    servidor =
        pr::LanzarServidor(argv, {{"PAGORA_SERVIDOR_CLAVE", clave}}, salida, salida, std::chrono::minutes(5));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return r;
  }
  std::size_t hechas = 0;
  {
    Cliente c("Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(servidor.puerto) +
              ";Database=PagoraDemo;UID=pagora;PWD=" + clave + ";TDS_Version=7.4;Encryption=off");
    const auto t0 = Reloj::now();
    char fila[512];
    while (c.Conectado() && hechas < 300 && (hechas < 5 || Segundos(t0) < 3)) {
      bench::FilaTransaccion(n + hechas, fila);
      const std::string sql = std::string(bench::kCabezaTransaccion) + fila + ")";
      const auto t1 = Reloj::now();
      if (!c.Ejecutar(sql)) break;
      r.ms.push_back(Segundos(t1) * 1000);
      ++hechas;
    }
  }
  const auto t2 = Reloj::now();
  ::kill(servidor.pid, SIGTERM);
  const int estado = pr::Esperar(servidor.pid, std::chrono::minutes(5));
  r.parada = Segundos(t2);
  if (estado != 0) {
    std::fprintf(stderr, "el servidor terminó con %d:\n%s\n", estado, pr::LeerSiHay(salida).c_str());
    return r;
  }
  try {
    simulado::Deposito d(archivo.string(), std::chrono::seconds(5), "PagoraDemo");
    const auto cuenta = d.Motor().Ejecutar(
        "SELECT COUNT(*) FROM Transaccion WHERE TRA_Empresa = '000009' AND TRA_Transaccion > " +
        std::to_string(n));
    r.ok = hechas >= 5 && cuenta.filas[0][0] == std::to_string(hechas);
    if (!r.ok)
      std::fprintf(stderr, "%zu confirmaciones, %s filas en el archivo\n", hechas,
                   cuenta.filas[0][0]->c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "el archivo no se carga: %s\n", e.what());
  }
  std::filesystem::remove_all(carpeta);
  return r;
}

// What one small write made durable costs on this disk (the floor of any durable commit): the median of
// 50 fsyncs of 100 bytes appended to a file in `carpeta`, in ms.
double Fsync(const std::filesystem::path& carpeta) {
  const auto ruta = (carpeta / "fsync").string();
  const int fd = ::open(ruta.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  std::vector<double> ms;
  const std::string cien(100, 'x');
  for (int i = 0; i < 50; ++i) {
    if (::write(fd, cien.data(), cien.size()) != static_cast<ssize_t>(cien.size())) break;
    const auto t0 = Reloj::now();
    if (::fsync(fd) != 0) break;
    ms.push_back(Segundos(t0) * 1000);
  }
  ::close(fd);
  std::filesystem::remove(ruta);
  return Percentil(ms, 0.5);
}

// The commits of each server on the demo database and on ones of about 8 and 80 MB.
int MedirConfirmaciones(const std::string& antes) {
  struct Caso {
    const char* nombre;
    std::string programa;
    std::vector<std::string> opciones;
  };
  std::vector<Caso> casos = {{"con --diario 64", SERVIDOR_PROGRAMA, {"--diario", "64"}},
                             {"sin diario", SERVIDOR_PROGRAMA, {}}};
  if (!antes.empty()) casos.push_back({"versión anterior", antes, {}});
  const auto carpeta =
      std::filesystem::temp_directory_path() / ("bench_confirmar_" + std::to_string(::getpid()));
  std::filesystem::create_directories(carpeta);
  std::printf("fsync de 100 bytes en este disco: mediana %.2f ms\n", Fsync(carpeta));
  int estado = 0;
  for (const std::size_t n : {std::size_t{0}, std::size_t{22500}, std::size_t{240000}}) {
    const auto base = carpeta / "base.sql";
    bench::EscribirBase(base, n);
    std::printf("confirmaciones de una fila, N=%zu (archivo %.1f MB)\n", n,
                static_cast<double>(std::filesystem::file_size(base)) / 1048576.0);
    for (const auto& c : casos) {
      const Latencias l = Confirmaciones(c.programa, c.opciones, base, n, carpeta / "servidor");
      std::printf(
          "  %-18s mediana %7.2f ms, p90 %7.2f ms, máx %8.2f ms (%zu confirmaciones); parada %.2f s%s\n",
          c.nombre, Percentil(l.ms, 0.5), Percentil(l.ms, 0.9), Percentil(l.ms, 1), l.ms.size(), l.parada,
          l.ok ? "" : "  (FALLÓ)");
      std::fflush(stdout);
      if (!l.ok) estado = 1;
    }
  }
  std::filesystem::remove_all(carpeta);
  return estado;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> tamanos;
  std::string antes;
  bool cadena = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--antes" && i + 1 < argc)
      antes = argv[++i];
    else if (a == "--sin-cadena")
      cadena = false;
    else
      tamanos.push_back(std::strtoul(argv[i], nullptr, 10));
  }
  if (tamanos.empty() && cadena) tamanos = {10000, 200000, 400000, 2000000};
  int estado = 0;
  if (cadena)
    for (std::size_t n : tamanos) estado |= Medir(n);
  estado |= MedirConfirmaciones(antes);
  return estado;
}
