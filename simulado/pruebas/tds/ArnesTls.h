// Test harness for encrypted connections: certificates made on the spot, a raw TDS client that starts TLS
// inside PRELOGIN, and a relay that records every byte that crosses it.
#pragma once

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "Arnes.h"

namespace prueba_tds {

using simulado::tds::Bytes;

// A certificate and its key, both PEM.
struct Par {
  std::string certificado, clave;
};

inline std::string Pem(int (*escribir)(BIO*, void*), void* objeto) {
  BIO* b = BIO_new(BIO_s_mem());
  escribir(b, objeto);
  char* p = nullptr;
  const long n = BIO_get_mem_data(b, &p);
  std::string r(p, static_cast<std::size_t>(n));
  BIO_free(b);
  return r;
}

// A certificate for DNS name `nombre` (also its CN), valid from `desde` to `hasta` seconds from now, signed
// by `emisor` (self-signed without one); `ca` makes it a CA. RSA keys when `rsa`, else EC P-256.
inline Par Emitir(const std::string& nombre, long desde, long hasta, const Par* emisor = nullptr,
                  bool ca = false, bool rsa = false) {
  EVP_PKEY* k = rsa ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256");
  X509* x = X509_new();
  X509_set_version(x, X509_VERSION_3);
  static std::atomic<long> serie{1};
  ASN1_INTEGER_set(X509_get_serialNumber(x), serie++);
  X509_gmtime_adj(X509_getm_notBefore(x), desde);
  X509_gmtime_adj(X509_getm_notAfter(x), hasta);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(nombre.c_str()), -1, -1, 0);
  X509_set_pubkey(x, k);
  X509* firmante = x;
  EVP_PKEY* claveFirma = k;
  if (emisor) {
    BIO* b = BIO_new_mem_buf(emisor->certificado.data(), static_cast<int>(emisor->certificado.size()));
    firmante = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
    BIO_free(b);
    b = BIO_new_mem_buf(emisor->clave.data(), static_cast<int>(emisor->clave.size()));
    claveFirma = PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr);
    BIO_free(b);
  }
  X509_set_issuer_name(x, X509_get_subject_name(firmante));
  X509V3_CTX v;
  X509V3_set_ctx_nodb(&v);
  X509V3_set_ctx(&v, firmante, x, nullptr, nullptr, 0);
  const std::string extensiones[][2] = {
      {"basicConstraints", ca ? "critical,CA:TRUE" : "CA:FALSE"},
      {"keyUsage", ca ? "critical,keyCertSign,cRLSign" : "digitalSignature,keyEncipherment"},
      {"subjectAltName", ca ? "" : "DNS:" + nombre}};
  for (const auto& [n, valor] : extensiones) {
    if (valor.empty()) continue;
    X509_EXTENSION* e = X509V3_EXT_nconf(nullptr, &v, n.c_str(), valor.c_str());
    X509_add_ext(x, e, -1);
    X509_EXTENSION_free(e);
  }
  X509_sign(x, claveFirma, EVP_sha256());
  Par r{Pem([](BIO* b, void* o) { return PEM_write_bio_X509(b, static_cast<X509*>(o)); }, x),
        Pem(
            [](BIO* b, void* o) {
              return PEM_write_bio_PrivateKey(b, static_cast<EVP_PKEY*>(o), nullptr, nullptr, 0, nullptr,
                                              nullptr);
            },
            k)};
  if (emisor) {
    X509_free(firmante);
    EVP_PKEY_free(claveFirma);
  }
  X509_free(x);
  EVP_PKEY_free(k);
  return r;
}

// The key of `p` under a passphrase.
inline std::string ConFrase(const Par& p) {
  BIO* b = BIO_new_mem_buf(p.clave.data(), static_cast<int>(p.clave.size()));
  EVP_PKEY* k = PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr);
  BIO_free(b);
  const std::string r = Pem(
      [](BIO* o, void* x) {
        static char frase[] = "frase";
        return PEM_write_bio_PrivateKey(o, static_cast<EVP_PKEY*>(x), EVP_aes_256_cbc(),
                                        reinterpret_cast<unsigned char*>(frase), 5, nullptr, nullptr);
      },
      k);
  EVP_PKEY_free(k);
  return r;
}

