// TLS through OpenSSL: the server's context and certificate, sessions over memory BIOs, the handshake.
#include "tds/Cifrado.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>
#include <optional>
#include <type_traits>

namespace simulado::tds {

namespace {

// What TLS 1.2 clients of SQL Server offer and OpenSSL still calls strong: ECDHE key exchange (forward
// secrecy) and AEAD ciphers, for ECDSA and RSA certificates alike.
constexpr const char* kCifras =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
// A TLS 1.2 handshake takes two messages from the client; a few more are allowed for clients that split.
constexpr int kMensajesSaludo = 16;

std::string ColaDeErrores(unsigned long& primero) {
  std::string r;
  primero = 0;
  while (const unsigned long e = ERR_get_error()) {
    if (!primero) primero = e;
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    r += (r.empty() ? "" : "; ") + std::string(buf);
  }
  return r;
}

[[noreturn]] void Fallar(const std::string& que, const char* siVacia) {
  unsigned long codigo = 0;
  std::string cola = ColaDeErrores(codigo);
  if (cola.empty()) cola = siVacia;
  throw ErrorCifrado(que + ": " + cola, codigo);
}

// Every OpenSSL call that can fail goes through here: the error queue is emptied first, and a failure (a
// null pointer, or a result of 0 or less) is raised as ErrorCifrado with `que` and what the queue then
// holds. With `ssl`, the call is I/O on that session: wanting more input is no failure (0 is returned), and
// the peer's close_notify returns -1. Calls that cannot fail (setters, frees) are made directly.
template <class F>
auto Ssl(const std::string& que, F&& llamada, SSL* ssl = nullptr) {
  ERR_clear_error();
  auto r = llamada();
  if constexpr (std::is_pointer_v<decltype(r)>) {
    if (!r) Fallar(que, "sin detalle de OpenSSL");
  } else {
    if (r > 0) return r;
    if (ssl) {
      const int e = SSL_get_error(ssl, static_cast<int>(r));
      if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return decltype(r){0};
      if (e == SSL_ERROR_ZERO_RETURN) return decltype(r){-1};
      Fallar(que, "el otro extremo cortó la sesión TLS");
    }
    Fallar(que, "sin detalle de OpenSSL");
  }
  return r;
}

template <auto F>
struct Con {
  template <class T>
  void operator()(T* p) const noexcept {
    F(p);
  }
};
using Clave = std::unique_ptr<EVP_PKEY, Con<EVP_PKEY_free>>;
using Certificado = std::unique_ptr<X509, Con<X509_free>>;
using Bio = std::unique_ptr<BIO, Con<BIO_free_all>>;

// A key file with a passphrase is refused instead of asking for it on a terminal nobody watches.
int SinFrase(char*, int, int, void*) {
  return 0;
}

std::unique_ptr<SSL_CTX, LiberarSsl> ContextoBase() {
  std::unique_ptr<SSL_CTX, LiberarSsl> c(Ssl("SSL_CTX_new", [] { return SSL_CTX_new(TLS_server_method()); }));
  SSL_CTX* x = c.get();
  Ssl("TLS 1.2", [&] { return SSL_CTX_set_min_proto_version(x, TLS1_2_VERSION); });
  Ssl("TLS 1.2", [&] { return SSL_CTX_set_max_proto_version(x, TLS1_2_VERSION); });
  Ssl("SSL_CTX_set_cipher_list", [&] { return SSL_CTX_set_cipher_list(x, kCifras); });
  // Every connection makes a full handshake: with no resumption the client's last flight never carries its
  // first request, so the handshake ends on a message boundary.
  SSL_CTX_set_options(x, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET | SSL_OP_CIPHER_SERVER_PREFERENCE |
                             SSL_OP_NO_COMPRESSION);
  SSL_CTX_set_session_cache_mode(x, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_default_passwd_cb(x, SinFrase);
  return c;
}

// dd/mm/yyyy of a certificate date.
std::string Fecha(const ASN1_TIME* t) {
  std::tm tm{};
  Ssl("ASN1_TIME_to_tm", [&] { return ASN1_TIME_to_tm(t, &tm); });
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
  return buf;
}

// Seconds from now to `t` (negative when it is past).
long long Hasta(const ASN1_TIME* t) {
  int dias = 0, segundos = 0;
  Ssl("ASN1_TIME_diff", [&] { return ASN1_TIME_diff(&dias, &segundos, nullptr, t); });
  return dias * 86400LL + segundos;
}

void Extension(X509* x, int nid, const std::string& valor) {
  X509V3_CTX v;
  X509V3_set_ctx_nodb(&v);
  X509V3_set_ctx(&v, x, x, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, Con<X509_EXTENSION_free>> e(
      Ssl("X509V3_EXT_conf_nid", [&] { return X509V3_EXT_conf_nid(nullptr, &v, nid, valor.c_str()); }));
  Ssl("X509_add_ext", [&] { return X509_add_ext(x, e.get(), -1); });
}

}  // namespace

void LiberarSsl::operator()(SSL_CTX* p) const noexcept {
  SSL_CTX_free(p);
}
void LiberarSsl::operator()(SSL* p) const noexcept {
  SSL_free(p);
}

ContextoTls::ContextoTls(std::unique_ptr<SSL_CTX, LiberarSsl> ctx) : ctx_(std::move(ctx)) {}

// Fingerprint and description of the certificate in use.
void ContextoTls::Terminar(X509* x) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  Ssl("X509_digest", [&] { return X509_digest(x, EVP_sha256(), md, &n); });
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned int i = 0; i < n; ++i) {
    if (i) huella_ += ':';
    huella_ += kHex[md[i] >> 4];
    huella_ += kHex[md[i] & 0x0F];
  }
  Bio b(Ssl("BIO_new", [] { return BIO_new(BIO_s_mem()); }));
  Ssl("X509_NAME_print_ex", [&] {
    return X509_NAME_print_ex(b.get(), X509_get_subject_name(x), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  });
  char* p = nullptr;
  const long largo = BIO_get_mem_data(b.get(), &p);
  descripcion_ = std::string(p, static_cast<std::size_t>(largo)) + ", válido del " +
                 Fecha(X509_get0_notBefore(x)) + " al " + Fecha(X509_get0_notAfter(x));
}

std::shared_ptr<ContextoTls> ContextoTls::DeArchivos(const std::string& certificado,
                                                     const std::string& clave) {
  auto c = ContextoBase();
  Ssl("no se pudo leer el certificado " + certificado,
      [&] { return SSL_CTX_use_certificate_chain_file(c.get(), certificado.c_str()); });
  X509* x = Ssl("SSL_CTX_get0_certificate", [&] { return SSL_CTX_get0_certificate(c.get()); });
  Bio f(Ssl("no se pudo abrir la clave " + clave, [&] { return BIO_new_file(clave.c_str(), "r"); }));
  Clave k(Ssl("no se pudo leer la clave " + clave,
              [&] { return PEM_read_bio_PrivateKey(f.get(), nullptr, SinFrase, nullptr); }));
  Ssl("la clave " + clave + " no es la del certificado " + certificado,
      [&] { return X509_check_private_key(x, k.get()); });
  Ssl("SSL_CTX_use_PrivateKey", [&] { return SSL_CTX_use_PrivateKey(c.get(), k.get()); });
  std::shared_ptr<ContextoTls> r(new ContextoTls(std::move(c)));
  r->Terminar(x);
  if (Hasta(X509_get0_notBefore(x)) > 0 || Hasta(X509_get0_notAfter(x)) < 0)
    throw ErrorCifrado("el certificado " + certificado + " no vale hoy (" + r->descripcion_ + ")", 0);
  return r;
}

std::shared_ptr<ContextoTls> ContextoTls::Autofirmado(const std::vector<std::string>& nombres) {
  auto c = ContextoBase();
  Clave k(Ssl("EVP_EC_gen", [] { return EVP_EC_gen("P-256"); }));
  Certificado x(Ssl("X509_new", [] { return X509_new(); }));
  Ssl("X509_set_version", [&] { return X509_set_version(x.get(), X509_VERSION_3); });
  unsigned char azar[8];
  Ssl("RAND_bytes", [&] { return RAND_bytes(azar, sizeof azar); });
  azar[0] &= 0x7F;  // a positive serial number
  std::unique_ptr<BIGNUM, Con<BN_free>> serie(
      Ssl("BN_bin2bn", [&] { return BN_bin2bn(azar, sizeof azar, nullptr); }));
  Ssl("BN_to_ASN1_INTEGER", [&] { return BN_to_ASN1_INTEGER(serie.get(), X509_get_serialNumber(x.get())); });
  Ssl("X509_gmtime_adj", [&] { return X509_gmtime_adj(X509_getm_notBefore(x.get()), -86400L); });
  Ssl("X509_gmtime_adj", [&] { return X509_gmtime_adj(X509_getm_notAfter(x.get()), 365L * 86400L); });
  const std::string cn = nombres.empty() ? "solvane-servidor" : nombres.front();
  X509_NAME* sujeto = X509_get_subject_name(x.get());
  Ssl("X509_NAME_add_entry_by_txt", [&] {
    return X509_NAME_add_entry_by_txt(sujeto, "CN", MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  });
  Ssl("X509_set_issuer_name", [&] { return X509_set_issuer_name(x.get(), sujeto); });
  Ssl("X509_set_pubkey", [&] { return X509_set_pubkey(x.get(), k.get()); });
  std::string alternativos;
  for (const auto& n : nombres) {
    in_addr a{};
    alternativos += (alternativos.empty() ? "" : ",") +
                    std::string(::inet_pton(AF_INET, n.c_str(), &a) == 1 ? "IP:" : "DNS:") + n;
  }
  if (!alternativos.empty()) Extension(x.get(), NID_subject_alt_name, alternativos);
  Extension(x.get(), NID_basic_constraints, "critical,CA:FALSE");
  Extension(x.get(), NID_ext_key_usage, "serverAuth");
  Ssl("X509_sign", [&] { return X509_sign(x.get(), k.get(), EVP_sha256()); });
  Ssl("SSL_CTX_use_certificate", [&] { return SSL_CTX_use_certificate(c.get(), x.get()); });
  Ssl("SSL_CTX_use_PrivateKey", [&] { return SSL_CTX_use_PrivateKey(c.get(), k.get()); });
  std::shared_ptr<ContextoTls> r(new ContextoTls(std::move(c)));
  r->Terminar(x.get());
  return r;
}

std::unique_ptr<SesionTls> ContextoTls::Nueva() const {
  return std::make_unique<SesionTls>(ctx_.get());
}

SesionTls::SesionTls(SSL_CTX* ctx) : ssl_(Ssl("SSL_new", [&] { return SSL_new(ctx); })) {
  Bio entrada(Ssl("BIO_new", [] { return BIO_new(BIO_s_mem()); }));
  Bio salida(Ssl("BIO_new", [] { return BIO_new(BIO_s_mem()); }));
  // An empty input buffer means "more is coming", not the end of the stream.
  BIO_set_mem_eof_return(entrada.get(), -1);
  entrada_ = entrada.release();
  salida_ = salida.release();
  SSL_set_bio(ssl_.get(), entrada_, salida_);
  SSL_set_accept_state(ssl_.get());
}

bool SesionTls::Saludar(const Bytes& entrada) {
  if (!entrada.empty())
    Ssl("BIO_write", [&] { return BIO_write(entrada_, entrada.data(), static_cast<int>(entrada.size())); });
  const int r = Ssl(
      "negociación TLS fallida", [&] { return SSL_do_handshake(ssl_.get()); }, ssl_.get());
  if (r < 0) throw ErrorProtocolo("el cliente cerró la sesión TLS durante la negociación");
  return r > 0;
}

Bytes SesionTls::Pendiente() {
  Bytes r(BIO_ctrl_pending(salida_));
  if (!r.empty()) Ssl("BIO_read", [&] { return BIO_read(salida_, r.data(), static_cast<int>(r.size())); });
  return r;
}

std::string SesionTls::Descripcion() const {
  return std::string(SSL_get_version(ssl_.get())) + " " + SSL_get_cipher_name(ssl_.get());
}

void SesionTls::Despedir() noexcept {
  try {
    Ssl(
        "SSL_shutdown", [&] { return SSL_shutdown(ssl_.get()); }, ssl_.get());
  } catch (const std::exception&) {
    // A session that already failed has nothing to say on its way out.
  }
}

bool SesionTls::Recibidos(const std::uint8_t* datos, std::size_t largo, Bytes& claro) {
  if (largo > 0) Ssl("BIO_write", [&] { return BIO_write(entrada_, datos, static_cast<int>(largo)); });
  std::uint8_t buf[16384];
  for (;;) {
    const int r = Ssl(
        "datos cifrados inválidos", [&] { return SSL_read(ssl_.get(), buf, sizeof buf); }, ssl_.get());
    if (r < 0) return false;
    if (r == 0) return true;
    claro.insert(claro.end(), buf, buf + r);
  }
}

void SesionTls::AEnviar(const std::uint8_t* datos, std::size_t largo, Bytes& crudo) {
  if (largo == 0) return;
  const int r = Ssl(
      "SSL_write", [&] { return SSL_write(ssl_.get(), datos, static_cast<int>(largo)); }, ssl_.get());
  if (r <= 0) throw ErrorProtocolo("la sesión TLS no acepta más datos");
  const Bytes salida = Pendiente();
  crudo.insert(crudo.end(), salida.begin(), salida.end());
}

std::unique_ptr<SesionTls> Negociar(Canal& canal, const ContextoTls& contexto,
                                    std::chrono::milliseconds plazo) {
  using reloj = std::chrono::steady_clock;
  auto s = contexto.Nueva();
  const auto limite = reloj::now() + plazo;
  for (int mensajes = 0;; ++mensajes) {
    if (mensajes == kMensajesSaludo) throw ErrorProtocolo("negociación TLS con demasiados mensajes");
    const auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(limite - reloj::now());
    if (falta.count() <= 0) throw ErrorProtocolo("negociación TLS sin terminar: tiempo de espera agotado");
    std::optional<Mensaje> m;
    try {
      m = canal.Leer(falta, falta);
    } catch (const ErrorProtocolo& e) {
      throw ErrorProtocolo(std::string("negociación TLS: ") + e.what());
    }
    if (!m) throw ErrorProtocolo("el cliente cerró la conexión durante la negociación TLS");
    if (m->tipo != kPrelogin) throw ErrorProtocolo("negociación TLS: se esperaba un paquete PRELOGIN");
    bool listo = false;
    try {
      listo = s->Saludar(m->datos);
    } catch (const ErrorCifrado&) {
      // The client is told why (the alert OpenSSL wrote), if it still listens.
      try {
        const Bytes alerta = s->Pendiente();
        if (!alerta.empty()) canal.Enviar(kPrelogin, alerta);
      } catch (const std::exception&) {
      }
      throw;
    }
    const Bytes salida = s->Pendiente();
    if (!salida.empty()) canal.Enviar(kPrelogin, salida);
    if (listo) return s;
  }
}

}  // namespace simulado::tds
