// Contrato.cpp: the member table of the transaction control.
#include "Contrato.h"

#include <array>

namespace prueba {

namespace {

using enum Clase;
using enum Acceso;

constexpr Miembro M(std::string_view n, int32_t id) {
  return {n, id, kMetodo, PAGORA_VACIO, kLectura};
}
constexpr Miembro MB(std::string_view n, int32_t id) {
  return {n, id, kMetodo, PAGORA_BOOLEANO, kLectura};
}
constexpr Miembro W(std::string_view n, int32_t id, int32_t t) {
  return {n, id, kPropiedad, t, kEscritura};
}
constexpr Miembro R(std::string_view n, int32_t id, int32_t t) {
  return {n, id, kPropiedad, t, kLectura};
}

namespace d = dispid;
constexpr int32_t S = PAGORA_CADENA, B = PAGORA_BOOLEANO, I = PAGORA_ENTERO, L = PAGORA_LARGO,
                  Y = PAGORA_BYTE, D = PAGORA_DOBLE;

// The types of the read-only properties are the control's own; these are the simulated control's.
constexpr std::array kMiembros{
    M("Configurar", d::Configurar),
    M("RealizarConsulta", d::RealizarConsulta),
    M("Inicializar", d::Inicializar),
    MB("ProcesarTarjeta", d::ProcesarTarjeta),
    M("ProcesarCierre", d::ProcesarCierre),
    MB("Confirmar", d::Confirmar),
    MB("ConfirmarServicio", d::ConfirmarServicio),

    W("Local", d::Local, S),
    R("IdTerminal", d::IdTerminal, S),
    R("CodComercio", d::CodComercio, S),
    R("Lote", d::Lote, L),
    W("FechaCierre", d::FechaCierre, S),
    R("CodAutorizacion", d::CodAutorizacion, S),
    W("Moneda", d::Moneda, L),
    W("TipoOperacion", d::TipoOperacion, L),
    W("NroCI", d::NroCI, S),
    R("InfCierre", d::InfCierre, S),
    R("MensajeRespuesta", d::MensajeRespuesta, S),
    R("Aprobada", d::Aprobada, B),
    W("Empresa", d::Empresa, S),
    W("Caja", d::Caja, S),
    W("Vencimiento", d::Vencimiento, S),
    W("NroDocOriginal", d::NroDocOriginal, S),
    W("NroDocumento", d::NroDocumento, S),
    W("NumeroTarjeta", d::NumeroTarjeta, S),
    W("Monto", d::Monto, D),
    W("Servidor", d::Servidor, S),
    W("RutaConexion", d::RutaConexion, S),
    R("DocPronto", d::DocPronto, S),
    R("DocVence", d::DocVence, S),
    R("NroVale", d::NroVale, L),

    W("IndicadorA", d::IndicadorA, B),
    W("IndicadorB", d::IndicadorB, B),
    W("IndicadorC", d::IndicadorC, B),
    W("IndicadorD", d::IndicadorD, B),
    W("IndicadorE", d::IndicadorE, B),
    W("IndicadorF", d::IndicadorF, B),
    W("IndicadorG", d::IndicadorG, B),
    W("IndicadorH", d::IndicadorH, B),
    W("IndicadorI", d::IndicadorI, B),
    W("ValorA", d::ValorA, I),
    W("ValorJ", d::ValorJ, I),
    W("ValorB", d::ValorB, L),
    W("ValorC", d::ValorC, L),
    W("ValorH", d::ValorH, L),
    W("ValorI", d::ValorI, L),
    W("ValorD", d::ValorD, Y),
    W("ValorE", d::ValorE, Y),
    W("ValorF", d::ValorF, Y),
    W("ValorG", d::ValorG, Y),
    W("TextoA", d::TextoA, S),
    W("TextoB", d::TextoB, S),
    W("TextoC", d::TextoC, S),
    W("TextoD", d::TextoD, S),
    W("TextoE", d::TextoE, S),
    W("TextoF", d::TextoF, S),
    R("TextoG", d::TextoG, S),
};

}  // namespace

std::span<const Miembro> Miembros() {
  return kMiembros;
}

std::optional<Miembro> BuscarMiembro(int32_t id) {
  for (const Miembro& m : kMiembros)
    if (m.dispid == id) return m;
  return std::nullopt;
}

std::string_view NombreTipo(int32_t tipo) {
  switch (tipo) {
    case PAGORA_CADENA:
      return "String";
    case PAGORA_BOOLEANO:
      return "Boolean";
    case PAGORA_ENTERO:
      return "Integer";
    case PAGORA_LARGO:
      return "Long";
    case PAGORA_BYTE:
      return "Byte";
    case PAGORA_DOBLE:
      return "Double";
    case PAGORA_VACIO:
      return "Empty";
    default:
      return "?";
  }
}

}  // namespace prueba
