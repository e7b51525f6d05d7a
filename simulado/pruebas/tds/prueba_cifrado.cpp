// Encrypted connections: real clients on their defaults and forced to encrypt, what a wire capture shows,
// certificates the server or a client refuses, and handshakes that break, stall or never end.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>

#include "ArnesTls.h"
#include "Odbc.h"
#include "tds/Cifrado.h"

using namespace prueba_tds;
using simulado::tds::Bytes;

namespace {

void Escribir(const std::string& ruta, const std::string& texto) {
  std::ofstream(ruta, std::ios::binary) << texto;
}

bool Contiene(const std::string& s, const std::string& parte) {
  return s.find(parte) != std::string::npos;
}

bool Contiene(const Bytes& b, const Bytes& parte) {
  return std::search(b.begin(), b.end(), parte.begin(), parte.end()) != b.end();
}

// The certificates of these tests, made once: a CA, a server certificate it signed for "localhost" (RSA,
// as many shops' are), another CA, and certificates no server should start with.
struct Certificados {
  Par ca = Emitir("CA de prueba Pagora", -3600, 86400, nullptr, true);
  Par servidor = Emitir("localhost", -3600, 86400, &ca, false, true);
  Par otraCa = Emitir("Otra CA", -3600, 86400, nullptr, true);
  Par vencido = Emitir("localhost", -7200, -3600, &ca);
  Par futuro = Emitir("localhost", 3600, 7200, &ca);
  std::string dir;

  Certificados() {
    char plantilla[] = "/tmp/prueba_tls_XXXXXX";
    if (!::mkdtemp(plantilla)) throw std::runtime_error("mkdtemp");
    dir = plantilla;
    const std::pair<std::string, std::string> archivos[] = {
        {"ca.pem", ca.certificado},
        {"otra-ca.pem", otraCa.certificado},
        {"servidor.pem", servidor.certificado},
        {"servidor.key", servidor.clave},
        {"vencido.pem", vencido.certificado},
        {"vencido.key", vencido.clave},
        {"futuro.pem", futuro.certificado},
        {"futuro.key", futuro.clave},
        {"ajena.key", otraCa.clave},
        {"frase.key", ConFrase(servidor)},
        {"basura.pem", "-----BEGIN CERTIFICATE-----\nno es base64\n-----END CERTIFICATE-----\n"}};
    for (const auto& [n, t] : archivos) Escribir(dir + "/" + n, t);
  }
  ~Certificados() { std::filesystem::remove_all(dir); }
  std::string operator()(const std::string& nombre) const { return dir + "/" + nombre; }
};

const Certificados& Cert() {
  static const Certificados c;
  return c;
}

// The server with the CA's certificate for localhost, in `modo`.
std::vector<std::string> ConCertificado(const std::string& modo = "admitido") {
  return {"--cifrado",           modo, "--certificado", Cert()("servidor.pem"), "--clave-certificado",
          Cert()("servidor.key")};
}

// What the server logged for the last session opened: "cifrada (TLSv1.2 ...)", "cifrado sólo el login
// (...)" or "sin cifrar"; "" when none opened.
std::string UltimaSesion(const std::string& salida) {
  const auto p = salida.rfind(" abierta: ");
  if (p == std::string::npos) return "";
  const auto coma = salida.find(", ", p);
  return salida.substr(coma + 2, salida.find('\n', coma) - coma - 2);
}

// freetds.conf with a section [pagora] for this server by the name its certificate carries, holding
// `ajustes`. A CA file reaches FreeTDS only from such a section: tsql -S, Servername= in ODBC, pymssql.
std::string ConfFreetds(const std::string& nombre, int puerto, const std::string& ajustes) {
  std::string ruta = Cert()(nombre);
  Escribir(ruta, "[global]\n\ttds version = 7.4\n[pagora]\n\thost = localhost\n\tport = " +
                     std::to_string(puerto) + "\n" + ajustes);
  return ruta;
}

std::string Tsql(const std::string& conf) {
  return Correr("env FREETDSCONF=" + conf + " tsql -S pagora -U pagora -P " + kClave,
                "SELECT PAR_LA FROM Parametros\ngo\nquit\n");
}

// The first value of a one-row query through the ODBC driver, "<sin conexión>" when it does not connect.
// Servername=pagora reads the section of `conf`; otherwise give Server= and Port=.
std::string OdbcUno(const std::string& cadena, const std::string& conf = "") {
  if (!conf.empty()) ::setenv("FREETDSCONF", conf.c_str(), 1);
  std::string r = "<sin conexión>";
  {
    Odbc o;
    if (o.Conectar(cadena + ";Database=PagoraDemo;UID=pagora;PWD=" + kClave + ";TDS_Version=7.4"))
      r = o.Uno("SELECT PAR_LA FROM Parametros");
  }
  ::unsetenv("FREETDSCONF");
  return r;
}

std::string Local(int puerto) {
  return "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(puerto);
}

// Session lines are written by the session's thread: wait (bounded) for `texto` in the output.
bool Anotado(const ServidorPrueba& s, const std::string& texto) {
  const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Contiene(s.Salida(), texto) && std::chrono::steady_clock::now() < limite)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return Contiene(s.Salida(), texto);
}

