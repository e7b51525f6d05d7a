// The collaborators of cTeclon: the serial port, its error, and the clock that paces the waits.
#pragma once

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "texto_seguro.hpp"

namespace teclon {

// A failure of the serial port, carrying the operating system's error code (or ours, for
// conditions the system does not report) and a description a technician can act on.
class ErrorPuerto : public std::runtime_error {
 public:
  ErrorPuerto(int numero, const std::string& descripcion)
      : std::runtime_error(descripcion), numero_(numero) {}
  int Numero() const noexcept { return numero_; }

 private:
  int numero_;
};

// The serial port as the driver uses it: the settings it writes, open and close, and polled
// reads and writes. Any operation may throw ErrorPuerto.
class PuertoSerie {
 public:
  virtual ~PuertoSerie() = default;
  virtual void FijarNumero(short numero) = 0;
  virtual void FijarConfiguracion(const std::string& configuracion) = 0;  // "1200,E,7,1"
  virtual void FijarLongitudLectura(int longitud) = 0;                    // 0: everything available
  virtual void FijarTamanoBuffers(int entrada, int salida) = 0;
  virtual void FijarAbierto(bool abierto) = 0;
  virtual bool Abierto() const = 0;
  virtual void Escribir(std::string_view texto) = 0;
  // Appends everything waiting in the input buffer to destino (nothing when nothing arrived).
  virtual void LeerTodo(TextoSeguro& destino) = 0;
  virtual int BytesEnEntrada() = 0;
  virtual int BytesEnSalida() = 0;
};

// Optional extra of a port, beyond the operations above: blocks until input
// arrives or the time is up, so a poll pause can end as soon as the PIN pad answers. A line that is
// gone (hung up) throws ErrorPuerto at once rather than sleeping.
class AvisoDeEntrada {
 public:
  virtual ~AvisoDeEntrada() = default;
  virtual void EsperarEntrada(std::chrono::microseconds limite) = 0;
};

// Elapsed time and the thread's pause, injected so that tests can run a 15 s wait at once.
class Reloj {
 public:
  virtual ~Reloj() = default;
  virtual std::chrono::steady_clock::time_point Ahora() = 0;
  virtual void Dormir(std::chrono::microseconds duracion) = 0;
  // A pause that may end early through esperar (the port's wait for input); by default, and for
  // clocks that only count time, a plain Dormir.
  virtual void DormirSalvoEntrada(std::chrono::microseconds duracion, AvisoDeEntrada& esperar) {
    (void)esperar;
    Dormir(duracion);
  }
};

// The monotonic clock and a sleep of the calling thread that ends early when input arrives.
class RelojReal : public Reloj {
 public:
  std::chrono::steady_clock::time_point Ahora() override;
  void Dormir(std::chrono::microseconds duracion) override;
  void DormirSalvoEntrada(std::chrono::microseconds duracion, AvisoDeEntrada& esperar) override;
};

// The POSIX termios port. Port number N opens the device named by TECLON_PUERTO_<N>, else /dev/ttyS<N-1>.
std::unique_ptr<PuertoSerie> CrearPuertoTermios();

// The device that a port number names (see CrearPuertoTermios).
std::string DispositivoDePuerto(short numero);

}  // namespace teclon
