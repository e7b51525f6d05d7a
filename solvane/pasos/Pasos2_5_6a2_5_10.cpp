// Migration steps to 2.5.6 through 2.5.10 (statements still to be written).
#include "cActualiza.h"

namespace solvane {

void cActualiza::ActualizarA2_5_6(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_7(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_9(bool& ok) { ok = true; }

void cActualiza::ActualizarA2_5_10(bool& ok) { ok = true; }

}  // namespace solvane
