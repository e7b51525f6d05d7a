// Test harness of the SQL Server path: solvane-servidor on a free port over a copy of a database, and the
// real solvane program run against it, each bounded in time.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Archivos.h"

namespace solvane::pruebas {

// A scratch folder of these tests, removed with everything in it.
struct Temporal : Carpeta {
  Temporal() : Carpeta("prueba_sqlserver_") {}
};

constexpr const char* kClaveServidor = "Cl4ve-de-prueba";

// Starts `argv` with these extra environment variables, output to `salida` and errors to `errores` (both
// truncated), input from /dev/null. The child dies with the test program.
inline pid_t Lanzar(const std::vector<std::string>& argv, const std::map<std::string, std::string>& entorno,
                    const std::string& salida, const std::string& errores) {
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (const auto& [k, v] : entorno) ::setenv(k.c_str(), v.c_str(), 1);
    const int nulo = ::open("/dev/null", O_RDONLY);
    const int fo = ::open(salida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int fe = ::open(errores.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (nulo < 0 || fo < 0 || fe < 0) ::_exit(126);
    ::dup2(nulo, 0);
    ::dup2(fo, 1);
    ::dup2(fe, 2);
    std::vector<char*> v;
    v.reserve(argv.size() + 1);
    for (const auto& a : argv) v.push_back(const_cast<char*>(a.c_str()));
    v.push_back(nullptr);
    ::execv(v[0], v.data());
    ::_exit(127);
  }
  return pid;
}

// Waits for `pid` until `plazo`; its exit status (128 + signal when killed), or -1 when it had to be killed
// for overrunning.
inline int Esperar(pid_t pid, std::chrono::milliseconds plazo) {
  const auto limite = std::chrono::steady_clock::now() + plazo;
  int st = 0;
  while (std::chrono::steady_clock::now() < limite) {
    if (::waitpid(pid, &st, WNOHANG) == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &st, 0);
  return -1;
}

// solvane-servidor serving `dir`/PagoraDemo.sql, a copy of `contenido`.
class Servido {
 public:
  Servido(const std::filesystem::path& dir, const std::string& contenido,
          const std::map<std::string, std::string>& entorno = {})
      : archivo(dir / "PagoraDemo.sql"), dir_(dir) {
    Escribir(archivo, contenido);
    Arrancar(entorno);
  }
  ~Servido() { Detener(SIGKILL); }
  Servido(const Servido&) = delete;
  Servido& operator=(const Servido&) = delete;

  void Arrancar(std::map<std::string, std::string> entorno = {}) {
    entorno["PAGORA_SERVIDOR_CLAVE"] = kClaveServidor;
    const auto salida = (dir_ / "servidor.txt").string();
    // A previous server's output must not be taken for this one's.
    std::filesystem::remove(salida);
    pid_ = Lanzar({SERVIDOR_PROGRAMA, "--archivo", archivo.string(), "--puerto", "0"}, entorno, salida,
                  (dir_ / "servidor.err").string());
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < limite) {
      const std::string s = LeerSiHay(salida);
      const auto p = s.find("Escuchando en 127.0.0.1:");
      if (p != std::string::npos && s.find('\n', p) != std::string::npos) {
        puerto = std::stoi(s.substr(p + 24));
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("el servidor no arrancó: " + LeerSiHay(dir_ / "servidor.err"));
  }
  // Sends `senal` and waits (bounded) for the exit; the exit status, or -1.
  int Detener(int senal = SIGTERM) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, senal);
    const int r = Esperar(pid_, std::chrono::seconds(20));
    pid_ = -1;
    return r;
  }
  pid_t Pid() const { return pid_; }

  // The driver's connection string, without the password.
  std::string Cadena() const {
    return "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(puerto) +
           ";Database=PagoraDemo;UID=pagora;TDS_Version=7.4;Encryption=off";
  }
  // A connection file for Solvane on this server, mode 600.
  std::filesystem::path Conexion(const std::string& extra = "") const {
    auto ruta = dir_ / "PagoraCliente.conexion";
    Escribir(ruta, "Motor=odbc\nCadena=" + Cadena() + "\nClave=" + kClaveServidor + "\n" + extra);
    ::chmod(ruta.c_str(), 0600);
    return ruta;
  }

  std::filesystem::path archivo;
  int puerto = 0;

 private:
  std::filesystem::path dir_;
  pid_t pid_ = -1;
};

// One run of the solvane program.
struct Salida {
  int estado = -1;
  std::string salida, errores;
};

// Runs solvane with `args` (output files in `dir`), bounded by `plazo`; `durante` (when given) is called
// with the child's pid right after the start.
inline Salida Solvane(const std::filesystem::path& dir, const std::vector<std::string>& args,
                      std::chrono::milliseconds plazo = std::chrono::seconds(240),
                      const std::function<void(pid_t)>& durante = {}) {
  std::vector<std::string> argv = {SOLVANE_PROGRAMA};
  argv.insert(argv.end(), args.begin(), args.end());
  const auto so = (dir / "solvane.out").string(), se = (dir / "solvane.err").string();
  const pid_t pid = Lanzar(argv, {{"QT_QPA_PLATFORM", "offscreen"}}, so, se);
  if (durante) durante(pid);
  Salida r;
  r.estado = Esperar(pid, plazo);
  r.salida = LeerSiHay(so);
  r.errores = LeerSiHay(se);
  return r;
}

}  // namespace solvane::pruebas
