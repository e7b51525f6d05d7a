// cMensajes: the process-wide message object.
#include "cMensajes.h"

namespace solvane {

int cMensajes::Mostrar(const std::string& texto, int estilo, std::optional<long> numero) {
  if (avisos_ && (estilo == kEstiloStop || estilo == kEstiloExclamacion))
    avisos_->push_back({estilo, texto, numero});
  if (!presentador_) return estilo == kEstiloPregunta ? kRespuestaNo : kRespuestaAceptar;
  return presentador_->Mostrar(titulo_, texto, estilo);
}

cMensajes& Mensajes() {
  static cMensajes instancia;
  return instancia;
}

}  // namespace solvane
