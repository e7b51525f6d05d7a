// The ODBC engine (being written).
#include "odbc/MotorOdbc.h"

namespace solvane {

std::unique_ptr<MotorBD> CrearMotorOdbc(const std::map<std::string, std::string>&, const std::string& archivo) {
  throw ErrorBD(-1, "Motor ODBC no disponible todavía (" + archivo + ")");
}

}  // namespace solvane
