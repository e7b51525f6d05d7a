// Tests of the link layer and the port: frames, acknowledgement and answer waits, time-outs, opening.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include "comun.hpp"
#include "enlace.hpp"

using namespace prueba;
using namespace teclon;
using sim::kACK;
using sim::kEOT;
using sim::kNAK;

TEST(Trama, ByteForByte) {
  EXPECT_EQ(CalcularLRC(""), 0);
  EXPECT_EQ(CalcularLRC("72\x03"), 6);
  EXPECT_EQ(ArmarTrama("72", Formato::A).Vista(), std::string_view("\x02"
                                                                   "72\x03\x06",
                                                                   5));
  EXPECT_EQ(ArmarTrama("Q40", Formato::A).Vista(), "\x02Q40\x03V");
  EXPECT_EQ(ArmarTrama("080", Formato::B).Vista(),
            "\x0f"
            "080\x0e"
            "6");
  EXPECT_EQ(ArmarTrama("040", Formato::B).Vista(),
            "\x0f"
            "040\x0e:");
  EXPECT_EQ(ArmarTrama("122", Formato::B).Vista(),
            "\x0f"
            "122\x0e?");
  // The simulator's frames must agree with the driver's.
  EXPECT_EQ(A("Z8VELMORIANTEX"), std::string(ArmarTrama("Z8VELMORIANTEX", Formato::A).Vista()));
}

// The link layer on a real termios port opened on the simulator's pseudo-terminal.
class EnlacePty : public ::testing::Test {
 protected:
  void Preparar(std::shared_ptr<Reloj> r) {
    reloj = std::move(r);
    ::setenv("TECLON_PUERTO_9", sim.Dispositivo().c_str(), 1);
    puerto->FijarNumero(9);
    puerto->FijarConfiguracion("1200,E,7,1");
    puerto->FijarAbierto(true);
    enlace = std::make_unique<Enlace>(*puerto, *reloj, bombeo, cancelar);
  }
  void SetUp() override { Preparar(std::make_shared<RelojReal>()); }
  void Enviar(std::string_view datos) {
    const TextoSeguro t = ArmarTrama(datos, Formato::A);
    enlace->EnviarTrama(t.Vista(), false);
  }
  // One answer wait: the accepted frame lands in trama and the code in cod.
  bool Leer(const Lectura& lectura) {
    const Respuesta r = enlace->LeerRespuesta(lectura);
    cod = r.codigo;
    trama = r.trama;
    return r.Aceptada();
  }

  sim::Simulador sim;
  std::unique_ptr<PuertoSerie> puerto = CrearPuertoTermios();
  std::shared_ptr<Reloj> reloj;
  std::function<void()> bombeo;
  std::atomic<bool> cancelar{false};
  std::unique_ptr<Enlace> enlace;
  TextoSeguro trama;
  TeclonError cod = tcError;
};

TEST_F(EnlacePty, ConfirmationSignalsAndTheirPrecedence) {
  struct Caso {
    std::string respuesta;
    bool ignorarEot;
    Senal esperada;
  };
  const std::vector<Caso> casos = {
      {kACK, false, Senal::Ack},        {kNAK, false, Senal::Nak},
      {kEOT, false, Senal::Eot},        {kNAK + kACK, false, Senal::Ack},  // ACK is looked for first
      {kEOT + kNAK, false, Senal::Nak},                                    // then NAK
      {"xx" + kEOT, false, Senal::Eot},                                    // searched anywhere in the buffer
  };
  for (std::size_t i = 0; i < casos.size(); ++i) {
    sim.Agregar("A:Q40", {{casos[i].respuesta}});
    Enviar("Q40");
    EXPECT_EQ(enlace->EsperarConfirmacion(false, casos[i].ignorarEot).senal, casos[i].esperada)
        << "caso " << i;
  }
  // An ignored EOT does not end the wait; a later ACK still confirms.
  sim.Agregar("A:Q40", {{kEOT}, {kACK, 120ms}});
  Enviar("Q40");
  const Confirmacion c = enlace->EsperarConfirmacion(false, true);
  EXPECT_EQ(c.senal, Senal::Ack);
  EXPECT_TRUE(c.recibioAlgo);
}

