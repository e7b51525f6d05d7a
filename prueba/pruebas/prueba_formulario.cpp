// The test form offscreen against the recording simulated control.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTranslator>
#include <cmath>

#include "CampoFormato.h"
#include "Comun.h"
#include "Contrato.h"
#include "Formato.h"
#include "Traducciones.h"
#include "frmPrueba2.h"

namespace prueba::pruebas {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace d = dispid;

class EntornoQt : public ::testing::Environment {
 public:
  void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char nombre_[7] = "prueba";
  char* argv_[2] = {nombre_, nullptr};
  std::unique_ptr<QApplication> app_;
};
const auto* const kEntorno = ::testing::AddGlobalTestEnvironment(new EntornoQt);

struct Aviso {
  std::string titulo, texto;
  int estilo;
  bool ocupado;  // the form showed the busy pointer while the message was up
};

class Grabadora : public Avisos {
 public:
  void Mostrar(const std::string& titulo, const std::string& texto, int estilo) override {
    const bool ocupado = form && form->cursor().shape() == Qt::WaitCursor;
    avisos.push_back({titulo, texto, estilo, ocupado});
  }
  std::vector<Aviso> avisos;
  QWidget* form = nullptr;
};

// The value read for each DISPID, in order.
std::vector<std::pair<std::string, std::string>> Leido(const std::vector<Linea>& lineas, int instancia) {
  std::vector<std::pair<std::string, std::string>> r;
  for (const Linea& l : lineas)
    if (l.instancia == instancia && l.clase == "leer") r.emplace_back(l.dispid, l.valor);
  return r;
}

std::string Hex(int32_t id) {
  return NombrarDispid(id).substr(0, 10);
}

class Formulario : public ::testing::Test {
 protected:
  void SetUp() override {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Crear();
  }
  void TearDown() override {
    form.reset();
    QLocale::setDefault(QLocale::c());
  }

  void Crear(const Registro& registro = RegistroSimulado()) {
    form.reset();
    grabacion.reset();  // its destructor clears the variable the new one sets
    grabacion = std::make_unique<Grabacion>();
    grabadora = Grabadora();
    form = std::make_unique<frmPrueba2>(
        [this, registro](const std::string& progid) {
          return std::make_unique<ControlConFalla>(registro.Crear(progid), inyeccion);
        },
        &grabadora);
    grabadora.form = form.get();
    form->Cargar();
    form->show();
    form->activateWindow();
    const auto todo = grabacion->Todo();
    primera = todo.empty() ? 0 : todo.front().instancia;
    cargado = grabacion->Nuevas();
  }

  template <class T = QWidget>
  T* W(const char* nombre) {
    T* w = form->findChild<T*>(QString::fromLatin1(nombre));
    EXPECT_NE(w, nullptr) << nombre;
    return w;
  }
  void Escribir(const char* campo, const QString& texto) { W<QLineEdit>(campo)->setText(texto); }
  void Elegir(const char* opcion) { W<QRadioButton>(opcion)->click(); }
  // Presses a button and returns what reached the control.
  std::vector<Linea> Pulsar(const char* boton) {
    grabadora.avisos.clear();
    W<QPushButton>(boton)->click();
    return grabacion->Nuevas();
  }
  std::vector<std::string> Pulsado(const char* boton) { return Escrituras(Pulsar(boton), primera); }
  const Aviso& Ultimo() {
    static const Aviso kNinguno{};
    EXPECT_EQ(grabadora.avisos.size(), 1u);
    return grabadora.avisos.empty() ? kNinguno : grabadora.avisos.back();
  }
  // The result message built from the values read, each piece after its literal.
  static std::string Armar(const std::vector<std::pair<std::string, std::string>>& leido,
                           const std::vector<std::pair<int32_t, std::string>>& piezas) {
    std::string m;
    size_t i = 0;
    for (const auto& [id, literal] : piezas) {
      m += literal;
      while (i < leido.size() && leido[i].first != Hex(id)) ++i;
      if (i == leido.size()) return "falta la lectura de " + NombrarDispid(id);
      m += leido[i++].second;
    }
    return m;
  }

