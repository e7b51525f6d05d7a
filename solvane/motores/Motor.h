// The engines' contract: the one error they raise, the row they return, the interface cBaseDatos drives.
#pragma once

#include <cstdint>
#include <functional>
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
  // Every row of a query, in the order the server sends them, for reading a whole table or catalogue
  // view: `fila` gets each row and returns false to stop early. Returns the columns' names. Throws ErrorBD.
  using LectorFilas = std::function<bool(const std::vector<ValorCampo>& fila)>;
  virtual std::vector<std::string> Recorrer(const std::string& sentencia, const LectorFilas& fila);
  virtual void Comenzar() = 0;   // throws ErrorBD
  virtual void Confirmar() = 0;  // throws ErrorBD
  virtual void Deshacer() noexcept = 0;
  // False when the server itself ended the transaction (SQL Server does so on some errors).
  virtual bool TransaccionAbierta() const = 0;
  virtual std::string NombreServidor() const = 0;
};

// Engines that only answer probes (test doubles) refuse a whole read.
inline std::vector<std::string> MotorBD::Recorrer(const std::string& sentencia, const LectorFilas&) {
  throw ErrorBD(0, "Este motor no lee consultas enteras: " + sentencia);
}

}  // namespace solvane
