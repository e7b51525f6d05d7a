// TLS for the TDS server (OpenSSL): the certificate and its context, one connection's session over memory
// buffers, and the handshake carried in PRELOGIN packets.
#pragma once

#include <openssl/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tds/Paquetes.h"

namespace simulado::tds {

// A failed TLS step: what was being done, then OpenSSL's own words for it (its error queue at that moment).
// `numero` is the first code of that queue, 0 when it was empty.
class ErrorCifrado : public ErrorProtocolo {
 public:
  ErrorCifrado(const std::string& texto, unsigned long codigo) : ErrorProtocolo(texto), numero(codigo) {}
  unsigned long numero;
};

struct LiberarSsl {
  void operator()(SSL_CTX* p) const noexcept;
  void operator()(SSL* p) const noexcept;
};

class SesionTls;

// The server's side of TLS: its certificate and key, TLS 1.2 only (what SQL Server speaks inside
// PRELOGIN), forward-secret AEAD ciphers, no renegotiation, no session resumption. Shared by every
// session; safe to use from several threads.
class ContextoTls {
 public:
  // Certificate (PEM, the server's first, then any intermediates) and private key (PEM, without a
  // passphrase: the server never asks for one) from files. Throws ErrorCifrado when a file cannot be read,
  // the key is not the certificate's, or the certificate is not valid today.
  static std::shared_ptr<ContextoTls> DeArchivos(const std::string& certificado, const std::string& clave);
  // A self-signed certificate made now for this run (EC P-256, valid from a day ago for a year), for
  // `nombres`: host names and IPv4 addresses; the first is also its common name.
  static std::shared_ptr<ContextoTls> Autofirmado(const std::vector<std::string>& nombres);

  // The SHA-256 of the certificate (DER), as upper-case hex pairs joined by ':'.
  std::string Huella() const { return huella_; }
  // Subject and validity, for the operator: "CN=..., válido del ... al ...".
  std::string Descripcion() const { return descripcion_; }
  std::unique_ptr<SesionTls> Nueva() const;

 private:
  explicit ContextoTls(std::unique_ptr<SSL_CTX, LiberarSsl> ctx);
  void Terminar(X509* certificado);

  std::unique_ptr<SSL_CTX, LiberarSsl> ctx_;
  std::string huella_, descripcion_;
};

// One connection's TLS, in memory: the socket's bytes go in, the peer's plaintext comes out, and the other
// way round. First the handshake (Saludar), then the transport of the Canal.
class SesionTls final : public Transporte {
 public:
  explicit SesionTls(SSL_CTX* ctx);

  // Feeds one piece of the client's handshake; true once the handshake is complete. What must go back to
  // the client is then taken with Pendiente(). Throws ErrorCifrado when the client's bytes are not a
  // handshake this server accepts (the alert for the client is left in Pendiente()).
  bool Saludar(const Bytes& entrada);
  // What OpenSSL has to send (handshake records, alerts), taken once.
  Bytes Pendiente();
  // "TLSv1.2 ECDHE-ECDSA-AES128-GCM-SHA256".
  std::string Descripcion() const;
  // A close_notify for the peer, in Pendiente(); never throws.
  void Despedir() noexcept;

  bool Recibidos(const std::uint8_t* datos, std::size_t largo, Bytes& claro) override;
  void AEnviar(const std::uint8_t* datos, std::size_t largo, Bytes& crudo) override;

 private:
  std::unique_ptr<SSL, LiberarSsl> ssl_;
  BIO* entrada_ = nullptr;  // both owned by ssl_
  BIO* salida_ = nullptr;
};

// The handshake inside PRELOGIN packets (type 0x12 both ways), with the whole exchange bounded by `plazo`
// and a few messages, whatever the client's pace. Returns the session, ready to be the channel's
// transport. Throws ErrorProtocolo (ErrorCifrado for TLS's own refusals) when the client closes, stalls,
// sends something else or a handshake that fails.
std::unique_ptr<SesionTls> Negociar(Canal& canal, const ContextoTls& contexto,
                                    std::chrono::milliseconds plazo);

}  // namespace simulado::tds
