// The PIN pad link: framing, check byte, acknowledgement and answer waits, closing commands.
#include "enlace.hpp"

#include <algorithm>
#include <cerrno>

namespace teclon {

int CalcularLRC(std::string_view texto) {
  int lrc = 0;
  for (char c : texto) lrc ^= static_cast<unsigned char>(c);
  return lrc;
}

TextoSeguro ArmarTrama(std::string_view datos, Formato formato) {
  const char inicio = formato == Formato::A ? STX : SI;
  const char fin = formato == Formato::A ? ETX : SO;
  TextoSeguro trama;
  trama.Cadena().reserve(datos.size() + 3);
  trama.Agregar(inicio);
  trama.Agregar(datos);
  trama.Agregar(fin);
  trama.Agregar(static_cast<char>(CalcularLRC(trama.Vista().substr(1))));
  return trama;
}

Enlace::Enlace(PuertoSerie& puerto, Reloj& reloj, const std::function<void()>& bombeo,
               const std::atomic<bool>& cancelar)
    : puerto_(puerto),
      aviso_(dynamic_cast<AvisoDeEntrada*>(&puerto)),
      reloj_(reloj),
      bombeo_(bombeo),
      cancelar_(cancelar) {}

Enlace::Instante Enlace::Inicio() {
  return reloj_.Ahora();
}

// The line carries 7-bit characters. An adapter that ignores the 7-bit setting hands over the parity
// bit as the 8th: it is cleared here, whatever port the host brought, so that control characters are
// recognised and no high byte reaches the caller's text.
void Enlace::Recibir(TextoSeguro& buffer) {
  const std::size_t antes = buffer.size();
  puerto_.LeerTodo(buffer);
  CadenaSegura& c = buffer.Cadena();
  for (std::size_t i = antes; i < c.size(); ++i) c[i] = static_cast<char>(c[i] & 0x7F);
}

bool Enlace::Vencida(Instante inicio) {
  return reloj_.Ahora() - inicio > kEspera;
}

// The pause between polls lasts 50 ms at most; on a port that can tell, it ends as soon as the
// PIN pad's bytes arrive, which keeps every acknowledgement from costing up to a poll period.
void Enlace::Pausa() {
  if (bombeo_) bombeo_();
  if (aviso_ != nullptr)
    reloj_.DormirSalvoEntrada(kPausa, *aviso_);
  else
    reloj_.Dormir(kPausa);
}

bool Enlace::Cancelado(bool probar) const {
  return probar && cancelar_.load();
}

// A port whose output never drains (a stuck line, a missing cable with hardware handshake in
// the kernel) must not hold the caller forever: the drain shares the 15 s bound of every wait and
// yields between checks instead of spinning.
bool Enlace::Drenar(bool probarCancelar) {
  const Instante inicio = Inicio();
  while (puerto_.BytesEnSalida() > 0) {
    if (bombeo_) bombeo_();
    if (Cancelado(probarCancelar)) return false;
    if (Vencida(inicio))
      throw ErrorPuerto(ETIMEDOUT, "La trama no terminó de salir del puerto en 15 segundos");
    reloj_.Dormir(kCesion);
  }
  return true;
}

bool Enlace::EnviarTrama(std::string_view trama, bool probarCancelar) {
  puerto_.Escribir(trama);
  return Drenar(probarCancelar);
}

Confirmacion Enlace::Confirmar(std::string_view trama, bool probarCancelar, bool ignorarEot) {
  if (!EnviarTrama(trama, probarCancelar)) return {Senal::Cancelada, false};
  return EsperarConfirmacion(probarCancelar, ignorarEot);
}

Confirmacion Enlace::EsperarConfirmacion(bool probarCancelar, bool ignorarEot) {
  sobrante_.Vaciar();
  TextoSeguro buffer;
  const Instante inicio = Inicio();
  Senal senal = Senal::Tiempo;
  std::size_t donde = 0;
  for (;;) {
    Recibir(buffer);
    const std::string_view v = buffer.Vista();
    if ((donde = v.find(ACK)) != v.npos) {
      senal = Senal::Ack;
      break;
    }
    if ((donde = v.find(NAK)) != v.npos) {
      senal = Senal::Nak;
      break;
    }
    if (!ignorarEot && (donde = v.find(EOT)) != v.npos) {
      senal = Senal::Eot;
      break;
    }
    if (Cancelado(probarCancelar)) return {Senal::Cancelada, !buffer.empty()};
    Pausa();
    if (Vencida(inicio)) break;
  }
  if (senal != Senal::Tiempo) {
    // An answer that starts right behind the acknowledgement is kept, never a second ACK or NAK; so
    // is an EOT right behind an ACK (the PIN pad cancelled at once), or the answer wait would miss it.
    const std::string_view v = buffer.Vista();
    std::size_t inicioResto = v.find(STX, donde + 1);
    if (senal == Senal::Ack) inicioResto = std::min(inicioResto, v.find(EOT, donde + 1));
    if (inicioResto != std::string_view::npos) sobrante_.Agregar(v.substr(inicioResto));
  }
  return {senal, !buffer.empty()};
}

namespace {

// Drops the characters before position hasta, wiping the freed tail of the buffer.
void Descartar(TextoSeguro& buffer, std::size_t hasta) {
  if (hasta == 0) return;
  if (hasta >= buffer.size()) {
    buffer.Vaciar();
    return;
  }
  CadenaSegura& c = buffer.Cadena();
  const std::size_t largo = c.size();
  c.erase(0, hasta);
  c.resize(largo, '\0');
  explicit_bzero(c.data() + largo - hasta, hasta);
  c.resize(largo - hasta);
}

}  // namespace

// The answer frame is cut out of the accumulated buffer: whatever precedes its STX (line noise, a
// stray acknowledgement) is dropped before any length is measured, and a buffer that holds no STX
// before its ETX is a bad frame. A fixed-length frame whose STX has no ETX within the frame's length
// was no frame: the search moves on to the next STX. Nothing is ever read past the end of the
// buffer: a fixed-length frame that has not fully arrived is waited for.
Respuesta Enlace::LeerRespuesta(const Lectura& lectura) {
  Respuesta r;
  TextoSeguro buffer(sobrante_.Vista());
  sobrante_.Vaciar();
  int intentos = 1;
  const Instante inicio = Inicio();
  for (;;) {
    Recibir(buffer);
    // An EOT below the minimum is the PIN pad giving up, also when it came ahead of the noise cut.
    const bool eotCorto =
        buffer.size() < lectura.minimo && buffer.Vista().find(EOT) != std::string_view::npos;
    const std::size_t primerStx = buffer.Vista().find(STX);
    if (primerStx != std::string_view::npos) Descartar(buffer, primerStx);
    const std::string_view v = buffer.Vista();
    if (v.size() < lectura.minimo) {
      if (eotCorto || v.find(EOT) != v.npos) {
        buffer.Vaciar();
        r.codigo = tcCancel;
        return r;
      }
    } else {
      bool lista = false;
      std::size_t desde = v.npos;
      std::size_t largo = 0;
      if (lectura.longitudFija == 0) {
        const std::size_t etx = v.find(ETX, 1);
        if (etx != v.npos && etx + 1 < v.size()) {
          lista = true;
          desde = v.rfind(STX, etx);
          if (desde != v.npos) largo = etx + 2 - desde;
        }
      } else {
        const std::size_t etx = v.find(ETX);
        if (etx == v.npos) {
          Descartar(buffer, std::min(v.find(STX, 1), v.size()));
        } else {
          desde = v.rfind(STX, etx);
          if (desde == v.npos) {
            lista = true;
          } else if (v.size() - desde >= lectura.longitudFija) {
            lista = true;
            largo = lectura.longitudFija;
          }
        }
      }
      if (lista) {
        if (desde != v.npos) {
          const std::string_view candidata = v.substr(desde, largo);
          const int esperado = CalcularLRC(candidata.substr(1, candidata.size() - 2));
          if (static_cast<unsigned char>(candidata.back()) == esperado) {
            r.trama.Agregar(candidata);
            EnviarCadena(lectura.respuestaOk);
            return r;
          }
        }
        buffer.Vaciar();
        ++intentos;
        if (intentos > 3) {
          EnviarCadena(std::string_view(&EOT, 1));
          return r;
        }
        EnviarCadena(std::string_view(&NAK, 1));
      }
    }
    if (Vencida(inicio)) {
      buffer.Vaciar();
      r.codigo = tcTimeOut;
      return r;
    }
    if (Cancelado(lectura.probarCancelar)) {
      r.codigo = tcCancel;
      return r;
    }
    Pausa();
  }
}

void Enlace::EnviarCadena(std::string_view texto) {
  try {
    puerto_.Escribir(texto);
    Drenar(false);
  } catch (...) {
    // A lost acknowledgement shows up in the next wait; nothing to report here.
  }
}

// Stale input is discarded first so that an old ACK cannot confirm the new command; the discard
// loop is bounded like every wait, in case the PIN pad never stops talking.
bool Enlace::EnviarCierre(std::string_view datos) {
  try {
    const Instante inicio = Inicio();
    while (puerto_.BytesEnEntrada() > 0) {
      TextoSeguro descarte;
      puerto_.LeerTodo(descarte);
      if (bombeo_) bombeo_();
      if (Vencida(inicio)) return false;
    }
    const TextoSeguro trama = ArmarTrama(datos, Formato::A);
    return Confirma(Confirmar(trama.Vista(), false).senal);
  } catch (...) {
    return false;
  }
}

bool Enlace::Enviar72() {
  return EnviarCierre("72");
}

bool Enlace::EnviarQ3() {
  return EnviarCierre("Q3");
}

}  // namespace teclon
