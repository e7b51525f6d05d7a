// Tests of the operations against the scripted simulator through the real termios port.
#include <gtest/gtest.h>

#include "comun.hpp"

using namespace prueba;
using teclon::sim::kACK;
using teclon::sim::kEOT;
using teclon::sim::kFS;
using teclon::sim::kNAK;
using V = std::vector<std::string>;

namespace {

const std::string kPista2 = "4000123412341234=29121010000000000000";
const std::string kPista1 = "B4000123412341234^PRUEBA/TARJETA^2912101";

// Waits until the simulator has taken in n items (the last reply crosses the pty asynchronously).
V Recibidos(teclon::sim::Simulador& sim, std::size_t n) {
  sim.EsperarRecibidos(n, std::chrono::seconds(2));
  return sim.Resumenes();
}

// The PIN pad acknowledges the two commands that end a stripe read.
void CierreAcusado(teclon::sim::Simulador& sim) {
  sim.Agregar("A:Q3", {{kACK}});
  sim.Agregar("A:72", {{kACK}});
}

void LecturaHastaRespuesta(teclon::sim::Simulador& sim, const std::string& respuesta) {
  sim.Agregar("A:Q40", {{kACK}});
  sim.Agregar("A:Q1", {{kACK}, {respuesta, std::chrono::milliseconds(60)}});
}

}  // namespace

TEST(CargarPROMPT, AckApprovesAnythingElseRefuses) {
  Banco b;
  b.sim.Agregar("A:Z8VELMORIANTEX", {{kACK}});
  EXPECT_TRUE(b.teclon.CargarPROMPT());
  EXPECT_EQ(b.teclon.CodError(), tcAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "");
  for (const std::string& r : {kNAK, kEOT}) {
    b.sim.Agregar("A:Z8VELMORIANTEX", {{r}});
    EXPECT_FALSE(b.teclon.CargarPROMPT());
    EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
    EXPECT_EQ(b.teclon.MsgError(), "Comando Cargar PROMPT No Procesado");
  }
  EXPECT_EQ(b.sim.Resumenes(), V(3, "A:Z8VELMORIANTEX"));
}

TEST(CargarPROMPT, SilenceIsARefusalAfterFifteenSeconds) {
  Banco b(std::make_shared<RelojFalso>());
  EXPECT_FALSE(b.teclon.CargarPROMPT());
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Comando Cargar PROMPT No Procesado");
}

struct Pistas {
  std::string nombre;
  std::string respuesta;  // after "81."
  std::string banda;
};
void PrintTo(const Pistas& p, std::ostream* os) {
  *os << p.nombre;
}

class LeerBANDAFormas : public ::testing::TestWithParam<Pistas> {};

TEST_P(LeerBANDAFormas, TrackTextAndClosingCommands) {
  Banco b;
  LecturaHastaRespuesta(b.sim, A("81." + GetParam().respuesta));
  CierreAcusado(b.sim);
  std::string banda = "anterior";
  EXPECT_TRUE(b.teclon.LeerBANDA(banda)) << b.teclon.MsgError();
  EXPECT_EQ(banda, GetParam().banda);
  EXPECT_EQ(b.teclon.CodError(), tcAprobado);
  EXPECT_EQ(Recibidos(b.sim, 5), (V{"A:Q40", "A:Q1", "ACK", "A:Q3", "A:72"}));
}