TEST_F(EnlacePty, CancelIsSeenOnlyWhereTested) {
  cancelar = true;
  sim.Agregar("A:Q40", {{kACK, 150ms}});
  Enviar("Q40");
  EXPECT_EQ(enlace->EsperarConfirmacion(false).senal, Senal::Ack);
  Enviar("Q40");
  EXPECT_EQ(enlace->EsperarConfirmacion(true).senal, Senal::Cancelada);
  // An answer wait that tests the request ends as cancelled; one that does not still takes its frame.
  EXPECT_EQ(enlace->LeerRespuesta({25, 0, kACK, true}).codigo, tcCancel);
  const std::string banda = "81." + std::string(30, '4') + sim::kFS + sim::kFS;
  sim.Enviar(A(banda));
  const Respuesta r = enlace->LeerRespuesta({25, 0, kACK, false});
  EXPECT_TRUE(r.Aceptada());
  EXPECT_EQ(r.codigo, tcNOAprobado);
}

TEST_F(EnlacePty, AnswerFramesAreCutCheckedAndAcknowledged) {
  const std::string banda = "81.4000123412341234=2912" + sim::kFS + "B4000^X" + sim::kFS;
  const Lectura lectura{25, 0, kACK, false};

  // Noise ahead of the STX is dropped; the frame runs from STX to the check byte.
  sim.Enviar("\x01zz" + A(banda));
  ASSERT_TRUE(Leer(lectura));
  EXPECT_EQ(trama.Vista(), A(banda));
  ASSERT_TRUE(sim.EsperarRecibidos(1, 1s));
  EXPECT_EQ(sim.Resumenes(), std::vector<std::string>{"ACK"});
  sim.OlvidarRecibidos();

  // Two bad frames are refused with NAK; the repeat after each is accepted.
  sim.Enviar(A(banda, true));
  sim.Agregar("NAK", {{A(banda, true)}});
  sim.Agregar("NAK", {{A(banda)}});
  ASSERT_TRUE(Leer(lectura));
  ASSERT_TRUE(sim.EsperarRecibidos(3, 1s));
  EXPECT_EQ(sim.Resumenes(), (std::vector<std::string>{"NAK", "NAK", "ACK"}));
  sim.OlvidarRecibidos();

  // The third bad frame is answered with EOT and nothing is accepted.
  sim.Enviar(A(banda, true));
  sim.Agregar("NAK", {{A(banda, true)}});
  sim.Agregar("NAK", {{A(banda, true)}});
  EXPECT_FALSE(Leer(lectura));
  EXPECT_EQ(cod, tcNOAprobado);
  EXPECT_TRUE(trama.empty());
  ASSERT_TRUE(sim.EsperarRecibidos(3, 1s));
  EXPECT_EQ(sim.Resumenes(), (std::vector<std::string>{"NAK", "NAK", "EOT"}));
  sim.OlvidarRecibidos();

  // 25 characters with an ETX but no STX is a bad frame, not a crash.
  sim.Enviar(std::string(30, 'x') +
             "\x03"
             "y");
  sim.Agregar("NAK", {{A(banda)}});
  ASSERT_TRUE(Leer(lectura));
  EXPECT_EQ(trama.Vista(), A(banda));
}

TEST_F(EnlacePty, EotMeansCancelOnlyBelowTheMinimum) {
  sim.Enviar(kEOT);
  EXPECT_FALSE(Leer({25, 0, kACK, false}));
  EXPECT_EQ(cod, tcCancel);

  // With 25 characters gathered an EOT is just another character; the frame still counts.
  const std::string frame = A("81." + std::string(26, '9') + kEOT + sim::kFS + sim::kFS);
  sim.Enviar(frame);
  ASSERT_TRUE(Leer({25, 0, kACK, false}));
  EXPECT_EQ(trama.Vista(), frame);
  EXPECT_EQ(cod, tcNOAprobado);
}

