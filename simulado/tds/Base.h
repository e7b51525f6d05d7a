// The one database a TDS server serves: the emulator, its file, and which session holds it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "motor/Archivo.h"
#include "motor/Servidor.h"
#include "tds/Candados.h"

namespace simulado::tds {

// Sessions use the emulator one at a time. A session holds the database from its first statement until
// the request ends, and beyond while it has a transaction open, so another session's statements wait
// for that commit or rollback just as SQL Server's locks make them wait.
class Base {
 public:
  // Opens and locks the file (refused when another program holds it) and loads it.
  Base(const std::string& ruta, std::chrono::milliseconds espera);
  const std::string& Nombre() const { return nombre_; }
  const std::string& Ruta() const { return archivo_->Ruta(); }

  // Waits until `sesion` may use the emulator. `seguir` is asked about every 50 ms and stops the wait when
  // it says no (the client cancelled or left); after `plazo` the wait ends with SQL Server's 1222.
  bool Tomar(std::uint16_t sesion, const std::function<bool()>& seguir, std::chrono::milliseconds plazo);
  // Lets the others in, unless `sesion` still has a transaction open.
  void Soltar(std::uint16_t sesion);
  bool Tiene(std::uint16_t sesion) const;
  // The emulator; only for the session that holds it.
  Servidor& Motor() { return *motor_; }
  // The session's own transaction count (0 when it does not hold the database).
  int Nivel(std::uint16_t sesion) const;

  // Writes the present state to the file, atomically; throws ErrorSql 823 naming the OS error.
  void Grabar();
  // The end of a session: its open transaction is rolled back and the database is free again.
  void Abandonar(std::uint16_t sesion);

  // The application locks of the sessions of this database (sp_getapplock).
  Candados& Aplicacion() { return candados_; }

  // Fault injection for tests: the `n`-th statement run by any session (counted from 1) is refused; 0 never.
  void RechazarSentencia(std::uint64_t n) { rechazar_ = n; }
  // Counts one statement; true when it is the one to refuse.
  bool Rechazada() { return rechazar_ != 0 && ++cuenta_ == rechazar_; }

 private:
  std::unique_ptr<ArchivoBase> archivo_;
  std::unique_ptr<Servidor> motor_;
  std::string nombre_;
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::uint16_t dueno_ = 0;
  std::uint64_t rechazar_ = 0;
  std::atomic<std::uint64_t> cuenta_{0};
  Candados candados_;
};

// "PagoraDemo" for ".../PagoraDemo.sql".
std::string NombreDeBase(const std::string& ruta);

}  // namespace simulado::tds
