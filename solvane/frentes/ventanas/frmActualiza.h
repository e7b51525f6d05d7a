// The progress window: step caption and the animated picture the timer sweeps.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <array>

#include "frentes/Vaiven.h"
#include "nucleo/cActualiza.h"

namespace solvane {

class frmActualiza : public QWidget, public Progreso {
  Q_OBJECT
 public:
  explicit frmActualiza(QWidget* padre = nullptr);

  // Progreso: load (unless still loaded) and show without blocking; step caption; unload. A run ended by
  // an error leaves the window loaded: the next run shows it as it is, without loading it again.
  void Mostrar() override;
  void Etiqueta(const std::string& texto) override;
  void Descargar() override;

  // One tick of tmeActualiza (public so that the sweep can be driven without waiting).
  void tmeActualiza_Timer();
  int FotogramaMostrado() const { return mostrado_; }
  const Vaiven& Animacion() const { return vaiven_; }

 protected:
  // Closed by the operator: unloaded, as at the end of a run.
  void closeEvent(QCloseEvent* e) override;

 private:
  void Form_Load();
  void MostrarFotograma(int indice);

  QLabel* pctActualiza;
  QTimer* tmeActualiza;
  std::array<QPixmap, 4> imgActualiza;
  QLabel* lblVersion;
  QLabel* Label1;
  Vaiven vaiven_;
  int mostrado_ = 0;
  bool cargada_ = false;
};

}  // namespace solvane
