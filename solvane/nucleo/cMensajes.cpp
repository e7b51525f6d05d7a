// cMensajes: the process-wide message object.
#include "cMensajes.h"

namespace solvane {

int cMensajes::Mostrar(const std::string& texto, int estilo) {
  if (!presentador_) return estilo == kEstiloPregunta ? kRespuestaNo : kRespuestaAceptar;
  return presentador_->Mostrar(titulo_, texto, estilo);
}

cMensajes& Mensajes() {
  static cMensajes instancia;
  return instancia;
}

}  // namespace solvane
