// The ODBC engine of cBaseDatos (unixODBC driver manager; FreeTDS or the vendor's driver).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "motores/Motor.h"

namespace solvane {

// Whether a connection to SQL Server takes the updater's application lock: a run of Solvane always does; a
// second connection that only looks on (a test's, a tool's) must not, or it would wait for the run.
enum class BloqueoActualizacion { Tomar, Omitir };

// Builds the engine from the connection file's settings (keys in lower case: "cadena",
// "usuario", "clave", ...). `archivo` names the connection file, for messages.
// Throws ErrorBD when the settings cannot make a connection string.
std::unique_ptr<MotorBD> CrearMotorOdbc(const std::map<std::string, std::string>& ajustes,
                                        const std::string& archivo,
                                        BloqueoActualizacion bloqueo = BloqueoActualizacion::Tomar);

}  // namespace solvane
