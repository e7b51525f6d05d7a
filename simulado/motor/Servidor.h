// An in-process emulator of SQL Server for the statement forms the updater sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace simulado {

// A refused statement: SQL Server's error number and message text.
class ErrorSql : public std::runtime_error {
 public:
  ErrorSql(int n, std::string texto) : std::runtime_error(texto), numero(n), descripcion(std::move(texto)) {}
  int numero;
  std::string descripcion;
};

struct Resultado {
  std::vector<std::string> columnas;
  std::vector<std::vector<std::optional<std::string>>> filas;  // values as SQL Server prints them
  long filasAfectadas = 0;
};

class Servidor {
 public:
  explicit Servidor(std::string nombreBase = "Pagora");
  ~Servidor();
  Servidor(const Servidor&) = delete;
  Servidor& operator=(const Servidor&) = delete;

  // Runs one statement: DDL, DML, SELECT, or BEGIN/COMMIT/ROLLBACK TRANSACTION.
  // At most `maxFilas` rows are produced (a probe asks for one and must not scan the table).
  Resultado Ejecutar(std::string_view sentencia,
                     std::size_t maxFilas = std::numeric_limits<std::size_t>::max());
  // Runs a script: statements separated by lines holding only GO, "--" comments allowed.
  void EjecutarScript(std::string_view script);
  // The whole state as a script that EjecutarScript turns back into the same state;
  // the same state always gives the same bytes.
  std::string Script() const;
  int NivelTransaccion() const;
  const std::string& NombreBase() const;

  // Rows read from base tables since the server started (tests check that probes stop early).
  std::size_t FilasVisitadas() const;
  // Source of GETDATE(), milliseconds since 1970-01-01 (tests fix it).
  void Reloj(std::function<std::int64_t()> reloj);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace simulado