INSTANTIATE_TEST_SUITE_P(
    Formas, LeerBANDAFormas,
    ::testing::Values(Pistas{"AmbasPistas", kPista2 + kFS + kPista1 + kFS, kPista1 + "\r" + kPista2 + "\r"},
                      // Track 1 without its "B": one is added in front.
                      Pistas{"Pista1SinB", kPista2 + kFS + "4000^X/Y^29" + kFS + "resto",
                             "B4000^X/Y^29\r" + kPista2 + "\r"},
                      Pistas{"Pista1EnBlanco", kPista2 + kFS + "   " + kFS + "..........", kPista2 + "\r"},
                      // Blank track 2: only track 1, blanks kept as received.
                      Pistas{"Pista2EnBlancoConB", "    " + kFS + " b4000^Z " + kFS + "relleno.....",
                             "B b4000^Z \r"},
                      Pistas{"Pista2EnBlanco", "   " + kFS + "b4000^Q/R^2912" + kFS, "b4000^Q/R^2912\r"},
                      // No FS at all: success with an empty text.
                      Pistas{"SinSeparadores", std::string(30, '7'), ""}),
    [](const ::testing::TestParamInfo<Pistas>& i) { return i.param.nombre; });

TEST(LeerBANDA, UnconfirmedCommandsSendNoClosing) {
  Banco b;
  b.sim.Agregar("A:Q40", {{kNAK}});
  std::string banda;
  EXPECT_FALSE(b.teclon.LeerBANDA(banda));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon - BANDA");
  b.sim.Agregar("A:Q40", {{kEOT}});  // EOT confirms a card command
  b.sim.Agregar("A:Q1", {{kNAK}});
  EXPECT_FALSE(b.teclon.LeerBANDA(banda));
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon - BANDA");
  EXPECT_EQ(Recibidos(b.sim, 3), (V{"A:Q40", "A:Q40", "A:Q1"}));
}

TEST(LeerBANDA, BadAnswersAndAnswersOfAnotherKind) {
  Banco b;
  const std::string buena = A("81." + kPista2 + kFS + kPista1 + kFS);
  const std::string mala = A("81." + kPista2 + kFS + kPista1 + kFS, true);
  LecturaHastaRespuesta(b.sim, mala);
  b.sim.Agregar("NAK", {{mala}});
  b.sim.Agregar("NAK", {{mala}});
  CierreAcusado(b.sim);
  std::string banda;
  EXPECT_FALSE(b.teclon.LeerBANDA(banda));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Error al Leer BANDA");
  EXPECT_EQ(Recibidos(b.sim, 7), (V{"A:Q40", "A:Q1", "NAK", "NAK", "EOT", "A:Q3", "A:72"}));
  b.sim.OlvidarRecibidos();

  // An accepted frame that is not a stripe answer.
  LecturaHastaRespuesta(b.sim, A("82." + kPista2 + kFS + kPista1 + kFS));
  CierreAcusado(b.sim);
  EXPECT_FALSE(b.teclon.LeerBANDA(banda));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Error al Leer BANDA");
  EXPECT_EQ(banda, "");
  EXPECT_EQ(Recibidos(b.sim, 5), (V{"A:Q40", "A:Q1", "ACK", "A:Q3", "A:72"}));
  b.sim.OlvidarRecibidos();

  // A NAK, then the good repeat.
  LecturaHastaRespuesta(b.sim, mala);
  b.sim.Agregar("NAK", {{buena}});
  CierreAcusado(b.sim);
  EXPECT_TRUE(b.teclon.LeerBANDA(banda));
  EXPECT_EQ(banda, kPista1 + "\r" + kPista2 + "\r");
}

TEST(LeerBANDA, ShortOrMissingAnswerTimesOut) {
  Banco b(std::make_shared<RelojFalso>());
  // A well-formed frame of 24 characters is never examined.
  LecturaHastaRespuesta(b.sim, A("81.12345678901234567" + kFS));
  CierreAcusado(b.sim);
  std::string banda;
  EXPECT_FALSE(b.teclon.LeerBANDA(banda));
  EXPECT_EQ(b.teclon.CodError(), tcTimeOut);
  EXPECT_EQ(b.teclon.MsgError(), "Error al Leer BANDA");
  EXPECT_EQ(Recibidos(b.sim, 4), (V{"A:Q40", "A:Q1", "A:Q3", "A:72"}));
  b.sim.OlvidarRecibidos();
  // A "Q1" never acknowledged.
  b.sim.Agregar("A:Q40", {{kACK}});
  EXPECT_FALSE(b.teclon.LeerBANDA(banda));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon - BANDA");
}

