// A PIN pad played on the master side of a pseudo-terminal, scripted or modelled, for tests and tools.
#include "simulador.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace teclon::sim {

namespace {

constexpr std::chrono::microseconds kCaracter{8333};  // 10 bits at 1200 baud

int Lrc(std::string_view texto) {
  int lrc = 0;
  for (char c : texto) lrc ^= static_cast<unsigned char>(c);
  return lrc;
}

[[noreturn]] void Fallar(const char* que) {
  throw std::runtime_error(std::string(que) + ": " + std::strerror(errno));
}

}  // namespace

std::string Recibido::Resumen() const {
  if (tipo == Tipo::Trama) return std::string(formatoB ? "B:" : "A:") + datos + (lrcCorrecto ? "" : "!");
  switch (control) {
    case 0x06:
      return "ACK";
    case 0x15:
      return "NAK";
    case 0x04:
      return "EOT";
    default:
      return "?";
  }
}

std::string Trama(std::string_view datos, bool formatoB, bool lrcMalo) {
  std::string cuerpo(datos);
  cuerpo.push_back(formatoB ? 0x0E : 0x03);
  int lrc = Lrc(cuerpo);
  if (lrcMalo) lrc ^= 0x01;
  return std::string(1, formatoB ? 0x0F : 0x02) + cuerpo + static_cast<char>(lrc);
}

