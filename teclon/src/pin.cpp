// The PIN pad's idle prompt (CargarPROMPT) and PIN entry (IngresarPIN).
#include <string>

#include "enlace.hpp"
#include "operacion.hpp"

using namespace teclon;

bool Manejador::CargarPROMPT() {
  Entrada(tcNOAprobado);
  return Ejecutar("ERROR al Cargar PROMPT - ", true, [&] {
    const TextoSeguro trama = ArmarTrama(kPrompt, Formato::A);
    if (mEnlace->Confirmar(trama.Vista(), false).senal == Senal::Ack) {
      mCodError = tcAprobado;
      return true;
    }
    mMsgError = "Comando Cargar PROMPT No Procesado";
    return false;
  });
}

bool Manejador::IngresarPIN(const std::string& NroTarjeta, const std::string& ClaveTrabajo,
                            const std::string& Mensaje1, const std::string& Mensaje2, std::string& NroPIN) {
  return IngresarPinEn(NroTarjeta, ClaveTrabajo, Mensaje1, Mensaje2, NroPIN);
}

template <class Texto>
bool Manejador::IngresarPinEn(std::string_view NroTarjeta, std::string_view ClaveTrabajo,
                              std::string_view Mensaje1, std::string_view Mensaje2, Texto& NroPIN) {
  Entrada(tcNOAprobado);
  Borrar(NroPIN);
  return Ejecutar("ERROR al Ingresar PIN - ", true, [&] {
    Enlace& e = *mEnlace;
    const TextoSeguro seleccion = ArmarTrama("080", Formato::B);
    if (!Confirma(e.Confirmar(seleccion.Vista(), false).senal)) {
      mMsgError = "Error de Comunicacion con Teclon 1";
      return false;
    }

    TextoSeguro datos("Z62.");
    datos.Agregar(NroTarjeta);
    datos.Agregar(FS);
    datos.Agregar(ClaveTrabajo);
    datos.Agregar("0404N");
    datos.Agregar(Mensaje1);
    datos.Agregar(FS);
    datos.Agregar(Mensaje2);
    datos.Agregar(FS);
    const TextoSeguro pedido = ArmarTrama(datos.Vista(), Formato::A);

    // An EOT counts only once the PIN pad has refused a send with NAK; a wait that timed out after
    // other characters sends again, and that send counts as an attempt (so there are three sends at
    // most) but is no refusal: an EOT after it is still ignored.
    int intentos = 1;
    bool rehusado = false;
    bool confirmado = false;
    for (;;) {
      const Confirmacion respuesta = e.Confirmar(pedido.Vista(), false, !rehusado);
      if (respuesta.senal == Senal::Ack) {
        confirmado = true;
        break;
      }
      if (respuesta.senal == Senal::Eot || !respuesta.recibioAlgo) break;
      if (respuesta.senal == Senal::Nak) rehusado = true;
      if (++intentos > 3) break;
    }
    if (!confirmado) {
      mCodError = tcError;
      mMsgError = "Error de Comunicacion con Teclon 2";
      return false;
    }

    static constexpr char kAckEot[] = {ACK, EOT};
    const Respuesta respuesta = e.LeerRespuesta({27, 27, std::string_view(kAckEot, 2), false});
    mCodError = respuesta.codigo;
    e.Enviar72();
    if (!respuesta.Aceptada()) {
      mMsgError = mCodError == tcCancel ? "Operacion Ingreso PIN Cancelada" : "Error en Ingreso de PIN";
      return false;
    }
    const TextoSeguro& trama = respuesta.trama;
    if (trama[0] != STX || trama.Vista().substr(1, 3) != "71.") {
      mCodError = tcNOAprobado;
      mMsgError = "Error en Ingreso de PIN";
      return false;
    }
    mCodError = tcAprobado;
    Poner(NroPIN, trama.Vista().substr(9, 16));
    return true;
  });
}

// The wiping destination, for the C interface.
template bool Manejador::IngresarPinEn(std::string_view, std::string_view, std::string_view, std::string_view,
                                       TextoSeguro&);