TEST(LeerBANDA, CancelByThePinPadOrByTheCaller) {
  Banco b;
  std::string banda;
  // The read ends cancelled, the closing commands sent once.
  const auto Cancelada = [&](const V& enviados) {
    EXPECT_FALSE(b.teclon.LeerBANDA(banda));
    EXPECT_EQ(b.teclon.CodError(), tcCancel);
    EXPECT_EQ(b.teclon.MsgError(), "Operacion Leer BANDA Cancelada");
    EXPECT_EQ(Recibidos(b.sim, enviados.size()), enviados);
    b.sim.OlvidarRecibidos();
  };
  // EOT while the answer is awaited: cancel, then "Q3" and "72" once.
  b.sim.Agregar("A:Q40", {{kACK}});
  b.sim.Agregar("A:Q1", {{kACK}, {kEOT, std::chrono::milliseconds(80)}});
  CierreAcusado(b.sim);
  Cancelada({"A:Q40", "A:Q1", "A:Q3", "A:72"});

  // A request made before the call is cleared by it.
  b.teclon.Cancelar(true);
  LecturaHastaRespuesta(b.sim, A("81." + kPista2 + kFS + kPista1 + kFS));
  CierreAcusado(b.sim);
  EXPECT_TRUE(b.teclon.LeerBANDA(banda));
  b.sim.OlvidarRecibidos();

  // A request made from the caller's events while the card is awaited.
  b.sim.Agregar("A:Q40", {{kACK}});
  b.sim.Agregar("A:Q1", {{kACK}});
  CierreAcusado(b.sim);
  int bombeos = 0;
  b.teclon.FijarBombeo([&] {
    if (++bombeos == 4) b.teclon.Cancelar(true);
  });
  Cancelada({"A:Q40", "A:Q1", "A:Q3", "A:72"});

  // And from another thread, while "Q40" waits for its acknowledgement.
  b.teclon.FijarBombeo(nullptr);
  CierreAcusado(b.sim);
  std::thread otro([&] {
    b.sim.EsperarRecibidos(1, std::chrono::seconds(2));
    b.teclon.Cancelar(true);
  });
  EXPECT_FALSE(b.teclon.LeerBANDA(banda));
  otro.join();
  EXPECT_EQ(b.teclon.CodError(), tcCancel);
  EXPECT_EQ(Recibidos(b.sim, 3), (V{"A:Q40", "A:Q3", "A:72"}));
}

TEST(LeerCHIP, ConfirmedStepsReturnTrueWithCodeTwo) {
  Banco b;
  b.sim.Agregar("A:I00", {{kACK}});
  b.sim.Agregar("A:I0120", {});
  b.sim.Agregar("A:I0401A0A40001029800", {{kACK}});
  std::string banda = "x";
  EXPECT_TRUE(b.teclon.LeerCHIP(banda));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "");
  EXPECT_EQ(banda, "");
  EXPECT_EQ(Recibidos(b.sim, 4), (V{"A:I00", "A:I0120", "A:I0401A0A40001029800", "ACK"}));
  b.sim.OlvidarRecibidos();

  // EOT confirms both steps and earns no ACK back.
  b.sim.Agregar("A:I00", {{kEOT}});
  b.sim.Agregar("A:I0120", {});
  b.sim.Agregar("A:I0401A0A40001029800", {{kEOT}});
  EXPECT_TRUE(b.teclon.LeerCHIP(banda));
  EXPECT_EQ(Recibidos(b.sim, 3), (V{"A:I00", "A:I0120", "A:I0401A0A40001029800"}));
  b.sim.OlvidarRecibidos();

  b.sim.Agregar("A:I00", {{kACK}});
  b.sim.Agregar("A:I0120", {});
  b.sim.Agregar("A:I0401A0A40001029800", {{kNAK}});
  EXPECT_FALSE(b.teclon.LeerCHIP(banda));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon - CHIP");
  b.sim.Agregar("A:I00", {{kNAK}});
  EXPECT_FALSE(b.teclon.LeerCHIP(banda));
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon - CHIP");
}