// tedious, installed by scripts/install-deps outside the tree (PAGORA_NODE_DIR, or the user's cache).
std::string Tedious(int puerto, const std::string& ca, const std::string& servidor,
                    const std::string& opciones = "") {
  const char* propio = std::getenv("PAGORA_NODE_DIR");
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* casa = std::getenv("HOME");
  const std::string dir = propio && *propio ? propio
                          : cache && *cache ? std::string(cache) + "/pagora/node"
                                            : std::string(casa ? casa : "/root") + "/.cache/pagora/node";
  if (!std::filesystem::exists(dir + "/node_modules/tedious"))
    return "tedious no está instalado en " + dir + ": correr scripts/install-deps";
  return Correr("env NODE_PATH=" + dir +
                    "/node_modules node --no-deprecation " DIR_PRUEBAS "/clientes_tedious.js " +
                    std::to_string(puerto) + " " + kClave + " " + ca + " " + servidor + " '" + opciones + "'",
                "");
}

// jTDS through an encrypted session: it logged in and the server answered its requests. Its connect batch
// (statements one per line, without semicolons) may still be refused by this server's batch reader, which
// is no matter of encryption: an answer from the server counts as well as "bien".
bool JtdsAtendido(const std::string& salida) {
  return Contiene(salida, "jtds: bien") || Contiene(salida, "jtds: el servidor respondió");
}

std::string Jtds(int puerto, const std::string& modo) {
  return Correr("java -cp /usr/share/java/jtds.jar:" DIR_JAVA " JtdsCifrado " + std::to_string(puerto) + " " +
                    kClave + " " + modo,
                "");
}

}  // namespace