// A raw TDS client with TLS in PRELOGIN, for what real clients cannot be made to do: stop halfway, offer
// old TLS versions, send junk after the handshake. No certificate check: these tests are about the server.
class ClienteTls {
 public:
  explicit ClienteTls(int puerto, int versionMaxima = TLS1_3_VERSION) : c(puerto) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx_, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(ctx_, versionMaxima);
    SSL_CTX_set_security_level(ctx_, 0);
    ssl_ = SSL_new(ctx_);
    entrada_ = BIO_new(BIO_s_mem());
    salida_ = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(entrada_, -1);
    SSL_set_bio(ssl_, entrada_, salida_);
    SSL_set_connect_state(ssl_);
  }
  ~ClienteTls() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
  }
  ClienteTls(const ClienteTls&) = delete;
  ClienteTls& operator=(const ClienteTls&) = delete;

  // Sends PRELOGIN asking for `cifrado`; the server's ENCRYPTION answer, or -1.
  int Prelogin(std::uint8_t cifrado) {
    c.Paquete(0x12, Crudo::Prelogin(cifrado));
    const auto r = c.Respuesta();
    return r.size() > 0x20 ? r[0x20] : -1;
  }
  // One step of the handshake: what TLS has to say goes out in a PRELOGIN packet. False once TLS gives up.
  bool Paso() {
    ERR_clear_error();
    const int r = SSL_do_handshake(ssl_);
    const Bytes s = Pendiente();
    if (!s.empty()) c.Paquete(0x12, s);
    if (r == 1) listo = true;
    return r == 1 || SSL_get_error(ssl_, r) == SSL_ERROR_WANT_READ;
  }
  // The whole handshake: true when it completed.
  bool Saludar() {
    for (int i = 0; i < 10 && Paso() && !listo; ++i) {
      const auto m = c.Respuesta(5000);
      if (m.empty()) return false;
      BIO_write(entrada_, m.data(), static_cast<int>(m.size()));
    }
    return listo;
  }
  // The server ended the connection within 5 s (what it said on the way out, such as a close_notify, is
  // read and dropped).
  bool Cerrado() {
    std::uint8_t buf[4096];
    for (int i = 0; i < 64; ++i) {
      pollfd q{c.fd, POLLIN, 0};
      if (::poll(&q, 1, 5000) <= 0) return false;
      if (::recv(c.fd, buf, sizeof buf, 0) <= 0) return true;
    }
    return false;
  }
  Crudo c;
  bool listo = false;

 private:
  Bytes Pendiente() {
    Bytes r(BIO_ctrl_pending(salida_));
    if (!r.empty()) BIO_read(salida_, r.data(), static_cast<int>(r.size()));
    return r;
  }
  SSL_CTX* ctx_;
  SSL* ssl_;
  BIO* entrada_;
  BIO* salida_;
};

// A TCP relay on a free loopback port to `destino` for one connection (bounded to 60 s), recording every
// byte that crosses it, both ways.
class Relevo {
 public:
  explicit Relevo(int destino) {
    escucha_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (::bind(escucha_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(escucha_, 1) != 0 ||
        ::getsockname(escucha_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
      throw std::runtime_error("relevo");
    puerto = ntohs(a.sin_port);
    hilo_ = std::thread([this, destino] {
      pollfd p{escucha_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) return;
      const int cliente = ::accept(escucha_, nullptr, nullptr);
      try {
        Crudo servidor(destino);
        Bombear(cliente, servidor.fd);
      } catch (const std::exception&) {
      }
      ::close(cliente);
    });
  }
  ~Relevo() {
    fin_ = true;
    hilo_.join();
    ::close(escucha_);
  }
  Relevo(const Relevo&) = delete;
  Relevo& operator=(const Relevo&) = delete;

  Bytes Capturado() {
    std::lock_guard l(m_);
    return capturado_;
  }

  int puerto = 0;

 private:
  void Bombear(int a, int b) {
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fin_ && std::chrono::steady_clock::now() < limite) {
      pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
      if (::poll(p, 2, 50) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        std::uint8_t buf[16384];
        const ssize_t n = p[i].revents ? ::recv(p[i].fd, buf, sizeof buf, 0) : 0;
        if (p[i].revents &&
            (n <= 0 || ::send(p[1 - i].fd, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n))
          return;
        std::lock_guard l(m_);
        capturado_.insert(capturado_.end(), buf, buf + std::max<ssize_t>(n, 0));
      }
    }
  }

  int escucha_ = -1;
  std::atomic<bool> fin_{false};
  std::mutex m_;
  Bytes capturado_;
  std::thread hilo_;
};

}  // namespace prueba_tds