TEST_F(EnlacePty, PinAnswerIsTwentySevenCharactersAckedWithAckEot) {
  const std::string respuesta =
      A("71.00000"
        "0123456789ABCDEF");
  ASSERT_EQ(respuesta.size(), 27u);
  // Delivered in two pieces: the frame is waited for, never read past the buffer's end.
  sim.Enviar("~" + respuesta.substr(0, 26));
  std::this_thread::sleep_for(80ms);
  sim.Enviar(respuesta.substr(26));
  ASSERT_TRUE(Leer({27, 27, kACK + kEOT, false}));
  EXPECT_EQ(trama.Vista(), respuesta);
  ASSERT_TRUE(sim.EsperarRecibidos(2, 1s));
  EXPECT_EQ(sim.Resumenes(), (std::vector<std::string>{"ACK", "EOT"}));
}

TEST_F(EnlacePty, ClosingCommandsDiscardStaleInputFirst) {
  // A stale ACK waiting in the input must not confirm the "72" that the PIN pad refuses.
  sim.Enviar(kACK);
  std::this_thread::sleep_for(30ms);
  sim.Agregar("A:72", {{kNAK}});
  EXPECT_FALSE(enlace->Enviar72());
  sim.Agregar("A:Q3", {{kEOT}});
  EXPECT_TRUE(enlace->EnviarQ3());
  sim.Agregar("A:72", {{kACK}});
  EXPECT_TRUE(enlace->Enviar72());
  EXPECT_EQ(sim.Resumenes(), (std::vector<std::string>{"A:72", "A:Q3", "A:72"}));
}

class EnlaceTiempo : public EnlacePty {
 protected:
  void SetUp() override {
    falso = std::make_shared<RelojFalso>();
    Preparar(falso);
  }
  std::chrono::microseconds Transcurrido(std::chrono::steady_clock::time_point desde) const {
    return std::chrono::duration_cast<std::chrono::microseconds>(falso->ahora_ - desde);
  }
  std::shared_ptr<RelojFalso> falso;
};

TEST_F(EnlaceTiempo, WaitsEndJustAfterFifteenSecondsNotBefore) {
  int bombeos = 0;
  bombeo = [&] { ++bombeos; };
  auto inicio = falso->ahora_;
  Enviar("Q40");
  const Confirmacion c = enlace->EsperarConfirmacion(false, false);
  EXPECT_EQ(c.senal, Senal::Tiempo);
  EXPECT_FALSE(c.recibioAlgo);
  EXPECT_GT(Transcurrido(inicio), 15s);
  EXPECT_LE(Transcurrido(inicio), 15s + 50ms);
  EXPECT_EQ(bombeos, 301);  // the caller's events run before every pause

  inicio = falso->ahora_;
  EXPECT_FALSE(Leer({25, 0, kACK, false}));
  EXPECT_EQ(cod, tcTimeOut);
  EXPECT_GT(Transcurrido(inicio), 15s);
  EXPECT_LE(Transcurrido(inicio), 15s + 50ms);
}

TEST_F(EnlaceTiempo, AnswerClockIsNotRestartedByANak) {
  const std::string banda = "81." + std::string(30, '5') + sim::kFS + sim::kFS;
  // The bad frame arrives late in the wait; the NAK it earns does not give the PIN pad 15 s more.
  bombeo = [&, hecho = false]() mutable {
    if (!hecho && falso->dormido_ >= 10s) {
      sim.Enviar(A(banda, true));
      std::this_thread::sleep_for(20ms);
      hecho = true;
    }
  };
  const auto inicio = falso->ahora_;
  EXPECT_FALSE(Leer({25, 0, kACK, false}));
  EXPECT_EQ(cod, tcTimeOut);
  EXPECT_LE(Transcurrido(inicio), 15s + 50ms);
  EXPECT_EQ(sim.Resumenes(), std::vector<std::string>{"NAK"});
}

