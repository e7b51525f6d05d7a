// The progress window.
#include "frmActualiza.h"

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>

#include "version.h"

// The frames live in a static library: their resource must be registered by hand.
static void CargarRecursos() {
  Q_INIT_RESOURCE(solvane);
}

namespace solvane {

frmActualiza::frmActualiza(QWidget* padre) : QWidget(padre, Qt::Dialog) {
  CargarRecursos();
  setObjectName("frmActualiza");
  setWindowTitle("Form1");
  setFixedSize(330, 110);

  for (int i = 0; i < 4; ++i)
    imgActualiza[static_cast<std::size_t>(i)] = QPixmap(QString(":/solvane/imgActualiza%1.png").arg(i));

  pctActualiza = new QLabel(this);
  pctActualiza->setObjectName("pctActualiza");
  pctActualiza->setFixedSize(40, 40);
  pctActualiza->setAlignment(Qt::AlignCenter);

  lblVersion = new QLabel("Actualizando Version a ", this);
  lblVersion->setObjectName("lblVersion");
  lblVersion->setFont(QFont("MS Sans Serif", 10));

  Label1 = new QLabel("Velmoriantex", this);
  Label1->setObjectName("Label1");
  QFont romana("Times New Roman", 14, QFont::Bold);
  romana.setStyleHint(QFont::Serif);
  Label1->setFont(romana);

  auto* textos = new QVBoxLayout;
  textos->addWidget(Label1);
  textos->addWidget(lblVersion);
  auto* fila = new QHBoxLayout(this);
  fila->addWidget(pctActualiza);
  fila->addSpacing(12);
  fila->addLayout(textos, 1);

  tmeActualiza = new QTimer(this);
  tmeActualiza->setObjectName("tmeActualiza");
  tmeActualiza->setInterval(250);
  connect(tmeActualiza, &QTimer::timeout, this, [this] { tmeActualiza_Timer(); });
}

void frmActualiza::Form_Load() {
  cargada_ = true;
  setWindowTitle(SOLVANE_NOMBRE_PRODUCTO);
  if (const QScreen* pantalla = QGuiApplication::primaryScreen()) {
    const QRect g = pantalla->geometry();
    move(g.x() + (g.width() - width()) / 2, g.y() + (g.height() - height()) / 2);
  }
  MostrarFotograma(vaiven_.Cargar());
}

void frmActualiza::Mostrar() {
  if (!cargada_) Form_Load();
  show();
  lblVersion->setVisible(true);
  tmeActualiza->start();
}

void frmActualiza::Etiqueta(const std::string& texto) {
  lblVersion->setText(QString::fromStdString(texto));
}

void frmActualiza::Descargar() {
  tmeActualiza->stop();
  hide();
  cargada_ = false;
}

void frmActualiza::closeEvent(QCloseEvent* e) {
  tmeActualiza->stop();
  cargada_ = false;
  QWidget::closeEvent(e);
}

void frmActualiza::tmeActualiza_Timer() {
  MostrarFotograma(vaiven_.Tick());
}

void frmActualiza::MostrarFotograma(int indice) {
  mostrado_ = indice;
  pctActualiza->setPixmap(imgActualiza[static_cast<std::size_t>(indice)]);
}

}  // namespace solvane
