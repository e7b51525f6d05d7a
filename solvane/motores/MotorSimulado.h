// The simulated engine of cBaseDatos: the in-process SQL Server over a database script file.
#pragma once

#include <memory>
#include <string>

#include "Motor.h"

namespace solvane {

// The engine over the script file `archivo`, which is not touched until Conectar. Connecting locks and
// runs the file, and the lock is kept until disconnecting, so a second run (or a simulated server) on the
// same file is told it is in use. The outermost commit writes the whole state back atomically, so an
// interrupted or failed run leaves the file exactly as it was.
std::unique_ptr<MotorBD> CrearMotorSimulado(std::string archivo);

}  // namespace solvane

namespace simulado {
class Servidor;
}

namespace solvane {

// The engine over a simulated database its owner holds in memory (a rehearsal's copy): connecting loads
// nothing and the outermost commit writes nothing; `nombre` says which database it is a copy of.
std::unique_ptr<MotorBD> CrearMotorEnMemoria(std::shared_ptr<simulado::Servidor> servidor,
                                             std::string nombre);

}  // namespace solvane
