// The engine's errors that the server on the wire also raises on its own, with the engine's texts.
#pragma once

#include "Servidor.h"

namespace simulado {

constexpr int kCommitSinTransaccion = 3902;
constexpr int kRollbackSinTransaccion = 3903;

// COMMIT or ROLLBACK with no transaction open, from a statement or from a transaction-manager request.
inline ErrorSql SinTransaccion(bool confirmar) {
  return confirmar ? ErrorSql(kCommitSinTransaccion,
                              "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.")
                   : ErrorSql(kRollbackSinTransaccion,
                              "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
}

}  // namespace simulado
