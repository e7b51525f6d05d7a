// The serial port on POSIX termios: exclusive open, raw 7E1 settings, polled reads and writes.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "puerto.hpp"
#include "sistema.hpp"

namespace teclon {

LlamadasPuerto& LlamadasDelPuerto() {
  static LlamadasPuerto tabla{
      [](const char* ruta, int banderas) { return ::open(ruta, banderas); },
      ::close,
      ::isatty,
      ::flock,
      [](int fd, unsigned long pedido, void* dato) { return ::ioctl(fd, pedido, dato); },
      ::tcgetattr,
      ::tcsetattr,
      ::tcflush,
      ::read,
      ::write,
      ::poll,
  };
  return tabla;
}

std::string DispositivoDePuerto(short numero) {
  const std::string variable = "TECLON_PUERTO_" + std::to_string(numero);
  if (const char* valor = std::getenv(variable.c_str()); valor != nullptr && *valor != '\0') return valor;
  return "/dev/ttyS" + std::to_string(numero - 1);
}

namespace {

std::string TextoDeSistema(int numero) {
  char espacio[256];
  return strerror_r(numero, espacio, sizeof espacio);
}

// What one system call gave: its result and, when it failed, the errno of that moment.
struct Resultado {
  long valor;
  int error;
};

// Every system call of the adapter goes through here and the table of LlamadasDelPuerto(): errno is
// taken before anything else (building a message may allocate and change it).
template <class F>
Resultado Llamar(F&& f) {
  errno = 0;
  const long r = static_cast<long>(f());
  const int e = errno;
  return {r, r < 0 ? e : 0};
}

// Throws ErrorPuerto "accion: <system text>" when the call failed; otherwise its result.
long Comprobar(Resultado r, const std::string& accion) {
  if (r.error != 0) throw ErrorPuerto(r.error, accion + ": " + TextoDeSistema(r.error));
  return r.valor;
}

LlamadasPuerto& So() {
  return LlamadasDelPuerto();
}

// A modem-line ioctl refused because the line has none (a pseudo-terminal says ENOTTY or EINVAL).
bool SinLineasDeModem(Resultado r) {
  return r.error == ENOTTY || r.error == EINVAL;
}

struct Configuracion {
  speed_t velocidad = B1200;
  char paridad = 'E';
  int datos = 7;
  int parada = 1;
};

speed_t Velocidad(long baudios) {
  switch (baudios) {
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

// Parses "baudios,paridad,datos,parada", the form callers store it in ("1200,E,7,1").
Configuracion Interpretar(const std::string& texto) {
  std::vector<std::string> partes;
  std::size_t desde = 0;
  for (;;) {
    const std::size_t coma = texto.find(',', desde);
    partes.push_back(texto.substr(desde, coma == std::string::npos ? std::string::npos : coma - desde));
    if (coma == std::string::npos) break;
    desde = coma + 1;
  }
  const auto invalida = [&] {
    return ErrorPuerto(EINVAL, "Configuración de puerto inválida: \"" + texto + "\"");
  };
  if (partes.size() != 4) throw invalida();
  Configuracion c;
  char* fin = nullptr;
  const long baudios = std::strtol(partes[0].c_str(), &fin, 10);
  c.velocidad = Velocidad(baudios);
  if (partes[0].empty() || *fin != '\0' || c.velocidad == B0) throw invalida();
  if (partes[1].size() != 1) throw invalida();
  c.paridad = static_cast<char>(std::toupper(static_cast<unsigned char>(partes[1][0])));
  if (std::string_view("NEOMS").find(c.paridad) == std::string_view::npos) throw invalida();
  if (partes[2].size() != 1 || partes[2][0] < '5' || partes[2][0] > '8') throw invalida();
  c.datos = partes[2][0] - '0';
  if (partes[3] != "1" && partes[3] != "2") throw invalida();
  c.parada = partes[3][0] - '0';
  return c;
}

class PuertoTermios final : public PuertoSerie, public AvisoDeEntrada {
 public:
  ~PuertoTermios() override { Cerrar(); }

  void FijarNumero(short numero) override {
    if (fd_ >= 0) throw ErrorPuerto(EBUSY, "No se puede cambiar el número de un puerto abierto");
    numero_ = numero;
  }

  void FijarConfiguracion(const std::string& configuracion) override {
    config_ = Interpretar(configuracion);
    if (fd_ >= 0) Aplicar();
  }

  void FijarLongitudLectura(int longitud) override {
    if (longitud < 0) throw ErrorPuerto(EINVAL, "Longitud de lectura negativa");
    longitudLectura_ = longitud;
  }

  void FijarTamanoBuffers(int entrada, int salida) override {
    if (entrada <= 0 || salida <= 0) throw ErrorPuerto(EINVAL, "Tamaño de buffer inválido");
  }

  void FijarAbierto(bool abierto) override {
    if (!abierto) {
      Cerrar();
      return;
    }
    if (fd_ >= 0) throw ErrorPuerto(EBUSY, "El puerto " + dispositivo_ + " ya está abierto");
    if (numero_ < 1) throw ErrorPuerto(EINVAL, "Número de puerto inválido: " + std::to_string(numero_));
    dispositivo_ = DispositivoDePuerto(numero_);
    fd_ = static_cast<int>(Comprobar(
        Llamar([&] { return So().abrir(dispositivo_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }),
        "No se puede abrir " + dispositivo_));
    try {
      // isatty says no with 0 and errno, not with -1.
      const Resultado terminal = Llamar([&] { return So().esTerminal(fd_) == 1 ? 0 : -1; });
      if (terminal.error != 0) throw ErrorPuerto(terminal.error, dispositivo_ + " no es un puerto serie");
      if (const Resultado r = Llamar([&] { return So().bloquear(fd_, LOCK_EX | LOCK_NB); }); r.error != 0)
        throw ErrorPuerto(r.error, "El puerto " + dispositivo_ + " está en uso por otro programa (" +
                                       TextoDeSistema(r.error) + ")");
      propio_ = true;
      Comprobar(Llamar([&] { return So().control(fd_, TIOCEXCL, nullptr); }),
                "No se puede reservar " + dispositivo_);
      exclusivo_ = true;
      Aplicar();
      Comprobar(Llamar([&] { return So().vaciar(fd_, TCIOFLUSH); }),
                "No se pueden vaciar los buffers de " + dispositivo_);
      // The PIN pad wants DTR and RTS up; pseudo-terminals have none.
      int lineas = TIOCM_DTR | TIOCM_RTS;
      const Resultado r = Llamar([&] { return So().control(fd_, TIOCMBIS, &lineas); });
      if (!SinLineasDeModem(r)) Comprobar(r, "No se pueden activar DTR y RTS en " + dispositivo_);
    } catch (...) {
      Cerrar();
      throw;
    }
  }

  bool Abierto() const override { return fd_ >= 0; }

  // Writes everything; a line that accepts nothing for 15 s is an error, not a hang.
  void Escribir(std::string_view texto) override {
    ExigirAbierto();
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!texto.empty()) {
      const Resultado r = Llamar([&] { return So().escribir(fd_, texto.data(), texto.size()); });
      if (r.error == 0) {
        texto.remove_prefix(static_cast<std::size_t>(r.valor));
        continue;
      }
      if (r.error == EINTR) continue;
      if (r.error != EAGAIN) Comprobar(r, "No se puede escribir en " + dispositivo_);
      if (std::chrono::steady_clock::now() > limite)
        throw ErrorPuerto(ETIMEDOUT, "El puerto " + dispositivo_ + " no acepta datos");
      pollfd p{fd_, POLLOUT, 0};
      const Resultado espera = Llamar([&] { return So().esperar(&p, 1, 100); });
      if (espera.error != EINTR) Comprobar(espera, "No se puede esperar para escribir en " + dispositivo_);
    }
  }

  void LeerTodo(TextoSeguro& destino) override {
    ExigirAbierto();
    const std::size_t antes = destino.size();
    char espacio[256];
    for (;;) {
      std::size_t pedir = sizeof espacio;
      if (longitudLectura_ > 0) pedir = std::min(pedir, static_cast<std::size_t>(longitudLectura_));
      const Resultado r = Llamar([&] { return So().leer(fd_, espacio, pedir); });
      const long leidos = r.valor;
      if (leidos > 0) {
        destino.Agregar(std::string_view(espacio, static_cast<std::size_t>(leidos)));
        if (longitudLectura_ > 0) break;
        continue;
      }
      if (r.error == EINTR) continue;
      if (r.error != 0 && r.error != EAGAIN) {
        explicit_bzero(espacio, sizeof espacio);
        // EIO is the line going away (the pty's other side closing just before the hang-up lands).
        Comprobar(r,
                  (r.error == EIO ? "Se cortó la comunicación con " : "No se puede leer de ") + dispositivo_);
      }
      // With VMIN and VTIME at 0 a read of 0 is both "nothing yet" and "line hung up"; only poll
      // tells them apart. What did arrive is handed over first: the next read reports the hang-up.
      if (leidos == 0 && destino.size() == antes) {
        explicit_bzero(espacio, sizeof espacio);
        ComprobarLinea(Eventos(0));
      }
      break;
    }
    explicit_bzero(espacio, sizeof espacio);
  }

  // Returns when input is waiting or the time is up; a hung-up line (the peer closed, the adapter
  // was pulled) is an error at once instead of a silence that lasts the whole wait.
  void EsperarEntrada(std::chrono::microseconds limite) override {
    const auto fin = std::chrono::steady_clock::now() + limite;
    if (fd_ >= 0) {
      const int ms = static_cast<int>((limite.count() + 999) / 1000);
      const short eventos = Eventos(ms);
      if (eventos < 0) return;  // a signal: the caller looks at its cancel flag now
      ComprobarLinea(eventos);
      if ((eventos & POLLIN) != 0 && BytesEnEntrada() > 0) return;
    }
    const auto resto = fin - std::chrono::steady_clock::now();
    if (resto > std::chrono::steady_clock::duration::zero()) std::this_thread::sleep_for(resto);
  }

  int BytesEnEntrada() override { return Cola(FIONREAD, "la entrada"); }
  int BytesEnSalida() override { return Cola(TIOCOUTQ, "la salida"); }

 private:
  // The bytes waiting in one of the line's queues (FIONREAD: input, TIOCOUTQ: output).
  int Cola(unsigned long pedido, const char* cual) {
    ExigirAbierto();
    int n = 0;
    Comprobar(Llamar([&] { return So().control(fd_, pedido, &n); }),
              std::string("No se puede consultar ") + cual + " de " + dispositivo_);
    return n;
  }

  void ExigirAbierto() const {
    if (fd_ < 0) throw ErrorPuerto(EBADF, "El puerto no está abierto");
  }

  // The events poll reports on the line within ms milliseconds; -1 when a signal cut the wait short.
  short Eventos(int ms) const {
    pollfd p{fd_, POLLIN, 0};
    const Resultado r = Llamar([&] { return So().esperar(&p, 1, ms); });
    if (r.error == EINTR) return -1;
    Comprobar(r, "No se puede esperar datos de " + dispositivo_);
    return p.revents;
  }

  // A line that poll reports hung up or in error is a port error, with the system's number when
  // the line itself gives one (a hung-up tty refuses its ioctls with EIO).
  void ComprobarLinea(short eventos) const {
    if (eventos < 0 || (eventos & (POLLHUP | POLLERR | POLLNVAL)) == 0) return;
    int n = 0;
    const std::string accion = "Se cortó la comunicación con " + dispositivo_;
    Comprobar(Llamar([&] { return So().control(fd_, FIONREAD, &n); }), accion);
    throw ErrorPuerto(EIO, accion + ": " + TextoDeSistema(EIO));
  }

  void Aplicar() {
    termios t{};
    Comprobar(Llamar([&] { return So().leerAtributos(fd_, &t); }),
              "No se puede leer la configuración de " + dispositivo_);
    ::cfmakeraw(&t);
    // The 8th bit of a 7-bit line is the parity bit (or garbage): stripped, so that control
    // characters are recognised on adapters that deliver it.
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    t.c_iflag |= ISTRIP;
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    static constexpr tcflag_t tamanos[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= tamanos[config_.datos - 5];
    switch (config_.paridad) {
      case 'E':
        t.c_cflag |= PARENB;
        break;
      case 'O':
        t.c_cflag |= PARENB | PARODD;
        break;
      case 'M':
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
      case 'S':
        t.c_cflag |= PARENB | CMSPAR;
        break;
      default:
        break;
    }
    if (config_.parada == 2) t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    // Speeds come from our own list, so these two (library calls, not system calls) cannot refuse.
    ::cfsetispeed(&t, config_.velocidad);
    ::cfsetospeed(&t, config_.velocidad);
    const Resultado r = Llamar([&] { return So().fijarAtributos(fd_, TCSANOW, &t); });
    if (r.error == 0) return;
    // A line without modem lines (a pseudo-terminal: TIOCMGET refused) carries bytes whole and has no
    // character size or parity, and the C library reports their refusal as EINVAL; what matters there
    // is raw mode with non-blocking reads, checked on the settings in force. A port with modem lines
    // that refuses a setting is an error: running with another parity or size would garble every frame.
    int lineas = 0;
    termios vigente{};
    if (r.error == EINVAL && SinLineasDeModem(Llamar([&] { return So().control(fd_, TIOCMGET, &lineas); })) &&
        Llamar([&] { return So().leerAtributos(fd_, &vigente); }).error == 0 &&
        (vigente.c_lflag & (ICANON | ECHO | ISIG)) == 0 && vigente.c_cc[VMIN] == 0 &&
        vigente.c_cc[VTIME] == 0)
      return;
    Comprobar(r, "No se puede configurar " + dispositivo_);
  }

  // Undoes only what this object did to the line. The exclusive mark belongs to the tty, not to
  // our descriptor: cleared by an opening that lost the lock, it would strip the holder's. Likewise
  // the input queue is the holder's until our lock was taken.
  void Cerrar() noexcept {
    if (fd_ < 0) return;
    // Failures are not reported here: the descriptor is released whatever close says.
    if (exclusivo_) Llamar([&] { return So().control(fd_, TIOCNXCL, nullptr); });
    // Only input is dropped: a last ACK or EOT still on its way out must reach the PIN pad.
    if (propio_) Llamar([&] { return So().vaciar(fd_, TCIFLUSH); });
    Llamar([&] { return So().cerrar(fd_); });
    fd_ = -1;
    exclusivo_ = false;
    propio_ = false;
  }

  int fd_ = -1;
  bool propio_ = false;     // this object holds the line's lock
  bool exclusivo_ = false;  // this object set the line's exclusive mark
  short numero_ = 1;
  int longitudLectura_ = 0;
  Configuracion config_;
  std::string dispositivo_;
};

}  // namespace

std::unique_ptr<PuertoSerie> CrearPuertoTermios() {
  return std::make_unique<PuertoTermios>();
}

}  // namespace teclon
