// Requests after login: SQL batch text, RPC calls and transaction-manager requests, decoded and checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tds/Tokens.h"

namespace simulado::tds {

// Skips ALL_HEADERS (present from 7.2 on) and returns where the request proper starts.
std::size_t SaltarEncabezados(Lector& l, bool presentes);

// The batch's text (UTF-16LE on the wire) as UTF-8.
std::string LeerLote(const Bytes& datos, bool encabezados);

struct Rpc {
  std::string nombre;                    // as sent, or the well-known name of its number
  int numero = -1;                       // procedure number when sent by number
  std::optional<std::string> sentencia;  // the first parameter, when it is a text
  int parametros = 0;
};

// Decodes the procedure and its parameters; only text parameters (nvarchar, nchar, varchar, char, ntext,
// ntext and (max) in chunks) are read, other types leave `sentencia` empty but are still walked over.
Rpc LeerRpc(const Bytes& datos, bool encabezados);

struct PedidoTm {
  std::uint16_t tipo = 0;  // 5 begin, 7 commit, 8 rollback, 9 save
  bool otra = false;       // commit/rollback: begin a new transaction afterwards
};
PedidoTm LeerTm(const Bytes& datos, bool encabezados);

}  // namespace simulado::tds
