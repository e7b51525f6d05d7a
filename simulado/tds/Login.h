// The start of a TDS session: PRELOGIN answer, LOGIN7 decoding, the password check and the login reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tds/Tokens.h"

namespace simulado::tds {

struct Prelogin {
  std::uint8_t cifrado = 0;  // what the client asked for: 0 off, 1 on, 2 not supported, 3 required
};

// Decodes the option table (unknown options are skipped) and writes the answer: version 16.0.2000, no
// encryption (NOT_SUP), no MARS.
Prelogin LeerPrelogin(const Bytes& datos);
Bytes RespuestaPrelogin();

struct Login7 {
  std::uint32_t version = 0;  // as the client sent it
  std::uint32_t tamanoPaquete = 4096;
  bool integrada = false;  // Windows authentication asked for: refused
  std::string host, usuario, clave, aplicacion, servidor, biblioteca, idioma, base;
};

// Decodes LOGIN7; every offset and length is checked against the message. The password comes out in clear.
Login7 LeerLogin7(const Bytes& datos);

// The TDS version both sides use: the client's, capped at 7.4, as one of the five known values; 0 when
// the client asks for less than 7.1.
std::uint32_t VersionAcordada(std::uint32_t cliente);

// Equality that takes the same time wherever the texts differ (their lengths may show).
bool IgualesTiempoConstante(std::string_view a, std::string_view b);

// The packet size confirmed to the client: its wish within 512..32767 (4096 when it sent 0).
std::uint32_t TamanoAcordado(std::uint32_t pedido);

}  // namespace simulado::tds