// Each client on its defaults and forced to encrypt, checking the certificate against the CA: all read
// the same row, and the server logs how each session was protected.
TEST(Cifrado, ClientesPorDefectoYForzados) {
  ServidorPrueba s(Demo(), ConCertificado());
  const std::string defecto = ConfFreetds("defecto.conf", s.puerto, "");
  const std::string exige =
      ConfFreetds("exige.conf", s.puerto, "\tencryption = require\n\tca file = " + Cert()("ca.pem") + "\n");
  const std::string solo = "cifrado sólo el login (TLSv1.2 ";
  const std::string toda = "cifrada (TLSv1.2 ";
  auto probar = [&](const std::string& cliente, const std::function<std::string()>& correr, const char* bien,
                    const std::string& modo) {
    const std::string r = correr();
    EXPECT_TRUE(Contiene(r, bien)) << cliente << ": " << r;
    EXPECT_TRUE(UltimaSesion(s.Salida()).starts_with(modo)) << cliente << "\n" << s.Salida();
  };
  probar(
      "tsql", [&] { return Tsql(defecto); }, "LA-MVD-01", solo);
  probar(
      "tsql encryption = require", [&] { return Tsql(exige); }, "LA-MVD-01", toda);
  probar(
      "ODBC", [&] { return OdbcUno(Local(s.puerto)); }, "LA-MVD-01", solo);
  probar(
      "ODBC Encryption=require", [&] { return OdbcUno(Local(s.puerto) + ";Encryption=require"); },
      "LA-MVD-01", toda);
  probar(
      "ODBC con ca file", [&] { return OdbcUno("Driver=FreeTDS;Servername=pagora", exige); }, "LA-MVD-01",
      toda);
  // DB-Library's whole script (reads, commit and rollback in the file, refusals), forced; its default is
  // the login only, which the clients' own test runs.
  probar(
      "pymssql encryption = require",
      [&] {
        return Correr("env FREETDSCONF=" + exige + " /usr/bin/python3 " DIR_PRUEBAS "/clientes_pymssql.py " +
                          std::to_string(s.puerto) + " " + kClave + " " + s.archivo + " pagora",
                      "");
      },
      "pymssql: bien", toda);
  probar(
      "tedious", [&] { return Tedious(s.puerto, Cert()("ca.pem"), "localhost"); }, "tedious: bien", toda);
  const std::string java = Jtds(s.puerto, "require");
  EXPECT_TRUE(JtdsAtendido(java)) << java;
  EXPECT_TRUE(UltimaSesion(s.Salida()).starts_with(toda)) << s.Salida();
  EXPECT_FALSE(Contiene(s.Salida(), kClave));
  EXPECT_EQ(s.Detener(SIGTERM), 0);
}

// A certificate the client does not trust, or that names another host, ends that client's handshake; the
// server logs why and goes on serving.
TEST(Cifrado, CertificadoRechazadoPorElClienteNoTumbaAlServidor) {
  ServidorPrueba s(Demo(), ConCertificado());
  const std::string buena =
      ConfFreetds("buena.conf", s.puerto, "\tencryption = require\n\tca file = " + Cert()("ca.pem") + "\n");
  const std::string casos[] = {
      "\tencryption = require\n\tca file = " + Cert()("otra-ca.pem") + "\n",
      "\tencryption = require\n\tca file = " + Cert()("ca.pem") + "\n\thost = 127.0.0.1\n",
  };
  for (const auto& c : casos) {
    const std::string mala = ConfFreetds("mala.conf", s.puerto, c);
    EXPECT_FALSE(Contiene(Tsql(mala), "LA-MVD-01")) << c;
    EXPECT_EQ(OdbcUno("Driver=FreeTDS;Servername=pagora", mala), "<sin conexión>") << c;
    EXPECT_EQ(OdbcUno("Driver=FreeTDS;Servername=pagora", buena), "LA-MVD-01") << c;
  }
  const std::string node = Tedious(s.puerto, Cert()("otra-ca.pem"), "localhost");
  EXPECT_TRUE(Contiene(node, "tedious: FALLA conexión")) << node;
  const std::string java = Jtds(s.puerto, "authenticate");
  EXPECT_TRUE(Contiene(java, "jtds: FALLA")) << java;
  EXPECT_TRUE(Anotado(s, "el cliente cerró la conexión durante la negociación TLS")) << s.Salida();
  EXPECT_EQ(OdbcUno(Local(s.puerto) + ";Encryption=require"), "LA-MVD-01");
  EXPECT_EQ(s.Detener(SIGTERM), 0);
}