TEST(LeerCHIP, CancelSendsSeventyTwo) {
  Banco b;
  b.sim.Agregar("A:I00", {{kACK, std::chrono::milliseconds(200)}});
  b.sim.Agregar("A:72", {{kACK}});
  b.teclon.FijarBombeo([&] { b.teclon.Cancelar(true); });
  std::string banda;
  EXPECT_FALSE(b.teclon.LeerCHIP(banda));
  EXPECT_EQ(b.teclon.CodError(), tcCancel);
  EXPECT_EQ(b.teclon.MsgError(), "Operacion Leer CHIP Cancelada");
  EXPECT_EQ(Recibidos(b.sim, 2), (V{"A:I00", "A:72"}));
}

TEST(LeerCHIP, SilenceRefusesAfterFifteenSeconds) {
  Banco b(std::make_shared<RelojFalso>());
  std::string banda;
  EXPECT_FALSE(b.teclon.LeerCHIP(banda));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon - CHIP");
}

namespace {
const std::string kPedido =
    "A:Z62.4000123412341234" + kFS + "CLAVETRABAJO16XX0404NINGRESE PIN" + kFS + "$ 100,00" + kFS;
const std::string kRespuestaPin =
    A("71.00000"
      "8F3A5C21D0E4B796");

bool Pin(Banco& b, std::string& pin) {
  return b.teclon.IngresarPIN("4000123412341234", "CLAVETRABAJO16XX", "INGRESE PIN", "$ 100,00", pin);
}
}  // namespace

TEST(IngresarPIN, SuccessReturnsTheBlockFromPositionsTenToTwentyFive) {
  Banco b;
  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(kPedido, {{kACK}, {kRespuestaPin, std::chrono::milliseconds(60)}});
  b.sim.Agregar("A:72", {{kACK}});
  std::string pin = "viejo";
  EXPECT_TRUE(Pin(b, pin)) << b.teclon.MsgError();
  EXPECT_EQ(pin, "8F3A5C21D0E4B796");
  EXPECT_EQ(b.teclon.CodError(), tcAprobado);
  EXPECT_EQ(Recibidos(b.sim, 5), (V{"B:080", kPedido, "ACK", "EOT", "A:72"}));
  // The frame's bytes: no padding, ETX and check byte right after the last FS.
  EXPECT_EQ(b.sim.Recibidos()[1].crudo, A(kPedido.substr(2)));
  b.sim.OlvidarRecibidos();

  // Empty display lines still carry all three FS.
  b.sim.Agregar("B:080", {{kEOT}});  // EOT confirms the key selection
  b.sim.Agregar("A:Z62.1" + kFS + "K0404N" + kFS + kFS,
                {{kACK}, {kRespuestaPin, std::chrono::milliseconds(60)}});
  b.sim.Agregar("A:72", {{kACK}});
  EXPECT_TRUE(b.teclon.IngresarPIN("1", "K", "", "", pin));
}

