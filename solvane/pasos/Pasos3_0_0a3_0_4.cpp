// Migration steps to 3.0.0 through 3.0.4 (statements still to be written).
#include "cActualiza.h"

namespace solvane {

void cActualiza::ActualizarA3_0_0(bool& ok) { ok = true; }

void cActualiza::ActualizarA3_0_1(bool& ok) { ok = true; }

void cActualiza::ActualizarA3_0_2(bool& ok) { ok = true; }

void cActualiza::ActualizarA3_0_3(bool& ok) { ok = true; }

void cActualiza::ActualizarA3_0_4(bool& ok) { ok = true; }

}  // namespace solvane
