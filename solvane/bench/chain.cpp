// Benchmark: the whole update chain over a simulated database with many rows, time and peak memory.
//
// bench_chain [N ...]   (default 10000 200000). Each N runs in a child process so that its peak
// resident size (getrusage ru_maxrss) is its own. The database is the demo database's base tables
// plus N generated rows in Transaccion and TransOFF and in Tarjeta (whose smallint key holds at most
// 65,436 generated codes beside the demo's and the chain's own).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "MotorSimulado.h"
#include "cActualiza.h"
#include "cBaseDatos.h"
#include "cMensajes.h"

namespace {

using Reloj = std::chrono::steady_clock;

double Segundos(Reloj::time_point desde) {
  return std::chrono::duration<double>(Reloj::now() - desde).count();
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

std::string LeerDemo() {
  // The demo database sits beside this source file's folder.
  const auto ruta = std::filesystem::path(__FILE__).parent_path().parent_path() / "datos" / "PagoraDemo.sql";
  std::ifstream f(ruta, std::ios::binary);
  if (!f) {
    std::fprintf(stderr, "no se encuentra PagoraDemo.sql\n");
    std::exit(2);
  }
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// The demo database followed by the generated rows, in the dump's own INSERT form.
// Rows in the shape the engine writes its file: 500-row INSERT statements, one row per line.
void Filas(std::string& s, const char* cabeza, std::size_t n,
           const std::function<void(std::size_t, char*)>& fila) {
  char linea[512];
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 500 == 0) s += cabeza;
    fila(i, linea);
    s += linea;
    s += (i % 500 == 499 || i + 1 == n) ? ")\nGO\n" : "),\n";
  }
}

std::string Base(std::size_t n) {
  std::string s = LeerDemo();
  s.reserve(s.size() + n * 400);
  const char* const ops = "CADC";
  Filas(s,
        "INSERT INTO [Transaccion] ([TRA_Empresa], [TRA_Transaccion], [TRA_Local], [TRA_Caja], "
        "[TRA_Operacion], "
        "[TRA_Monto], [TRA_Moneda], [TRA_Puntos], [TRA_CodTarjeta], [TRA_NroTarjeta], [TRA_Venc], "
        "[TRA_Titular], "
        "[TRA_Fecha], [TRA_Hora], [TRA_Lote], [TRA_Ticket]) VALUES\n",
        n, [&](std::size_t i, char* l) {
          std::snprintf(l, 512,
                        "('000009', %zu, '000001', '%03zu', '%c', %zu.%02zu, 'P', %zu, %zu, '45097901%08zu', "
                        "'2811', 'TITULAR %zu', '2026-11-%02zu 10:15:00', '10:15:32', %zu, %zu",
                        i + 1, i % 40 + 1, ops[i % 4], i % 5000, i % 100, i % 50, i % 14 + 1, i, i,
                        i % 28 + 1, i / 500, i);
        });
  Filas(s,
        "INSERT INTO [TransOFF] ([OFF_Empresa], [OFF_Transaccion], [OFF_Local], [OFF_Caja], [OFF_Operacion], "
        "[OFF_Monto], [OFF_Moneda], [OFF_CodTarjeta], [OFF_NroTarjeta], [OFF_TrackII], [OFF_Venc], "
        "[OFF_Titular], [OFF_CVC], [OFF_Fecha], [OFF_Hora], [OFF_Ticket]) VALUES\n",
        n, [&](std::size_t i, char* l) {
          std::snprintf(l, 512,
                        "('000009', %zu, '000001', '%03zu', '%c', %zu.%02zu, 'P', %zu, '45097901%08zu', "
                        "';4509790112684851=2811?', '2811', 'TITULAR %zu', '123', '2026-11-%02zu 10:15:00', "
                        "'10:15:32', %zu",
                        i + 1, i % 40 + 1, ops[i % 4], i % 5000, i % 100, i % 14 + 1, i, i, i % 28 + 1, i);
        });
  // Card codes above the demo's and the chain's own, then the negative ones.
  Filas(s,
        "INSERT INTO [Tarjeta] ([TAR_Cod], [TAR_Desc], [TAR_Orden], [TAR_Control], [TAR_CI], [TAR_CVC]) "
        "VALUES\n",
        std::min<std::size_t>(n, 65436), [&](std::size_t i, char* l) {
          const long codigo = i < 32668 ? static_cast<long>(100 + i) : -static_cast<long>(i - 32668 + 1);
          std::snprintf(l, 512, "(%ld, 'Tarjeta %ld', 'Tra_FechaCierre,', 0, 1, 0", codigo, codigo);
        });
  return s;
}

double Cpu() {
  rusage uso{};
  getrusage(RUSAGE_SELF, &uso);
  return static_cast<double>(uso.ru_utime.tv_sec + uso.ru_stime.tv_sec) +
         static_cast<double>(uso.ru_utime.tv_usec + uso.ru_stime.tv_usec) / 1e6;
}

long PicoKb() {
  rusage uso{};
  getrusage(RUSAGE_SELF, &uso);
  return uso.ru_maxrss;
}

int Correr(std::size_t n) {
  const auto carpeta = std::filesystem::temp_directory_path() / ("bench_chain_" + std::to_string(::getpid()));
  std::filesystem::create_directories(carpeta);
  const std::string archivo = (carpeta / "base.sql").string();
  {
    const std::string base = Base(n);
    std::ofstream f(archivo, std::ios::binary);
    f << base;
  }
  const auto tamInicial = std::filesystem::file_size(archivo);

  auto respondedor = std::make_shared<Respondedor>();
  solvane::Mensajes().FijarPresentador(respondedor);
  solvane::cBaseDatos bd;
  bd.Mensajes(&solvane::Mensajes());
  bd.Motor(std::make_unique<solvane::MotorSimulado>(archivo));

  const double cpu0 = Cpu();
  const auto t0 = Reloj::now();
  if (!bd.Conectar()) {
    std::printf("N=%zu: no conecta: %s\n", n, respondedor->ultimo.c_str());
    return 1;
  }
  const double carga = Segundos(t0);
  const long picoCarga = PicoKb();

  SinProgreso progreso;
  const auto t1 = Reloj::now();
  bool ok = false;
  try {
    solvane::cActualiza actualiza(
        bd, solvane::Mensajes(), progreso, [] {}, 30100);
    ok = actualiza.ActualizaVersion();
  } catch (const solvane::ErrorBD& e) {
    std::printf("N=%zu: error %ld %s\n", n, e.Numero, e.Descripcion.c_str());
  }
  const double cadena = Segundos(t1);
  bd.Desconectar();
  const auto tamFinal = std::filesystem::file_size(archivo);
  std::filesystem::remove_all(carpeta);

  const double cpu = Cpu() - cpu0;
  std::printf(
      "N=%zu  resultado=%s  carga=%.2f s  cadena+grabacion=%.2f s  total=%.2f s (cpu %.2f s)  pico=%.1f MB "
      "(tras la carga %.1f MB)  archivo %.1f MB -> %.1f MB\n",
      n, ok ? "actualizada" : ("fallo: " + respondedor->ultimo).c_str(), carga, cadena, carga + cadena, cpu,
      static_cast<double>(PicoKb()) / 1024.0, static_cast<double>(picoCarga) / 1024.0,
      static_cast<double>(tamInicial) / 1048576.0, static_cast<double>(tamFinal) / 1048576.0);
  std::fflush(stdout);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> tamanos;
  for (int i = 1; i < argc; ++i) tamanos.push_back(std::strtoul(argv[i], nullptr, 10));
  if (tamanos.empty()) tamanos = {10000, 200000};
  int estado = 0;
  for (std::size_t n : tamanos) {
    const pid_t hijo = ::fork();
    if (hijo < 0) {
      std::perror("fork");
      return 2;
    }
    if (hijo == 0) _exit(Correr(n));
    int st = 0;
    if (::waitpid(hijo, &st, 0) < 0 || !WIFEXITED(st) || WEXITSTATUS(st) != 0) estado = 1;
  }
  return estado;
}
