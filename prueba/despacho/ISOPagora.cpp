// ISOPagora.cpp: conversions of the control's answers.
#include "ISOPagora.h"

namespace prueba {

bool ISOPagora::Booleano(int32_t id, const Variante& v) {
  if (auto b = v.ComoBooleano()) return *b;
  throw ErrorControl(PAGORA_E_TIPO, "DISPID " + NombrarDispid(id) + ": el valor \"" + v.Texto() + "\" (" +
                                        std::string(NombreTipo(v.Tipo())) + ") no es Boolean");
}

}  // namespace prueba
