// Migration steps to 2.5.11 through 2.5.16 (statements still to be written).
#include "cActualiza.h"

namespace solvane {

void cActualiza::ActualizarA2_5_11(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_14(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_15(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_16(bool& ok) { ok = true; }

}  // namespace solvane
