// The start of a TDS session: PRELOGIN answer, LOGIN7 decoding, the password check and the login reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tds/Tokens.h"

namespace simulado::tds {

// The ENCRYPTION values of PRELOGIN.
enum ValorCifrado : std::uint8_t {
  kCifradoApagado = 0x00,  // client: only the login; server: only the login, as the client asked
  kCifradoEncendido = 0x01,
  kCifradoNoAdmitido = 0x02,
  kCifradoRequerido = 0x03,
};

struct Prelogin {
  std::uint8_t cifrado = kCifradoApagado;  // what the client asked for
};

// Decodes the option table (unknown options are skipped) and writes the answer: version 16.0.2000, the
// ENCRYPTION value `cifrado`, no MARS.
Prelogin LeerPrelogin(const Bytes& datos);
Bytes RespuestaPrelogin(std::uint8_t cifrado);

// What this server does about encryption: never (NOT_SUP), when the client wants it, or always.
enum class ModoCifrado { No, Admitido, Requerido };

// What a connection does after PRELOGIN: no TLS, TLS for LOGIN7 only, TLS for everything, or the client is
// refused (it will not encrypt and the server requires it).
enum class Acuerdo { SinCifrar, SoloLogin, Todo, Rechazado };

struct Negociado {
  std::uint8_t respuesta;  // the ENCRYPTION value answered
  Acuerdo acuerdo;
};

// SQL Server's rules: a client that asks for the login only (OFF) gets that from a server that admits
// encryption and the whole session from one that requires it; ON and REQ get the whole session; NOT_SUP
// stays in clear text unless the server requires encryption. A value no client defines is read as NOT_SUP,
// as this server read every value before it spoke TLS. With `No` the answer is always NOT_SUP and what
// the client does next decides (some clients asking for ON go on in clear text).
Negociado NegociarCifrado(ModoCifrado modo, std::uint8_t cliente);

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
