// Shared test pieces: a fake clock, a fake port with fault injection, and a driver wired to a simulator.
#pragma once

#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "manejador.hpp"
#include "puerto.hpp"
#include "simulador.hpp"

namespace prueba {

using namespace std::chrono_literals;

// Virtual time: each pause advances it by its length and lets real time pass only by the given
// fraction, so a 15 s wait costs a fraction of a second and the far side of a pty still gets to answer.
class RelojFalso : public teclon::Reloj {
 public:
  explicit RelojFalso(int divisor = 50) : divisor_(divisor) {}
  std::chrono::steady_clock::time_point Ahora() override { return ahora_; }
  void Dormir(std::chrono::microseconds d) override {
    ahora_ += d;
    dormido_ += d;
    if (divisor_ > 0) std::this_thread::sleep_for(d / divisor_);
  }
  std::chrono::steady_clock::time_point ahora_{std::chrono::hours(1000)};
  std::chrono::microseconds dormido_{0};

 private:
  int divisor_;
};

// A port held in memory: reads come from a queue of chunks (one chunk per read), writes are kept;
// falla can throw in place of any operation to inject faults.
class PuertoFalso : public teclon::PuertoSerie {
 public:
  void FijarNumero(short n) override {
    Paso("numero");
    numero = n;
  }
  void FijarConfiguracion(const std::string& c) override {
    Paso("configuracion");
    configuracion = c;
  }
  void FijarLongitudLectura(int) override { Paso("longitud"); }
  void FijarTamanoBuffers(int, int) override { Paso("buffers"); }
  void FijarAbierto(bool a) override {
    Paso(a ? "abrir" : "cerrar");
    abierto = a && !negarApertura;
    if (a) ++aperturas;
  }
  bool Abierto() const override { return abierto; }
  void Escribir(std::string_view t) override {
    Paso("escribir");
    escrito.append(t);
    if (alEscribir) alEscribir(std::string(t));
  }
  void LeerTodo(teclon::TextoSeguro& d) override {
    Paso("leer");
    if (!entrada.empty()) {
      d.Agregar(entrada.front());
      entrada.pop_front();
    }
  }
  int BytesEnEntrada() override {
    Paso("entrada");
    return entrada.empty() ? 0 : static_cast<int>(entrada.front().size());
  }
  int BytesEnSalida() override {
    Paso("salida");
    return salidaAtascada ? 1 : 0;
  }

  void Paso(const char* que) {
    ++pasos;
    if (falla) falla(que, pasos);
  }

  short numero = 0;
  std::string configuracion;
  bool abierto = false;
  bool negarApertura = false;
  bool salidaAtascada = false;
  int aperturas = 0;
  long pasos = 0;
  std::string escrito;
  std::deque<std::string> entrada;
  std::function<void(std::string)> alEscribir;
  std::function<void(const char*, long)> falla;
};

// A cTeclon on the termios port, pointed at a simulator through TECLON_PUERTO_<N>.
struct Banco {
  explicit Banco(std::shared_ptr<teclon::Reloj> reloj = std::make_shared<teclon::RelojReal>(),
                 bool ritmo = false)
      : sim(ritmo), teclon(teclon::Interno::Crear(teclon::CrearPuertoTermios(), std::move(reloj))) {
    ::setenv("TECLON_PUERTO_7", sim.Dispositivo().c_str(), 1);
    teclon.Puerto(7);
  }
  teclon::sim::Simulador sim;
  cTeclon teclon;
};

// A termios port on the simulator's pseudo-terminal, reached as port `numero` through
// TECLON_PUERTO_<numero>, set to the PIN pad's 1200,E,7,1 and open.
inline std::unique_ptr<teclon::PuertoSerie> PuertoAbierto(const teclon::sim::Simulador& sim, short numero) {
  ::setenv(("TECLON_PUERTO_" + std::to_string(numero)).c_str(), sim.Dispositivo().c_str(), 1);
  auto puerto = teclon::CrearPuertoTermios();
  puerto->FijarNumero(numero);
  puerto->FijarConfiguracion("1200,E,7,1");
  puerto->FijarAbierto(true);
  return puerto;
}

inline std::string A(std::string_view datos, bool malo = false) {
  return teclon::sim::Trama(datos, false, malo);
}
inline std::string B(std::string_view datos, bool malo = false) {
  return teclon::sim::Trama(datos, true, malo);
}

}  // namespace prueba
