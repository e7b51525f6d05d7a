// Contrato.h: the transaction control's members as Prueba reaches them, by dispatch identifier.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "pagora_control.h"

namespace prueba {

enum class Clase { kMetodo, kPropiedad };

// kEscritura: written with `tipo` (and readable back); kLectura: filled by the control's methods.
enum class Acceso { kEscritura, kLectura };

struct Miembro {
  std::string_view nombre;
  int32_t dispid;
  Clase clase;
  int32_t tipo;  // property type or method result (PAGORA_VACIO when the method returns nothing)
  Acceso acceso;
};

namespace dispid {
constexpr int32_t Id(uint32_t valor) {
  return static_cast<int32_t>(valor);
}
// Methods
constexpr int32_t Configurar = Id(0x60030126), RealizarConsulta = Id(0x60030127),
                  Inicializar = Id(0x60030129), ProcesarTarjeta = Id(0x6003012A),
                  ProcesarCierre = Id(0x6003012D), Confirmar = Id(0x6003012E),
                  ConfirmarServicio = Id(0x60030168);
// Properties with a known role
constexpr int32_t Local = Id(0x680300D2), IdTerminal = Id(0x680300D5), CodComercio = Id(0x680300D6),
                  Lote = Id(0x680300D7), FechaCierre = Id(0x680300D8), CodAutorizacion = Id(0x680300DC),
                  Moneda = Id(0x680300E9), TipoOperacion = Id(0x680300EB), NroCI = Id(0x680300F6),
                  InfCierre = Id(0x680300F7), MensajeRespuesta = Id(0x680300F8), Aprobada = Id(0x680300FB),
                  Empresa = Id(0x680300FD), Caja = Id(0x680300FE), Vencimiento = Id(0x68030102),
                  NroDocOriginal = Id(0x68030103), NroDocumento = Id(0x68030104),
                  NumeroTarjeta = Id(0x6803010A), Monto = Id(0x6803010B), Servidor = Id(0x6803010E),
                  RutaConexion = Id(0x6803010F), DocPronto = Id(0x68030152), DocVence = Id(0x68030153),
                  NroVale = Id(0x68030154);
// Properties the form sets without showing their role
constexpr int32_t IndicadorA = Id(0x680300CD), IndicadorB = Id(0x680300CE), IndicadorC = Id(0x680300CF),
                  IndicadorD = Id(0x680300D0), IndicadorE = Id(0x680300D3), IndicadorF = Id(0x680300F0),
                  IndicadorG = Id(0x680300F3), IndicadorH = Id(0x68030111), IndicadorI = Id(0x68030116);
constexpr int32_t ValorA = Id(0x680300D9), ValorJ = Id(0x6803017A), ValorB = Id(0x680300E0),
                  ValorC = Id(0x680300E1), ValorH = Id(0x68030112), ValorI = Id(0x68030114),
                  ValorD = Id(0x680300E7), ValorE = Id(0x680300FF), ValorF = Id(0x68030100),
                  ValorG = Id(0x68030101);
constexpr int32_t TextoA = Id(0x680300AF), TextoB = Id(0x68030105), TextoC = Id(0x68030106),
                  TextoD = Id(0x68030107), TextoE = Id(0x68030108), TextoF = Id(0x68030109),
                  TextoG = Id(0x68030139);
}  // namespace dispid

// Every member, in DISPID order within each group.
std::span<const Miembro> Miembros();
std::optional<Miembro> BuscarMiembro(int32_t dispid);

// The type's name as testers read it ("String", "Boolean", "Integer", "Long", "Byte", "Double", "Empty").
std::string_view NombreTipo(int32_t tipo);

}  // namespace prueba
