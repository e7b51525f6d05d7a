// Operaciones.cpp: what each button writes to the transaction control and how its answer is shown.
#include "Operaciones.h"

#include <QLocale>
#include <QString>
#include <filesystem>

#include "Formato.h"

namespace prueba {

namespace {

constexpr const char* kDebeMonto = "Debe Especificar Monto";
constexpr const char* kDebeDocumento = "Debe Especificar Nro Documento";
constexpr const char* kTarjetaPrueba = "4580552701005852";
constexpr const char* kVencimientoPrueba = "1212";

bool EnBlanco(const std::string& s) {
  return QString::fromStdString(s).trimmed().isEmpty();
}

// Sets the busy pointer for its lifetime, so every path out resets it.
class Ocupado {
 public:
  explicit Ocupado(Vista& v) : v_(v) { v_.Ocupado(true); }
  ~Ocupado() { v_.Ocupado(false); }
  Ocupado(const Ocupado&) = delete;
  Ocupado& operator=(const Ocupado&) = delete;

 private:
  Vista& v_;
};

}  // namespace

std::string Operaciones::RutaConexion(const std::string& carpeta) {
  return carpeta + static_cast<char>(std::filesystem::path::preferred_separator) + kArchivoConexion;
}

std::optional<double> Operaciones::Monto() const {
  return LeerMonto(QString::fromStdString(vista_.Monto()), QLocale());
}

bool Operaciones::ExigirMonto() {
  if (Monto()) return true;
  Informar(kDebeMonto);
  vista_.Foco(Campo::kMonto);
  return false;
}

void Operaciones::ConfigurarControl(const std::string& carpeta) {
  c_.IndicadorE(true);
  c_.ValorC(3600);
  c_.ValorB(2400);
  c_.Servidor(kServidor);
  c_.RutaConexion(RutaConexion(carpeta));
  c_.Empresa("VELMOR");
  c_.Local("000001");
  c_.Caja("001");
  c_.IndicadorI(false);
  c_.IndicadorG(false);
  c_.Inicializar();
}

void Operaciones::Configurar() {
  c_.IndicadorE(true);
  c_.Configurar();
}

// The amount is its only check, whatever the operation; a verification writes neither the operation
// nor the amount, so the control keeps those of the previous operation.
void Operaciones::ConsultaPagora() {
  if (!ExigirMonto()) return;
  c_.ValorI(1);
  c_.ValorH(1);
  switch (vista_.Elegida()) {
    case Operacion::kVenta:
      c_.TipoOperacion(0);
      c_.Monto(*Monto());
      break;
    case Operacion::kAnulacion:
      c_.TipoOperacion(1);
      c_.Monto(*Monto());
      c_.NroDocOriginal(vista_.NroDocOriginal());
      break;
    case Operacion::kCierre:
      c_.TipoOperacion(3);
      c_.FechaCierre(vista_.Fecha());
      break;
    case Operacion::kVerificacion:
      break;
  }
  c_.Moneda(Moneda());
  c_.IndicadorD(false);
  c_.IndicadorB(false);
  c_.IndicadorC(false);
  c_.IndicadorA(false);
  c_.ValorG(1);
  c_.ValorF(0);
  c_.TextoF("");
  c_.TextoE("");
  c_.TextoD("");
  c_.NumeroTarjeta("");
  c_.Vencimiento("");
  c_.ValorA(0);
  c_.NroDocumento("");
  c_.RealizarConsulta();
  if (c_.Aprobada())
    Resultado(AprobacionTarjeta());
  else
    Resultado("Transaccion NO Aprobada " + c_.MensajeRespuesta());
}

void Operaciones::ConsultaServicio() {
  if (!ExigirMonto()) return;
  c_.ValorI(9);
  c_.ValorH(6);
  const Operacion op = vista_.Elegida();
  if (op == Operacion::kVenta || op == Operacion::kAnulacion) {
    c_.TipoOperacion(op == Operacion::kVenta ? 0 : 1);
    c_.Monto(*Monto());
    if (op == Operacion::kAnulacion) c_.NroDocOriginal(vista_.NroDocOriginal());
  }
  c_.Moneda(Moneda());
  c_.IndicadorD(false);
  c_.IndicadorC(false);
  c_.IndicadorB(false);
  c_.TextoA("NAD");
  c_.ValorD(11);
  c_.ValorA(3);
  c_.NroDocumento("");
  c_.RealizarConsulta();
  if (!c_.Aprobada()) return Resultado("Transaccion NO Aprobada " + c_.MensajeRespuesta());
  // Each piece is read in the order it appears.
  std::string m = "Transaccion Aprobada " + c_.CodAutorizacion();
  m += " CI " + c_.NroCI();
  m += " NroVale " + c_.NroVale();
  m += " Doc.Vence " + c_.DocVence();
  m += " Doc.Pronto " + c_.DocPronto();
  Resultado(m);
}

// The document number is required here but not passed: it reaches the control through "Confirmar".
void Operaciones::ProcesarTarjeta() {
  const Operacion op = vista_.Elegida();
  if (op == Operacion::kCierre) return Informar("Tipo de Operacion No Permitida en Metodo ProcesarTarjeta");
  if (op != Operacion::kVerificacion) {
    if (!ExigirMonto()) return;
    if (EnBlanco(vista_.Documento())) {
      Informar(kDebeDocumento);
      return vista_.Foco(Campo::kDocumento);
    }
  }
  if (op == Operacion::kAnulacion && EnBlanco(vista_.NroDocOriginal())) {
    Informar(kDebeDocumento);
    return vista_.Foco(Campo::kNroDocOriginal);
  }
  Ocupado ocupado(vista_);
  c_.IndicadorI(true);
  c_.ValorH(1);
  c_.IndicadorH(true);
  if (op == Operacion::kVerificacion) {
    c_.TextoF("");
    c_.TipoOperacion(4);
    if (c_.ProcesarTarjeta())
      Resultado("Transaccion Aprobada " + c_.MensajeRespuesta());
    else
      RechazoTarjeta();
    return;
  }
  c_.TextoF("");
  c_.TextoD("");
  c_.TextoE("");
  c_.NumeroTarjeta("");
  c_.TextoB("");
  c_.Vencimiento("");
  c_.NroCI("");
  c_.TextoC("");
  c_.NumeroTarjeta(kTarjetaPrueba);
  c_.Vencimiento(kVencimientoPrueba);
  c_.TipoOperacion(op == Operacion::kVenta ? 0 : 1);
  c_.Monto(*Monto());
  c_.Moneda(Moneda());
  c_.ValorF(0);
  c_.ValorE(0);
  c_.ValorG(1);
  c_.ValorJ(1);
  c_.NroDocumento("");
  c_.NroDocOriginal(vista_.NroDocOriginal());
  c_.IndicadorH(true);
  if (c_.ProcesarTarjeta() && c_.Aprobada()) {
    c_.TextoG();
    Resultado(AprobacionTarjeta());
  } else {
    RechazoTarjeta();
  }
}

// Neither the close date nor the amount is passed.
void Operaciones::ProcesarCierre() {
  c_.ValorH(1);
  c_.IndicadorF(false);
  c_.ValorA(2);
  c_.ProcesarCierre();
  if (!c_.Aprobada()) return Resultado("Transaccion No Aprobada " + c_.MensajeRespuesta());
  std::string m = "Transaccion Aprobada. Lote : " + c_.Lote();
  m += " Inf. " + c_.InfCierre();
  Resultado(m);
}

void Operaciones::Confirmar() {
  Confirmacion(&ISOPagora::Confirmar, " Lote : ", &ISOPagora::Lote);
}

void Operaciones::ConfirmarServicio() {
  Confirmacion(&ISOPagora::ConfirmarServicio, " Nro.Vale : ", &ISOPagora::NroVale);
}

// The authorisation code is read before the second piece, in the order the message shows them.
void Operaciones::Confirmacion(bool (ISOPagora::*confirmar)(), const char* rotulo,
                               std::string (ISOPagora::*segundo)()) {
  c_.NroDocumento(vista_.Documento());
  if (!(c_.*confirmar)()) return Resultado("Error al Confirmar : " + c_.MensajeRespuesta());
  std::string m = "Aprobado : " + c_.CodAutorizacion();
  m += rotulo + (c_.*segundo)();
  Resultado(m);
}

std::string Operaciones::AprobacionTarjeta() {
  std::string m = "Transaccion Aprobada " + c_.CodAutorizacion();
  m += " Nro Tarjeta " + c_.NumeroTarjeta();
  m += " Vence " + c_.Vencimiento();
  m += " Cod. Comercio " + c_.CodComercio();
  m += " IdTerminal " + c_.IdTerminal();
  return m;
}

void Operaciones::RechazoTarjeta() {
  Resultado("Transaccion no Aprobada \r\n" + c_.MensajeRespuesta());
}

}  // namespace prueba