TEST(IngresarPIN, KeySelectionAndRequestRefusals) {
  Banco b;
  std::string pin;
  b.sim.Agregar("B:080", {{kNAK}});
  EXPECT_FALSE(Pin(b, pin));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon 1");
  b.sim.OlvidarRecibidos();

  // Three refusals: three sends, no more.
  b.sim.Agregar("B:080", {{kACK}});
  for (int i = 0; i < 3; ++i) b.sim.Agregar(kPedido, {{kNAK}});
  EXPECT_FALSE(Pin(b, pin));
  EXPECT_EQ(b.teclon.CodError(), tcError);
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon 2");
  EXPECT_EQ(Recibidos(b.sim, 4), (V{"B:080", kPedido, kPedido, kPedido}));
  b.sim.OlvidarRecibidos();

  // An EOT before any NAK is ignored; after a NAK it ends the attempts.
  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(kPedido, {{kEOT}, {kNAK, std::chrono::milliseconds(120)}});
  b.sim.Agregar(kPedido, {{kEOT}});
  EXPECT_FALSE(Pin(b, pin));
  EXPECT_EQ(b.teclon.CodError(), tcError);
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon 2");
  EXPECT_EQ(Recibidos(b.sim, 3), (V{"B:080", kPedido, kPedido}));
  b.sim.OlvidarRecibidos();

  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(
      kPedido,
      {{kEOT}, {kACK, std::chrono::milliseconds(120)}, {kRespuestaPin, std::chrono::milliseconds(60)}});
  b.sim.Agregar("A:72", {{kACK}});
  EXPECT_TRUE(Pin(b, pin));
}

TEST(IngresarPIN, WaitsThatTimeOutCountAsAttempts) {
  Banco b(std::make_shared<RelojFalso>());
  std::string pin;
  // Nothing at all: no second send.
  b.sim.Agregar("B:080", {{kACK}});
  EXPECT_FALSE(Pin(b, pin));
  EXPECT_EQ(b.teclon.CodError(), tcError);
  EXPECT_EQ(Recibidos(b.sim, 2), (V{"B:080", kPedido}));
  b.sim.OlvidarRecibidos();
  // Something other than ACK, NAK or EOT, then silence: sent again, three sends in all.
  b.sim.Agregar("B:080", {{kACK}});
  for (int i = 0; i < 3; ++i) b.sim.Agregar(kPedido, {{"?"}});
  EXPECT_FALSE(Pin(b, pin));
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon 2");
  EXPECT_EQ(Recibidos(b.sim, 4), (V{"B:080", kPedido, kPedido, kPedido}));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(b.sim.Resumenes().size(), 4u);
  b.sim.OlvidarRecibidos();
  // A send repeated after a time-out was not refused: an EOT to it is still ignored.
  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(kPedido, {{"?" + kEOT}});
  b.sim.Agregar(
      kPedido,
      {{kEOT}, {kACK, std::chrono::milliseconds(120)}, {kRespuestaPin, std::chrono::milliseconds(60)}});
  b.sim.Agregar("A:72", {{kACK}});
  EXPECT_TRUE(Pin(b, pin)) << b.teclon.MsgError();
  EXPECT_EQ(pin, "8F3A5C21D0E4B796");
  EXPECT_EQ(Recibidos(b.sim, 6), (V{"B:080", kPedido, kPedido, "ACK", "EOT", "A:72"}));
  b.sim.OlvidarRecibidos();
  // The answer never comes.
  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(kPedido, {{kACK}});
  b.sim.Agregar("A:72", {{kACK}});
  EXPECT_FALSE(Pin(b, pin));
  EXPECT_EQ(b.teclon.CodError(), tcTimeOut);
  EXPECT_EQ(b.teclon.MsgError(), "Error en Ingreso de PIN");
  EXPECT_EQ(Recibidos(b.sim, 3), (V{"B:080", kPedido, "A:72"}));
}

