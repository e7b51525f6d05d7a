// TDS packets over a socket: message assembly, packet-sized replies, deadlines and ATTENTION.
#include "tds/Paquetes.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace simulado::tds {

namespace {
bool TipoConocido(std::uint8_t t) {
  return t == kLote || t == kRpc || t == kAtencionPaquete || t == kGestorTransacciones || t == kLogin7 ||
         t == kPrelogin;
}
}  // namespace

void Ensamblador::Agregar(const std::uint8_t* datos, std::size_t largo) {
  buffer_.insert(buffer_.end(), datos, datos + largo);
  for (;;) {
    const std::size_t quedan = buffer_.size() - inicio_;
    if (quedan < 8) break;
    const std::uint8_t* h = buffer_.data() + inicio_;
    const std::size_t n = static_cast<std::size_t>(h[2] << 8 | h[3]);
    if (n < 8) throw ErrorProtocolo("paquete con largo menor que su encabezado");
    if (!TipoConocido(h[0])) throw ErrorProtocolo("tipo de paquete desconocido");
    if (quedan < n) break;
    const std::uint8_t tipo = h[0], estado = h[1];
    if (tipo == kAtencionPaquete && n == 8) {
      // A cancel may come between the packets of nothing at all; it is a message of its own.
      Mensaje m;
      m.tipo = tipo;
      m.estado = estado;
      enListos_ += kCostoMensaje;
      listos_.push_back(std::move(m));
    } else {
      if (!enCurso_) {
        actual_ = Mensaje{};
        actual_.tipo = tipo;
        actual_.estado = estado;
        enCurso_ = true;
      } else if (tipo != actual_.tipo) {
        throw ErrorProtocolo("tipo de paquete cambiado dentro de un mensaje");
      }
      if (actual_.datos.size() + (n - 8) > tope_) throw ErrorProtocolo("mensaje de más de 64 MiB");
      actual_.datos.insert(actual_.datos.end(), h + 8, h + n);
      if (estado & 0x01) {
        actual_.ignorar = (estado & 0x02) != 0;
        enListos_ += actual_.datos.size() + kCostoMensaje;
        listos_.push_back(std::move(actual_));
        actual_ = Mensaje{};
        enCurso_ = false;
      }
    }
    inicio_ += n;
    if (Retenidos() > tope_)
      throw ErrorProtocolo("la sesión retiene más de " + std::to_string(tope_ >> 10) + " KiB sin leer");
  }
  if (inicio_ > 0 && (inicio_ == buffer_.size() || inicio_ > 65536)) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(inicio_));
    inicio_ = 0;
  }
}

std::optional<Mensaje> Ensamblador::Siguiente() {
  if (listos_.empty()) return std::nullopt;
  Mensaje m = std::move(listos_.front());
  listos_.pop_front();
  enListos_ -= m.datos.size() + kCostoMensaje;
  return m;
}

Canal::Canal(Descriptor sock, int parada, std::uint16_t spid)
    : sock_(std::move(sock)), parada_(parada), spid_(spid), ens_(kTopeAntesDeEntrar) {}

bool Canal::Parando() const {
  pollfd p{parada_, POLLIN, 0};
  return Sistema("poll", [&] { return ::poll(&p, 1, 0); }) > 0;
}

// Waits up to `esperaMs` for bytes (or the stop signal) and feeds what came to the assembler.
bool Canal::LeerDisponible(std::chrono::microseconds espera) {
  pollfd p[2] = {{sock_.fd(), POLLIN, 0}, {parada_, POLLIN, 0}};
  const timespec t{static_cast<time_t>(espera.count() / 1000000),
                   static_cast<long>(espera.count() % 1000000 * 1000)};
  const int n = Sistema("ppoll", [&] { return ::ppoll(p, 2, &t, nullptr); });
  if (n <= 0) return true;
  if (p[1].revents) return false;
  if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) return true;
  std::uint8_t buf[65536];
  ssize_t r;
  try {
    r = Sistema("recv", [&] { return ::recv(sock_.fd(), buf, sizeof buf, MSG_DONTWAIT); });
  } catch (const ErrorSistema&) {
    cerrado_ = true;
    return false;
  }
  if (r == 0) {
    cerrado_ = true;
    return false;
  }
  if (r > 0 && !transporte_) ens_.Agregar(buf, static_cast<std::size_t>(r));
  if (r > 0 && transporte_) {
    Bytes claro;
    const bool sigue = transporte_->Recibidos(buf, static_cast<std::size_t>(r), claro);
    ens_.Agregar(claro.data(), claro.size());
    if (!sigue) {
      cerrado_ = true;
      return false;
    }
  }
  return true;
}

