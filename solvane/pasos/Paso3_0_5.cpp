// Migration step to 3.0.5 (statements still to be written).
#include "cActualiza.h"

namespace solvane {

void cActualiza::ActualizarA3_0_5(bool& ok) { ok = true; }

}  // namespace solvane
