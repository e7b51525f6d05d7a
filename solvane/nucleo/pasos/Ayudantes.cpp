// The guards the migration steps share: a column test and a column added when it is missing.
#include <string>

#include "nucleo/cActualiza.h"

namespace solvane {

// The value holder is a fresh one per probe: the steps test presence only, never the value.
bool cActualiza::ExisteCampo(const std::string& tabla, const std::string& campo) {
  std::string valor;
  return ExisteCampo(tabla, campo, valor);
}

void cActualiza::AgregarCampo(const std::string& tabla, const std::string& campo,
                              const std::string& sentencia) {
  if (!ExisteCampo(tabla, campo)) Ejecutar(sentencia);
}

}  // namespace solvane
