// PRELOGIN and LOGIN7 decoding and answers.
#include "tds/Login.h"

#include <algorithm>

namespace simulado::tds {

Prelogin LeerPrelogin(const Bytes& datos) {
  Prelogin p;
  Lector l(datos);
  for (int opciones = 0;; ++opciones) {
    if (opciones > 64) throw ErrorProtocolo("PRELOGIN con demasiadas opciones");
    const std::uint8_t token = l.U8();
    if (token == 0xFF) break;
    const std::size_t desde = l.U16be(), largo = l.U16be();
    if (desde + largo > datos.size()) throw ErrorProtocolo("opción de PRELOGIN fuera del mensaje");
    if (token == 0x01 && largo >= 1) p.cifrado = datos[desde];
  }
  return p;
}

Bytes RespuestaPrelogin(std::uint8_t cifrado) {
  // VERSION, ENCRYPTION, INSTOPT, THREADID (empty), MARS; offsets big-endian from the payload's start.
  return {0x00, 0x00, 0x1A, 0x00, 0x06, 0x01, 0x00, 0x20, 0x00,    0x01, 0x02, 0x00,
          0x21, 0x00, 0x01, 0x03, 0x00, 0x22, 0x00, 0x00, 0x04,    0x00, 0x22, 0x00,
          0x01, 0xFF, 0x10, 0x00, 0x07, 0xD0, 0x00, 0x00, cifrado, 0x00, 0x00};
}

Negociado NegociarCifrado(ModoCifrado modo, std::uint8_t cliente) {
  const bool quiere = cliente == kCifradoEncendido || cliente == kCifradoRequerido;
  switch (modo) {
    case ModoCifrado::No:
      return {kCifradoNoAdmitido, Acuerdo::SinCifrar};
    case ModoCifrado::Admitido:
      if (quiere) return {kCifradoEncendido, Acuerdo::Todo};
      if (cliente == kCifradoApagado) return {kCifradoApagado, Acuerdo::SoloLogin};
      return {kCifradoNoAdmitido, Acuerdo::SinCifrar};
    case ModoCifrado::Requerido:
      if (quiere) return {kCifradoEncendido, Acuerdo::Todo};
      if (cliente == kCifradoApagado) return {kCifradoRequerido, Acuerdo::Todo};
      return {kCifradoRequerido, Acuerdo::Rechazado};
  }
  return {kCifradoNoAdmitido, Acuerdo::SinCifrar};
}

Login7 LeerLogin7(const Bytes& datos) {
  Login7 r;
  Lector l(datos);
  const std::uint32_t total = l.U32();
  if (total > datos.size() || total < 86) throw ErrorProtocolo("LOGIN7 con largo inválido");
  r.version = l.U32();
  r.tamanoPaquete = l.U32();
  l.Saltar(12);
  l.U8();
  const std::uint8_t opciones2 = l.U8();
  r.integrada = (opciones2 & 0x80) != 0;
  l.Saltar(10);
  // Each text is an offset and a length in characters within the LOGIN7 block.
  auto texto = [&](bool clave) {
    const std::size_t desde = l.U16(), largo = l.U16();
    if (desde + 2 * largo > total) throw ErrorProtocolo("campo de LOGIN7 fuera del mensaje");
    if (!clave) return Utf16AUtf8(datos.data() + desde, largo);
    Bytes claro(datos.begin() + static_cast<std::ptrdiff_t>(desde),
                datos.begin() + static_cast<std::ptrdiff_t>(desde + 2 * largo));
    for (auto& b : claro) {
      const auto x = static_cast<std::uint8_t>(b ^ 0xA5);
      b = static_cast<std::uint8_t>((x << 4 | x >> 4) & 0xFF);
    }
    std::string s = Utf16AUtf8(claro.data(), largo);
    std::fill(claro.begin(), claro.end(), 0);
    return s;
  };
  r.host = texto(false);
  r.usuario = texto(false);
  r.clave = texto(true);
  r.aplicacion = texto(false);
  r.servidor = texto(false);
  l.Saltar(4);  // extension or unused
  r.biblioteca = texto(false);
  r.idioma = texto(false);
  r.base = texto(false);
  return r;
}

std::uint32_t VersionAcordada(std::uint32_t cliente) {
  constexpr std::uint32_t conocidas[] = {0x71000001, 0x72090002, 0x730A0003, 0x730B0003, 0x74000004};
  // 7.0 and older are refused; anything newer than 7.4 gets 7.4.
  if (cliente < 0x71000000) return 0;
  std::uint32_t r = conocidas[0];
  for (auto v : conocidas)
    if (v <= cliente) r = v;
  return r;
}

bool IgualesTiempoConstante(std::string_view a, std::string_view b) {
  unsigned diferencia = a.size() == b.size() ? 0u : 1u;
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    diferencia |= static_cast<unsigned>(x ^ y);
  }
  return diferencia == 0;
}

std::uint32_t TamanoAcordado(std::uint32_t pedido) {
  if (pedido == 0) return 4096;
  return std::clamp<std::uint32_t>(pedido, 512, 32767);
}

}  // namespace simulado::tds