Simulador::Simulador(bool ritmo) : ritmo_(ritmo) {
  maestro_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (maestro_ < 0) Fallar("posix_openpt");
  if (::grantpt(maestro_) < 0 || ::unlockpt(maestro_) < 0) Fallar("grantpt");
  char nombre[128];
  if (::ptsname_r(maestro_, nombre, sizeof nombre) != 0) Fallar("ptsname_r");
  dispositivo_ = nombre;
  // Holding the slave open keeps the master readable between the driver's openings, and raw mode
  // keeps the line from echoing before the driver configures it.
  esclavo_ = ::open(nombre, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (esclavo_ < 0) Fallar("open esclavo");
  termios t{};
  ::tcgetattr(esclavo_, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(esclavo_, TCSANOW, &t);
  hilo_ = std::thread([this] { Bucle(); });
}

Simulador::~Simulador() {
  {
    std::lock_guard<std::mutex> l(mutex_);
    parar_ = true;
  }
  cambio_.notify_all();
  if (hilo_.joinable()) hilo_.join();
  if (esclavo_ >= 0) ::close(esclavo_);
  if (maestro_ >= 0) ::close(maestro_);
}

void Simulador::FijarManejador(Manejador manejador) {
  std::lock_guard<std::mutex> l(mutex_);
  manejador_ = std::move(manejador);
}

void Simulador::Agregar(std::string espera, Respuesta respuesta) {
  std::lock_guard<std::mutex> l(mutex_);
  guion_.emplace_back(std::move(espera), std::move(respuesta));
}

void Simulador::Enviar(std::string_view bytes) {
  Escribir(bytes);
}

void Simulador::FijarAnulacion(bool anular) {
  std::lock_guard<std::mutex> l(mutex_);
  anular_ = anular;
}

std::vector<Recibido> Simulador::Recibidos() const {
  std::lock_guard<std::mutex> l(mutex_);
  return recibidos_;
}

std::vector<std::string> Simulador::Resumenes() const {
  std::lock_guard<std::mutex> l(mutex_);
  std::vector<std::string> r;
  for (const auto& x : recibidos_) r.push_back(x.Resumen());
  return r;
}

void Simulador::OlvidarRecibidos() {
  std::lock_guard<std::mutex> l(mutex_);
  recibidos_.clear();
}

bool Simulador::EsperarRecibidos(std::size_t n, std::chrono::milliseconds limite) const {
  std::unique_lock<std::mutex> l(mutex_);
  return cambio_.wait_for(l, limite, [&] { return recibidos_.size() >= n; });
}

std::size_t Simulador::BytesEnviados() const {
  std::lock_guard<std::mutex> l(mutex_);
  return enviados_;
}

bool Simulador::Dormir(std::chrono::microseconds d) {
  std::unique_lock<std::mutex> l(mutex_);
  return !cambio_.wait_for(l, d, [&] { return parar_; });
}

void Simulador::Escribir(std::string_view bytes) {
  std::lock_guard<std::mutex> l(escritura_);
  for (std::size_t i = 0; i < bytes.size() && maestro_ >= 0;) {
    const std::size_t n = ritmo_ ? 1 : bytes.size() - i;
    if (ritmo_ && !Dormir(kCaracter)) return;
    const ssize_t w = ::write(maestro_, bytes.data() + i, n);
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }
    i += static_cast<std::size_t>(w);
    std::lock_guard<std::mutex> m(mutex_);
    enviados_ += static_cast<std::size_t>(w);
  }
}

void Simulador::Bucle() {
  std::array<char, 512> espacio{};
  for (;;) {
    {
      std::lock_guard<std::mutex> l(mutex_);
      if (parar_) return;
    }
    EnviarVencidos();
    if (maestro_ < 0) {
      Dormir(std::chrono::milliseconds(5));
      continue;
    }
    pollfd p{maestro_, POLLIN, 0};
    if (::poll(&p, 1, pendientes_.empty() ? 5 : 1) <= 0) continue;
    const ssize_t n = ::read(maestro_, espacio.data(), espacio.size());
    if (n <= 0) {
      // EIO while no slave is open; ours stays open, so this is only a brief condition.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    for (ssize_t i = 0; i < n; ++i) Procesar(espacio[static_cast<std::size_t>(i)]);
  }
}

void Simulador::Procesar(char c) {
  switch (estado_) {
    case Estado::Fuera:
      if (c == 0x02 || c == 0x0F) {
        actual_ = Recibido{};
        actual_.tipo = Recibido::Tipo::Trama;
        actual_.formatoB = c == 0x0F;
        actual_.crudo.push_back(c);
        estado_ = Estado::Dentro;
      } else if (c == 0x06 || c == 0x15 || c == 0x04) {
        Recibido r;
        r.control = c;
        r.crudo.push_back(c);
        Completar(std::move(r));
      }
      return;
    case Estado::Dentro:
      actual_.crudo.push_back(c);
      if (c == (actual_.formatoB ? 0x0E : 0x03)) estado_ = Estado::Lrc;
      return;
    case Estado::Lrc:
      actual_.crudo.push_back(c);
      actual_.datos = actual_.crudo.substr(1, actual_.crudo.size() - 3);
      actual_.lrcCorrecto = Lrc(std::string_view(actual_.crudo).substr(1, actual_.crudo.size() - 2)) ==
                            static_cast<unsigned char>(c);
      estado_ = Estado::Fuera;
      Completar(std::move(actual_));
      return;
  }
}

void Simulador::Completar(Recibido r) {
  if (ritmo_ && !Dormir(kCaracter * static_cast<int>(r.crudo.size()))) return;
  r.cuando = std::chrono::steady_clock::now();
  Respuesta respuesta;
  Manejador manejador;
  {
    std::lock_guard<std::mutex> l(mutex_);
    const std::string resumen = r.Resumen();
    if (!guion_.empty() && (guion_.front().first.empty() || guion_.front().first == resumen)) {
      respuesta = std::move(guion_.front().second);
      guion_.pop_front();
    } else {
      manejador = manejador_;
    }
    recibidos_.push_back(r);
  }
  cambio_.notify_all();
  if (manejador) respuesta = manejador(r);
  bool anular = false;
  {
    std::lock_guard<std::mutex> l(mutex_);
    anular = anular_;
  }
  if (anular && r.tipo == Recibido::Tipo::Trama) pendientes_.clear();
  auto cuando = std::chrono::steady_clock::now();
  for (Envio& e : respuesta) {
    cuando += e.retraso;
    pendientes_.push_back({cuando, std::move(e.bytes), e.colgar});
  }
  EnviarVencidos();
}

void Simulador::EnviarVencidos() {
  while (!pendientes_.empty() && pendientes_.front().cuando <= std::chrono::steady_clock::now()) {
    const std::string bytes = std::move(pendientes_.front().bytes);
    const bool colgar = pendientes_.front().colgar;
    pendientes_.pop_front();
    Escribir(bytes);
    if (colgar) Colgar();
  }
}

// Closing the master hangs up every descriptor of the slave, the driver's included; runs on the
// simulator's thread, the only reader of the master.
void Simulador::Colgar() {
  std::lock_guard<std::mutex> l(escritura_);
  if (maestro_ >= 0) ::close(maestro_);
  maestro_ = -1;
  pendientes_.clear();
}

Manejador CrearModelo(const OpcionesModelo& opciones) {
  struct Estado {
    OpcionesModelo o;
    std::array<std::string, 10> claves;
    std::array<bool, 10> cargada{};
    std::string ultimaRespuesta;
    bool esperaAckEco = false;
  };
  auto e = std::make_shared<Estado>();
  e->o = opciones;
  using Modo = OpcionesModelo::Modo;
  return [e](const Recibido& r) -> Respuesta {
    const bool malo = e->o.modo == Modo::LrcMalo;
    if (r.tipo == Recibido::Tipo::Control) {
      if (r.control == 0x06 && e->esperaAckEco) {
        e->esperaAckEco = false;
        return {{kEOT}};
      }
      // The driver refused our answer: repeat it.
      if (r.control == 0x15 && !e->ultimaRespuesta.empty()) return {{e->ultimaRespuesta}};
      return {};
    }
    if (!r.lrcCorrecto) return {{kNAK}};
    switch (e->o.modo) {
      case Modo::Nak:
        return {{kNAK}};
      case Modo::Eot:
        return {{kEOT}};
      case Modo::Silencio:
        return {};
      default:
        break;
    }
    const std::string& d = r.datos;
    e->ultimaRespuesta.clear();
    if (!r.formatoB && d == "Q1") {
      e->ultimaRespuesta = Trama("81." + e->o.pista2 + kFS + e->o.pista1 + kFS, false, malo);
      return {{kACK}, {e->ultimaRespuesta, e->o.demoraPasada}};
    }
    if (!r.formatoB && d.rfind("Z62.", 0) == 0) {
      e->ultimaRespuesta = Trama("71.00000" + e->o.bloquePin, false, malo);
      return {{kACK}, {e->ultimaRespuesta, e->o.demoraPin}};
    }
    if (r.formatoB && d.size() >= 3 && d.rfind("02", 0) == 0) {
      const int pos = d[2] - '0';
      if (pos < 0 || pos > 9) return {{kNAK}};
      e->claves[static_cast<std::size_t>(pos)] = d.substr(3);
      e->cargada[static_cast<std::size_t>(pos)] = true;
      e->esperaAckEco = true;
      return {{kACK + r.crudo}};
    }
    if (r.formatoB && d.rfind("04", 0) == 0) {
      const int pos = std::atoi(d.c_str() + 2);
      const bool hay = d.size() > 2 && pos >= 0 && pos <= 9 && e->cargada[static_cast<std::size_t>(pos)];
      e->ultimaRespuesta = Trama(std::string(hay ? "04F" : "04N") + d.substr(2), true, malo);
      return {{kACK}, {e->ultimaRespuesta}};
    }
    if (r.formatoB && d.rfind("08", 0) == 0) {
      const int pos = std::atoi(d.c_str() + 2);
      return {{(d.size() > 2 && pos >= 0 && pos <= 9) ? kACK : kNAK}};
    }
    return {{kACK}};
  };
}

}  // namespace teclon::sim
