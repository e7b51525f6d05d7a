// Desenlace: the outcome of one run as automation reads it (solvane --salida json), and its writer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cActualiza.h"
#include "cMensajes.h"

namespace solvane {

struct Desenlace {
  enum class Fin {
    Actualizada,  // the chain ran and its version was recorded
    AlDia,        // the database already had the program's version: nothing ran
    Rechazada,    // the operator answered No
    Fallida,      // anything else: nothing was changed
  };
  Fin fin = Fin::Fallida;
  std::int16_t versionPrograma = 0;
  std::optional<std::int16_t> versionAntes;    // as read from Parametros
  std::optional<std::int16_t> versionDespues;  // what the database holds at the end, when known
  std::vector<PasoPendiente> pasos;            // the steps started; a failed chain stopped in the last one
  std::optional<long> numeroError;             // the error that stopped the run, when it had a number
  std::string textoError;                      // the message that told of it ("" unless Fallida)
  double segundos = 0;
};

// The outcome of a run from what it noted: EjecutarProceso's result, the run's Corrida and the stop and
// exclamation messages it showed. The error is the first stop message (the cause; the ones after it only
// say that the run ended), else the last exclamation (a run that ended without a stop message).
Desenlace Resumir(bool finalizado, const Corrida& corrida, const std::vector<Aviso>& avisos,
                  std::int16_t versionPrograma, double segundos);

// One JSON object on one line, ended by a line break; texts are escaped, and bytes that are not UTF-8
// become U+FFFD, so that any JSON parser reads it.
std::string DesenlaceJson(const Desenlace& desenlace);

}  // namespace solvane