  std::shared_ptr<Inyeccion> inyeccion = std::make_shared<Inyeccion>();
  std::unique_ptr<Grabacion> grabacion;
  Grabadora grabadora;
  std::unique_ptr<frmPrueba2> form;
  int primera = 0;
  std::vector<Linea> cargado;
};

// What both query buttons write after the amount check, by button.
std::vector<std::string> ColaPagora(int32_t moneda) {
  return {P(d::Moneda, "Long", std::to_string(moneda)),
          P(d::IndicadorD, "Boolean", "False"),
          P(d::IndicadorB, "Boolean", "False"),
          P(d::IndicadorC, "Boolean", "False"),
          P(d::IndicadorA, "Boolean", "False"),
          P(d::ValorG, "Byte", "1"),
          P(d::ValorF, "Byte", "0"),
          P(d::TextoF, "String", ""),
          P(d::TextoE, "String", ""),
          P(d::TextoD, "String", ""),
          P(d::NumeroTarjeta, "String", ""),
          P(d::Vencimiento, "String", ""),
          P(d::ValorA, "Integer", "0"),
          P(d::NroDocumento, "String", ""),
          L(d::RealizarConsulta)};
}
std::vector<std::string> ColaServicio(int32_t moneda) {
  return {P(d::Moneda, "Long", std::to_string(moneda)),
          P(d::IndicadorD, "Boolean", "False"),
          P(d::IndicadorC, "Boolean", "False"),
          P(d::IndicadorB, "Boolean", "False"),
          P(d::TextoA, "String", "NAD"),
          P(d::ValorD, "Byte", "11"),
          P(d::ValorA, "Integer", "3"),
          P(d::NroDocumento, "String", ""),
          L(d::RealizarConsulta)};
}
std::vector<std::string> Unir(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// What each query button writes: its two settings, the fields of the operation chosen, then its tail.
std::vector<std::string> Pagora(const std::vector<std::string>& campos, int32_t moneda = 0) {
  return Unir(Unir({P(d::ValorI, "Long", "1"), P(d::ValorH, "Long", "1")}, campos), ColaPagora(moneda));
}
std::vector<std::string> Servicio(const std::vector<std::string>& campos, int32_t moneda = 0) {
  return Unir(Unir({P(d::ValorI, "Long", "9"), P(d::ValorH, "Long", "6")}, campos), ColaServicio(moneda));
}
// A sale (0) or a void (1) of `monto`.
std::vector<std::string> Tipo(int32_t tipo, const char* monto) {
  return {P(d::TipoOperacion, "Long", std::to_string(tipo)), P(d::Monto, "Double", monto)};
}

const std::vector<std::pair<int32_t, std::string>> kAprobacionTarjeta{
    {d::CodAutorizacion, "Transaccion Aprobada "},
    {d::NumeroTarjeta, " Nro Tarjeta "},
    {d::Vencimiento, " Vence "},
    {d::CodComercio, " Cod. Comercio "},
    {d::IdTerminal, " IdTerminal "}};

TEST_F(Formulario, StartsWithSaleAndPesosAndTheCaptionsOfTheForm) {
  EXPECT_EQ(form->windowTitle(), "Prueba Pagora ( datos necesarios para consulta tarjeta )");
  const std::vector<std::pair<const char*, const char*>> botones{
      {"oVenta", " Venta "},
      {"oAnulacion", "Anulación"},
      {"oCierre", "Cierre"},
      {"oVerificacion", "Verificación"},
      {"oPesos", "Pesos"},
      {"oDolares", "Dólares"},
      {"cmdPrueba", "Realizar Consulta (Ventana Pagora)"},
      {"cmdServicio", "Realizar Consulta (Ventana Servicio)"},
      {"cmdTarjeta", "Procesar Tarjeta"},
      {"cmdCierre", "Procesar Cierre"},
      {"cmdConfirmar", "Confirmar"},
      {"cmdCServicio", "Confirmar  Servicio"},
      {"cmdConfigurar", "Configurar"},
      {"cmdSalir", "Salir"}};
  for (auto [nombre, texto] : botones) EXPECT_EQ(W<QAbstractButton>(nombre)->text(), texto) << nombre;
  EXPECT_EQ(W<QGroupBox>("fmMonto")->title(), "Monto de la Transacción ");
  EXPECT_EQ(W<QGroupBox>("fmCierre")->title(), "Fecha de Cierre de Caja ");
  EXPECT_EQ(W<QGroupBox>("fmOperacion")->title(), " Operacion ");
  EXPECT_EQ(W<QLabel>("lblSimbolo")->text(), "$u :");
  EXPECT_EQ(W<QLabel>("lblFech")->text(), "Fecha :");
  EXPECT_TRUE(W<QRadioButton>("oVenta")->isChecked());
  EXPECT_TRUE(W<QRadioButton>("oPesos")->isChecked());
  EXPECT_FALSE(W("fmMonto")->isHidden());
  EXPECT_TRUE(W("fmCierre")->isHidden());
  EXPECT_EQ(W<CampoFormato>("mskMonto")->FormatoVisible(), "#,##0.00;(#,##0.00)");
  EXPECT_EQ(W<CampoFormato>("mskFecha")->FormatoVisible(), "dd/mm/yyyy");
  EXPECT_TRUE(grabadora.avisos.empty());
}

TEST_F(Formulario, LoadCreatesTwoInstancesAndConfiguresOnlyTheFirstInOrder) {
  ASSERT_GE(cargado.size(), 2u);
  EXPECT_EQ(cargado[0].clase, "crear");
  EXPECT_EQ(cargado[1].clase, "crear");
  EXPECT_EQ(cargado[1].instancia, primera + 1);
  const std::string ruta = QCoreApplication::applicationDirPath().toStdString() + "/PagoraCliente.conexion";
  EXPECT_THAT(Escrituras(cargado, primera),
              ElementsAre(P(d::IndicadorE, "Boolean", "True"), P(d::ValorC, "Long", "3600"),
                          P(d::ValorB, "Long", "2400"), P(d::Servidor, "String", "localhost"),
                          P(d::RutaConexion, "String", ruta), P(d::Empresa, "String", "VELMOR"),
                          P(d::Local, "String", "000001"), P(d::Caja, "String", "001"),
                          P(d::IndicadorI, "Boolean", "False"), P(d::IndicadorG, "Boolean", "False"),
                          L(d::Inicializar)));
  EXPECT_TRUE(Escrituras(cargado, primera + 1).empty());
  EXPECT_THAT(Pulsado("cmdConfigurar"), ElementsAre(P(d::IndicadorE, "Boolean", "True"), L(d::Configurar)));
  EXPECT_TRUE(grabadora.avisos.empty());
}

TEST_F(Formulario, PagoraQueryWritesWhatEachOperationNeeds) {
  Escribir("mskMonto", "1,234.50");
  Escribir("txtNroDocOriginal", "  ");
  auto lineas = Pulsar("cmdPrueba");
  EXPECT_EQ(Escrituras(lineas, primera), Pagora(Tipo(0, "1234.5")));
  EXPECT_EQ(Ultimo().texto, Armar(Leido(lineas, primera), kAprobacionTarjeta));
  EXPECT_EQ(Ultimo().titulo, "Prueba");
  EXPECT_EQ(Ultimo().estilo, kEstiloResultado);
  EXPECT_EQ(Leido(lineas, primera).front().first, Hex(d::Aprobada));

  // A blank original document is passed on as typed.
  Elegir("oAnulacion");
  Elegir("oDolares");
  EXPECT_EQ(Pulsado("cmdPrueba"), Pagora(Unir(Tipo(1, "1234.5"), {P(d::NroDocOriginal, "String", "  ")}), 1));
  EXPECT_EQ(Ultimo().texto, "Transaccion NO Aprobada Falta el documento original");

  // A close passes the date field, not the amount; the amount is still required.
  Elegir("oCierre");
  Escribir("mskFecha", "01/02/2026");
  EXPECT_EQ(Pulsado("cmdPrueba"),
            Pagora({P(d::TipoOperacion, "Long", "3"), P(d::FechaCierre, "String", "01/02/2026")}, 1));
}

TEST_F(Formulario, VerificationQueryLeavesTheOperationAndAmountOfThePreviousOne) {
  Escribir("mskMonto", "20");
  Pulsar("cmdPrueba");
  EXPECT_EQ(Ultimo().texto.rfind("Transaccion Aprobada ", 0), 0u);
  Elegir("oVerificacion");
  Escribir("mskMonto", "99999");  // above the simulated limit: approval shows the old amount was used
  auto lineas = Pulsar("cmdPrueba");
  EXPECT_EQ(Escrituras(lineas, primera), Pagora({}));
  EXPECT_EQ(Ultimo().texto, Armar(Leido(lineas, primera), kAprobacionTarjeta));
}

TEST_F(Formulario, ServiceQueryWritesItsOwnSettingsAndShowsTheVoucher) {
  Escribir("mskMonto", "300");
  Escribir("txtNroDocOriginal", "77");
  auto lineas = Pulsar("cmdServicio");
  EXPECT_EQ(Escrituras(lineas, primera), Servicio(Tipo(0, "300")));
  EXPECT_EQ(Ultimo().texto, Armar(Leido(lineas, primera), {{d::CodAutorizacion, "Transaccion Aprobada "},
                                                           {d::NroCI, " CI "},
                                                           {d::NroVale, " NroVale "},
                                                           {d::DocVence, " Doc.Vence "},
                                                           {d::DocPronto, " Doc.Pronto "}}));
  Elegir("oAnulacion");
  EXPECT_EQ(Pulsado("cmdServicio"), Servicio(Unir(Tipo(1, "300"), {P(d::NroDocOriginal, "String", "77")})));
  for (const char* opcion : {"oCierre", "oVerificacion"}) {
    Elegir(opcion);
    Escribir("mskMonto", "300");
    EXPECT_EQ(Pulsado("cmdServicio"), Servicio({})) << opcion;
  }
  Escribir("mskMonto", "20000");
  Elegir("oVenta");
  lineas = Pulsar("cmdServicio");
  EXPECT_EQ(Ultimo().texto,
            Armar(Leido(lineas, primera), {{d::MensajeRespuesta, "Transaccion NO Aprobada "}}));
}

TEST_F(Formulario, AmountThatIsNotANumberStopsBothQueriesWithTheFocusOnIt) {
  for (const char* boton : {"cmdPrueba", "cmdServicio"}) {
    for (const char* opcion : {"oVenta", "oCierre", "oVerificacion"}) {
      Elegir(opcion);
      for (const char* texto : {"", "   ", "abc", "inf", "nan", "-inf", "1e999", "12..5"}) {
        Escribir("mskMonto", QString::fromLatin1(texto));
        W("txtNroDGI")->setFocus();
        EXPECT_TRUE(Pulsar(boton).empty()) << boton << " " << texto;
        EXPECT_EQ(Ultimo().texto, "Debe Especificar Monto");
        EXPECT_EQ(Ultimo().estilo, kEstiloInformacion);
        EXPECT_EQ(form->focusWidget(), W("mskMonto")) << boton << " " << texto;
      }
    }
  }
  // The display format's own negative form is a number.
  Elegir("oVenta");
  Escribir("mskMonto", "(12.50)");
  EXPECT_THAT(Pulsado("cmdPrueba"), ::testing::Contains(P(d::Monto, "Double", "-12.5")));
}

TEST_F(Formulario, CardProcessingChecksInOrderAndMovesTheFocus) {
  Elegir("oCierre");
  W("txtNroDGI")->setFocus();
  EXPECT_TRUE(Pulsar("cmdTarjeta").empty());
  EXPECT_EQ(Ultimo().texto, "Tipo de Operacion No Permitida en Metodo ProcesarTarjeta");
  EXPECT_EQ(Ultimo().estilo, kEstiloInformacion);
  EXPECT_EQ(form->focusWidget(), W("txtNroDGI"));

  struct Caso {
    const char *opcion, *monto, *documento, *original, *foco, *mensaje;
  };
  for (const Caso& c :
       {Caso{"oVenta", "", "1", "1", "mskMonto", "Debe Especificar Monto"},
        Caso{"oVenta", "10", " \t", "1", "txtDocumento", "Debe Especificar Nro Documento"},
        Caso{"oAnulacion", "x", "", "", "mskMonto", "Debe Especificar Monto"},
        Caso{"oAnulacion", "10", "", "", "txtDocumento", "Debe Especificar Nro Documento"},
        Caso{"oAnulacion", "10", "5", "  ", "txtNroDocOriginal", "Debe Especificar Nro Documento"}}) {
    Elegir(c.opcion);
    Escribir("mskMonto", c.monto);
    Escribir("txtDocumento", c.documento);
    Escribir("txtNroDocOriginal", c.original);
    W("txtNroDGI")->setFocus();
    EXPECT_TRUE(Pulsar("cmdTarjeta").empty()) << c.foco;
    EXPECT_EQ(Ultimo().texto, c.mensaje);
    EXPECT_FALSE(Ultimo().ocupado);
    EXPECT_EQ(form->focusWidget(), W(c.foco));
  }
}

TEST_F(Formulario, CardProcessingWritesTheTestCardAndShowsTheBusyPointer) {
  Elegir("oAnulacion");
  Elegir("oDolares");
  Escribir("mskMonto", "45.10");
  Escribir("txtDocumento", "123");
  Escribir("txtNroDocOriginal", " 77 ");
  auto lineas = Pulsar("cmdTarjeta");
  EXPECT_THAT(
      Escrituras(lineas, primera),
      ElementsAre(P(d::IndicadorI, "Boolean", "True"), P(d::ValorH, "Long", "1"),
                  P(d::IndicadorH, "Boolean", "True"), P(d::TextoF, "String", ""), P(d::TextoD, "String", ""),
                  P(d::TextoE, "String", ""), P(d::NumeroTarjeta, "String", ""), P(d::TextoB, "String", ""),
                  P(d::Vencimiento, "String", ""), P(d::NroCI, "String", ""), P(d::TextoC, "String", ""),
                  P(d::NumeroTarjeta, "String", "4580552701005852"), P(d::Vencimiento, "String", "1212"),
                  P(d::TipoOperacion, "Long", "1"), P(d::Monto, "Double", "45.1"), P(d::Moneda, "Long", "1"),
                  P(d::ValorF, "Byte", "0"), P(d::ValorE, "Byte", "0"), P(d::ValorG, "Byte", "1"),
                  P(d::ValorJ, "Integer", "1"), P(d::NroDocumento, "String", ""),
                  P(d::NroDocOriginal, "String", " 77 "), P(d::IndicadorH, "Boolean", "True"),
                  L(d::ProcesarTarjeta, "Boolean", "True")));
  const auto leido = Leido(lineas, primera);
  ASSERT_GE(leido.size(), 2u);
  EXPECT_EQ(leido[0].first, Hex(d::Aprobada));
  EXPECT_EQ(leido[1].first, Hex(d::TextoG));
  EXPECT_EQ(Ultimo().texto, Armar(leido, kAprobacionTarjeta));
  EXPECT_THAT(Ultimo().texto, HasSubstr(" Nro Tarjeta 4580552701005852 Vence 1212 "));
  EXPECT_TRUE(Ultimo().ocupado);
  EXPECT_NE(form->cursor().shape(), Qt::WaitCursor);

  // Verification needs neither amount nor document.
  Elegir("oVerificacion");
  Escribir("mskMonto", "");
  Escribir("txtDocumento", "");
  lineas = Pulsar("cmdTarjeta");
  EXPECT_THAT(Escrituras(lineas, primera),
              ElementsAre(P(d::IndicadorI, "Boolean", "True"), P(d::ValorH, "Long", "1"),
                          P(d::IndicadorH, "Boolean", "True"), P(d::TextoF, "String", ""),
                          P(d::TipoOperacion, "Long", "4"), L(d::ProcesarTarjeta, "Boolean", "True")));
  EXPECT_EQ(Ultimo().texto, Armar(Leido(lineas, primera), {{d::MensajeRespuesta, "Transaccion Aprobada "}}));
  EXPECT_TRUE(Ultimo().ocupado);
}

TEST_F(Formulario, CardRefusalPutsTheResponseOnASecondLine) {
  Escribir("mskMonto", "20000");
  Escribir("txtDocumento", "9");
  auto lineas = Pulsar("cmdTarjeta");  // the host refuses: True, not approved
  EXPECT_EQ(Escrituras(lineas, primera).back(), L(d::ProcesarTarjeta, "Boolean", "True"));
  EXPECT_EQ(Ultimo().texto,
            Armar(Leido(lineas, primera), {{d::MensajeRespuesta, "Transaccion no Aprobada \r\n"}}));
  EXPECT_THAT(Ultimo().texto, HasSubstr("tope"));

  setenv("PAGORA_SIMULADO_SIN_CONEXION", "1", 1);
  Crear();
  unsetenv("PAGORA_SIMULADO_SIN_CONEXION");
  for (const char* opcion : {"oVenta", "oVerificacion"}) {
    Elegir(opcion);
    Escribir("mskMonto", "10");
    Escribir("txtDocumento", "9");
    lineas = Pulsar("cmdTarjeta");  // the control fails: False
    EXPECT_EQ(Escrituras(lineas, primera).back(), L(d::ProcesarTarjeta, "Boolean", "False"));
    EXPECT_EQ(Ultimo().texto, "Transaccion no Aprobada \r\nSin comunicación con el servidor");
  }
  Pulsar("cmdCierre");
  EXPECT_EQ(Ultimo().texto, "Transaccion No Aprobada Sin comunicación con el servidor");
}

TEST_F(Formulario, CloseIgnoresDateAndAmountAndReportsTheBatch) {
  Elegir("oCierre");
  Escribir("mskMonto", "50");
  auto lineas = Pulsar("cmdCierre");
  EXPECT_THAT(Escrituras(lineas, primera),
              ElementsAre(P(d::ValorH, "Long", "1"), P(d::IndicadorF, "Boolean", "False"),
                          P(d::ValorA, "Integer", "2"), L(d::ProcesarCierre)));
  EXPECT_EQ(Ultimo().texto, Armar(Leido(lineas, primera),
                                  {{d::Lote, "Transaccion Aprobada. Lote : "}, {d::InfCierre, " Inf. "}}));
  EXPECT_EQ(Ultimo().texto, "Transaccion Aprobada. Lote : 1 Inf. Ventas 0 por 0.00, anulaciones 0 por 0.00");
}

TEST_F(Formulario, ConfirmationsPassTheDocumentAsTyped) {
  auto lineas = Pulsar("cmdConfirmar");
  EXPECT_THAT(Escrituras(lineas, primera),
              ElementsAre(P(d::NroDocumento, "String", ""), L(d::Confirmar, "Boolean", "False")));
  EXPECT_EQ(Ultimo().texto, Armar(Leido(lineas, primera), {{d::MensajeRespuesta, "Error al Confirmar : "}}));
  EXPECT_EQ(Pulsado("cmdCServicio"),
            (std::vector{P(d::NroDocumento, "String", ""), L(d::ConfirmarServicio, "Boolean", "False")}));
  EXPECT_EQ(Ultimo().texto.rfind("Error al Confirmar : ", 0), 0u);

  Escribir("mskMonto", "10");
  Escribir("txtDocumento", " 123");
  Pulsar("cmdTarjeta");
  lineas = Pulsar("cmdConfirmar");
  EXPECT_THAT(Escrituras(lineas, primera),
              ElementsAre(P(d::NroDocumento, "String", " 123"), L(d::Confirmar, "Boolean", "True")));
  EXPECT_EQ(Ultimo().texto,
            Armar(Leido(lineas, primera), {{d::CodAutorizacion, "Aprobado : "}, {d::Lote, " Lote : "}}));
  EXPECT_EQ(Ultimo().estilo, kEstiloResultado);

  Pulsar("cmdServicio");
  lineas = Pulsar("cmdCServicio");
  EXPECT_EQ(Ultimo().texto, Armar(Leido(lineas, primera),
                                  {{d::CodAutorizacion, "Aprobado : "}, {d::NroVale, " Nro.Vale : "}}));
}

TEST_F(Formulario, OptionsSwapTheAmountAndDateFrames) {
  Elegir("oCierre");
  EXPECT_TRUE(W("fmMonto")->isHidden());
  EXPECT_FALSE(W("fmCierre")->isHidden());
  EXPECT_EQ(W<QLineEdit>("mskFecha")->text(), QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")));
  Elegir("oVerificacion");
  EXPECT_FALSE(W("fmCierre")->isHidden());
  for (const char* opcion : {"oAnulacion", "oVenta"}) {
    Elegir("oCierre");
    Elegir(opcion);
    EXPECT_FALSE(W("fmMonto")->isHidden()) << opcion;
    EXPECT_TRUE(W("fmCierre")->isHidden()) << opcion;
  }
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  Elegir("oCierre");
  EXPECT_EQ(W<QLineEdit>("mskFecha")->text(), QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
  EXPECT_TRUE(grabadora.avisos.empty());
}

// Every call of an operation failing in turn: the error is shown, the pointer reset, the form usable.
TEST_F(Formulario, AnErrorAtAnyCallIsShownAndTheFormGoesOn) {
  Escribir("mskMonto", "10");
  Escribir("txtDocumento", "1");
  inyeccion->llamadas = 0;
  Pulsar("cmdTarjeta");
  const int total = inyeccion->llamadas;
  ASSERT_GT(total, 25);
  for (int n = 1; n <= total; ++n) {
    inyeccion->llamadas = 0;
    inyeccion->falla = n;
    Pulsar("cmdTarjeta");
    EXPECT_EQ(Ultimo().estilo, kEstiloDetener) << n;
    EXPECT_EQ(Ultimo().titulo, "Prueba");
    EXPECT_THAT(Ultimo().texto, HasSubstr("falla inyectada en DISPID 0x")) << n;
    EXPECT_FALSE(Ultimo().ocupado);
    EXPECT_NE(form->cursor().shape(), Qt::WaitCursor) << n;
  }
  inyeccion->falla = 0;
  Pulsar("cmdTarjeta");
  EXPECT_EQ(Ultimo().texto.rfind("Transaccion Aprobada ", 0), 0u);

  // A value that does not convert is an error too.
  inyeccion->lecturas[d::Aprobada] = Variante::Cadena("quizás");
  Pulsar("cmdCierre");
  EXPECT_EQ(Ultimo().estilo, kEstiloDetener);
  EXPECT_THAT(Ultimo().texto, HasSubstr("0x680300FB (Aprobada)"));
}

TEST_F(Formulario, ControlThatCannotBeCreatedLeavesOnlySalir) {
  Crear(Registro());
  ASSERT_EQ(grabadora.avisos.size(), 1u);
  EXPECT_EQ(grabadora.avisos[0].estilo, kEstiloDetener);
  EXPECT_EQ(grabadora.avisos[0].texto, "La clase \"Pagora.ISOPagora\" no está registrada");
  for (const char* b : {"cmdPrueba", "cmdServicio", "cmdTarjeta", "cmdCierre", "cmdConfirmar", "cmdCServicio",
                        "cmdConfigurar"})
    EXPECT_FALSE(W(b)->isEnabled()) << b;
  EXPECT_TRUE(W("cmdSalir")->isEnabled());

  // A control that is created but refuses its configuration stays usable.
  inyeccion->llamadas = 0;
  inyeccion->falla = 1;
  Crear();
  inyeccion->falla = 0;
  ASSERT_EQ(grabadora.avisos.size(), 1u);
  EXPECT_EQ(grabadora.avisos[0].estilo, kEstiloDetener);
  EXPECT_TRUE(W("cmdConfigurar")->isEnabled());
}

TEST_F(Formulario, SalirClosesTheFormReleasingTheSecondInstance) {
  ASSERT_TRUE(form->isVisible());
  auto lineas = Pulsar("cmdSalir");
  EXPECT_FALSE(form->isVisible());
  ASSERT_EQ(lineas.size(), 1u);
  EXPECT_EQ(lineas[0].clase, "liberar");
  EXPECT_EQ(lineas[0].instancia, primera + 1);
  form.reset();
  lineas = grabacion->Nuevas();
  ASSERT_EQ(lineas.size(), 1u);
  EXPECT_EQ(lineas[0].instancia, primera);
}

// What a message box showed: its text and how its text was to be read.
struct Caja {
  std::string texto;
  Qt::TextFormat formato, formatoEtiqueta;
};

// Runs accion, describing and closing every message box it opens (the timer fires inside the box's
// own event loop, and gives up after a bounded number of rounds).
std::vector<Caja> Cajas(const std::function<void()>& accion) {
  std::vector<Caja> cajas;
  QTimer reloj;
  int vueltas = 0;
  QObject::connect(&reloj, &QTimer::timeout, [&] {
    if (++vueltas > 2000) reloj.stop();
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* caja = qobject_cast<QMessageBox*>(w);
      if (caja == nullptr || !caja->isVisible()) continue;
      const auto* etiqueta = caja->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
      cajas.push_back(
          {caja->text().toStdString(), caja->textFormat(), etiqueta ? etiqueta->textFormat() : Qt::AutoText});
      caja->done(0);
    }
  });
  reloj.start(5);
  accion();
  return cajas;
}

// A control's answer or a library path that looks like markup is shown as typed, never rendered.
TEST_F(Formulario, MessageBoxesShowTheirTextPlain) {
  const std::string marcado = "<b>sin</b> lote & <i>c:\\caja</i>";
  Registro sinBiblioteca;
  sinBiblioteca.Agregar("Pagora.ISOPagora=/no/<b>existe</b>/libcontrol.so");
  std::unique_ptr<frmPrueba2> ventana;
  const auto abrir = [&](const Registro& registro) {
    ventana = std::make_unique<frmPrueba2>(
        [this, registro](const std::string& progid) {
          return std::make_unique<ControlConFalla>(registro.Crear(progid), inyeccion);
        },
        nullptr);
    ventana->Cargar();
    ventana->show();
  };
  struct Caso {
    const char* nombre;
    std::function<void()> accion;
    std::string esperado;
  };
  const std::vector<Caso> casos = {
      {"respuesta del control",
       [&] { ventana->findChild<QPushButton*>(QStringLiteral("cmdCierre"))->click(); },
       "Transaccion No Aprobada " + marcado},
      {"ruta de la biblioteca", [&] { abrir(sinBiblioteca); }, "/no/<b>existe</b>/libcontrol.so"},
  };
  abrir(RegistroSimulado());
  inyeccion->lecturas[d::Aprobada] = Variante::Booleano(false);
  inyeccion->lecturas[d::MensajeRespuesta] = Variante::Cadena(marcado);
  for (const Caso& c : casos) {
    const std::vector<Caja> cajas = Cajas(c.accion);
    ASSERT_EQ(cajas.size(), 1u) << c.nombre;
    EXPECT_THAT(cajas[0].texto, HasSubstr(c.esperado)) << c.nombre;
    EXPECT_TRUE(Qt::mightBeRichText(QString::fromStdString(cajas[0].texto))) << c.nombre;
    EXPECT_EQ(cajas[0].formato, Qt::PlainText) << c.nombre;
    EXPECT_EQ(cajas[0].formatoEtiqueta, Qt::PlainText) << c.nombre;
  }
}

TEST(Formato, AmountsFollowTheLocaleAndTheDisplayFormat) {
  const QLocale uy(QLocale::Spanish, QLocale::Uruguay), us(QLocale::English, QLocale::UnitedStates);
  EXPECT_EQ(LeerMonto(QStringLiteral("1.234,50"), uy), 1234.5);
  EXPECT_EQ(LeerMonto(QStringLiteral(" (1.234,50) "), uy), -1234.5);
  EXPECT_EQ(LeerMonto(QStringLiteral("1,234.50"), us), 1234.5);
  EXPECT_EQ(LeerMonto(QStringLiteral("-3"), us), -3);
  for (const char* t : {"", "()", "inf", "NaN", "1e400", "(inf)", "1,5.2", "$1"})
    EXPECT_EQ(LeerMonto(QString::fromLatin1(t), us), std::nullopt) << t;
  EXPECT_EQ(FormatoMonto(1234.5, us), "1,234.50");
  EXPECT_EQ(FormatoMonto(1234567.891, uy), "1.234.567,89");
  EXPECT_EQ(FormatoMonto(-3, us), "(3.00)");
  EXPECT_EQ(FormatoMonto(-0.001, us), "0.00");
  EXPECT_EQ(FormatoMonto(0, uy), "0,00");
  // What the field shows reads back as the same amount, whatever the locale.
  for (const QLocale& l : {QLocale::c(), uy, us, QLocale(QLocale::German, QLocale::Germany),
                           QLocale(QLocale::French, QLocale::France)})
    for (double v : {0.0, 7.5, -1234.56, 9876543.21})
      EXPECT_EQ(LeerMonto(FormatoMonto(v, l), l), v) << l.name().toStdString() << " " << v;
}

TEST(Formato, DatesTakeTheLocaleSeparator) {
  const QLocale de(QLocale::German, QLocale::Germany), uy(QLocale::Spanish, QLocale::Uruguay);
  EXPECT_EQ(FormatoFecha(QDate(2026, 3, 7), de), "07.03.2026");
  EXPECT_EQ(FormatoFecha(QDate(2026, 3, 7), uy), "07/03/2026");
  EXPECT_EQ(LeerFecha(QStringLiteral("7-3-26"), uy), QDate(2026, 3, 7));
  EXPECT_EQ(LeerFecha(QStringLiteral("7.3.1999"), de), QDate(1999, 3, 7));
  EXPECT_EQ(LeerFecha(QStringLiteral("31/02/2026"), uy), std::nullopt);
  EXPECT_EQ(LeerFecha(QStringLiteral("2026/03/07"), uy), std::nullopt);
}

TEST_F(Formulario, FieldsShowTheirFormatWhenEditingEnds) {
  auto* monto = W<CampoFormato>("mskMonto");
  monto->setText(QStringLiteral("-1234.5"));
  monto->Aplicar();
  EXPECT_EQ(monto->text(), "(1,234.50)");
  monto->setText(QStringLiteral("abc"));
  monto->Aplicar();
  EXPECT_EQ(monto->text(), "abc");
  auto* fecha = W<CampoFormato>("mskFecha");
  fecha->setText(QStringLiteral("1-2-2026"));
  fecha->Aplicar();
  EXPECT_EQ(fecha->text(), "01/02/2026");
}

// Qt's own texts follow the user's language: a standard OK button reads "Aceptar" in Spanish once the
// translations are loaded (and "OK" again without them); a language Qt has no translation for loads
// nothing.
TEST(Traducciones, LosBotonesDeQtHablanCastellano) {
  const auto boton = [] {
    QMessageBox caja(QMessageBox::Information, QStringLiteral("t"), QStringLiteral("x"), QMessageBox::Ok);
    return caja.button(QMessageBox::Ok)->text().remove(QLatin1Char('&')).toStdString();
  };
  QCoreApplication& app = *QCoreApplication::instance();
  EXPECT_EQ(boton(), "OK");
  EXPECT_FALSE(CargarTraduccionesQt(app, QLocale(QLocale::Swahili)));
  ASSERT_TRUE(CargarTraduccionesQt(app, QLocale(QLocale::Spanish, QLocale::Spain)))
      << "falta qt6-translations-l10n";
  EXPECT_EQ(boton(), "Aceptar");
  qDeleteAll(app.findChildren<QTranslator*>());
  EXPECT_EQ(boton(), "OK");
}

}  // namespace
}  // namespace prueba::pruebas
