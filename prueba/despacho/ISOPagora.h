// ISOPagora.h: typed members of the transaction control, so that callers never write a DISPID.
#pragma once

#include <memory>
#include <string>

#include "Contrato.h"
#include "Control.h"

namespace prueba {

inline constexpr const char* kProgId = "Pagora.ISOPagora";

// Each setter puts its property with the member's own type; each reader returns the value as text
// (Aprobada as a Boolean). Every call may throw ErrorControl.
class ISOPagora {
 public:
  explicit ISOPagora(std::unique_ptr<Control> control) : control_(std::move(control)) {}

  // Methods
  void Configurar() { control_->Llamar(dispid::Configurar); }
  void RealizarConsulta() { control_->Llamar(dispid::RealizarConsulta); }
  void Inicializar() { control_->Llamar(dispid::Inicializar); }
  void ProcesarCierre() { control_->Llamar(dispid::ProcesarCierre); }
  bool ProcesarTarjeta() {
    return Booleano(dispid::ProcesarTarjeta, control_->Llamar(dispid::ProcesarTarjeta));
  }
  bool Confirmar() { return Booleano(dispid::Confirmar, control_->Llamar(dispid::Confirmar)); }
  bool ConfirmarServicio() {
    return Booleano(dispid::ConfirmarServicio, control_->Llamar(dispid::ConfirmarServicio));
  }

  // Written properties
  void Local(const std::string& v) { Cadena(dispid::Local, v); }
  void FechaCierre(const std::string& v) { Cadena(dispid::FechaCierre, v); }
  void Moneda(int32_t v) { control_->Poner(dispid::Moneda, Variante::Largo(v)); }
  void TipoOperacion(int32_t v) { control_->Poner(dispid::TipoOperacion, Variante::Largo(v)); }
  void NroCI(const std::string& v) { Cadena(dispid::NroCI, v); }
  void Empresa(const std::string& v) { Cadena(dispid::Empresa, v); }
  void Caja(const std::string& v) { Cadena(dispid::Caja, v); }
  void Vencimiento(const std::string& v) { Cadena(dispid::Vencimiento, v); }
  void NroDocOriginal(const std::string& v) { Cadena(dispid::NroDocOriginal, v); }
  void NroDocumento(const std::string& v) { Cadena(dispid::NroDocumento, v); }
  void NumeroTarjeta(const std::string& v) { Cadena(dispid::NumeroTarjeta, v); }
  void Monto(double v) { control_->Poner(dispid::Monto, Variante::Doble(v)); }
  void Servidor(const std::string& v) { Cadena(dispid::Servidor, v); }
  void RutaConexion(const std::string& v) { Cadena(dispid::RutaConexion, v); }

  void IndicadorA(bool v) { Bool(dispid::IndicadorA, v); }
  void IndicadorB(bool v) { Bool(dispid::IndicadorB, v); }
  void IndicadorC(bool v) { Bool(dispid::IndicadorC, v); }
  void IndicadorD(bool v) { Bool(dispid::IndicadorD, v); }
  void IndicadorE(bool v) { Bool(dispid::IndicadorE, v); }
  void IndicadorF(bool v) { Bool(dispid::IndicadorF, v); }
  void IndicadorG(bool v) { Bool(dispid::IndicadorG, v); }
  void IndicadorH(bool v) { Bool(dispid::IndicadorH, v); }
  void IndicadorI(bool v) { Bool(dispid::IndicadorI, v); }

  void ValorA(int16_t v) { control_->Poner(dispid::ValorA, Variante::Entero(v)); }
  void ValorJ(int16_t v) { control_->Poner(dispid::ValorJ, Variante::Entero(v)); }
  void ValorB(int32_t v) { control_->Poner(dispid::ValorB, Variante::Largo(v)); }
  void ValorC(int32_t v) { control_->Poner(dispid::ValorC, Variante::Largo(v)); }
  void ValorH(int32_t v) { control_->Poner(dispid::ValorH, Variante::Largo(v)); }
  void ValorI(int32_t v) { control_->Poner(dispid::ValorI, Variante::Largo(v)); }
  void ValorD(uint8_t v) { control_->Poner(dispid::ValorD, Variante::Byte(v)); }
  void ValorE(uint8_t v) { control_->Poner(dispid::ValorE, Variante::Byte(v)); }
  void ValorF(uint8_t v) { control_->Poner(dispid::ValorF, Variante::Byte(v)); }
  void ValorG(uint8_t v) { control_->Poner(dispid::ValorG, Variante::Byte(v)); }

  void TextoA(const std::string& v) { Cadena(dispid::TextoA, v); }
  void TextoB(const std::string& v) { Cadena(dispid::TextoB, v); }
  void TextoC(const std::string& v) { Cadena(dispid::TextoC, v); }
  void TextoD(const std::string& v) { Cadena(dispid::TextoD, v); }
  void TextoE(const std::string& v) { Cadena(dispid::TextoE, v); }
  void TextoF(const std::string& v) { Cadena(dispid::TextoF, v); }

  // Read properties
  std::string IdTerminal() { return Texto(dispid::IdTerminal); }
  std::string CodComercio() { return Texto(dispid::CodComercio); }
  std::string Lote() { return Texto(dispid::Lote); }
  std::string CodAutorizacion() { return Texto(dispid::CodAutorizacion); }
  std::string NroCI() { return Texto(dispid::NroCI); }
  std::string InfCierre() { return Texto(dispid::InfCierre); }
  std::string MensajeRespuesta() { return Texto(dispid::MensajeRespuesta); }
  std::string Vencimiento() { return Texto(dispid::Vencimiento); }
  std::string NumeroTarjeta() { return Texto(dispid::NumeroTarjeta); }
  std::string DocPronto() { return Texto(dispid::DocPronto); }
  std::string DocVence() { return Texto(dispid::DocVence); }
  std::string NroVale() { return Texto(dispid::NroVale); }
  std::string TextoG() { return Texto(dispid::TextoG); }
  bool Aprobada() { return Booleano(dispid::Aprobada, control_->Obtener(dispid::Aprobada)); }

 private:
  void Cadena(int32_t id, const std::string& v) { control_->Poner(id, Variante::Cadena(v)); }
  void Bool(int32_t id, bool v) { control_->Poner(id, Variante::Booleano(v)); }
  std::string Texto(int32_t id) { return control_->Obtener(id).Texto(); }
  // A value without a Boolean meaning is a type mismatch of that member.
  static bool Booleano(int32_t id, const Variante& v);

  std::unique_ptr<Control> control_;
};

}  // namespace prueba
