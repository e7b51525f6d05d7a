// The engines' contract: the one error they raise, the row they return, the interface cBaseDatos drives.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace solvane {

// A statement the server refused, or a failure of the engine itself: the server's error number
// (or the operating system's / driver's code) and its description, never a password.
class ErrorBD : public std::runtime_error {
 public:
  ErrorBD(long numero, std::string descripcion)
      : std::runtime_error(descripcion), Numero(numero), Descripcion(std::move(descripcion)) {}
  long Numero;
  std::string Descripcion;
};

// A field value as the result set hands it: text, or Null.
using ValorCampo = std::optional<std::string>;

// The first row of a query (the only one anybody reads), fetched and detached from the cursor.
struct PrimeraFila {
  std::vector<std::string> Columnas;
  std::optional<std::vector<ValorCampo>> Fila;  // empty when the query returned no row
};

// One database engine (simulated SQL Server or ODBC). Transactions here are flat: the nesting
// SQL Server applies is kept by cBaseDatos, which calls Comenzar only for the outermost level.
class MotorBD {
 public:
  virtual ~MotorBD() = default;
  virtual void Conectar() = 0;                                      // throws ErrorBD
  virtual void Desconectar() noexcept = 0;                          // rolls back an open transaction first
  virtual void Ejecutar(const std::string& sentencia) = 0;          // throws ErrorBD
  virtual PrimeraFila Consultar(const std::string& sentencia) = 0;  // throws ErrorBD
  virtual void Comenzar() = 0;                                      // throws ErrorBD
  virtual void Confirmar() = 0;                                     // throws ErrorBD
  virtual void Deshacer() noexcept = 0;
  // False when the server itself ended the transaction (SQL Server does so on some errors).
  virtual bool TransaccionAbierta() const = 0;
  virtual std::string NombreServidor() const = 0;
};

}  // namespace solvane
