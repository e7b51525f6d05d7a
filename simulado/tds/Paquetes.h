// TDS packets: whole messages assembled from what arrives, replies cut to the negotiated packet size.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>

#include "tds/Sistema.h"
#include "tds/Tokens.h"

namespace simulado::tds {

enum TipoPaquete : std::uint8_t {
  kLote = 0x01,
  kRpc = 0x03,
  kRespuesta = 0x04,
  kAtencionPaquete = 0x06,
  kGestorTransacciones = 0x0E,
  kLogin7 = 0x10,
  kPrelogin = 0x12,
};

constexpr std::size_t kTopeMensaje = 64u << 20;
// Before login nobody has proved who they are: a few kilobytes are all PRELOGIN and LOGIN7 need.
constexpr std::size_t kTopeAntesDeEntrar = 64u << 10;
// What a client may have sent, and not had read, while its reply is written.
constexpr std::size_t kTopeMientrasResponde = 1u << 20;
// What a reply may queue in memory for a client that is not reading while the database is not held.
constexpr std::size_t kTopeDiferido = 64u << 20;
// What a message costs beyond its bytes (a flood of empty ones is counted too).
constexpr std::size_t kCostoMensaje = 64;

struct Mensaje {
  std::uint8_t tipo = 0;
  std::uint8_t estado = 0;  // status of the first packet (reset-connection bits)
  bool ignorar = false;     // the client abandoned it half-sent
  Bytes datos;
};

// Turns received bytes into messages. Pure (no I/O), so the fuzzer drives it directly. A packet whose
// header lies (length under 8, unknown type, type changing inside a message), or more than `tope` bytes held
// at once (the message being assembled and those complete but not yet taken, each counted with
// kCostoMensaje), raises ErrorProtocolo; after that the assembler is unusable and the connection must be
// closed.
class Ensamblador {
 public:
  explicit Ensamblador(std::size_t tope = kTopeMensaje) : tope_(tope) {}
  void Agregar(const std::uint8_t* datos, std::size_t largo);
  std::optional<Mensaje> Siguiente();
  void Tope(std::size_t tope) { tope_ = tope; }
  std::size_t Tope() const { return tope_; }
  // Part of a packet or of a message has arrived and the rest has not.
  bool AMedias() const { return !buffer_.empty() || enCurso_; }
  // Bytes held: the packets not yet complete, the message being assembled and those not yet taken.
  std::size_t Retenidos() const { return buffer_.size() - inicio_ + actual_.datos.size() + enListos_; }

 private:
  std::size_t tope_;
  std::size_t enListos_ = 0;  // bytes of listos_, with their cost
  Bytes buffer_;              // bytes of packets not yet complete
  std::size_t inicio_ = 0;
  bool enCurso_ = false;
  Mensaje actual_;
  std::deque<Mensaje> listos_;
};

// What lies between the packets and the socket once a connection is encrypted (a TLS session); without
// one the packets go on the socket as they are.
class Transporte {
 public:
  virtual ~Transporte() = default;
  // Bytes read from the socket, in any cut: the plaintext they complete is appended to `claro`. False when
  // the peer ended the session. Throws ErrorProtocolo on bytes that are not what the peer should send.
  virtual bool Recibidos(const std::uint8_t* datos, std::size_t largo, Bytes& claro) = 0;
  // Plaintext to send: the bytes to put on the socket are appended to `crudo`.
  virtual void AEnviar(const std::uint8_t* datos, std::size_t largo, Bytes& crudo) = 0;
};

// One client connection: reads whole messages under deadlines, writes replies in packets, and watches
// for an ATTENTION while a reply is streamed. `parada` is a descriptor that becomes readable when the
// server stops; every wait returns then.
class Canal {
 public:
  using ms = std::chrono::milliseconds;
  Canal(Descriptor sock, int parada, std::uint16_t spid);