TEST(IngresarPIN, AnswerFailures) {
  Banco b;
  std::string pin;
  // Cancelled on the PIN pad.
  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(kPedido, {{kACK}, {kEOT, std::chrono::milliseconds(60)}});
  b.sim.Agregar("A:72", {{kACK}});
  EXPECT_FALSE(Pin(b, pin));
  EXPECT_EQ(b.teclon.CodError(), tcCancel);
  EXPECT_EQ(b.teclon.MsgError(), "Operacion Ingreso PIN Cancelada");
  EXPECT_EQ(Recibidos(b.sim, 3), (V{"B:080", kPedido, "A:72"}));
  b.sim.OlvidarRecibidos();

  // Three bad frames.
  const std::string mala =
      A("71.00000"
        "8F3A5C21D0E4B796",
        true);
  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(kPedido, {{kACK}, {mala, std::chrono::milliseconds(60)}});
  b.sim.Agregar("NAK", {{mala}});
  b.sim.Agregar("NAK", {{mala}});
  b.sim.Agregar("A:72", {{kACK}});
  EXPECT_FALSE(Pin(b, pin));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Error en Ingreso de PIN");
  EXPECT_EQ(Recibidos(b.sim, 6), (V{"B:080", kPedido, "NAK", "NAK", "EOT", "A:72"}));
  b.sim.OlvidarRecibidos();

  // A good 27-character frame with another code: acknowledged, then refused.
  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(kPedido, {{kACK},
                          {A("70.00000"
                             "8F3A5C21D0E4B796"),
                           std::chrono::milliseconds(60)}});
  b.sim.Agregar("A:72", {{kACK}});
  EXPECT_FALSE(Pin(b, pin));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Error en Ingreso de PIN");
  EXPECT_EQ(pin, "");
  EXPECT_EQ(Recibidos(b.sim, 5), (V{"B:080", kPedido, "ACK", "EOT", "A:72"}));
}

TEST(InicializarTECLON, SequenceAndRefusals) {
  Banco b;
  b.sim.Agregar("A:72", {{kEOT}});  // EOT confirms "72"
  b.sim.Agregar("A:Z8VELMORIANTEX", {{kACK}});
  b.sim.Agregar("B:122", {{kACK}});
  EXPECT_TRUE(b.teclon.InicializarTECLON());
  EXPECT_EQ(b.teclon.CodError(), tcAprobado);
  EXPECT_EQ(Recibidos(b.sim, 3), (V{"A:72", "A:Z8VELMORIANTEX", "B:122"}));
  EXPECT_EQ(b.sim.Recibidos()[2].crudo,
            "\x0f"
            "122\x0e?");
  b.sim.OlvidarRecibidos();

  const std::string fallo = "Comando Inicializar Teclon No Procesado";
  b.sim.Agregar("A:72", {{kNAK}});
  EXPECT_FALSE(b.teclon.InicializarTECLON());
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), fallo);
  b.sim.Agregar("A:72", {{kACK}});
  b.sim.Agregar("A:Z8VELMORIANTEX", {{kEOT}});
  EXPECT_FALSE(b.teclon.InicializarTECLON());
  EXPECT_EQ(b.teclon.MsgError(), fallo);
  b.sim.Agregar("A:72", {{kACK}});
  b.sim.Agregar("A:Z8VELMORIANTEX", {{kACK}});
  b.sim.Agregar("B:122", {{kNAK}});
  EXPECT_FALSE(b.teclon.InicializarTECLON());
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), fallo);
  EXPECT_EQ(Recibidos(b.sim, 6),
            (V{"A:72", "A:72", "A:Z8VELMORIANTEX", "A:72", "A:Z8VELMORIANTEX", "B:122"}));
}

TEST(InicializarTECLON, UnansweredSeventyTwoSendsNothingMore) {
  Banco b(std::make_shared<RelojFalso>());
  EXPECT_FALSE(b.teclon.InicializarTECLON());
  EXPECT_EQ(b.teclon.MsgError(), "Comando Inicializar Teclon No Procesado");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(b.sim.Resumenes(), V{"A:72"});
}

