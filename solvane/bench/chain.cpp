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
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BaseGrande.h"
#include "motores/MotorSimulado.h"
#include "nucleo/cActualiza.h"
#include "nucleo/cBaseDatos.h"
#include "nucleo/cMensajes.h"

namespace {

using bench::Base;
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
  bench::Escribir(archivo, Base(n));
  const auto tamInicial = std::filesystem::file_size(archivo);

  auto respondedor = std::make_shared<Respondedor>();
  solvane::Mensajes().FijarPresentador(respondedor);
  solvane::cBaseDatos bd;
  bd.Mensajes(&solvane::Mensajes());
  bd.Motor(solvane::CrearMotorSimulado(archivo));

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
