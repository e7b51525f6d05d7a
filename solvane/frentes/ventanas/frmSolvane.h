// The main window: version label and the one button that runs the whole job.
#pragma once

#include <QLabel>
#include <QLockFile>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "frmActualiza.h"
#include "nucleo/cBaseDatos.h"
#include "nucleo/cMensajes.h"

namespace solvane {

// A lock every copy of the program on this machine tries to take; the first one keeps it.
class InstanciaUnica {
 public:
  explicit InstanciaUnica(const QString& ruta);
  bool HayOtra() const { return otra_; }
  static QString RutaPorDefecto();

 private:
  QLockFile bloqueo_;
  bool otra_;
};

struct EntornoSolvane {
  std::shared_ptr<Presentador> presentador;  // the window's boxes; the recorder in tests
  cBaseDatos* bd = nullptr;                  // the process-wide instances unless given
  cMensajes* mensajes = nullptr;
  QString bloqueo = InstanciaUnica::RutaPorDefecto();
  bool bombear = true;  // let pending window events run after each statement
  bool ensayo = false;  // rehearse on a copy instead of updating the database
};

class frmSolvane : public QWidget {
  Q_OBJECT
 public:
  explicit frmSolvane(EntornoSolvane entorno, QWidget* padre = nullptr);
  ~frmSolvane() override;

  void cmdActualizar_Click();
  frmActualiza& Progreso();  // the single progress window, created on first use

 private:
  void Form_Load();
  cBaseDatos& Bd() { return entorno_.bd ? *entorno_.bd : BaseDatos(); }
  cMensajes& Msj() { return entorno_.mensajes ? *entorno_.mensajes : Mensajes(); }

  EntornoSolvane entorno_;
  std::unique_ptr<InstanciaUnica> instancia_;
  std::unique_ptr<frmActualiza> progreso_;
  QPushButton* cmdActualizar;
  QLabel* lblVersion;
  QLabel* lblTexto;
};

}  // namespace solvane