std::optional<Mensaje> Canal::Leer(ms ocioso, ms plazo) {
  using reloj = std::chrono::steady_clock;
  auto limite = reloj::now() + ocioso;
  bool aMedias = ens_.AMedias();
  for (;;) {
    if (!guardados_.empty()) {
      Mensaje m = std::move(guardados_.front());
      guardados_.pop_front();
      enGuardados_ -= m.datos.size() + kCostoMensaje;
      return m;
    }
    if (auto m = ens_.Siguiente()) {
      // A cancel that arrives with nothing running is answered at once and is no request.
      if (m->tipo == kAtencionPaquete) {
        Escritor e(version_);
        e.Hecho(kDone, kAtencion, 0, 0);
        Enviar(kRespuesta, e.Datos());
        continue;
      }
      return m;
    }
    if (cerrado_ || Parando()) return std::nullopt;
    if (ens_.AMedias() && !aMedias) {
      aMedias = true;
      limite = reloj::now() + plazo;
    }
    const auto falta = std::chrono::duration_cast<ms>(limite - reloj::now()).count();
    if (falta <= 0)
      throw ErrorProtocolo(aMedias ? "mensaje incompleto: tiempo de espera agotado"
                                   : "sesión inactiva demasiado tiempo");
    if (!LeerDisponible(std::chrono::milliseconds(std::min<long long>(falta, 1000)))) return std::nullopt;
  }
}

// While a reply goes out the client should send nothing but a cancel. What it sends anyway is kept for
// later up to a small bound (and never more than before login): a client that streams requests it does not
// wait for is closed, not queued without end.
void Canal::RevisarAtencion() {
  const std::size_t tope = std::min(ens_.Tope(), kTopeMientrasResponde);
  while (auto m = ens_.Siguiente()) {
    if (m->tipo == kAtencionPaquete) {
      atencion_ = true;
      continue;
    }
    enGuardados_ += m->datos.size() + kCostoMensaje;
    guardados_.push_back(std::move(*m));
  }
  if (enGuardados_ + ens_.Retenidos() > tope)
    throw ErrorProtocolo("la sesión retiene más de " + std::to_string(tope >> 10) + " KiB sin leer");
}

bool Canal::Interrumpido(std::chrono::microseconds espera) {
  if (atencion_ || cerrado_) return true;
  VaciarCola();
  if (!LeerDisponible(espera)) return true;
  RevisarAtencion();
  return atencion_;
}

// Sends what the socket takes now; the number of bytes sent.
std::size_t Canal::EnviarSinEsperar(const std::uint8_t* p, std::size_t n) {
  std::size_t hecho = 0;
  while (hecho < n) {
    const ssize_t r = Sistema(
        "send", [&] { return ::send(sock_.fd(), p + hecho, n - hecho, MSG_NOSIGNAL | MSG_DONTWAIT); });
    if (r <= 0) break;
    hecho += static_cast<std::size_t>(r);
  }
  return hecho;
}

bool Canal::VaciarCola() {
  if (colaInicio_ < cola_.size())
    colaInicio_ += EnviarSinEsperar(cola_.data() + colaInicio_, cola_.size() - colaInicio_);
  if (colaInicio_ < cola_.size()) return false;
  cola_.clear();
  colaInicio_ = 0;
  return true;
}

// Writes all of it, waiting for room; a client that takes nothing for the write deadline is dropped.
void Canal::EscribirEsperando(const std::uint8_t* p, std::size_t n) {
  auto limite = std::chrono::steady_clock::now() + plazoEscritura_;
  while (n > 0) {
    const std::size_t r = EnviarSinEsperar(p, n);
    if (r > 0) {
      p += r;
      n -= r;
      limite = std::chrono::steady_clock::now() + plazoEscritura_;
      continue;
    }
    // The socket is full: wait for room, and meanwhile take in what the client sends (it may be a cancel
    // it sent before reading on).
    const auto falta = std::chrono::duration_cast<ms>(limite - std::chrono::steady_clock::now()).count();
    if (falta <= 0) throw ErrorProtocolo("el cliente no lee la respuesta");
    pollfd q[2] = {{sock_.fd(), POLLOUT | POLLIN, 0}, {parada_, POLLIN, 0}};
    Sistema("poll", [&] { return ::poll(q, 2, static_cast<int>(std::min<long long>(falta, 1000))); });
    if (q[1].revents) throw ErrorProtocolo("servidor detenido");
    if (q[0].revents & POLLIN) {
      if (!LeerDisponible(std::chrono::microseconds(0))) throw ErrorProtocolo("el cliente cerró la conexión");
      RevisarAtencion();
    }
    if (q[0].revents & (POLLERR | POLLHUP)) throw ErrorProtocolo("el cliente cerró la conexión");
  }
}