// --cifrado requerido encrypts every session, also for clients that asked for the login only, and refuses
// those that will not encrypt; --cifrado no refuses those that insist.
TEST(Cifrado, RequeridoCifraTodoYNoRechazaAQuienLoExige) {
  {
    ServidorPrueba s(Demo(), {"--cifrado", "requerido"});
    EXPECT_TRUE(Contiene(Tsql(ConfFreetds("defecto.conf", s.puerto, "")), "LA-MVD-01"));
    EXPECT_TRUE(UltimaSesion(s.Salida()).starts_with("cifrada (TLSv1.2 ")) << s.Salida();
    EXPECT_EQ(OdbcUno(Local(s.puerto) + ";Encryption=off"), "<sin conexión>");
    EXPECT_TRUE(Anotado(s, "rechazada: el cliente no cifra y este servidor exige cifrado")) << s.Salida();
    const std::string node = Tedious(s.puerto, Cert()("ca.pem"), "127.0.0.1", R"({"encrypt":false})");
    EXPECT_TRUE(Contiene(node, "tedious: FALLA conexión")) << node;
    // jTDS asks for the login only (ssl=request) and gets the whole session.
    const std::string java = Jtds(s.puerto, "request");
    EXPECT_TRUE(JtdsAtendido(java)) << java;
    EXPECT_TRUE(UltimaSesion(s.Salida()).starts_with("cifrada (TLSv1.2 ")) << s.Salida();
    EXPECT_EQ(s.Detener(SIGTERM), 0);
  }
  ServidorPrueba s(Demo(), {"--cifrado", "no"});
  EXPECT_TRUE(Contiene(s.Salida(), "\nCifrado no: ")) << s.Salida();
  EXPECT_EQ(OdbcUno(Local(s.puerto) + ";Encryption=require"), "<sin conexión>");
  EXPECT_TRUE(Anotado(s, "rechazada: el cliente exige cifrado y este servidor no lo admite")) << s.Salida();
  EXPECT_EQ(OdbcUno(Local(s.puerto)), "LA-MVD-01");
  EXPECT_EQ(UltimaSesion(s.Salida()), "sin cifrar");
}

// What crosses the wire: encrypted, neither the password (in clear or as LOGIN7 scrambles it) nor the
// statement; with the login only, the statement but not the password; unencrypted, both, which shows the
// capture sees what it should.
TEST(Cifrado, CapturaDeLaRedNoMuestraClaveNiSentencias) {
  ServidorPrueba s;
  const std::string sentencia = "SELECT PAR_LA FROM Parametros WHERE PAR_LA <> 'marca-de-captura'";
  const Bytes clave = Crudo::Utf16(kClave), sentencia16 = Crudo::Utf16(sentencia);
  Bytes revuelta = clave;
  for (auto& b : revuelta) b = static_cast<std::uint8_t>(((b << 4) | (b >> 4)) ^ 0xA5);
  struct Caso {
    const char* cifrado;
    bool ocultaRevuelta, ocultaSentencia;
  } casos[] = {{"require", true, true}, {"request", true, false}, {"off", false, false}};
  for (const auto& c : casos) {
    Relevo r(s.puerto);
    Odbc o;
    ASSERT_TRUE(o.Conectar("Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(r.puerto) +
                           ";Database=PagoraDemo;UID=pagora;PWD=" + kClave +
                           ";TDS_Version=7.4;Encryption=" + c.cifrado))
        << o.mensaje;
    EXPECT_EQ(o.Uno(sentencia), "LA-MVD-01");
    const Bytes capturado = r.Capturado();
    EXPECT_GT(capturado.size(), 500u) << c.cifrado;
    EXPECT_FALSE(Contiene(capturado, clave)) << c.cifrado;
    EXPECT_NE(Contiene(capturado, revuelta), c.ocultaRevuelta) << c.cifrado;
    EXPECT_NE(Contiene(capturado, sentencia16), c.ocultaSentencia) << c.cifrado;
  }
}