TEST(TransferirClaveMaestra, EchoIsComparedOnceComplete) {
  Banco b;
  const std::string clave = "0123456789ABCDEF";
  const std::string trama = B("020" + clave);
  const std::string resumen = "B:020" + clave;
  // The echo arrives without its check byte first; it must wait for it, not fail.
  b.sim.Agregar(resumen, {{kACK + trama.substr(0, trama.size() - 1)},
                          {trama.substr(trama.size() - 1), std::chrono::milliseconds(120)}});
  b.sim.Agregar("ACK", {{kEOT}});
  EXPECT_TRUE(b.teclon.TransferirClaveMaestra(clave)) << b.teclon.MsgError();
  EXPECT_EQ(b.teclon.CodError(), tcAprobado);
  EXPECT_EQ(Recibidos(b.sim, 2), (V{resumen, "ACK"}));
  b.sim.OlvidarRecibidos();

  const std::string fallo = "Comando Transferir Clave Maestra No Procesado";
  // A different echo: EOT and failure.
  b.sim.Agregar(resumen, {{kACK + B("020" + clave.substr(1))}});
  EXPECT_FALSE(b.teclon.TransferirClaveMaestra(clave));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), fallo);
  EXPECT_EQ(Recibidos(b.sim, 2), (V{resumen, "EOT"}));
  // EOT before the echo, and NAK after a good echo.
  b.sim.Agregar(resumen, {{kEOT}});
  EXPECT_FALSE(b.teclon.TransferirClaveMaestra(clave));
  EXPECT_EQ(b.teclon.MsgError(), fallo);
  b.sim.Agregar(resumen, {{kACK + trama}});
  b.sim.Agregar("ACK", {{kNAK}});
  EXPECT_FALSE(b.teclon.TransferirClaveMaestra(clave));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), fallo);
  // An empty key is sent as it is.
  b.sim.Agregar("B:020", {{kACK + B("020")}});
  b.sim.Agregar("ACK", {{kEOT}});
  EXPECT_TRUE(b.teclon.TransferirClaveMaestra(""));
}

TEST(TransferirClaveMaestra, FifteenSecondsCoverTheWholeExchange) {
  Banco b(std::make_shared<RelojFalso>());
  const std::string trama = B("020KEY");
  b.sim.Agregar("B:020KEY", {{kACK + trama}});
  EXPECT_FALSE(b.teclon.TransferirClaveMaestra("KEY"));
  EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
  EXPECT_EQ(b.teclon.MsgError(), "Comando Transferir Clave Maestra No Procesado");
  EXPECT_EQ(Recibidos(b.sim, 2), (V{"B:020KEY", "ACK"}));
}

TEST(VerificarClaveMaestra, AnswerDecides) {
  Banco b;
  b.sim.Agregar("B:040", {{kACK + B("04F0", true)}});  // the answer's check byte is not verified
  EXPECT_TRUE(b.teclon.VerificarClaveMaestra(0));
  EXPECT_EQ(b.teclon.CodError(), tcAprobado);
  EXPECT_EQ(Recibidos(b.sim, 2), (V{"B:040", "ACK"}));
  EXPECT_EQ(b.sim.Recibidos()[0].crudo,
            "\x0f"
            "040\x0e:");
  for (const std::string& respuesta : {B("04N0"), B("4F"), std::string("xx") + teclon::sim::kSO + "y"}) {
    b.sim.Agregar("B:0412", {{kACK + respuesta}});
    EXPECT_FALSE(b.teclon.VerificarClaveMaestra(12));
    EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
    EXPECT_EQ(b.teclon.MsgError(), "Falta Cargar Clave Maestra");
  }
  b.sim.Agregar("B:04-3", {{kNAK}});
  EXPECT_FALSE(b.teclon.VerificarClaveMaestra(-3));
  EXPECT_EQ(b.teclon.CodError(), tcError);
  EXPECT_EQ(b.teclon.MsgError(), "Comando Verificar Clave Maestra No Procesado");
}

TEST(VerificarClaveMaestra, SilenceIsAnError) {
  Banco b(std::make_shared<RelojFalso>());
  b.sim.Agregar("B:049", {{kACK}});
  EXPECT_FALSE(b.teclon.VerificarClaveMaestra(9));
  EXPECT_EQ(b.teclon.CodError(), tcError);
  EXPECT_EQ(b.teclon.MsgError(), "Comando Verificar Clave Maestra No Procesado");
}

