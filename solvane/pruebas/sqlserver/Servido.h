// Test harness of the SQL Server path: solvane-servidor on a free port over a copy of a database, and the
// real solvane program run against it, each bounded in time.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Archivos.h"
#include "pruebas/tds/Proceso.h"

namespace solvane::pruebas {

// A scratch folder of these tests, removed with everything in it.
struct Temporal : Carpeta {
  Temporal() : Carpeta("prueba_sqlserver_") {}
};

constexpr const char* kClaveServidor = "Cl4ve-de-prueba";

using simulado::pruebas::Esperar;
using simulado::pruebas::Lanzar;

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
    entorno.emplace("PAGORA_SERVIDOR_CLAVE", kClaveServidor);
    const auto lanzado = simulado::pruebas::LanzarServidor(
        {SERVIDOR_PROGRAMA, "--archivo", archivo.string(), "--puerto", "0"}, entorno, dir_ / "servidor.txt",
        dir_ / "servidor.err", std::chrono::seconds(60));
    pid_ = lanzado.pid;
    puerto = lanzado.puerto;
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
           ";Database=PagoraDemo;UID=pagora;TDS_Version=7.4;Encryption=" + cifrado;
  }
  // What the server wrote so far (its sessions, and how each was encrypted).
  std::string Registro() const { return LeerSiHay(dir_ / "servidor.txt"); }
  // A connection file for Solvane on this server, mode 600; without the password when `conClave` is false
  // (it then comes from PAGORA_CLAVE).
  std::filesystem::path Conexion(const std::string& extra = "", bool conClave = true) const {
    auto ruta = dir_ / "PagoraCliente.conexion";
    Escribir(ruta, "Motor=odbc\nCadena=" + Cadena() + "\n" +
                       (conClave ? std::string("Clave=") + kClaveServidor + "\n" : std::string()) + extra);
    ::chmod(ruta.c_str(), 0600);
    return ruta;
  }

  std::filesystem::path archivo;
  int puerto = 0;
  std::string cifrado = "off";  // the driver's Encryption= in Cadena()

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
// with the child's pid right after the start. `entorno` is added to the child's environment.
inline Salida Solvane(const std::filesystem::path& dir, const std::vector<std::string>& args,
                      std::chrono::milliseconds plazo = std::chrono::seconds(240),
                      const std::function<void(pid_t)>& durante = {},
                      std::map<std::string, std::string> entorno = {}) {
  std::vector<std::string> argv = {SOLVANE_PROGRAMA};
  argv.insert(argv.end(), args.begin(), args.end());
  const auto so = (dir / "solvane.out").string(), se = (dir / "solvane.err").string();
  entorno.emplace("QT_QPA_PLATFORM", "offscreen");
  const pid_t pid = Lanzar(argv, entorno, so, se);
  if (durante) durante(pid);
  Salida r;
  r.estado = Esperar(pid, plazo);
  r.salida = LeerSiHay(so);
  r.errores = LeerSiHay(se);
  return r;
}

// The record without the engine's own statements.
inline std::string SinLineasDelMotor(const std::string& registro) {
  std::istringstream s(registro);
  std::string r;
  for (std::string l; std::getline(s, l);)
    if (l.rfind("-- motor: ", 0) != 0) r += l + "\n";
  return r;
}

// One database state, run once per engine.
struct Comparada {
  Salida corrida;
  std::string archivo, registro, servidor;
};

inline Comparada PorSimulado(const std::string& inicial) {
  Temporal t;
  Escribir(t / "PagoraDemo.sql", inicial);
  Escribir(t / "c.conexion", "Motor=simulado\nArchivo=PagoraDemo.sql\n");
  Comparada c;
  c.corrida = Solvane(t.Ruta(), {"--consola", "--si", "--conexion", (t / "c.conexion").string(), "--registro",
                                 (t / "registro.sql").string()});
  c.archivo = Leer(t / "PagoraDemo.sql");
  c.registro = LeerSiHay(t / "registro.sql");
  return c;
}

inline Comparada PorServidor(const std::string& inicial, const std::string& extra = "",
                             const std::string& cifrado = "off") {
  Temporal t;
  Servido s(t.Ruta(), inicial);
  s.cifrado = cifrado;
  // With TLS the driver loads GnuTLS, whose thread-local storage this toolchain's LeakSanitizer cannot walk
  // at exit (it crashes in the dynamic TLS blocks): leaks are looked for in the clear-text runs.
  std::map<std::string, std::string> entorno;
  if (cifrado != "off") {
    const char* asan = std::getenv("ASAN_OPTIONS");
    entorno["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":detect_leaks=0";
  }
  Comparada c;
  c.corrida = Solvane(t.Ruta(),
                      {"--consola", "--si", "--conexion", s.Conexion(extra).string(), "--registro",
                       (t / "registro.sql").string()},
                      std::chrono::seconds(240), {}, entorno);
  EXPECT_EQ(s.Detener(), 0);
  c.archivo = Leer(s.archivo);
  c.registro = LeerSiHay(t / "registro.sql");
  c.servidor = s.Registro();
  return c;
}

}  // namespace solvane::pruebas
