// Card reading: the magnetic stripe (LeerBANDA) and the chip reader probe (LeerCHIP).
#include <string>
#include <utility>

#include "enlace.hpp"
#include "operacion.hpp"

using namespace teclon;

namespace {

bool EnBlanco(std::string_view texto) {
  return texto.find_first_not_of(' ') == texto.npos;
}

// Builds the track text from what follows "81." in the answer frame: the track 1 line (with its
// leading "B" restored) and then the track 2 line, each ended by CR; a blank field is left out.
void ArmarBanda(std::string_view resto, TextoSeguro& banda) {
  banda.Vaciar();
  std::size_t fs = resto.find(FS);
  if (fs != resto.npos && fs >= 1 && !EnBlanco(resto.substr(0, fs))) {
    banda.Agregar(resto.substr(0, fs));
    banda.Agregar(CR);
  }
  if (fs != resto.npos) resto.remove_prefix(fs + 1);
  fs = resto.find(FS);
  if (fs != resto.npos && fs >= 1 && !EnBlanco(resto.substr(0, fs))) {
    TextoSeguro linea(resto.substr(0, fs));
    linea.Agregar(CR);
    linea.Agregar(banda.Vista());
    banda = linea;
    if (std::toupper(static_cast<unsigned char>(banda[0])) != 'B') {
      TextoSeguro conB("B");
      conB.Agregar(banda.Vista());
      banda = conB;
    }
  }
}

}  // namespace

bool Manejador::LeerBANDA(std::string& Banda) {
  return LeerBandaEn(Banda);
}

// Both card reads can be cancelled: each starts with the flag down and the caller's old text wiped.
template <class Texto, class Cuerpo>
bool Manejador::LeerTarjeta(const char* prefijo, Texto& Banda, Cuerpo&& cuerpo) {
  Entrada(tcNOAprobado);
  Cancelar(false);
  Borrar(Banda);
  return Ejecutar(prefijo, true, std::forward<Cuerpo>(cuerpo));
}

template <class Texto>
bool Manejador::LeerBandaEn(Texto& Banda) {
  return LeerTarjeta("ERROR al Leer Banda - ", Banda, [&] {
    Enlace& e = *mEnlace;
    bool resultado = false;
    const auto confirmar = [&](std::string_view datos) {
      const TextoSeguro trama = ArmarTrama(datos, Formato::A);
      return e.Confirmar(trama.Vista(), true).senal;
    };
    Senal senal = confirmar("Q40");
    if (Confirma(senal)) senal = confirmar("Q1");
    if (senal == Senal::Cancelada) {
      mCodError = tcCancel;
    } else if (!Confirma(senal)) {
      mMsgError = "Error de Comunicacion con Teclon - BANDA";
    } else {
      const Respuesta respuesta = e.LeerRespuesta({25, 0, std::string_view(&ACK, 1), true});
      const TextoSeguro& trama = respuesta.trama;
      mCodError = respuesta.codigo;
      if (mCodError != tcCancel) {
        e.EnviarQ3();
        e.Enviar72();
      }
      if (!respuesta.Aceptada()) {
        if (mCodError != tcCancel) mMsgError = "Error al Leer BANDA";
      } else if (trama[0] != STX || trama.Vista().substr(1, 3) != "81.") {
        mCodError = tcNOAprobado;
        mMsgError = "Error al Leer BANDA";
      } else {
        TextoSeguro banda;
        ArmarBanda(trama.Vista().substr(4), banda);
        Poner(Banda, banda.Vista());
        mCodError = tcAprobado;
        resultado = true;
      }
    }
    if (mCodError == tcCancel) {
      e.EnviarQ3();
      e.Enviar72();
      mMsgError = "Operacion Leer BANDA Cancelada";
    }
    return resultado;
  });
}

bool Manejador::LeerCHIP(std::string& Banda) {
  return LeerTarjeta("ERROR al Leer Chip - ", Banda, [&] {
    Enlace& e = *mEnlace;
    bool resultado = false;
    const TextoSeguro inicio = ArmarTrama("I00", Formato::A);
    Senal senal = e.Confirmar(inicio.Vista(), true).senal;
    if (Confirma(senal)) {
      // The pair goes out back to back and is acknowledged once.
      TextoSeguro par = ArmarTrama("I0120", Formato::A);
      par.Agregar(ArmarTrama("I0401A0A40001029800", Formato::A).Vista());
      senal = e.Confirmar(par.Vista(), true).senal;
      if (senal == Senal::Ack) e.EnviarCadena(std::string_view(&ACK, 1));
    }
    if (senal == Senal::Cancelada)
      mCodError = tcCancel;
    else if (Confirma(senal))
      resultado = true;
    else
      mMsgError = "Error de Comunicacion con Teclon - CHIP";
    if (mCodError == tcCancel) {
      e.Enviar72();
      mMsgError = "Operacion Leer CHIP Cancelada";
    }
    return resultado;
  });
}

// The wiping destination, for the C interface.
template bool Manejador::LeerBandaEn(TextoSeguro& Banda);
