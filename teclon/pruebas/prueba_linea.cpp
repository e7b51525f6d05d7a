// Tests of what the line does to the driver: hang-ups, a second opener, noise, stray EOT, the 8th bit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "comun.hpp"
#include "enlace.hpp"

using namespace prueba;
using namespace teclon;
using sim::Envio;
using sim::kACK;
using sim::kEOT;
using sim::kFS;
using V = std::vector<std::string>;

namespace {

using Operacion = std::function<bool(cTeclon&)>;

const std::string kPista2 = "4000123412341234=29121010000000000000";
const std::string kPista1 = "B4000123412341234^PRUEBA/TARJETA^2912101";

bool Pin(cTeclon& t, std::string& pin) {
  return t.IngresarPIN("4000123412341234", "CLAVE", "PIN", "", pin);
}

// The character as a 7E1 line carries it to an adapter that keeps the parity bit.
std::string ConParidad(std::string_view texto) {
  std::string r(texto);
  for (char& c : r)
    if (std::popcount(static_cast<unsigned>(static_cast<unsigned char>(c))) % 2 != 0)
      c = static_cast<char>(static_cast<unsigned char>(c) | 0x80);
  return r;
}

// Whether the tty is marked exclusive; an unprivileged open is refused while it is.
bool Exclusiva(const std::string& dispositivo) {
  const int fd = ::open(dispositivo.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY;
  int marca = 0;
  const int r = ::ioctl(fd, TIOCGEXCL, &marca);
  ::close(fd);
  return r == 0 && marca != 0;
}

}  // namespace

// The PIN pad hangs up (the simulator closes its side of the pty) at each kind of wait: every
// operation fails at once through its own error path with the line's error, under either clock (the
// real one waits on poll, the fake one only reads).
TEST(Colgado, EveryWaitEndsAtOnceWithThePortError) {
  // Late enough for the driver to have finished sending and to be waiting.
  const Envio colgar{"", 100ms, true};
  struct Caso {
    const char* prefijo;
    std::vector<std::pair<std::string, sim::Respuesta>> guion;
    Operacion operacion;
    short codigo;
  };
  std::string texto;
  const std::vector<Caso> casos = {
      {"ERROR al Cargar PROMPT - ",
       {{"A:Z8VELMORIANTEX", {colgar}}},
       [](cTeclon& t) { return t.CargarPROMPT(); },
       tcError},
      {"ERROR al Leer Chip - ",
       {{"A:I00", {colgar}}},
       [&](cTeclon& t) { return t.LeerCHIP(texto); },
       tcError},
      {"ERROR al Leer Banda - ",
       {{"A:Q40", {{kACK}}}, {"A:Q1", {{kACK}, colgar}}},
       [&](cTeclon& t) { return t.LeerBANDA(texto); },
       tcError},
      {"ERROR al Ingresar PIN - ",
       {{"B:080", {{kACK}}}, {"", {{kACK}, colgar}}},
       [&](cTeclon& t) { return Pin(t, texto); },
       tcError},
      {"ERROR al Inicializar Teclon - ",
       {{"A:72", {{kACK}}}, {"A:Z8VELMORIANTEX", {colgar}}},
       [](cTeclon& t) { return t.InicializarTECLON(); },
       tcNOAprobado},
      {"ERROR TransferirClaveMaestra - ",
       {{"B:020K", {{kACK}, colgar}}},
       [](cTeclon& t) { return t.TransferirClaveMaestra("K"); },
       tcNOAprobado},
      {"ERROR VerificarClaveMaestra - ",
       {{"B:040", {colgar}}},
       [](cTeclon& t) { return t.VerificarClaveMaestra(0); },
       tcError},
      {"ERROR Comando SelClaveMaestra - ",
       {{"B:080", {colgar}}},
       [](cTeclon& t) { return t.SelClaveMaestra(0); },
       tcNOAprobado},
  };
  // The fake clock sleeps each pause in full, so its time cannot run ahead of the line's: counting 50 ms
  // for each 1 ms slept, the 100 ms before the hang-up alone came to 5 s of its time, and any delay in
  // scheduling the simulator crossed the bound.
  for (const bool falso : {false, true}) {
    for (const Caso& c : casos) {
      std::shared_ptr<Reloj> reloj =
          falso ? std::shared_ptr<Reloj>(std::make_shared<RelojFalso>(1)) : std::make_shared<RelojReal>();
      Banco b(reloj);
      for (const auto& [espera, respuesta] : c.guion) b.sim.Agregar(espera, respuesta);
      const auto inicio = reloj->Ahora();
      EXPECT_FALSE(c.operacion(b.teclon)) << c.prefijo;
      EXPECT_LT(reloj->Ahora() - inicio, 5s) << c.prefijo << (falso ? " (reloj falso)" : "");
      EXPECT_EQ(b.teclon.CodError(), c.codigo) << c.prefijo;
      const std::string esperado =
          c.prefijo + std::to_string(EIO) + " Se cortó la comunicación con " + b.sim.Dispositivo() + ": ";
      EXPECT_EQ(b.teclon.MsgError().rfind(esperado, 0), 0u) << b.teclon.MsgError();
    }
  }
}

// A program that fails to open a line someone else holds must leave the holder's exclusive mark and
// pending input alone; the holder clears its own mark when it closes.
TEST(Exclusividad, AFailedSecondOpenerLeavesTheHoldersLineAlone) {
  sim::Simulador sim;
  auto duenio = PuertoAbierto(sim, 8);
  ASSERT_TRUE(Exclusiva(sim.Dispositivo()));
  sim.Enviar("abc");
  for (int i = 0; i < 200 && duenio->BytesEnEntrada() < 3; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(duenio->BytesEnEntrada(), 3);

  std::string texto;
  const std::vector<Operacion> intentos = {
      [](cTeclon& t) { return t.CargarPROMPT(); }, [&](cTeclon& t) { return t.LeerBANDA(texto); },
      [&](cTeclon& t) { return Pin(t, texto); }, [](cTeclon& t) { return t.SelClaveMaestra(0); }};
  for (const Operacion& intento : intentos) {
    cTeclon otro;
    otro.Puerto(8);
    EXPECT_FALSE(intento(otro));
    EXPECT_EQ(otro.CodError(), tcError);
    EXPECT_EQ(otro.MsgError().rfind("ERROR al Abrir Puerto 8 - ", 0), 0u) << otro.MsgError();
    EXPECT_TRUE(Exclusiva(sim.Dispositivo()));
    EXPECT_EQ(duenio->BytesEnEntrada(), 3);
  }
  EXPECT_TRUE(sim.Recibidos().empty());
  duenio->FijarAbierto(false);
  EXPECT_FALSE(Exclusiva(sim.Dispositivo()));
}

// Characters ahead of the PIN answer's STX, the answer itself arriving in two pieces: the noise is
// dropped before the 27-character rule is applied, so the first answer is accepted, with no NAK.
TEST(Ruido, NoiseAheadOfThePinAnswerIsDropped) {
  const std::string r =
      A("71.00000"
        "0123456789ABCDEF");
  const std::vector<std::pair<std::string, std::string>> trozos = {
      {"\x01\x7f" + r.substr(0, 25), r.substr(25)},            // two stray bytes, no ETX yet at 27
      {std::string(30, 'z') + r.substr(0, 20), r.substr(20)},  // more noise than a whole frame
      {"\x02zz" + r.substr(0, 25), r.substr(25)},              // a stray STX with no ETX behind it
      {"q\x03" + r.substr(0, 25), r.substr(25)},               // a stray ETX ahead of the STX
      {"\x7f\x7f\x7f", r},
  };
  for (const auto& [primero, segundo] : trozos) {
    Banco b;
    b.sim.Agregar("B:080", {{kACK}});
    b.sim.Agregar("", {{kACK}, {primero, 60ms}, {segundo, 100ms}});
    b.sim.Agregar("A:72", {{kACK}});
    std::string pin;
    EXPECT_TRUE(Pin(b.teclon, pin)) << b.teclon.MsgError();
    EXPECT_EQ(pin, "0123456789ABCDEF");
    b.sim.EsperarRecibidos(5, 2s);
    const V recibidos = b.sim.Resumenes();
    ASSERT_EQ(recibidos.size(), 5u);
    EXPECT_EQ(V(recibidos.begin() + 2, recibidos.end()), (V{"ACK", "EOT", "A:72"}));
  }
}

// An EOT in the same read as the acknowledgement is the PIN pad cancelling: it reaches the answer
// wait, which reports the cancel instead of waiting out its 15 s.
TEST(EotTrasAck, ReachesTheAnswerWait) {
  struct Caso {
    std::vector<std::pair<std::string, sim::Respuesta>> guion;
    Operacion operacion;
    std::string mensaje;
  };
  std::string texto;
  const std::vector<Caso> casos = {
      {{{"B:080", {{kACK}}}, {"", {{kACK + kEOT}}}, {"A:72", {{kACK}}}},
       [&](cTeclon& t) { return Pin(t, texto); },
       "Operacion Ingreso PIN Cancelada"},
      {{{"A:Q40", {{kACK}}}, {"A:Q1", {{kACK + kEOT}}}, {"A:Q3", {{kACK}}}, {"A:72", {{kACK}}}},
       [&](cTeclon& t) { return t.LeerBANDA(texto); },
       "Operacion Leer BANDA Cancelada"},
  };
  for (const Caso& c : casos) {
    auto reloj = std::make_shared<RelojFalso>();
    Banco b(reloj);
    for (const auto& [espera, respuesta] : c.guion) b.sim.Agregar(espera, respuesta);
    const auto inicio = reloj->ahora_;
    EXPECT_FALSE(c.operacion(b.teclon));
    EXPECT_EQ(b.teclon.CodError(), tcCancel) << c.mensaje;
    EXPECT_EQ(b.teclon.MsgError(), c.mensaje);
    EXPECT_LT(reloj->ahora_ - inicio, 5s) << c.mensaje;
  }
}

// The termios port strips the 8th bit itself.
TEST(OctavoBit, ThePortStripsIt) {
  sim::Simulador sim;
  auto puerto = PuertoAbierto(sim, 9);
  sim.Enviar("\x86\xc1\x84\x82");
  TextoSeguro leido;
  for (int i = 0; i < 200 && leido.size() < 4; ++i) {
    puerto->LeerTodo(leido);
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(leido.Vista(), std::string_view("\x06\x41\x04\x02", 4));
}

// A port that ignores the 7-bit setting (a host's own port, an adapter): parity bits or garbage in
// the 8th bit neither hide control characters nor reach the caller's track text.
TEST(OctavoBit, NoHighByteReachesTheOperation) {
  const std::string trama = A("81." + kPista2 + kFS + kPista1 + kFS);
  std::string dosAltos = trama;  // two high bits cancel out in the check byte
  dosAltos[5] = static_cast<char>(dosAltos[5] | 0x80);
  dosAltos[9] = static_cast<char>(dosAltos[9] | 0x80);
  struct Caso {
    const char* nombre;
    std::deque<std::string> entrada;
    bool resultado;
    short codigo;
  };
  const std::vector<Caso> casos = {
      {"paridad par", {kACK, kACK, ConParidad(trama)}, true, tcAprobado},
      {"dos bytes altos en la pista", {kACK, kACK, dosAltos}, true, tcAprobado},
      {"ACK con el bit alto", {"\x86", "\x86", trama}, true, tcAprobado},
      {"EOT con paridad", {kACK, kACK, ConParidad(kEOT)}, false, tcCancel},
  };
  for (const Caso& c : casos) {
    auto puerto = std::make_unique<PuertoFalso>();
    puerto->entrada = c.entrada;
    cTeclon t = teclon::Interno::Crear(std::move(puerto), std::make_shared<RelojFalso>(0));
    std::string banda;
    EXPECT_EQ(t.LeerBANDA(banda), c.resultado) << c.nombre << ": " << t.MsgError();
    EXPECT_EQ(t.CodError(), c.codigo) << c.nombre;
    EXPECT_EQ(banda, c.resultado ? kPista1 + "\r" + kPista2 + "\r" : "") << c.nombre;
  }
}