TEST(SelClaveMaestra, AckOnlyConfirms) {
  Banco b;
  b.sim.Agregar("B:080", {{kACK}});
  EXPECT_TRUE(b.teclon.SelClaveMaestra(0));
  EXPECT_EQ(b.teclon.CodError(), tcAprobado);
  EXPECT_EQ(b.sim.Recibidos()[0].crudo,
            "\x0f"
            "080\x0e"
            "6");
  for (const std::string& r : {kNAK, kEOT}) {
    b.sim.Agregar("B:0810", {{r}});
    EXPECT_FALSE(b.teclon.SelClaveMaestra(10));
    EXPECT_EQ(b.teclon.CodError(), tcNOAprobado);
    EXPECT_EQ(b.teclon.MsgError(), "Comando Sel. Clave Maestra No Procesado");
  }
}

// The modelled PIN pad that teclon-simulador plays, end to end through the driver.
TEST(Modelo, AWholeSessionAgainstTheModel) {
  Banco b;
  teclon::sim::OpcionesModelo o;
  o.demoraPasada = o.demoraPin = std::chrono::milliseconds(50);
  b.sim.FijarManejador(teclon::sim::CrearModelo(o));
  std::string banda, pin;
  EXPECT_TRUE(b.teclon.InicializarTECLON());
  EXPECT_TRUE(b.teclon.CargarPROMPT());
  EXPECT_FALSE(b.teclon.VerificarClaveMaestra(0));
  EXPECT_TRUE(b.teclon.TransferirClaveMaestra("00112233445566778899AABBCCDDEEFF"));
  EXPECT_TRUE(b.teclon.VerificarClaveMaestra(0));
  EXPECT_TRUE(b.teclon.SelClaveMaestra(0));
  EXPECT_TRUE(b.teclon.LeerBANDA(banda));
  EXPECT_EQ(banda, o.pista1 + "\r" + o.pista2 + "\r");
  EXPECT_TRUE(b.teclon.IngresarPIN("4000123412341234", "WK", "PIN", "", pin));
  EXPECT_EQ(pin, o.bloquePin);
  EXPECT_TRUE(b.teclon.LeerCHIP(banda));
}

// An answer that comes in the same poll as the acknowledgement before it is not lost; a second
// acknowledgement in that poll does not confirm the next command.
TEST(Respuestas, AnswerRightBehindTheAcknowledgementIsKept) {
  Banco b;
  b.sim.Agregar("A:Q40", {{kACK}});
  b.sim.Agregar("A:Q1", {{kACK + "\x01" + A("81." + kPista2 + kFS + kPista1 + kFS)}});
  CierreAcusado(b.sim);
  std::string banda;
  EXPECT_TRUE(b.teclon.LeerBANDA(banda)) << b.teclon.MsgError();
  EXPECT_EQ(banda, kPista1 + "\r" + kPista2 + "\r");
  EXPECT_EQ(Recibidos(b.sim, 5), (V{"A:Q40", "A:Q1", "ACK", "A:Q3", "A:72"}));
  b.sim.OlvidarRecibidos();

  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(kPedido, {{kACK + kRespuestaPin}});
  b.sim.Agregar("A:72", {{kACK}});
  std::string pin;
  EXPECT_TRUE(Pin(b, pin)) << b.teclon.MsgError();
  EXPECT_EQ(pin, "8F3A5C21D0E4B796");
  b.sim.OlvidarRecibidos();

  b.sim.Agregar("A:Q40", {{kACK + kACK}});
  b.sim.Agregar("A:Q1", {{kNAK, std::chrono::milliseconds(100)}});
  EXPECT_FALSE(b.teclon.LeerBANDA(banda));
  EXPECT_EQ(b.teclon.MsgError(), "Error de Comunicacion con Teclon - BANDA");
}
