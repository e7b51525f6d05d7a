// Test harness for encrypted connections: certificates made on the spot, a raw TDS client that speaks TLS
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

// SHA-256 of a PEM certificate, as openssl prints it ("AB:CD:...").
inline std::string Huella(const std::string& pem) {
  BIO* b = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* x = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
  BIO_free(b);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  X509_digest(x, EVP_sha256(), md, &n);
  X509_free(x);
  std::string r;
  char hex[4];
  for (unsigned int i = 0; i < n; ++i) {
    std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", md[i]);
    r += hex;
  }
  return r;
}

// A raw TDS client with TLS in PRELOGIN, for what real clients cannot be made to do: stop halfway, send
// junk, offer old TLS versions. No certificate check: these tests are about the server's side.
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
  // A TDS packet through TLS.
  void Paquete(std::uint8_t tipo, const Bytes& datos) {
    Bytes p = {tipo,
               1,
               static_cast<std::uint8_t>((datos.size() + 8) >> 8),
               static_cast<std::uint8_t>(datos.size() + 8),
               0,
               0,
               1,
               0};
    p.insert(p.end(), datos.begin(), datos.end());
    SSL_write(ssl_, p.data(), static_cast<int>(p.size()));
    c.EnviarBytes(Pendiente());
  }
  // One whole reply decrypted (payloads joined); empty when nothing came in time.
  Bytes Respuesta() {
    Bytes claro, r;
    for (int vueltas = 0; vueltas < 200; ++vueltas) {
      while (claro.size() >= 8 && claro.size() >= static_cast<std::size_t>(claro[2] << 8 | claro[3])) {
        const std::size_t n = static_cast<std::size_t>(claro[2] << 8 | claro[3]);
        r.insert(r.end(), claro.begin() + 8, claro.begin() + static_cast<std::ptrdiff_t>(n));
        const bool fin = claro[1] & 1;
        claro.erase(claro.begin(), claro.begin() + static_cast<std::ptrdiff_t>(n));
        if (fin) return r;
      }
      pollfd q{c.fd, POLLIN, 0};
      std::uint8_t buf[16384];
      if (::poll(&q, 1, 5000) <= 0) return {};
      const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
      if (n <= 0) return {};
      BIO_write(entrada_, buf, static_cast<int>(n));
      int k;
      while ((k = SSL_read(ssl_, buf, sizeof buf)) > 0) claro.insert(claro.end(), buf, buf + k);
    }
    return {};
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
  // LOGIN7 and a batch through TLS: the batch's reply.
  Bytes EntrarYConsultar(const std::string& sql) {
    Paquete(0x10, Crudo::Login7("pagora", kClave, "PagoraDemo", 0x74000004));
    if (Respuesta().empty()) return {};
    auto d = Crudo::Encabezados();
    const auto t = Crudo::Utf16(sql);
    d.insert(d.end(), t.begin(), t.end());
    Paquete(0x01, d);
    return Respuesta();
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

// A TCP relay on a free loopback port to `destino`: it serves the connections made to it one after another
// (at most 8, each bounded to 60 s) and records every byte that crosses it, both ways.
class Relevo {
 public:
  explicit Relevo(int destino) : destino_(destino) {
    escucha_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (::bind(escucha_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(escucha_, 4) != 0 ||
        ::getsockname(escucha_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
      throw std::runtime_error("relevo");
    puerto = ntohs(a.sin_port);
    hilo_ = std::thread([this] { Correr(); });
  }
  ~Relevo() {
    fin_ = true;
    hilo_.join();
    ::close(escucha_);
  }
  Relevo(const Relevo&) = delete;
  Relevo& operator=(const Relevo&) = delete;

  // Everything that crossed so far, both ways.
  Bytes Capturado() {
    std::lock_guard l(m_);
    return capturado_;
  }

  int puerto = 0;

 private:
  void Correr() {
    for (int conexiones = 0; conexiones < 8 && !fin_;) {
      pollfd p{escucha_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int cliente = ::accept(escucha_, nullptr, nullptr);
      if (cliente < 0) continue;
      ++conexiones;
      Crudo servidor(destino_);
      Bombear(cliente, servidor.fd);
      ::close(cliente);
    }
  }
  void Bombear(int a, int b) {
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fin_ && std::chrono::steady_clock::now() < limite) {
      pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
      if (::poll(p, 2, 50) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (!p[i].revents) continue;
        std::uint8_t buf[16384];
        const ssize_t n = ::recv(p[i].fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        {
          std::lock_guard l(m_);
          capturado_.insert(capturado_.end(), buf, buf + n);
        }
        if (::send(p[1 - i].fd, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) return;
      }
    }
  }

  int destino_;
  int escucha_ = -1;
  std::atomic<bool> fin_{false};
  std::mutex m_;
  Bytes capturado_;
  std::thread hilo_;
};

}  // namespace prueba_tds
