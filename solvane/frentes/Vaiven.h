// The progress window's back-and-forth sweep over its four frames, without any widget.
#pragma once

#include <cstdint>

namespace solvane {

// iImagen lives as long as the window object and is not reset by a later load: a second run shows
// frame 0 at load and then carries on from where the previous run left the index, upwards.
class Vaiven {
 public:
  // Load: the frame to show (always 0) and the direction set upwards.
  int Cargar() {
    bAvance = true;
    return 0;
  }
  // One timer tick: the frame to show next.
  int Tick() {
    if (bAvance) {
      if (iImagen >= 3) {
        bAvance = false;
        iImagen = 2;
      } else {
        ++iImagen;
      }
    } else if (iImagen <= 0) {
      bAvance = true;
      iImagen = 1;
    } else {
      --iImagen;
    }
    return iImagen;
  }

  std::int16_t iImagen = 0;
  bool bAvance = true;
};

}  // namespace solvane
