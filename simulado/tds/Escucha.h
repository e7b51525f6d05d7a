// The listening socket of the TDS server: one thread per session, a bounded number of them, clean stop.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tds/Sesion.h"

namespace simulado::tds {

class Escucha {
 public:
  // Binds `direccion`:`puerto` (0 picks a free port) and listens; throws ErrorSistema.
  Escucha(Base& base, Ajustes ajustes, const std::string& direccion, int puerto, int maxSesiones,
          Registro registro);
  ~Escucha();
  Escucha(const Escucha&) = delete;
  Escucha& operator=(const Escucha&) = delete;

  // "127.0.0.1:54321", the address actually bound.
  std::string Direccion() const;
  // Accepts until Parar; then every session is ended (open transactions rolled back) and joined.
  void Correr();
  // Safe from a signal handler.
  void Parar() noexcept;

 private:
  struct Hilo {
    std::thread t;
    std::atomic<bool> termino{false};
    std::uint16_t spid = 0;
  };
  void Recoger(bool todos);

  Base& base_;
  Ajustes aj_;
  int maxSesiones_;
  Registro registro_;
  Descriptor escucha_;
  Descriptor parada_;
  std::string direccion_;
  std::list<std::unique_ptr<Hilo>> hilos_;
  std::uint16_t siguienteSpid_ = 51;
};

}  // namespace simulado::tds
