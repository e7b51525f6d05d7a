// Requests after login: SQL batch text, RPC calls and transaction-manager requests, decoded and checked.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tds/Tokens.h"

namespace simulado::tds {

// Skips ALL_HEADERS (present from 7.2 on) and returns where the request proper starts.
std::size_t SaltarEncabezados(Lector& l, bool presentes);

// The batch's text (UTF-16LE on the wire) as UTF-8.
std::string LeerLote(const Bytes& datos, bool encabezados);

// One parameter of an RPC, its value already written as the T-SQL literal that stands for it exactly
// (12, -1.50, N'it''s', '2023-03-17 13:30:15.503', 0x0A0B, NULL).
struct ParametroRpc {
  std::string nombre;  // "@handle"; empty when given by position
  bool salida = false;
  bool nulo = true;
  std::string literal = "NULL";
  std::optional<std::string> texto;    // character types: the text itself
  std::optional<std::int64_t> entero;  // integer types
};

struct Rpc {
  std::string nombre;  // as sent, or the well-known name of its number
  int numero = -1;     // procedure number when sent by number
  std::vector<ParametroRpc> parametros;
  // A parameter of a type this server does not read: SQL Server's 8009 text for it. The parameters before
  // it are kept, nothing after it is read.
  std::optional<std::string> desconocido;
};

// Decodes the procedure and its parameters. Every length is checked against the message (ErrorProtocolo).
Rpc LeerRpc(const Bytes& datos, bool encabezados);

// `sentencia` with each `@name` outside strings, quoted names and comments that `valores` holds (names in
// upper case) replaced by its literal; other names are left as they are.
std::string Sustituir(std::string_view sentencia, const std::map<std::string, std::string>& valores);

// The parameter declarations of sp_executesql / sp_prepare ("@P0 int, @P1 nvarchar(10) OUTPUT"): each name
// in upper case, in order.
std::vector<std::string> Declarados(std::string_view declaraciones);

struct PedidoTm {
  std::uint16_t tipo = 0;  // 5 begin, 7 commit, 8 rollback, 9 save
  bool otra = false;       // commit/rollback: begin a new transaction afterwards
};
PedidoTm LeerTm(const Bytes& datos, bool encabezados);

}  // namespace simulado::tds