// A server that cannot encrypt as told does not start, and says why; one that can prints its certificate's
// fingerprint on its second line, and never its key.
TEST(Cifrado, ArranqueConCertificadosMalosOFueraDeLoopbackSeRechaza) {
  const std::string dir = Cert()("");
  Escribir(dir + "PagoraDemo.sql", Demo());
  const std::vector<std::string> base = {SERVIDOR_PROGRAMA, "--archivo", dir + "PagoraDemo.sql", "--puerto",
                                         "0"};
  struct Caso {
    std::vector<std::string> extra;
    int estado;
    std::string mensaje;
  } casos[] = {
      {{"--certificado", Cert()("no-existe.pem"), "--clave-certificado", Cert()("servidor.key")},
       1,
       "no se pudo leer el certificado"},
      {{"--certificado", Cert()("basura.pem"), "--clave-certificado", Cert()("servidor.key")},
       1,
       "no se pudo leer el certificado"},
      {{"--certificado", Cert()("servidor.pem"), "--clave-certificado", Cert()("ajena.key")},
       1,
       "no es la del certificado"},
      {{"--certificado", Cert()("servidor.pem"), "--clave-certificado", Cert()("frase.key")},
       1,
       "no se pudo leer la clave"},
      {{"--certificado", Cert()("vencido.pem"), "--clave-certificado", Cert()("vencido.key")},
       1,
       "no vale hoy"},
      {{"--certificado", Cert()("futuro.pem"), "--clave-certificado", Cert()("futuro.key")},
       1,
       "no vale hoy"},
      {{"--certificado", Cert()("servidor.pem")}, 2, "van juntos"},
      {{"--cifrado", "no", "--certificado", Cert()("servidor.pem"), "--clave-certificado",
        Cert()("servidor.key")},
       2,
       "sobra"},
      {{"--cifrado", "obligatorio"}, 2, "modo de cifrado inválido"},
      {{"--escuchar", "0.0.0.0"}, 2, "exige --cifrado requerido"},
      {{"--escuchar", "192.0.2.1", "--cifrado", "admitido"}, 2, "exige --cifrado requerido"},
  };
  for (const auto& c : casos) {
    auto a = base;
    a.insert(a.end(), c.extra.begin(), c.extra.end());
    const pid_t pid = simulado::pruebas::Lanzar(a, {{"PAGORA_SERVIDOR_CLAVE", kClave}}, dir + "salida.txt",
                                                dir + "errores.txt");
    EXPECT_EQ(simulado::pruebas::Esperar(pid, std::chrono::seconds(20)), c.estado) << c.mensaje;
    EXPECT_TRUE(Contiene(LeerArchivo(dir + "errores.txt"), c.mensaje)) << LeerArchivo(dir + "errores.txt");
  }
  for (const bool propio : {true, false}) {
    ServidorPrueba s(Demo(), propio ? ConCertificado("requerido") : std::vector<std::string>{});
    const std::string salida = s.Salida();
    const std::string segunda = salida.substr(
        salida.find('\n') + 1, salida.find('\n', salida.find('\n') + 1) - salida.find('\n') - 1);
    if (propio) {
      EXPECT_TRUE(segunda.starts_with("Cifrado requerido: certificado " + Cert()("servidor.pem") +
                                      " (CN=localhost, válido del "))
          << segunda;
      // openssl's own reading of the file: "sha256 Fingerprint=AB:CD:...".
      const std::string openssl =
          Correr("openssl x509 -noout -fingerprint -sha256 -in " + Cert()("servidor.pem"), "");
      EXPECT_TRUE(segunda.ends_with(", huella SHA-256 " + openssl.substr(openssl.find('=') + 1, 95)))
          << segunda;
    } else {
      EXPECT_TRUE(segunda.starts_with("Cifrado admitido: certificado autofirmado de esta corrida (CN="))
          << segunda;
      EXPECT_EQ(segunda.size() - segunda.find("huella SHA-256 "), 15 + 32 * 3 - 1) << segunda;
    }
    EXPECT_FALSE(Contiene(salida, "PRIVATE")) << salida;
  }
}

