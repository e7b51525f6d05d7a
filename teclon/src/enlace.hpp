// The PIN pad link: framing, check byte, acknowledgement and answer waits, closing commands.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

#include "puerto.hpp"
#include "teclon/resultado.h"
#include "texto_seguro.hpp"

namespace teclon {

inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char EOT = 0x04;
inline constexpr char ACK = 0x06;
inline constexpr char CR = 0x0D;
inline constexpr char SO = 0x0E;
inline constexpr char SI = 0x0F;
inline constexpr char NAK = 0x15;
inline constexpr char FS = 0x1C;

enum class Formato { A, B };

// The idle text the PIN pad shows between operations, loaded by CargarPROMPT and at set-up.
inline constexpr std::string_view kPrompt = "Z8VELMORIANTEX";

// XOR of the 8-bit codes of the text; 0 for an empty text.
int CalcularLRC(std::string_view texto);

// A: STX + datos + ETX + check byte; B: SI + datos + SO + check byte. The check byte covers the
// data and the end character.
TextoSeguro ArmarTrama(std::string_view datos, Formato formato);

// What ended an acknowledgement wait. ACK is looked for first, then NAK, then EOT. Cancelada is the
// caller's cancel request, seen only by a send or a wait that tests it.
enum class Senal { Ack, Nak, Eot, Tiempo, Cancelada };

// The PIN pad took the command: an EOT counts, it is the PIN pad having nothing to add.
inline bool Confirma(Senal senal) {
  return senal == Senal::Ack || senal == Senal::Eot;
}

struct Confirmacion {
  Senal senal = Senal::Tiempo;
  bool recibioAlgo = false;  // whether anything at all arrived during the wait
};

// How an answer wait ended. An accepted frame (STX to check byte) comes with tcNOAprobado: its
// content is for the operation to judge. Without a frame the code is tcCancel (the PIN pad's EOT or
// the caller's request), tcTimeOut, or tcNOAprobado after three bad frames.
struct Respuesta {
  TeclonError codigo = tcNOAprobado;
  TextoSeguro trama;
  bool Aceptada() const noexcept { return !trama.empty(); }
};

// How LeerRespuesta recognises and acknowledges one answer frame.
struct Lectura {
  std::size_t minimo;            // characters gathered before anything is examined
  std::size_t longitudFija;      // 0: the frame ends one character after its ETX
  std::string_view respuestaOk;  // written back when the check byte is right
  bool probarCancelar;
};

// The link layer of one cTeclon. It borrows the object's port, clock, pump and cancel flag and
// reports each outcome to the operation, which sets the result code; what it keeps between calls
// is the start of an answer frame that arrived together with the acknowledgement before it (handed
// to the next LeerRespuesta).
class Enlace {
 public:
  using Instante = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::seconds kEspera{15};
  static constexpr std::chrono::milliseconds kPausa{50};
  static constexpr std::chrono::milliseconds kCesion{1};

  Enlace(PuertoSerie& puerto, Reloj& reloj, const std::function<void()>& bombeo,
         const std::atomic<bool>& cancelar);

  // Writes the frame and waits until it has left the output buffer (bounded by the wait time-out).
  // False only when a cancel request stopped the wait.
  bool EnviarTrama(std::string_view trama, bool probarCancelar);

  // Waits up to 15 s for ACK, NAK or EOT. With ignorarEot an EOT does not end the wait. Whatever
  // follows the acknowledgement from an STX on is handed to the LeerRespuesta that comes next.
  Confirmacion EsperarConfirmacion(bool probarCancelar, bool ignorarEot = false);

  // EnviarTrama and then EsperarConfirmacion; a send stopped by a cancel request waits for nothing.
  Confirmacion Confirmar(std::string_view trama, bool probarCancelar, bool ignorarEot = false);

  // Receives, checks and acknowledges one answer frame (see Lectura and Respuesta).
  Respuesta LeerRespuesta(const Lectura& lectura);

  // Writes the text unframed and waits until it has left; errors are ignored.
  void EnviarCadena(std::string_view texto);

  // Ends the PIN pad's current operation ("72") or stripe read ("Q3"); true on ACK or EOT.
  bool Enviar72();
  bool EnviarQ3();

  // Pieces of the poll loop, for the operations that run one of their own.
  Instante Inicio();
  void Recibir(TextoSeguro& buffer);
  bool Vencida(Instante inicio);
  void Pausa();

 private:
  bool Cancelado(bool probar) const;
  bool Drenar(bool probarCancelar);
  bool EnviarCierre(std::string_view datos);

  // The start of an answer frame that came in the same poll as the acknowledgement before it;
  // the answer wait that follows begins with it instead of losing it.
  TextoSeguro sobrante_;
  PuertoSerie& puerto_;
  AvisoDeEntrada* aviso_;  // the port's wait for input, when it has one: what the clock's pause needs
  Reloj& reloj_;
  const std::function<void()>& bombeo_;
  const std::atomic<bool>& cancelar_;
};

}  // namespace teclon
