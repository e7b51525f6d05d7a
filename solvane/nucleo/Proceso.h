// The operator's whole job, shared by the window's button and the console: find, connect, gate, migrate.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cActualiza.h"

namespace solvane {

inline constexpr const char* kTextoFinalizado = "Proceso Pagora Vavidev Act. BD Finalizado";

// Steps 2 to 5 of a click: titles, connection settings and the lookup of the connection file. Returns
// the file found, or "" after telling the operator that none was (a name of blanks counts as none).
std::string LocalizarConexion(cBaseDatos& bd, cMensajes& mensajes);

// Runs the sequence of one click of "Actualizar Base" (everything but the button's state) and always
// closes the connection at the end. Returns the finished flag: True only when the driver reported success.
// Errors raised on the way end as "Error Act BD - " + description, style 16. `preparar` sees the
// cActualiza before it runs (tests replace steps through it). The version's code is worked out when the
// cActualiza is created, after the connection: one that does not fit 16 bits is such an error.
bool EjecutarProceso(cBaseDatos& bd, cMensajes& mensajes, Progreso& progreso, const Bombeo& bombeo,
                     const VersionPrograma& versionPrograma = VersionPrograma(),
                     const std::function<void(cActualiza&)>& preparar = {});

// The same run on a database `bd` is already connected to (the rehearsal's copy): the gate, the question,
// the chain and the final message, with the same error path; closes the connection at the end.
bool ActualizarConectada(cBaseDatos& bd, cMensajes& mensajes, Progreso& progreso, const Bombeo& bombeo,
                         const VersionPrograma& versionPrograma = VersionPrograma(),
                         const std::function<void(cActualiza&)>& preparar = {});

// Closes the connection, ignoring every error.
void CerrarBaseDatos(cBaseDatos& bd);

// "Version 3.1.0": the program's version for the main window's label.
std::string TextoVersion();

}  // namespace solvane
