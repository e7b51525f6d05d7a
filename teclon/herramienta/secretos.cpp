// Secrets (card number, keys) read by the tool from standard input, never from its arguments.
#include "secretos.hpp"

#include <termios.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iostream>

namespace herramienta {

namespace {

constexpr std::size_t kLargoMaximo = 256;

// A failed system call of the secret input becomes ErrorEntrada here, with the errno of that failure
// (read before anything else can change it). Not checked: isatty, whose 0 is an answer, and the
// restoring calls of ~SinEco, which can do nothing about a failure.
long Llamar(long resultado, const char* accion) {
  if (resultado < 0) {
    const int numero = errno;
    char espacio[256];
    throw ErrorEntrada(numero, std::string(accion) + ": " + strerror_r(numero, espacio, sizeof espacio));
  }
  return resultado;
}

// While alive: echo off on a terminal, and the termination signals routed to the tool's flag so that
// they end the reading through the destructor instead of killing the program with the echo still off.
class SinEco {
 public:
  SinEco(int fd, void (*manejador)(int)) : fd_(fd) {
    if (::isatty(fd) == 0) return;
    Llamar(::tcgetattr(fd, &antes_), "No se puede leer la configuración de la terminal");
    struct sigaction accion {};
    accion.sa_handler = manejador;
    sigemptyset(&accion.sa_mask);
    for (std::size_t i = 0; i < kSenales.size(); ++i)
      Llamar(::sigaction(kSenales[i], &accion, &previas_[i]), "No se puede atender la señal");
    senales_ = true;
    termios t = antes_;
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    Llamar(::tcsetattr(fd, TCSAFLUSH, &t), "No se puede apagar el eco de la terminal");
    terminal_ = true;
  }
  ~SinEco() {
    if (terminal_) ::tcsetattr(fd_, TCSAFLUSH, &antes_);
    if (senales_)
      for (std::size_t i = 0; i < kSenales.size(); ++i) ::sigaction(kSenales[i], &previas_[i], nullptr);
  }
  SinEco(const SinEco&) = delete;
  SinEco& operator=(const SinEco&) = delete;
  bool Terminal() const { return terminal_; }

 private:
  static constexpr std::array<int, 3> kSenales{SIGTERM, SIGHUP, SIGQUIT};
  int fd_;
  termios antes_{};
  std::array<struct sigaction, 3> previas_{};
  bool senales_ = false;
  bool terminal_ = false;
};

// One line, byte by byte so that nothing beyond it is taken from the input (nor left in a buffer).
void LeerLinea(int fd, std::string_view nombre, volatile std::sig_atomic_t& interrumpido,
               teclon::TextoSeguro& linea) {
  bool algo = false;
  for (;;) {
    if (interrumpido) throw ErrorEntrada(EINTR, "Lectura cancelada");
    char c = 0;
    const ssize_t leidos = ::read(fd, &c, 1);
    if (leidos < 0 && errno == EINTR) continue;
    if (Llamar(leidos, "No se puede leer la entrada estándar") == 0) {
      if (!algo) throw ErrorEntrada(ENODATA, "Falta en la entrada estándar: " + std::string(nombre));
      break;
    }
    algo = true;
    if (c == '\n') break;
    if (linea.size() >= kLargoMaximo)
      throw ErrorEntrada(EMSGSIZE, "Línea demasiado larga en la entrada estándar: " + std::string(nombre));
    linea.Agregar(c);
  }
  if (!linea.empty() && linea[linea.size() - 1] == '\r') linea.Cadena().pop_back();
}

}  // namespace

std::vector<teclon::TextoSeguro> LeerSecretos(int fd, const std::vector<std::string_view>& nombres,
                                              volatile std::sig_atomic_t& interrumpido,
                                              void (*manejador)(int)) {
  std::vector<teclon::TextoSeguro> secretos(nombres.size());
  const SinEco sinEco(fd, manejador);
  for (std::size_t i = 0; i < nombres.size(); ++i) {
    if (sinEco.Terminal()) std::cerr << nombres[i] << ": " << std::flush;
    LeerLinea(fd, nombres[i], interrumpido, secretos[i]);
    if (sinEco.Terminal()) std::cerr << "\n";
  }
  return secretos;
}

bool PareceSecreto(std::string_view argumento) {
  const auto todos = [&](int (*clase)(int)) {
    for (char c : argumento)
      if (clase(static_cast<unsigned char>(c)) == 0) return false;
    return !argumento.empty();
  };
  const std::size_t n = argumento.size();
  return (n >= 12 && todos(::isdigit)) || ((n == 16 || n == 32 || n == 48) && todos(::isxdigit));
}

}  // namespace herramienta