// Handshakes that break: aborted, junk instead of TLS, an old TLS version only, one left halfway, bytes
// that are not TLS records after it. Each ends only its own connection, while a client with a sound
// handshake logs in and is served, and a stop is not held up by the stalled one.
TEST(Cifrado, SaludosRotosNoTumbanAlServidor) {
  ServidorPrueba s(Demo(), ConCertificado());
  {
    ClienteTls sano(s.puerto);
    ASSERT_EQ(sano.Prelogin(0x01), 0x01);
    ASSERT_TRUE(sano.Saludar());
  }
  {
    ClienteTls abandona(s.puerto);
    ASSERT_EQ(abandona.Prelogin(0x01), 0x01);
  }
  ClienteTls basura(s.puerto);
  ASSERT_EQ(basura.Prelogin(0x03), 0x01);
  basura.c.Paquete(0x12, Crudo::Utf16("esto no es un ClientHello"));
  EXPECT_TRUE(basura.c.Cerrado(5000));
  ClienteTls viejo(s.puerto, TLS1_1_VERSION);
  ASSERT_EQ(viejo.Prelogin(0x01), 0x01);
  EXPECT_FALSE(viejo.Saludar());
  ClienteTls aMedias(s.puerto);
  ASSERT_EQ(aMedias.Prelogin(0x00), 0x00);
  ASSERT_TRUE(aMedias.Paso());
  EXPECT_FALSE(aMedias.c.Respuesta().empty()) << "el servidor contesta el ClientHello";
  ClienteTls mentiroso(s.puerto);
  ASSERT_EQ(mentiroso.Prelogin(0x01), 0x01);
  ASSERT_TRUE(mentiroso.Saludar());
  // An application-data record of 32 bytes that no key made.
  Bytes falso = {0x17, 0x03, 0x03, 0x00, 0x20};
  for (std::uint8_t b = 1; b <= 32; ++b) falso.push_back(b);
  mentiroso.c.EnviarBytes(falso);
  EXPECT_TRUE(mentiroso.Cerrado());
  // The stalled one is still waiting for its handshake: the others are served meanwhile.
  EXPECT_EQ(OdbcUno(Local(s.puerto) + ";Encryption=require"), "LA-MVD-01");
  for (const char* motivo : {"el cliente cerró la conexión durante la negociación TLS",
                             "negociación TLS fallida", "datos cifrados inválidos"})
    EXPECT_TRUE(Anotado(s, motivo)) << s.Salida();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(s.Detener(SIGTERM), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

// A handshake that never ends is dropped at its deadline, whether the client goes silent or keeps it alive
// with a byte at a time; and a flood of tiny handshake messages is cut short.
TEST(Cifrado, NegociacionSinFinVenceSuPlazo) {
  using namespace simulado::tds;
  static const auto contexto = ContextoTls::Autofirmado({"localhost"});
  struct Caso {
    const char* nombre;
    int piezas, pausaMs;
    std::chrono::milliseconds plazo;
    const char* motivo;
  } casos[] = {{"calla", 1, 0, std::chrono::milliseconds(400), "tiempo"},
               {"gotea", 30, 100, std::chrono::milliseconds(400), "tiempo"},
               {"inunda", 40, 0, std::chrono::seconds(20), "demasiados mensajes"}};
  // The start of a TLS record that announces more than ever comes, cut into PRELOGIN messages.
  const Bytes registro = {0x16, 0x03, 0x01, 0x02, 0x00, 0x01, 0x00, 0x01, 0xFC, 0x03, 0x03};
  for (const auto& c : casos) {
    int par[2], parada[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, par), 0);
    ASSERT_EQ(::pipe(parada), 0);
    Canal canal{Descriptor(par[0]), parada[0], 51};
    std::thread cliente([&] {
      for (int i = 0; i < c.piezas; ++i) {
        const Bytes p = {0x12, 1, 0, 9, 0, 0, 1, 0, registro[static_cast<std::size_t>(i) % registro.size()]};
        if (::send(par[1], p.data(), p.size(), MSG_NOSIGNAL) != 9) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(c.pausaMs));
      }
    });
    const auto t0 = std::chrono::steady_clock::now();
    try {
      Negociar(canal, *contexto, c.plazo);
      ADD_FAILURE() << c.nombre << ": la negociación no falló";
    } catch (const ErrorProtocolo& e) {
      EXPECT_TRUE(Contiene(e.what(), c.motivo)) << c.nombre << ": " << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2)) << c.nombre;
    ::shutdown(par[1], SHUT_RDWR);
    cliente.join();
    ::close(par[1]);
    ::close(parada[0]);
    ::close(parada[1]);
  }
}
