// Migration steps to 2.5.0 through 2.5.5 (statements still to be written).
#include "cActualiza.h"

namespace solvane {

void cActualiza::ActualizarA2_5_0(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_1(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_2(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_3(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_4(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_5(bool& ok) { ok = true; }

}  // namespace solvane
