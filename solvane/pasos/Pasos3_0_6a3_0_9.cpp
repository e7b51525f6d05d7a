// Migration steps to 3.0.6 through 3.0.9 (statements still to be written).
#include "cActualiza.h"

namespace solvane {

void cActualiza::ActualizarA3_0_6(bool& ok) { ok = true; }

void cActualiza::ActualizarA3_0_7(bool& ok) { ok = true; }

void cActualiza::ActualizarA3_0_8(bool& ok) { ok = true; }

void cActualiza::ActualizarA3_0_9(bool& ok) { ok = true; }

}  // namespace solvane
