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

#include <vector>

#include "motor/Deposito.h"
#include "tds/Candados.h"

namespace simulado::tds {

// Sessions use the emulator one at a time. A session holds the database from its first statement until
// the request ends, and beyond while it has a transaction open, so another session's statements wait
// for that commit or rollback just as SQL Server's locks make them wait.
class Base {
 public:
  // Opens and locks the file (refused when another program holds it) and loads it with its journal.
  // `maximoDiario`: commits go to the journal until it would pass this many bytes; 0 keeps no journal
  // and every commit rewrites the file.
  Base(const std::string& ruta, std::chrono::milliseconds espera, std::uint64_t maximoDiario = 0);
  const std::string& Nombre() const { return nombre_; }
  const std::string& Ruta() const { return deposito_.Archivo().Ruta(); }
  // What loading did with a journal it found, to be told to whoever runs the server.
  const std::vector<std::string>& Avisos() const { return deposito_.Avisos(); }

  // Waits until `sesion` may use the emulator. `seguir` is asked about every 50 ms and stops the wait when
  // it says no (the client cancelled or left); after `plazo` the wait ends with SQL Server's 1222.
  bool Tomar(std::uint16_t sesion, const std::function<bool()>& seguir, std::chrono::milliseconds plazo);
  // Lets the others in, unless `sesion` still has a transaction open.
  void Soltar(std::uint16_t sesion);
  bool Tiene(std::uint16_t sesion) const;
  // The emulator; only for the session that holds it.
  Servidor& Motor() { return deposito_.Motor(); }
  // The session's own transaction count (0 when it does not hold the database).
  int Nivel(std::uint16_t sesion) const;

  // Makes the open transaction durable before its outermost COMMIT runs (its journal record, or the whole
  // file); throws ErrorSql 823 naming the OS error.
  void Grabar();
  // At the server's stop, with no transaction open: the journal folded into the file. Returns the error's
  // text when that fails (the journal then stays, and the next start applies it), "" when it went well.
  std::string Consolidar();
  // The end of a session: its open transaction is rolled back and the database is free again.
  void Abandonar(std::uint16_t sesion);

  // The application locks of the sessions of this database (sp_getapplock).
  Candados& Aplicacion() { return candados_; }

  // Fault injection for tests: the `n`-th statement run by any session (counted from 1) is refused; 0 never.
  void RechazarSentencia(std::uint64_t n) { rechazar_ = n; }
  // Counts one statement; true when it is the one to refuse.
  bool Rechazada() { return rechazar_ != 0 && ++cuenta_ == rechazar_; }

 private:
  std::string nombre_;
  Deposito deposito_;
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