// The drains are bounded: a port whose output never empties is an error after 15 s, and the loop
// yields (1 ms pauses) instead of spinning.
TEST(Drenaje, StuckOutputTimesOutInsteadOfHanging) {
  auto reloj = std::make_shared<RelojFalso>(0);
  PuertoFalso puerto;
  puerto.abierto = true;
  puerto.salidaAtascada = true;
  std::function<void()> bombeo;
  int bombeos = 0;
  bombeo = [&] { ++bombeos; };
  std::atomic<bool> cancelar{false};
  Enlace enlace(puerto, *reloj, bombeo, cancelar);
  const auto inicio = reloj->ahora_;
  try {
    enlace.EnviarTrama("x", false);
    FAIL() << "no error";
  } catch (const ErrorPuerto& e) {
    EXPECT_EQ(e.Numero(), ETIMEDOUT);
  }
  EXPECT_GT(reloj->ahora_ - inicio, 15s);
  EXPECT_LE(reloj->ahora_ - inicio, 15s + 2ms);
  EXPECT_GT(bombeos, 14000);

  // A cancel request is seen inside the drain of a send that tests it.
  cancelar = true;
  EXPECT_FALSE(enlace.EnviarTrama("x", true));
  EXPECT_EQ(enlace.Confirmar("x", true).senal, Senal::Cancelada);
}

// A cancel request seen while a card read's first frame drains ends the read as cancelled, with the
// closing commands still tried (their own drains run out, quietly), not as a port error.
TEST(Drenaje, CancelWhileACardReadDrainsEndsItAsCancelled) {
  struct Caso {
    std::function<bool(cTeclon&, std::string&)> leer;
    std::string mensaje;
    std::string cierres;
  };
  const std::vector<Caso> casos = {
      {[](cTeclon& t, std::string& s) { return t.LeerBANDA(s); }, "Operacion Leer BANDA Cancelada",
       A("Q40") + A("Q3") + A("72")},
      {[](cTeclon& t, std::string& s) { return t.LeerCHIP(s); }, "Operacion Leer CHIP Cancelada",
       A("I00") + A("72")},
  };
  for (const Caso& c : casos) {
    auto puerto = std::make_unique<PuertoFalso>();
    PuertoFalso& p = *puerto;
    p.salidaAtascada = true;
    cTeclon t = teclon::Interno::Crear(std::move(puerto), std::make_shared<RelojFalso>(0));
    t.FijarBombeo([&t] { t.Cancelar(true); });
    std::string texto = "vieja";
    EXPECT_FALSE(c.leer(t, texto)) << c.mensaje;
    EXPECT_EQ(t.CodError(), tcCancel) << c.mensaje;
    EXPECT_EQ(t.MsgError(), c.mensaje);
    EXPECT_EQ(texto, "");
    EXPECT_EQ(p.escrito, c.cierres) << c.mensaje;
    EXPECT_FALSE(p.abierto) << c.mensaje;
  }
}

TEST(Drenaje, StuckOutputFailsTheOperationThroughItsErrorPath) {
  auto puerto = std::make_unique<PuertoFalso>();
  PuertoFalso& p = *puerto;
  p.salidaAtascada = true;
  cTeclon t = teclon::Interno::Crear(std::move(puerto), std::make_shared<RelojFalso>(0));
  EXPECT_FALSE(t.CargarPROMPT());
  EXPECT_EQ(t.CodError(), tcError);
  EXPECT_EQ(t.MsgError(), "ERROR al Cargar PROMPT - " + std::to_string(ETIMEDOUT) +
                              " La trama no terminó de salir del puerto en 15 segundos");
  EXPECT_FALSE(p.abierto);
}

TEST(Apertura, NewObjectDefaults) {
  auto puerto = std::make_unique<PuertoFalso>();
  PuertoFalso& p = *puerto;
  cTeclon t = teclon::Interno::Crear(std::move(puerto), std::make_shared<RelojFalso>(0));
  EXPECT_EQ(t.CodError(), tcError);
  EXPECT_EQ(t.MsgError(), "");
  t.CerrarPuerto();  // closed: nothing happens
  EXPECT_EQ(p.pasos, 0);
  p.entrada.push_back(kACK);
  EXPECT_TRUE(t.CargarPROMPT());
  EXPECT_EQ(p.numero, 1);
  EXPECT_EQ(p.configuracion, "1200,E,7,1");
  EXPECT_EQ(p.escrito, A("Z8VELMORIANTEX"));
  EXPECT_FALSE(p.abierto);
  ::unsetenv("TECLON_PUERTO_1");
  EXPECT_EQ(DispositivoDePuerto(1), "/dev/ttyS0");
  EXPECT_EQ(DispositivoDePuerto(4), "/dev/ttyS3");
}

