// The errors Solvane raises itself in the server's or the data access layer's own words, one text per number.
#pragma once

#include "Motor.h"

namespace solvane {

inline constexpr long kErrorSinFila = 3021;

// A statement or transaction call with no open connection.
inline ErrorBD ErrorObjetoCerrado() {
  return ErrorBD(3704, "Operation is not allowed when the object is closed.");
}

// A commit with no transaction open.
inline ErrorBD ErrorConfirmarSinComenzar() {
  return ErrorBD(3902, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
}

// The server ended the transaction on its own: nothing but the rollback may follow.
inline ErrorBD ErrorTransaccionCondenada() {
  return ErrorBD(
      3930,
      "The current transaction cannot be committed and cannot support operations that write to the "
      "log file. Roll back the transaction.");
}

// A field read from a result set that brought no row.
inline ErrorBD ErrorSinFilaActual() {
  return ErrorBD(kErrorSinFila,
                 "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                 "requires a current record.");
}

// A field asked by a name or position the result set does not have.
inline ErrorBD ErrorCampoInexistente() {
  return ErrorBD(3265,
                 "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

}  // namespace solvane
