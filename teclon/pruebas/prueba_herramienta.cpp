// Tests of the teclon tool's secrets: read from standard input (piped or a terminal), refused as arguments.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <sys/ioctl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "comun.hpp"

using namespace prueba;
using teclon::sim::kFS;
using V = std::vector<std::string>;

namespace {

struct Salida {
  int estado = -1;
  std::string salida, error;
};

std::string Leer(const std::string& ruta) {
  std::ifstream f(ruta, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Waits for the child at most limite; kills it past that. Its exit status, or -1.
int Esperar(pid_t pid, std::chrono::seconds limite) {
  const auto fin = std::chrono::steady_clock::now() + limite;
  int estado = 0;
  while (::waitpid(pid, &estado, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > fin) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &estado, 0);
      return -1;
    }
    std::this_thread::sleep_for(10ms);
  }
  return WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
}

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

// Runs the tool on the simulator's device with entrada as its standard input (through a file).
Salida Ejecutar(const std::string& dispositivo, std::vector<std::string> args, const std::string& entrada) {
  char carpeta[] = "/tmp/teclon-herramienta-XXXXXX";
  if (::mkdtemp(carpeta) == nullptr) return {};
  const std::string base = carpeta;
  const std::string rutaEntrada = base + "/entrada", rutaSalida = base + "/salida",
                    rutaError = base + "/error";
  std::ofstream(rutaEntrada, std::ios::binary) << entrada;
  args.insert(args.begin(), {TECLON_HERRAMIENTA, "--dispositivo", dispositivo});
  std::vector<char*> argv = Argv(args);
  const pid_t pid = ::fork();
  if (pid == 0) {  // only async-signal-safe calls from here: the parent has other threads
    const int e = ::open(rutaEntrada.c_str(), O_RDONLY);
    const int s = ::open(rutaSalida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int r = ::open(rutaError.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (e < 0 || s < 0 || r < 0 || ::dup2(e, 0) < 0 || ::dup2(s, 1) < 0 || ::dup2(r, 2) < 0) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  Salida salida;
  salida.estado = Esperar(pid, 30s);
  salida.salida = Leer(rutaSalida);
  salida.error = Leer(rutaError);
  std::filesystem::remove_all(base);
  return salida;
}

// A PIN pad that answers like the simulator program, with the PIN at once.
struct Pad {
  Pad() {
    teclon::sim::OpcionesModelo o;
    o.demoraPin = 0ms;
    sim.FijarManejador(teclon::sim::CrearModelo(o));
  }
  teclon::sim::Simulador sim;
};

const std::string kTarjeta = "4000123412341234";
const std::string kPedido =
    "A:Z62." + kTarjeta + kFS + "CLAVETRABAJO" + "0404N" + "INGRESE PIN" + kFS + "$ 1,00" + kFS;

}  // namespace

TEST(HerramientaSecretos, ReadFromStandardInputRefusedAsArguments) {
  struct Caso {
    const char* nombre;
    V args;
    std::string entrada;
    int estado;
    std::string enSalida;  // expected in stdout (or in stderr when estado is 2)
    std::string primerRecibido;
  };
  const std::string largo(300, '9');
  const std::vector<Caso> casos = {
      {"pin",
       {"pin", "INGRESE PIN", "$ 1,00"},
       kTarjeta + "\nCLAVETRABAJO\n",
       0,
       "Bloque de PIN: 16 caracteres",
       kPedido},
      {"pin con CRLF y sin fin de línea",
       {"pin", "INGRESE PIN", "$ 1,00"},
       kTarjeta + "\r\nCLAVETRABAJO",
       0,
       "Bloque de PIN: 16 caracteres",
       kPedido},
      {"transferir-clave",
       {"transferir-clave"},
       "0123456789ABCDEF\n",
       0,
       "Resultado: Verdadero",
       "B:0200123456789ABCDEF"},
      {"falta la clave", {"pin"}, kTarjeta + "\n", 2, "Falta en la entrada estándar: Clave de trabajo", ""},
      {"entrada vacía", {"transferir-clave"}, "", 2, "Falta en la entrada estándar: Clave maestra", ""},
      {"línea demasiado larga", {"pin"}, largo + "\nK\n", 2, "Línea demasiado larga", ""},
      {"forma vieja", {"pin", kTarjeta, "CLAVETRABAJO", "INGRESE PIN"}, "", 2, "entrada estándar", ""},
      {"tarjeta como mensaje", {"pin", kTarjeta}, "", 2, "entrada estándar", ""},
      {"clave como mensaje", {"pin", "INGRESE PIN", "0123456789ABCDEF"}, "", 2, "entrada estándar", ""},
      {"clave maestra como argumento",
       {"transferir-clave", "0123456789ABCDEF"},
       "",
       2,
       "entrada estándar",
       ""},
  };
  for (const Caso& c : casos) {
    Pad pad;
    const Salida s = Ejecutar(pad.sim.Dispositivo(), c.args, c.entrada);
    EXPECT_EQ(s.estado, c.estado) << c.nombre << "\n" << s.salida << s.error;
    EXPECT_NE((c.estado == 2 ? s.error : s.salida).find(c.enSalida), std::string::npos)
        << c.nombre << "\n"
        << s.salida << s.error;
    // Secrets are never repeated back, and a refused call sends nothing to the PIN pad.
    for (const std::string& secreto :
         {kTarjeta, std::string("CLAVETRABAJO"), std::string("0123456789ABCDEF")})
      EXPECT_EQ((s.salida + s.error).find(secreto), std::string::npos) << c.nombre;
    const V recibidos = pad.sim.Resumenes();
    if (c.primerRecibido.empty()) {
      EXPECT_TRUE(recibidos.empty()) << c.nombre;
    } else {
      EXPECT_NE(std::find(recibidos.begin(), recibidos.end(), c.primerRecibido), recibidos.end()) << c.nombre;
    }
  }
  Pad pad;
  const Salida ayuda = Ejecutar(pad.sim.Dispositivo(), {"--ayuda"}, "");
  EXPECT_NE(ayuda.salida.find("no se aceptan como argumentos"), std::string::npos) << ayuda.salida;
}

// On a terminal the secrets are typed without echo and the echo comes back afterwards, also when
// Ctrl-C interrupts the typing.
TEST(HerramientaSecretos, TerminalWithoutEchoRestoredOnEveryPath) {
  for (const bool interrumpir : {false, true}) {
    Pad pad;
    int maestro = -1, esclavo = -1;
    ASSERT_EQ(::openpty(&maestro, &esclavo, nullptr, nullptr, nullptr), 0);
    std::vector<std::string> args = {TECLON_HERRAMIENTA, "--dispositivo", pad.sim.Dispositivo(), "pin",
                                     "PIN"};
    std::vector<char*> argv = Argv(args);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setsid();
      if (::ioctl(esclavo, TIOCSCTTY, 0) < 0 || ::dup2(esclavo, 0) < 0 || ::dup2(esclavo, 1) < 0 ||
          ::dup2(esclavo, 2) < 0)
        ::_exit(127);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    // Everything the terminal shows, until espera appears or the child ends (bounded either way).
    std::string pantalla;
    const auto leerHasta = [&](const std::string& espera, std::chrono::milliseconds limite = 10s) {
      const auto fin = std::chrono::steady_clock::now() + limite;
      while (pantalla.find(espera) == std::string::npos && std::chrono::steady_clock::now() < fin) {
        pollfd p{maestro, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char espacio[256];
        const ssize_t n = ::read(maestro, espacio, sizeof espacio);
        if (n <= 0) break;
        pantalla.append(espacio, static_cast<std::size_t>(n));
      }
      return pantalla.find(espera) != std::string::npos;
    };
    EXPECT_TRUE(leerHasta("Número de tarjeta: ")) << pantalla;
    termios durante{};
    ::tcgetattr(esclavo, &durante);
    EXPECT_EQ(durante.c_lflag & ECHO, 0u);
    const std::string tecleado = interrumpir ? "4000\x03" : kTarjeta + "\nCLAVETRABAJO\n";
    ASSERT_EQ(::write(maestro, tecleado.data(), tecleado.size()), static_cast<ssize_t>(tecleado.size()));
    leerHasta(interrumpir ? "Lectura cancelada" : "Bloque de PIN");
    const int estado = Esperar(pid, 30s);
    leerHasta("\x01", 200ms);  // whatever is left
    termios despues{};
    ::tcgetattr(esclavo, &despues);
    EXPECT_NE(despues.c_lflag & ECHO, 0u) << "eco sin restaurar";
    EXPECT_EQ(pantalla.find("4000"), std::string::npos) << pantalla;
    EXPECT_EQ(pantalla.find("CLAVETRABAJO"), std::string::npos) << pantalla;
    if (interrumpir) {
      EXPECT_EQ(estado, 1);
      EXPECT_NE(pantalla.find("Lectura cancelada"), std::string::npos) << pantalla;
      EXPECT_TRUE(pad.sim.Resumenes().empty());
    } else {
      EXPECT_EQ(estado, 0) << pantalla;
      EXPECT_NE(pantalla.find("Clave de trabajo: "), std::string::npos) << pantalla;
      EXPECT_NE(pantalla.find("Bloque de PIN: 16 caracteres"), std::string::npos) << pantalla;
    }
    ::close(maestro);
    ::close(esclavo);
  }
}