  // The next message, or nothing when the client closed or the server is stopping. Waits up to `ocioso`
  // for a message to begin and up to `plazo` for each further piece of it (a half-sent packet followed by
  // silence is dropped).
  std::optional<Mensaje> Leer(ms ocioso, ms plazo);

  // Reply streaming: bytes are queued, full packets go out as they fill, Terminar sends the rest with EOM.
  void Agregar(Bytes& datos);
  void Terminar();
  // A whole reply message at once.
  void Enviar(std::uint8_t tipo, const Bytes& datos);
  // While on, what the socket does not take at once is queued in memory (up to kTopeDiferido) instead of
  // waited for, so that a result written outside a transaction does not keep the database held while a slow
  // client reads it; Drenar then writes the queue out, waiting as any write waits.
  void Diferir(bool si) { diferir_ = si; }
  void Drenar();
  // How long a write may wait for a client that takes nothing before the session is given up.
  void PlazoEscritura(ms plazo) { plazoEscritura_ = plazo; }

  // Reads what the client has sent meanwhile without blocking: true when it asked to cancel (ATTENTION),
  // closed the connection, or the server is stopping. The attention is consumed once and remembered in
  // Atendida() until the acknowledgement is sent.
  bool Interrumpido(std::chrono::microseconds espera = std::chrono::microseconds(0));
  // Packets of the reply in progress already sent.
  std::size_t Enviados() const { return enviados_; }
  // Bytes queued that do not yet fill a packet.
  std::size_t Pendientes() const { return pendiente_.size(); }
  bool Cerrado() const { return cerrado_; }
  bool Atendida() const { return atencion_; }
  void AtencionRespondida() { atencion_ = false; }
  bool Parando() const;

  void Version(std::uint32_t v) { version_ = v; }
  void TamanoPaquete(std::size_t n) { tamano_ = n; }
  std::size_t TamanoPaquete() const { return tamano_; }
  int Fd() const { return sock_.fd(); }
  void Tope(std::size_t tope) { ens_.Tope(tope); }
  // From now on every byte read and written passes through `t`; nullptr goes back to the bare socket. Only
  // between messages, when nothing read is waiting to be assembled.
  void Envolver(std::unique_ptr<Transporte> t) { transporte_ = std::move(t); }
  Transporte* Envoltura() const { return transporte_.get(); }
  // Writes `crudo` as it is, past any transport (a TLS alert or close_notify on the way out).
  void EscribirCrudo(const Bytes& crudo) { EscribirSocket(crudo.data(), crudo.size()); }

 private:
  void EnviarPaquete(std::uint8_t tipo, const std::uint8_t* datos, std::size_t largo, bool fin,
                     const Bytes* despues = nullptr);
  void Escribir(const std::uint8_t* p, std::size_t n);
  void EscribirEsperando(const std::uint8_t* p, std::size_t n);
  std::size_t EnviarSinEsperar(const std::uint8_t* p, std::size_t n);
  bool VaciarCola();  // true when nothing is left queued
  void EscribirSocket(const std::uint8_t* p, std::size_t n);
  bool LeerDisponible(std::chrono::microseconds espera);  // false on end of stream
  void RevisarAtencion();

  Descriptor sock_;
  int parada_;
  std::uint16_t spid_;
  std::size_t tamano_ = 4096;
  std::uint32_t version_ = 0x74000004;
  std::uint8_t numero_ = 1;
  std::size_t enviados_ = 0;
  Bytes pendiente_;
  Ensamblador ens_;
  // Messages that came while a reply was being written (a client should not send them, but may).
  std::deque<Mensaje> guardados_;
  std::size_t enGuardados_ = 0;  // their bytes, with their cost
  bool cerrado_ = false;
  bool atencion_ = false;
  bool diferir_ = false;
  Bytes cola_;  // written, not yet taken by the socket
  std::size_t colaInicio_ = 0;
  ms plazoEscritura_ = std::chrono::seconds(60);
  std::unique_ptr<Transporte> transporte_;
};

}  // namespace simulado::tds
