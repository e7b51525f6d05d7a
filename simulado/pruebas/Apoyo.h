// Small helpers shared by the simulated server's tests.
#pragma once

#include <string>

#include "motor/Servidor.h"

namespace apoyo {

// The error number a statement is refused with, 0 when it runs.
inline int NumeroDe(simulado::Servidor& s, const std::string& sql) {
  try {
    s.Ejecutar(sql);
  } catch (const simulado::ErrorSql& e) {
    return e.numero;
  }
  return 0;
}

}  // namespace apoyo