// Bytes for the client: through the session's TLS when it has one, then to the socket.
void Canal::Escribir(const std::uint8_t* p, std::size_t n) {
  if (!transporte_) return EscribirSocket(p, n);
  Bytes crudo;
  transporte_->AEnviar(p, n, crudo);
  EscribirSocket(crudo.data(), crudo.size());
}

// In order after what is queued. While deferring, what the socket does not take now is queued (up to
// kTopeDiferido) instead of waited for; otherwise, or beyond that bound, the write waits.
void Canal::EscribirSocket(const std::uint8_t* p, std::size_t n) {
  if (VaciarCola()) {
    const std::size_t r = EnviarSinEsperar(p, n);
    p += r;
    n -= r;
  }
  if (n == 0) return;
  if (diferir_ && cola_.size() - colaInicio_ + n <= kTopeDiferido) {
    cola_.insert(cola_.end(), p, p + n);
    return;
  }
  Drenar();
  EscribirEsperando(p, n);
}

void Canal::Drenar() {
  if (colaInicio_ < cola_.size()) EscribirEsperando(cola_.data() + colaInicio_, cola_.size() - colaInicio_);
  cola_.clear();
  colaInicio_ = 0;
}

// The length field has 16 bits; the negotiated size keeps every packet far below that.
void Canal::EnviarPaquete(std::uint8_t tipo, const std::uint8_t* datos, std::size_t largo, bool fin,
                          const Bytes* despues) {
  if (largo > 32767 - 8) throw ErrorProtocolo("paquete de respuesta más grande que el tamaño acordado");
  Bytes p(8 + largo);
  p[0] = tipo;
  p[1] = fin ? 1 : 0;
  p[2] = static_cast<std::uint8_t>((largo + 8) >> 8);
  p[3] = static_cast<std::uint8_t>(largo + 8);
  p[4] = static_cast<std::uint8_t>(spid_ >> 8);
  p[5] = static_cast<std::uint8_t>(spid_);
  p[6] = numero_++;
  std::copy(datos, datos + largo, p.begin() + 8);
  ++enviados_;
  if (fin) {
    numero_ = 1;
    enviados_ = 0;
  }
  if (despues) p.insert(p.end(), despues->begin(), despues->end());
  Escribir(p.data(), p.size());
}

void Canal::Agregar(Bytes& datos) {
  pendiente_.insert(pendiente_.end(), datos.begin(), datos.end());
  datos.clear();
  const std::size_t util = tamano_ - 8;
  std::size_t hecho = 0;
  // Only whole packets go out early, and never the last bytes: the final packet carries EOM.
  while (pendiente_.size() - hecho > util) {
    EnviarPaquete(kRespuesta, pendiente_.data() + hecho, util, false);
    hecho += util;
  }
  pendiente_.erase(pendiente_.begin(), pendiente_.begin() + static_cast<std::ptrdiff_t>(hecho));
}

// A cancel seen while this reply was produced is acknowledged in a message of its own, written together with
// the reply's last packet so the client has both at once.
void Canal::Terminar() {
  Bytes acuse;
  if (atencion_) {
    Escritor e(version_);
    e.Hecho(kDone, kAtencion, 0, 0);
    acuse = {kRespuesta,
             1,
             0,
             static_cast<std::uint8_t>(8 + e.Datos().size()),
             static_cast<std::uint8_t>(spid_ >> 8),
             static_cast<std::uint8_t>(spid_),
             1,
             0};
    acuse.insert(acuse.end(), e.Datos().begin(), e.Datos().end());
    atencion_ = false;
  }
  EnviarPaquete(kRespuesta, pendiente_.data(), pendiente_.size(), true, acuse.empty() ? nullptr : &acuse);
  pendiente_.clear();
}

void Canal::Enviar(std::uint8_t tipo, const Bytes& datos) {
  const std::size_t util = tamano_ - 8;
  std::size_t hecho = 0;
  while (datos.size() - hecho > util) {
    EnviarPaquete(tipo, datos.data() + hecho, util, false);
    hecho += util;
  }
  EnviarPaquete(tipo, datos.data() + hecho, datos.size() - hecho, true);
}

}  // namespace simulado::tds
