// frmPrueba2.cpp: layout, option clicks and button handlers of the test form.
#include "frmPrueba2.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDate>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <array>

#include "CampoFormato.h"
#include "Formato.h"

namespace prueba {

namespace {

template <class T>
T* Nombrado(T* w, const char* nombre) {
  w->setObjectName(QString::fromLatin1(nombre));
  return w;
}

}  // namespace

frmPrueba2::frmPrueba2(Fabrica fabrica, Avisos* avisos, QWidget* parent)
    : QWidget(parent), fabrica_(std::move(fabrica)), avisos_(avisos) {
  if (!avisos_) {
    avisos_propios_ = std::make_unique<AvisosQt>(this);
    avisos_ = avisos_propios_.get();
  }
  setObjectName(QStringLiteral("frmPrueba2"));
  setWindowTitle(QStringLiteral("Prueba Pagora ( datos necesarios para consulta tarjeta )"));

  auto* fmOperacion = Nombrado(new QGroupBox(QStringLiteral(" Operacion ")), "fmOperacion");
  oVenta_ = Nombrado(new QRadioButton(QStringLiteral(" Venta ")), "oVenta");
  oAnulacion_ = Nombrado(new QRadioButton(QStringLiteral("Anulación")), "oAnulacion");
  oCierre_ = Nombrado(new QRadioButton(QStringLiteral("Cierre")), "oCierre");
  oVerificacion_ = Nombrado(new QRadioButton(QStringLiteral("Verificación")), "oVerificacion");
  auto* operaciones = new QVBoxLayout(fmOperacion);
  for (QRadioButton* o : {oVenta_, oAnulacion_, oCierre_, oVerificacion_}) operaciones->addWidget(o);
  oVenta_->setChecked(true);

  fmMonto_ = Nombrado(new QGroupBox(QStringLiteral("Monto de la Transacción ")), "fmMonto");
  oPesos_ = Nombrado(new QRadioButton(QStringLiteral("Pesos")), "oPesos");
  oDolares_ = Nombrado(new QRadioButton(QStringLiteral("Dólares")), "oDolares");
  oPesos_->setChecked(true);
  mskMonto_ = Nombrado(new CampoFormato(CampoFormato::Formato::kMonto), "mskMonto");
  mskMonto_->setAlignment(Qt::AlignRight);
  auto* monto = new QGridLayout(fmMonto_);
  monto->addWidget(oPesos_, 0, 0);
  monto->addWidget(oDolares_, 0, 1);
  monto->addWidget(Nombrado(new QLabel(QStringLiteral("$u :")), "lblSimbolo"), 1, 0);
  monto->addWidget(mskMonto_, 1, 1);

  fmCierre_ = Nombrado(new QGroupBox(QStringLiteral("Fecha de Cierre de Caja ")), "fmCierre");
  mskFecha_ = Nombrado(new CampoFormato(CampoFormato::Formato::kFecha), "mskFecha");
  auto* cierre = new QHBoxLayout(fmCierre_);
  cierre->addWidget(Nombrado(new QLabel(QStringLiteral("Fecha :")), "lblFech"));
  cierre->addWidget(mskFecha_);
  fmCierre_->hide();

  auto* fmDocumento = Nombrado(new QGroupBox(QStringLiteral("Documento")), "fmDocumento");
  txtDocumento_ = Nombrado(new QLineEdit, "txtDocumento");
  txtNroDocOriginal_ = Nombrado(new QLineEdit, "txtNroDocOriginal");
  txtNroDGI_ = Nombrado(new QLineEdit, "txtNroDGI");
  auto* documento = new QFormLayout(fmDocumento);
  documento->addRow(QStringLiteral("Nro. Doc :"), txtDocumento_);
  documento->addRow(QStringLiteral("Nro. Doc Original :"), txtNroDocOriginal_);
  documento->addRow(QStringLiteral("Nro. Para DGI :"), txtNroDGI_);

  cmdPrueba_ = Nombrado(new QPushButton(QStringLiteral("Realizar Consulta (Ventana Pagora)")), "cmdPrueba");
  cmdServicio_ =
      Nombrado(new QPushButton(QStringLiteral("Realizar Consulta (Ventana Servicio)")), "cmdServicio");
  cmdTarjeta_ = Nombrado(new QPushButton(QStringLiteral("Procesar Tarjeta")), "cmdTarjeta");
  cmdCierre_ = Nombrado(new QPushButton(QStringLiteral("Procesar Cierre")), "cmdCierre");
  cmdConfirmar_ = Nombrado(new QPushButton(QStringLiteral("Confirmar")), "cmdConfirmar");
  cmdCServicio_ = Nombrado(new QPushButton(QStringLiteral("Confirmar  Servicio")), "cmdCServicio");
  cmdConfigurar_ = Nombrado(new QPushButton(QStringLiteral("Configurar")), "cmdConfigurar");
  cmdSalir_ = Nombrado(new QPushButton(QStringLiteral("Salir")), "cmdSalir");

  // The close-date frame takes the amount frame's place.
  auto* arriba = new QGridLayout;
  arriba->addWidget(fmOperacion, 0, 0);
  arriba->addWidget(fmMonto_, 0, 1);
  arriba->addWidget(fmCierre_, 0, 1);
  arriba->setColumnStretch(1, 1);
  auto* botones = new QGridLayout;
  const std::array fila1{cmdPrueba_, cmdServicio_, cmdTarjeta_, cmdCierre_};
  const std::array fila2{cmdConfirmar_, cmdCServicio_, cmdConfigurar_, cmdSalir_};
  for (int i = 0; i < 4; ++i) {
    botones->addWidget(fila1[static_cast<size_t>(i)], 0, i);
    botones->addWidget(fila2[static_cast<size_t>(i)], 1, i);
  }
  auto* todo = new QVBoxLayout(this);
  todo->addLayout(arriba);
  todo->addWidget(fmDocumento);
  todo->addLayout(botones);

  connect(oVenta_, &QRadioButton::toggled, this, [this](bool si) {
    if (si) MostrarMonto();
  });
  connect(oAnulacion_, &QRadioButton::toggled, this, [this](bool si) {
    if (si) MostrarMonto();
  });
  connect(oCierre_, &QRadioButton::toggled, this, [this](bool si) {
    if (si) MostrarCierre();
  });
  connect(cmdPrueba_, &QPushButton::clicked, this, [this] { Operar(&Operaciones::ConsultaPagora); });
  connect(cmdServicio_, &QPushButton::clicked, this, [this] { Operar(&Operaciones::ConsultaServicio); });
  connect(cmdTarjeta_, &QPushButton::clicked, this, [this] { Operar(&Operaciones::ProcesarTarjeta); });
  connect(cmdCierre_, &QPushButton::clicked, this, [this] { Operar(&Operaciones::ProcesarCierre); });
  connect(cmdConfirmar_, &QPushButton::clicked, this, [this] { Operar(&Operaciones::Confirmar); });
  connect(cmdCServicio_, &QPushButton::clicked, this, [this] { Operar(&Operaciones::ConfirmarServicio); });
  connect(cmdConfigurar_, &QPushButton::clicked, this, [this] { Operar(&Operaciones::Configurar); });
  connect(cmdSalir_, &QPushButton::clicked, this, &QWidget::close);
}

frmPrueba2::~frmPrueba2() = default;

void frmPrueba2::Cargar() {
  try {
    control_ = std::make_unique<ISOPagora>(fabrica_(kProgId));
    segunda_ = std::make_unique<ISOPagora>(fabrica_(kProgId));
  } catch (const std::exception& e) {
    control_.reset();
    segunda_.reset();
    for (QPushButton* b :
         {cmdPrueba_, cmdServicio_, cmdTarjeta_, cmdCierre_, cmdConfirmar_, cmdCServicio_, cmdConfigurar_})
      b->setEnabled(false);
    avisos_->Mostrar(kTitulo, e.what(), kEstiloDetener);
    return;
  }
  operaciones_ = std::make_unique<Operaciones>(*control_, static_cast<Vista&>(*this), *avisos_);
  const std::string carpeta = QCoreApplication::applicationDirPath().toStdString();
  Ejecutar([&] { operaciones_->ConfigurarControl(carpeta); });
}

void frmPrueba2::closeEvent(QCloseEvent* e) {
  segunda_.reset();
  QWidget::closeEvent(e);
}

void frmPrueba2::Ejecutar(const std::function<void()>& trabajo) {
  try {
    trabajo();
  } catch (const std::exception& e) {
    avisos_->Mostrar(kTitulo, e.what(), kEstiloDetener);
  } catch (...) {
    avisos_->Mostrar(kTitulo, "Error desconocido", kEstiloDetener);
  }
}

void frmPrueba2::Operar(void (Operaciones::*operacion)()) {
  if (operaciones_) Ejecutar([&] { (operaciones_.get()->*operacion)(); });
}

void frmPrueba2::MostrarMonto() {
  fmCierre_->hide();
  fmMonto_->show();
}

void frmPrueba2::MostrarCierre() {
  fmMonto_->hide();
  fmCierre_->show();
  mskFecha_->setText(FormatoFecha(QDate::currentDate(), QLocale()));
}

Operacion frmPrueba2::Elegida() const {
  if (oAnulacion_->isChecked()) return Operacion::kAnulacion;
  if (oCierre_->isChecked()) return Operacion::kCierre;
  if (oVerificacion_->isChecked()) return Operacion::kVerificacion;
  return Operacion::kVenta;
}

bool frmPrueba2::Pesos() const {
  return oPesos_->isChecked();
}
std::string frmPrueba2::Monto() const {
  return mskMonto_->text().toStdString();
}
std::string frmPrueba2::Fecha() const {
  return mskFecha_->text().toStdString();
}
std::string frmPrueba2::Documento() const {
  return txtDocumento_->text().toStdString();
}
std::string frmPrueba2::NroDocOriginal() const {
  return txtNroDocOriginal_->text().toStdString();
}

void frmPrueba2::Foco(Campo campo) {
  switch (campo) {
    case Campo::kMonto:
      mskMonto_->setFocus();
      break;
    case Campo::kDocumento:
      txtDocumento_->setFocus();
      break;
    case Campo::kNroDocOriginal:
      txtNroDocOriginal_->setFocus();
      break;
  }
}

void frmPrueba2::Ocupado(bool ocupado) {
  if (ocupado)
    setCursor(Qt::WaitCursor);
  else
    unsetCursor();
}

void AvisosQt::Mostrar(const std::string& titulo, const std::string& texto, int estilo) {
  const QMessageBox::Icon icono = estilo == kEstiloDetener       ? QMessageBox::Critical
                                  : estilo == kEstiloInformacion ? QMessageBox::Information
                                                                 : QMessageBox::NoIcon;
  QString t = QString::fromStdString(texto);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox caja(icono, QString::fromStdString(titulo), t, QMessageBox::Ok, padre_);
  // The text comes from the control or names a path: shown as it is, never read as markup.
  caja.setTextFormat(Qt::PlainText);
  caja.exec();
}

}  // namespace prueba