TEST(Apertura, FailuresKeepTheSystemCodeAndTheExactMessage) {
  {
    cTeclon t;
    ::setenv("TECLON_PUERTO_3", "/no/existe/ttyX", 1);
    t.Puerto(3);
    std::string banda = "vieja";
    EXPECT_FALSE(t.LeerBANDA(banda));
    EXPECT_EQ(t.CodError(), tcError);
    EXPECT_EQ(banda, "");
    EXPECT_EQ(t.MsgError().rfind("ERROR al Abrir Puerto 3 - 2 No se puede abrir /no/existe/ttyX: ", 0), 0u)
        << t.MsgError();
    ::setenv("TECLON_PUERTO_3", "/dev/null", 1);
    EXPECT_FALSE(t.CargarPROMPT());
    EXPECT_EQ(t.MsgError(),
              "ERROR al Abrir Puerto 3 - " + std::to_string(ENOTTY) + " /dev/null no es un puerto serie");
    t.Puerto(0);
    EXPECT_FALSE(t.SelClaveMaestra(0));
    EXPECT_EQ(t.MsgError(),
              "ERROR al Abrir Puerto 0 - " + std::to_string(EINVAL) + " Número de puerto inválido: 0");
    t.CerrarPuerto();
    EXPECT_EQ(t.CodError(), tcError);
  }
  {
    // Another holder of the port: the open fails, naming the system's error.
    Banco b;
    auto otro = CrearPuertoTermios();
    otro->FijarNumero(7);
    otro->FijarAbierto(true);
    EXPECT_FALSE(b.teclon.CargarPROMPT());
    // flock refuses it (EWOULDBLOCK); without privileges the exclusive mark refuses it first (EBUSY).
    const std::string m = b.teclon.MsgError();
    EXPECT_TRUE(m.rfind("ERROR al Abrir Puerto 7 - " + std::to_string(EWOULDBLOCK) + " El puerto ", 0) == 0 ||
                m.rfind("ERROR al Abrir Puerto 7 - " + std::to_string(EBUSY) + " ", 0) == 0)
        << m;
    EXPECT_EQ(b.teclon.CodError(), tcError);
    otro->FijarAbierto(false);
    b.sim.Agregar("A:Z8VELMORIANTEX", {{kACK}});
    EXPECT_TRUE(b.teclon.CargarPROMPT());
    // The port is closed again afterwards: a second holder gets it.
    otro->FijarAbierto(true);
    EXPECT_TRUE(otro->Abierto());
  }
  {
    // A port that reports itself closed after opening, without an error.
    auto puerto = std::make_unique<PuertoFalso>();
    puerto->negarApertura = true;
    cTeclon t = teclon::Interno::Crear(std::move(puerto), std::make_shared<RelojFalso>(0));
    t.Puerto(7);
    EXPECT_FALSE(t.InicializarTECLON());
    EXPECT_EQ(t.CodError(), tcError);
    EXPECT_EQ(t.MsgError(), "ERROR al Abrir Puerto 7");
  }
}

TEST(Apertura, SettingsStringIsParsed) {
  auto p = CrearPuertoTermios();
  EXPECT_NO_THROW(p->FijarConfiguracion("9600,N,8,2"));
  EXPECT_NO_THROW(p->FijarConfiguracion("1200,e,7,1"));
  for (const char* malo : {"1200,X,7,1", "1201,E,7,1", "1200,E,9,1", "1200,E,7", "1200,E,7,3", ",E,7,1"}) {
    try {
      p->FijarConfiguracion(malo);
      ADD_FAILURE() << malo;
    } catch (const ErrorPuerto& e) {
      EXPECT_EQ(e.Numero(), EINVAL);
    }
  }
  try {
    TextoSeguro t;
    p->LeerTodo(t);
    ADD_FAILURE();
  } catch (const ErrorPuerto& e) {
    EXPECT_EQ(e.Numero(), EBADF);
  }
}

