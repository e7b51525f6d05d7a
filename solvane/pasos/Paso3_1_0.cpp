// Migration step to 3.1.0 (statements still to be written).
#include "cActualiza.h"

namespace solvane {

void cActualiza::ActualizarA3_1_0(bool& ok) { ok = true; }

}  // namespace solvane
