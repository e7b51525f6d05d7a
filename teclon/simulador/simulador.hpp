// A PIN pad played on the master side of a pseudo-terminal, scripted or modelled, for tests and tools.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace teclon::sim {

inline const std::string kSTX{"\x02"}, kETX{"\x03"}, kEOT{"\x04"}, kACK{"\x06"}, kSO{"\x0e"}, kSI{"\x0f"},
    kNAK{"\x15"}, kFS{"\x1c"};

// One thing the driver sent: a whole frame, or a lone control character (ACK, NAK, EOT).
struct Recibido {
  enum class Tipo { Trama, Control } tipo = Tipo::Control;
  bool formatoB = false;
  std::string datos;  // frame data, without start, end and check characters
  char control = 0;
  bool lrcCorrecto = true;
  std::string crudo;  // the bytes as they came
  std::chrono::steady_clock::time_point cuando;
  // "A:Q40", "B:080", "ACK", "NAK", "EOT": handy in assertions.
  std::string Resumen() const;
};

// Bytes to send back, after a pause; with colgar the PIN pad then hangs up (closes its side of the
// line, as when the cable is pulled) and answers nothing more.
struct Envio {
  std::string bytes;
  std::chrono::milliseconds retraso{0};
  bool colgar = false;
};
using Respuesta = std::vector<Envio>;
using Manejador = std::function<Respuesta(const Recibido&)>;

// A frame as the PIN pad sends it; lrcMalo spoils the check byte.
std::string Trama(std::string_view datos, bool formatoB = false, bool lrcMalo = false);

class Simulador {
 public:
  // With ritmo the line runs at 1200 baud, 10 bits a character: each received item is taken in
  // only after the time its bytes need on the wire, and every byte sent back is spaced 8.33 ms.
  explicit Simulador(bool ritmo = false);
  ~Simulador();
  Simulador(const Simulador&) = delete;
  Simulador& operator=(const Simulador&) = delete;

  const std::string& Dispositivo() const { return dispositivo_; }

  // The reply to anything no scripted step takes (by default: silence).
  void FijarManejador(Manejador manejador);
  // Scripted step: the next item whose Resumen() equals espera ("" takes any item) gets respuesta.
  // Steps are taken strictly in order; an item that does not match the first step goes to the manejador.
  void Agregar(std::string espera, Respuesta respuesta);
  // Sends bytes now, unasked.
  void Enviar(std::string_view bytes);
  // With anular, a new frame from the driver drops the replies still waiting to be sent, as a PIN
  // pad drops a pending card read when told to stop.
  void FijarAnulacion(bool anular);

  std::vector<Recibido> Recibidos() const;
  std::vector<std::string> Resumenes() const;
  void OlvidarRecibidos();
  // Waits (real time) until at least n items have come.
  bool EsperarRecibidos(std::size_t n, std::chrono::milliseconds limite) const;
  // Bytes the simulator has written so far.
  std::size_t BytesEnviados() const;

 private:
  void Bucle();
  void Procesar(char c);
  void Completar(Recibido r);
  void Escribir(std::string_view bytes);
  bool Dormir(std::chrono::microseconds d);

  bool ritmo_;
  int maestro_ = -1;
  int esclavo_ = -1;
  std::string dispositivo_;
  mutable std::mutex mutex_;
  mutable std::condition_variable cambio_;
  bool parar_ = false;
  std::deque<std::pair<std::string, Respuesta>> guion_;
  Manejador manejador_;
  std::vector<Recibido> recibidos_;
  std::size_t enviados_ = 0;
  std::mutex escritura_;
  struct Pendiente {
    std::chrono::steady_clock::time_point cuando;
    std::string bytes;
    bool colgar = false;
  };
  std::deque<Pendiente> pendientes_;  // owned by the simulator thread
  bool anular_ = false;
  void EnviarVencidos();
  void Colgar();
  // Frame being gathered.
  enum class Estado { Fuera, Dentro, Lrc } estado_ = Estado::Fuera;
  Recibido actual_;
  std::thread hilo_;
};

// The behaviour of a well-kept PIN pad, with switches for the failures a technician wants to see.
struct OpcionesModelo {
  enum class Modo { Normal, Nak, Eot, Silencio, LrcMalo };
  Modo modo = Modo::Normal;
  std::string pista2 = "4000123412341234=29121010000000000000";
  std::string pista1 = "B4000123412341234^PRUEBA/TARJETA^29121010000000000000";
  std::string bloquePin = "8F3A5C21D0E4B796";
  std::chrono::milliseconds demoraPasada{300};
  std::chrono::milliseconds demoraPin{300};
};
Manejador CrearModelo(const OpcionesModelo& opciones);

}  // namespace teclon::sim
