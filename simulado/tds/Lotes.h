// A batch's text cut into statements at top-level semicolons, and the connection-level ones picked out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace simulado::tds {

// What the session answers itself (properties of the connection) and what goes to the emulator.
struct Pieza {
  enum class K {
    Motor,        // anything the emulator runs
    Set,          // SET option: accepted, the emulator behaves one way only
    Use,          // USE db
    Variable,     // SELECT @@TRANCOUNT / @@SPID / @@VERSION / @@SERVERNAME / DB_NAME()
    SiTrancount,  // IF @@TRANCOUNT > 0 COMMIT|ROLLBACK [TRAN] [BEGIN TRAN]
    Exec,         // EXEC proc ... or a bare procedure name
  };
  K k = K::Motor;
  std::string texto;
  std::string nombre;      // Use: the database; Variable: "@@TRANCOUNT"...; Exec: the procedure
  bool confirmar = false;  // SiTrancount: COMMIT rather than ROLLBACK
  bool empezar = false;    // SiTrancount: BEGIN TRANSACTION afterwards
};

// Cuts at semicolons outside strings, quoted names and comments; pieces holding only blanks and comments
// are left out.
std::vector<Pieza> PartirLote(std::string_view texto);

}  // namespace simulado::tds
