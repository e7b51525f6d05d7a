// Test harness: child programs started and waited for with deadlines, and solvane-servidor's start.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace simulado::pruebas {

// Starts `argv` with these extra environment variables, output to `salida` and errors to `errores` (both
// truncated; the same path merges them), input from /dev/null. The child dies with the test program.
inline pid_t Lanzar(const std::vector<std::string>& argv, const std::map<std::string, std::string>& entorno,
                    const std::string& salida, const std::string& errores) {
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (const auto& [k, v] : entorno) ::setenv(k.c_str(), v.c_str(), 1);
    const int nulo = ::open("/dev/null", O_RDONLY);
    const int fo = ::open(salida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int fe = errores == salida ? fo : ::open(errores.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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

inline std::string LeerSiHay(const std::filesystem::path& ruta) {
  std::ifstream f(ruta, std::ios::binary);
  std::ostringstream s;
  if (f) s << f.rdbuf();
  return s.str();
}

// A started solvane-servidor: its process and the port it announced.
struct ServidorLanzado {
  pid_t pid = -1;
  int puerto = 0;
};

// Starts solvane-servidor (`argv`, environment `entorno`) and waits, until `plazo`, for its first line
// "Escuchando en 127.0.0.1:PUERTO". A previous server's output in `salida` is removed first, so that it is
// never taken for this one's. Throws with the server's errors when it does not start.
inline ServidorLanzado LanzarServidor(const std::vector<std::string>& argv,
                                      const std::map<std::string, std::string>& entorno,
                                      const std::filesystem::path& salida,
                                      const std::filesystem::path& errores, std::chrono::milliseconds plazo) {
  std::filesystem::remove(salida);
  ServidorLanzado r;
  r.pid = Lanzar(argv, entorno, salida.string(), errores.string());
  const auto limite = std::chrono::steady_clock::now() + plazo;
  while (std::chrono::steady_clock::now() < limite) {
    const std::string s = LeerSiHay(salida);
    const auto p = s.find("Escuchando en 127.0.0.1:");
    if (p != std::string::npos && s.find('\n', p) != std::string::npos) {
      r.puerto = std::stoi(s.substr(p + 24));
      return r;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(r.pid, SIGKILL);
  Esperar(r.pid, std::chrono::seconds(10));
  throw std::runtime_error("el servidor no arrancó: " + LeerSiHay(errores));
}

}  // namespace simulado::pruebas
