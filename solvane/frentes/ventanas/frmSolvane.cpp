// The main window.
#include "frmSolvane.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "nucleo/Ensayo.h"
#include "nucleo/Proceso.h"
#include "version.h"

namespace solvane {

InstanciaUnica::InstanciaUnica(const QString& ruta) : bloqueo_(ruta) {
  // Only a dead owner makes a lock stale, never its age: a long migration keeps its lock.
  bloqueo_.setStaleLockTime(0);
  otra_ = !bloqueo_.tryLock(0);
}

// Machine-wide: the shared temporary folder, not the user's runtime folder.
QString InstanciaUnica::RutaPorDefecto() {
  return QDir::tempPath() + "/pagora-solvane.lock";
}

frmSolvane::frmSolvane(EntornoSolvane entorno, QWidget* padre)
    : QWidget(padre), entorno_(std::move(entorno)) {
  setObjectName("frmSolvane");
  setWindowTitle(entorno_.ensayo ? "Pagora Vavidev Actualizar Base de Datos (ensayo sobre una copia)"
                                 : "Pagora Vavidev Actualizar Base de Datos");

  lblTexto = new QLabel("Actualizar Base Pagora Vavidev", this);
  lblTexto->setObjectName("lblTexto");
  QFont grande = lblTexto->font();
  grande.setPointSize(grande.pointSize() + 4);
  grande.setBold(true);
  lblTexto->setFont(grande);
  lblTexto->setAlignment(Qt::AlignCenter);

  lblVersion = new QLabel("Version 00.00.00", this);
  lblVersion->setObjectName("lblVersion");
  lblVersion->setAlignment(Qt::AlignCenter);

  cmdActualizar = new QPushButton(entorno_.ensayo ? "Ensayar Actualización" : "Actualizar Base", this);
  cmdActualizar->setObjectName("cmdActualizar");
  cmdActualizar->setMinimumHeight(36);
  connect(cmdActualizar, &QPushButton::clicked, this, [this] { cmdActualizar_Click(); });

  auto* capas = new QVBoxLayout(this);
  capas->setContentsMargins(24, 20, 24, 20);
  capas->addWidget(lblTexto);
  capas->addWidget(lblVersion);
  capas->addSpacing(12);
  capas->addWidget(cmdActualizar);
  setFixedSize(380, 170);

  Form_Load();
}

frmSolvane::~frmSolvane() = default;

void frmSolvane::Form_Load() {
  instancia_ = std::make_unique<InstanciaUnica>(entorno_.bloqueo);
  if (instancia_->HayOtra()) {
    if (entorno_.presentador)
      entorno_.presentador->Mostrar(
          SOLVANE_NOMBRE_PRODUCTO,
          std::string(SOLVANE_NOMBRE_PRODUCTO) + "Ya se está ejecutando en su máquina", kEstiloInfo);
    return;
  }
  lblVersion->setText(QString::fromStdString(TextoVersion()));
}

frmActualiza& frmSolvane::Progreso() {
  if (!progreso_) progreso_ = std::make_unique<frmActualiza>();
  return *progreso_;
}

void frmSolvane::cmdActualizar_Click() {
  cmdActualizar->setEnabled(false);
  if (entorno_.presentador) Msj().FijarPresentador(entorno_.presentador);
  Bombeo bombeo = [] {};
  if (entorno_.bombear) bombeo = [] { QCoreApplication::processEvents(); };
  if (entorno_.ensayo) {
    // The rehearsal ends with its report in one box; the button stays usable for another try.
    OpcionesEnsayo opciones;
    opciones.bombeo = bombeo;
    const InformeEnsayo informe = Ensayar(Bd(), Msj(), Progreso(), opciones);
    Msj().Mostrar(TextoInforme(informe), EstadoEnsayo(informe) == 0 ? kEstiloInfo : kEstiloExclamacion);
    cmdActualizar->setEnabled(true);
    return;
  }
  const bool finalizado = EjecutarProceso(Bd(), Msj(), Progreso(), bombeo);
  if (!finalizado) cmdActualizar->setEnabled(true);
}

}  // namespace solvane
