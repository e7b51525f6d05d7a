// Master-key management: set-up, key transfer with echo check, key verification and selection.
#include <string>

#include "enlace.hpp"
#include "operacion.hpp"

using namespace teclon;

bool Manejador::InicializarTECLON() {
  Entrada(tcNOAprobado);
  return Ejecutar("ERROR al Inicializar Teclon - ", false, [&] {
    Enlace& e = *mEnlace;
    const auto confirmar = [&](std::string_view datos, Formato formato) {
      mCodError = tcNOAprobado;
      const TextoSeguro trama = ArmarTrama(datos, formato);
      if (e.Confirmar(trama.Vista(), false).senal != Senal::Ack) return false;
      mCodError = tcAprobado;
      return true;
    };
    if (e.Enviar72() && confirmar(kPrompt, Formato::A) && confirmar("122", Formato::B)) return true;
    mMsgError = "Comando Inicializar Teclon No Procesado";
    return false;
  });
}

// The PIN pad acknowledges the key and echoes the whole frame; the echo is compared only once its
// check byte is in, and the exchange succeeds on the EOT that follows our ACK of a good echo.
bool Manejador::TransferirClaveMaestra(const std::string& ClaveMaestra) {
  return TransferirClave(ClaveMaestra);
}

bool Manejador::TransferirClave(std::string_view ClaveMaestra) {
  Entrada(tcNOAprobado);
  return Ejecutar("ERROR TransferirClaveMaestra - ", false, [&] {
    Enlace& e = *mEnlace;
    TextoSeguro datos("020");
    datos.Agregar(ClaveMaestra);
    const TextoSeguro trama = ArmarTrama(datos.Vista(), Formato::B);
    e.EnviarTrama(trama.Vista(), false);

    TextoSeguro buffer;
    const Enlace::Instante inicio = e.Inicio();
    bool eco = false;
    bool exito = false;
    for (;;) {
      e.Recibir(buffer);
      const std::string_view v = buffer.Vista();
      const std::size_t ack = v.find(ACK);
      const std::size_t so = ack == v.npos ? v.npos : v.find(SO, ack + 1);
      if (so != v.npos && so + 1 < v.size()) {
        if (v.substr(ack + 1) != trama.Vista()) {
          e.EnviarCadena(std::string_view(&EOT, 1));
          break;
        }
        buffer.Vaciar();
        eco = true;
        e.EnviarCadena(std::string_view(&ACK, 1));
      } else if (v.find(NAK) != v.npos) {
        break;
      } else if (v.find(EOT) != v.npos) {
        if (eco) {
          mCodError = tcAprobado;
          exito = true;
        }
        break;
      }
      e.Pausa();
      if (e.Vencida(inicio)) break;
    }
    if (!exito) mMsgError = "Comando Transferir Clave Maestra No Procesado";
    return exito;
  });
}

bool Manejador::VerificarClaveMaestra(short PosClave) {
  Entrada(tcError);
  return Ejecutar("ERROR VerificarClaveMaestra - ", false, [&] {
    Enlace& e = *mEnlace;
    const TextoSeguro trama = ArmarTrama("04" + std::to_string(PosClave), Formato::B);
    e.EnviarTrama(trama.Vista(), false);

    TextoSeguro buffer;
    const Enlace::Instante inicio = e.Inicio();
    for (;;) {
      e.Recibir(buffer);
      const std::string_view v = buffer.Vista();
      if (v.find(SO) != v.npos) {
        e.EnviarCadena(std::string_view(&ACK, 1));
        mCodError = tcNOAprobado;
        const std::size_t si = v.find(SI);
        if (si != v.npos && v.substr(si + 1, 3) == "04F") mCodError = tcAprobado;
        break;
      }
      if (v.find(NAK) != v.npos || v.find(EOT) != v.npos) break;
      e.Pausa();
      if (e.Vencida(inicio)) break;
    }
    if (mCodError == tcAprobado) return true;
    mMsgError = mCodError == tcNOAprobado ? "Falta Cargar Clave Maestra"
                                          : "Comando Verificar Clave Maestra No Procesado";
    return false;
  });
}

bool Manejador::SelClaveMaestra(short PosClave) {
  Entrada(tcNOAprobado);
  return Ejecutar("ERROR Comando SelClaveMaestra - ", false, [&] {
    const TextoSeguro trama = ArmarTrama("08" + std::to_string(PosClave), Formato::B);
    if (mEnlace->Confirmar(trama.Vista(), false).senal == Senal::Ack) {
      mCodError = tcAprobado;
      return true;
    }
    mMsgError = "Comando Sel. Clave Maestra No Procesado";
    return false;
  });
}
