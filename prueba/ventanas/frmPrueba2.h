// frmPrueba2.h: the test form; lays out the controls and hands each button to its operation.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "Operaciones.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace prueba {

class CampoFormato;

// Creates a control by its ProgID; throws ErrorControl when it cannot.
using Fabrica = std::function<std::unique_ptr<Control>(const std::string& progid)>;

class frmPrueba2 : public QWidget, private Vista {
  Q_OBJECT
 public:
  // `avisos` receives every message; when null the form shows message boxes.
  explicit frmPrueba2(Fabrica fabrica, Avisos* avisos = nullptr, QWidget* parent = nullptr);
  ~frmPrueba2() override;

  // The load: creates the control and a second instance by ProgID, configures the first and
  // initialises it. A control that cannot be created leaves every button but "Salir" disabled.
  void Cargar();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  // Runs one button's work; an error of the control or of a conversion is shown, not fatal.
  void Ejecutar(const std::function<void()>& trabajo);
  void Operar(void (Operaciones::*operacion)());
  void MostrarMonto();
  void MostrarCierre();

  // Vista
  Operacion Elegida() const override;
  bool Pesos() const override;
  std::string Monto() const override;
  std::string Fecha() const override;
  std::string Documento() const override;
  std::string NroDocOriginal() const override;
  void Foco(Campo campo) override;
  void Ocupado(bool ocupado) override;

  Fabrica fabrica_;
  std::unique_ptr<Avisos> avisos_propios_;
  Avisos* avisos_;
  std::unique_ptr<ISOPagora> control_;  // the instance every operation talks to
  std::unique_ptr<ISOPagora> segunda_;  // held from load to close, never called
  std::unique_ptr<Operaciones> operaciones_;

  QRadioButton *oVenta_, *oAnulacion_, *oCierre_, *oVerificacion_, *oPesos_, *oDolares_;
  QGroupBox *fmMonto_, *fmCierre_;
  CampoFormato *mskMonto_, *mskFecha_;
  QLineEdit *txtDocumento_, *txtNroDocOriginal_, *txtNroDGI_;
  QPushButton *cmdPrueba_, *cmdServicio_, *cmdTarjeta_, *cmdCierre_, *cmdConfirmar_, *cmdCServicio_,
      *cmdConfigurar_, *cmdSalir_;
};

// Message boxes with the program's title and the style's icon; the text is always plain text.
class AvisosQt : public Avisos {
 public:
  explicit AvisosQt(QWidget* padre) : padre_(padre) {}
  void Mostrar(const std::string& titulo, const std::string& texto, int estilo) override;

 private:
  QWidget* padre_;
};

}  // namespace prueba
