// The operator's whole job, shared by the window and the console front end.
#include "Proceso.h"

#include <memory>

#include "Conexion.h"
#include "version.h"

namespace solvane {

std::string LocalizarConexion(cBaseDatos& bd, cMensajes& mensajes) {
  mensajes.Titulo(SOLVANE_NOMBRE_PRODUCTO);
  bd.NombreAplicacion(SOLVANE_NOMBRE_PRODUCTO);
  bd.OpcionConexion1(false);
  bd.OpcionConexion2(true);
  bd.TextoConexion("");
  bd.BuscarArchivoConexion();
  std::string archivo = bd.ArchivoConexion();
  if (archivo.find_first_not_of(' ') != std::string::npos) return archivo;
  mensajes.Mostrar("No se Especifico Archivo de Conexion a Base de Datos", kEstiloExclamacion);
  return {};
}

bool EjecutarProceso(cBaseDatos& bd, cMensajes& mensajes, Progreso& progreso, const Bombeo& bombeo,
                     const VersionPrograma& versionPrograma,
                     const std::function<void(cActualiza&)>& preparar) {
  bool conectada = false;
  try {
    conectada = !LocalizarConexion(bd, mensajes).empty() && bd.Conectar();
  } catch (const std::exception& e) {
    mensajes.Mostrar("Error Act BD - " + OcultarClaves(e.what()), kEstiloStop);
  }
  if (!conectada) {
    CerrarBaseDatos(bd);
    return false;
  }
  return ActualizarConectada(bd, mensajes, progreso, bombeo, versionPrograma, preparar);
}

bool ActualizarConectada(cBaseDatos& bd, cMensajes& mensajes, Progreso& progreso, const Bombeo& bombeo,
                         const VersionPrograma& versionPrograma,
                         const std::function<void(cActualiza&)>& preparar) {
  bool finalizado = false;
  try {
    auto actualiza = std::make_unique<cActualiza>(bd, mensajes, progreso, bombeo, versionPrograma.Codigo());
    if (preparar) preparar(*actualiza);
    if (actualiza->ActualizaVersion()) {
      actualiza.reset();
      finalizado = true;
      mensajes.Mostrar(kTextoFinalizado, kEstiloInfo);
    }
  } catch (const ErrorBD& e) {
    mensajes.Mostrar("Error Act BD - " + OcultarClaves(e.Descripcion), kEstiloStop, e.Numero);
  } catch (const std::exception& e) {
    mensajes.Mostrar("Error Act BD - " + OcultarClaves(e.what()), kEstiloStop);
  }
  CerrarBaseDatos(bd);
  return finalizado;
}

void CerrarBaseDatos(cBaseDatos& bd) {
  try {
    bd.Desconectar();
  } catch (...) {
  }
}

std::string TextoVersion() {
  return "Version " + std::to_string(SOLVANE_VERSION_MAYOR) + "." + std::to_string(SOLVANE_VERSION_MENOR) +
         "." + std::to_string(SOLVANE_VERSION_REVISION);
}

}  // namespace solvane
