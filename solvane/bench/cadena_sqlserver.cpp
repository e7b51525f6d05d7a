// Benchmark: the whole chain run by the solvane program through unixODBC and FreeTDS against
// solvane-servidor, beside the same chain on Motor=simulado, on the demo database and on bigger ones; and the
// rehearsal of it (copy through FreeTDS, chain on the copy) on the served database before the real run.
//
// bench_cadena_sqlserver [N ...]   (default 0 200000; 0 is the demo database as it is). Wall time and peak
// RSS of each solvane run (the server is started and has loaded the database before the clock starts).
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BaseGrande.h"

namespace {

using Reloj = std::chrono::steady_clock;

pid_t Lanzar(std::vector<std::string> argv, const std::string& salida, const char* clave) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (clave) ::setenv("PAGORA_SERVIDOR_CLAVE", clave, 1);
    if (!std::freopen(salida.c_str(), "w", stdout) || !std::freopen(salida.c_str(), "a", stderr))
      ::_exit(126);
    std::vector<char*> v;
    v.reserve(argv.size() + 1);
    for (auto& a : argv) v.push_back(a.data());
    v.push_back(nullptr);
    ::execv(v[0], v.data());
    ::_exit(127);
  }
  return pid;
}

// The exit status; `rss` gets the child's peak resident set in MB.
int Esperar(pid_t pid, double* rss = nullptr) {
  int st = 0;
  struct rusage uso {};
  ::wait4(pid, &st, 0, &uso);
  if (rss) *rss = static_cast<double>(uso.ru_maxrss) / 1024.0;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// Seconds of one solvane run (`--consola --si`, or `--consola --ensayar`) with this connection file;
// negative when it failed. `rss` gets its peak RSS in MB.
double Cadena(const std::filesystem::path& dir, const std::filesystem::path& conexion, bool ensayo = false,
              double* rss = nullptr) {
  const auto t0 = Reloj::now();
  const int estado = Esperar(
      Lanzar({SOLVANE_PROGRAMA, "--consola", ensayo ? "--ensayar" : "--si", "--conexion", conexion.string()},
             (dir / "solvane.txt").string(), nullptr),
      rss);
  const double s = std::chrono::duration<double>(Reloj::now() - t0).count();
  if (estado != 0)
    std::fprintf(stderr, "solvane terminó con %d:\n%s\n", estado, bench::Leer(dir / "solvane.txt").c_str());
  return estado == 0 ? s : -1;
}

// The copy's own time, as the rehearsal's report gives it ("Copia: ... en 1,23 s.").
double TiempoCopia(const std::string& informe) {
  const auto p = informe.find(", en ", informe.find("Copia: "));
  if (p == std::string::npos) return -1;
  std::string t = informe.substr(p + 5, informe.find(' ', p + 5) - p - 5);
  for (char& c : t)
    if (c == ',') c = '.';
  return std::strtod(t.c_str(), nullptr);
}

int Medir(std::size_t n) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("bench_cadena_sqlserver_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "sim");
  std::filesystem::create_directories(dir / "red");
  const std::string base = n == 0 ? bench::LeerDemo() : bench::Base(n);
  bench::Escribir(dir / "sim" / "PagoraDemo.sql", base);
  bench::Escribir(dir / "red" / "PagoraDemo.sql", base);
  bench::Escribir(dir / "sim" / "c.conexion", "Motor=simulado\nArchivo=PagoraDemo.sql\n");
  const double simulado = Cadena(dir / "sim", dir / "sim" / "c.conexion");

  const char* clave = "bench-clave";
  const auto salida = (dir / "red" / "servidor.txt").string();
  const auto t0 = Reloj::now();
  const pid_t servidor =
      Lanzar({SERVIDOR_PROGRAMA, "--archivo", (dir / "red" / "PagoraDemo.sql").string(), "--puerto", "0"},
             salida, clave);
  int puerto = 0;
  for (int i = 0; i < 12000 && !puerto; ++i) {
    const std::string s = bench::Leer(salida);
    const auto p = s.find("Escuchando en 127.0.0.1:");
    if (p != std::string::npos && s.find('\n', p) != std::string::npos) puerto = std::stoi(s.substr(p + 24));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const double carga = std::chrono::duration<double>(Reloj::now() - t0).count();
  double red = -1, ensayo = -1, copia = -1, rssEnsayo = 0, rssReal = 0;
  if (puerto) {
    const auto conexion = dir / "red" / "c.conexion";
    bench::Escribir(conexion,
                    "Motor=odbc\nCadena=Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(puerto) +
                        ";Database=PagoraDemo;UID=pagora;TDS_Version=7.4;Encryption=off\nClave=" + clave +
                        "\nTiempoSentencia=3600\n");
    ::chmod(conexion.c_str(), 0600);
    ensayo = Cadena(dir / "red", conexion, true, &rssEnsayo);
    copia = TiempoCopia(bench::Leer(dir / "red" / "solvane.txt"));
    red = Cadena(dir / "red", conexion, false, &rssReal);
  }
  ::kill(servidor, SIGTERM);
  Esperar(servidor);
  const bool iguales =
      bench::Leer(dir / "sim" / "PagoraDemo.sql") == bench::Leer(dir / "red" / "PagoraDemo.sql");
  std::printf(
      "N=%zu  archivo %.1f MB  Motor=simulado %.2f s  FreeTDS+solvane-servidor %.2f s  razón %.2f  "
      "(carga del servidor %.2f s)  archivos finales %s\n",
      n, static_cast<double>(base.size()) / 1048576.0, simulado, red, red / simulado, carga,
      iguales ? "idénticos" : "DISTINTOS");
  std::printf(
      "N=%zu  ensayo por FreeTDS %.2f s (copia %.2f s, cadena en la copia %.2f s), %.0f MB de RSS  "
      "corrida real %.2f s, %.0f MB  razón ensayo/real %.2f\n",
      n, ensayo, copia, ensayo - copia, rssEnsayo, red, rssReal, ensayo / red);
  std::fflush(stdout);
  std::filesystem::remove_all(dir);
  return simulado > 0 && red > 0 && ensayo > 0 && iguales ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> tamanos;
  for (int i = 1; i < argc; ++i) tamanos.push_back(std::strtoul(argv[i], nullptr, 10));
  if (tamanos.empty()) tamanos = {0, 200000};
  int estado = 0;
  for (const std::size_t n : tamanos) estado |= Medir(n);
  return estado;
}
