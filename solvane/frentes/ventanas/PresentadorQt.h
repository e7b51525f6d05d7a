// Message boxes of the window: modal, titled, with the icon of their style and Spanish buttons.
#pragma once

#include <QWidget>

#include "nucleo/cMensajes.h"

namespace solvane {

class PresentadorQt : public Presentador {
 public:
  explicit PresentadorQt(QWidget* padre = nullptr) : padre_(padre) {}
  void Padre(QWidget* padre) { padre_ = padre; }
  int Mostrar(const std::string& titulo, const std::string& texto, int estilo) override;

 private:
  QWidget* padre_;
};

}  // namespace solvane
