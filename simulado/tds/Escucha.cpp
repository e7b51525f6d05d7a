// Accepting TDS connections and running each session on a thread of its own.
#include "tds/Escucha.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace simulado::tds {

Escucha::Escucha(Base& base, Ajustes ajustes, const std::string& direccion, int puerto, int maxSesiones,
                 Registro registro)
    : base_(base), aj_(std::move(ajustes)), maxSesiones_(maxSesiones), registro_(std::move(registro)) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(puerto));
  if (::inet_pton(AF_INET, direccion.c_str(), &a.sin_addr) != 1)
    throw ErrorSistema(EINVAL, "dirección IPv4 inválida: " + direccion);
  escucha_ = Descriptor(Sistema("socket", [] { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }));
  const int si = 1;
  Sistema("setsockopt",
          [&] { return ::setsockopt(escucha_.fd(), SOL_SOCKET, SO_REUSEADDR, &si, sizeof si); });
  Sistema("bind", [&] { return ::bind(escucha_.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a); });
  Sistema("listen", [&] { return ::listen(escucha_.fd(), 128); });
  socklen_t n = sizeof a;
  Sistema("getsockname", [&] { return ::getsockname(escucha_.fd(), reinterpret_cast<sockaddr*>(&a), &n); });
  direccion_ = direccion + ":" + std::to_string(ntohs(a.sin_port));
  parada_ = Descriptor(Sistema("eventfd", [] { return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }));
}

Escucha::~Escucha() {
  Parar();
  Recoger(true);
}

std::string Escucha::Direccion() const {
  return direccion_;
}

void Escucha::Parar() noexcept {
  const std::uint64_t uno = 1;
  // Only async-signal-safe calls here; a full counter still leaves the descriptor readable.
  [[maybe_unused]] const auto r = ::write(parada_.fd(), &uno, sizeof uno);
}

void Escucha::Recoger(bool todos) {
  for (auto i = hilos_.begin(); i != hilos_.end();) {
    if (todos || (*i)->termino) {
      if ((*i)->t.joinable()) (*i)->t.join();
      i = hilos_.erase(i);
    } else {
      ++i;
    }
  }
}

void Escucha::Correr() {
  for (;;) {
    pollfd p[2] = {{escucha_.fd(), POLLIN, 0}, {parada_.fd(), POLLIN, 0}};
    Sistema("poll", [&] { return ::poll(p, 2, 1000); });
    Recoger(false);
    if (p[1].revents) break;
    if (!(p[0].revents & POLLIN)) continue;
    sockaddr_in a{};
    socklen_t n = sizeof a;
    int fd = -1;
    try {
      fd = Sistema("accept", [&] {
        return ::accept4(escucha_.fd(), reinterpret_cast<sockaddr*>(&a), &n, SOCK_CLOEXEC);
      });
    } catch (const ErrorSistema& e) {
      // Out of descriptors or a connection reset before it was taken: the others go on.
      registro_(std::string("No se pudo aceptar una conexión: ") + e.what());
      // Out of descriptors the listening socket stays readable: a pause keeps this from spinning.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    if (fd < 0) continue;
    Descriptor sock(fd);
    char ip[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
    const std::string desde = std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
    if (static_cast<int>(hilos_.size()) >= maxSesiones_) {
      registro_("Conexión desde " + desde + " rechazada: ya hay " + std::to_string(maxSesiones_) +
                " sesiones");
      continue;
    }
    const int si = 1;
    ::setsockopt(sock.fd(), IPPROTO_TCP, TCP_NODELAY, &si, sizeof si);
    // Session ids also name the holder of the database, so one still in use is never handed out again.
    auto enUso = [&](std::uint16_t s) {
      for (const auto& x : hilos_)
        if (x->spid == s) return true;
      return false;
    };
    auto proximo = [&] {
      siguienteSpid_ = static_cast<std::uint16_t>(siguienteSpid_ >= 32000 ? 51 : siguienteSpid_ + 1);
    };
    while (enUso(siguienteSpid_)) proximo();
    const std::uint16_t spid = siguienteSpid_;
    proximo();
    auto h = std::make_unique<Hilo>();
    h->spid = spid;
    Hilo* hp = h.get();
    auto sesion = std::make_shared<Sesion>(base_, aj_, std::move(sock), parada_.fd(), spid, desde, registro_);
    hp->t = std::thread([sesion, hp] {
      sesion->Atender();
      hp->termino = true;
    });
    hilos_.push_back(std::move(h));
  }
  escucha_ = Descriptor();
  Recoger(true);
}

}  // namespace simulado::tds
