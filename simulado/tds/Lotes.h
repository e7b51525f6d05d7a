// A batch's text cut into its statements as SQL Server cuts it, and the connection-level ones picked out.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simulado::tds {

// One argument of EXEC or of a function the session answers: `@nombre = valor`, or a value by position.
struct Argumento {
  std::string nombre;                // "@LockMode" as written; empty when given by position
  std::optional<std::string> valor;  // strings unquoted, numbers and words as written; nothing for NULL
  bool variable = false;             // `valor` names a variable of the batch ("@r")
  bool texto = false;                // given as a quoted string
  bool porDefecto = false;           // DEFAULT
  bool salida = false;               // OUTPUT
  std::string tipo;                  // DECLARE: the declared type, upper case
};

// One value of a SELECT the session answers: @@SPID, DB_NAME(), APPLOCK_MODE(...), a batch variable.
struct Columna {
  std::string nombre;  // "@@TRANCOUNT", "DB_NAME", "APPLOCK_MODE" or "@r" (functions and @@ in upper case)
  std::vector<Argumento> argumentos;
  std::string alias;
};

// What the session answers itself (properties of the connection) and what goes to the emulator.
struct Pieza {
  enum class K {
    Motor,        // anything the emulator runs
    Set,          // SET option[, option] value
    Use,          // USE db
    Variable,     // SELECT of values the session knows (see Columna)
    SiTrancount,  // IF @@TRANCOUNT > 0 COMMIT|ROLLBACK [TRAN]
    Exec,         // EXEC [@r =] proc args, or a bare procedure name opening the batch
    Declarar,     // DECLARE @v type [= value][, ...]
  };
  K k = K::Motor;
  std::string texto;
  std::string nombre;  // Use: the database; Exec: the procedure; Set: the first option, upper case
  std::vector<std::string> opciones;  // Set: every option named, upper case
  std::string valor;                  // Set: ON, OFF, a number or a word as written (ON/OFF upper case)
  std::string destino;                // Exec: the variable that takes the return status
  std::vector<Argumento> argumentos;  // Exec; Declarar: each variable (nombre) and its value
  std::vector<Columna> columnas;      // Variable
  bool confirmar = false;             // SiTrancount: COMMIT rather than ROLLBACK
};

// Cuts the batch into statements: the connection-level forms are recognised wherever they stand (their end
// is known from their own shape), and every stretch between them is cut by the emulator's parser, which
// knows where each of its statements ends; semicolons and line breaks are not needed. Strings, quoted
// names and comments are never looked into. A stretch the parser refuses raises its ErrorSql (102...), so
// a batch with a statement that does not parse runs nothing.
std::vector<Pieza> PartirLote(std::string_view texto);

}  // namespace simulado::tds