// Any port operation may fail; wherever it fails inside an operation, the operation reports it
// under its prefix (or quietly, where the link ignores errors) and leaves the port closed.
TEST(Fallas, EveryPortFailureIsTrappedAndThePortClosed) {
  int exitos = 0;
  int atrapados = 0;
  for (long n = 1; n < 40; ++n) {
    auto puerto = std::make_unique<PuertoFalso>();
    PuertoFalso& p = *puerto;
    p.entrada = {kACK, kACK, A("81.1234567890123456789012" + sim::kFS + sim::kFS), kACK, kACK};
    long objetivo = n;
    p.falla = [objetivo](const char* que, long paso) {
      if (paso == objetivo && std::string(que) != "cerrar") throw ErrorPuerto(EIO, "falla inyectada");
    };
    cTeclon t = teclon::Interno::Crear(std::move(puerto), std::make_shared<RelojFalso>(0));
    std::string banda;
    const bool r = t.LeerBANDA(banda);
    EXPECT_FALSE(p.abierto) << n;
    if (r) ++exitos;
    if (!r && t.CodError() == tcError) {
      ++atrapados;
      const std::string m = t.MsgError();
      EXPECT_TRUE(m == "ERROR al Leer Banda - 5 falla inyectada" ||
                  m == "ERROR al Abrir Puerto 1 - 5 falla inyectada")
          << n << ": " << m;
    }
  }
  // Failures in the closing commands or the lone acknowledgements are ignored, the others trapped.
  EXPECT_GT(exitos, 0);
  EXPECT_GT(atrapados, 10);
}

// A port error raised in the middle of each operation: its prefix, the system's number, and the
// result code as each family of operations leaves it (the key operations do not touch it).
TEST(Fallas, ErrorRowsOfEveryOperation) {
  struct Caso {
    const char* marca;  // the read fails once this text has been written
    std::function<bool(cTeclon&)> operacion;
    short codigo;
    std::string mensaje;
  };
  std::string texto;
  const std::vector<Caso> casos = {
      {"Z8", [](cTeclon& t) { return t.CargarPROMPT(); }, tcError, "ERROR al Cargar PROMPT - "},
      {"I00", [&](cTeclon& t) { return t.LeerCHIP(texto); }, tcError, "ERROR al Leer Chip - "},
      {"Q1", [&](cTeclon& t) { return t.LeerBANDA(texto); }, tcError, "ERROR al Leer Banda - "},
      {"Z62", [&](cTeclon& t) { return t.IngresarPIN("1", "2", "3", "4", texto); }, tcError,
       "ERROR al Ingresar PIN - "},
      {"Z8", [](cTeclon& t) { return t.InicializarTECLON(); }, tcNOAprobado,
       "ERROR al Inicializar Teclon - "},
      {"020", [](cTeclon& t) { return t.TransferirClaveMaestra("K"); }, tcNOAprobado,
       "ERROR TransferirClaveMaestra - "},
      {"04", [](cTeclon& t) { return t.VerificarClaveMaestra(1); }, tcError,
       "ERROR VerificarClaveMaestra - "},
      {"08", [](cTeclon& t) { return t.SelClaveMaestra(1); }, tcNOAprobado,
       "ERROR Comando SelClaveMaestra - "},
  };
  for (const Caso& c : casos) {
    auto puerto = std::make_unique<PuertoFalso>();
    PuertoFalso& p = *puerto;
    p.alEscribir = [&p](const std::string&) { p.entrada.push_back(kACK); };
    const std::string marca = c.marca;
    p.falla = [&p, marca](const char* que, long) {
      if (std::string(que) == "leer" && p.escrito.find(marca) != std::string::npos)
        throw ErrorPuerto(EIO, "falla inyectada");
    };
    cTeclon t = teclon::Interno::Crear(std::move(puerto), std::make_shared<RelojFalso>(0));
    EXPECT_FALSE(c.operacion(t)) << c.mensaje;
    EXPECT_EQ(t.CodError(), c.codigo) << c.mensaje;
    EXPECT_EQ(t.MsgError(), c.mensaje + std::to_string(EIO) + " falla inyectada");
    EXPECT_FALSE(p.abierto) << c.mensaje;
  }
}
