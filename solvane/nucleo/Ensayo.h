// The rehearsal: the real chain run on an exact copy of the shop's database, which is only read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cActualiza.h"
#include "cBaseDatos.h"
#include "cMensajes.h"

namespace solvane {

struct OpcionesEnsayo {
  std::string registro;  // the chain's statements on the copy, as a real run records them; "" = none
  std::string copia;     // the copy before the chain, as a simulated database file; "" = none
  Bombeo bombeo;         // the window's pending events, between tables and after each statement
};

struct PasoEnsayado {
  std::string leyenda;
  double segundos = 0;
};

// What a rehearsal found.
struct InformeEnsayo {
  enum class Fin {
    AlDia,        // nothing pending: the real run would change nothing
    Completaria,  // the real run would bring the database up to date
    Fallaria,     // the real run would stop and leave the database as it is
    SinEnsayo,    // the rehearsal itself could not be made (connection, copy); see `problema`
  };
  Fin fin = Fin::SinEnsayo;
  std::string base, servidor;
  std::int16_t versionBD = 0, versionPrograma = 0;
  std::size_t tablas = 0, vistas = 0, filas = 0;
  double segundosCopia = 0;
  std::vector<std::string> noCopiados, avisos;
  std::vector<PasoEnsayado> pasos;    // the steps the chain ran on the copy, with their time
  std::vector<std::string> mensajes;  // what the operator of the real run would read, in order
  std::optional<long> numeroError;    // the statement error that stopped the chain
  std::string textoError, sentencia;
  std::vector<std::string> culpables;  // rows or key values at fault, at most kMaximoCulpables
  std::string problema;
};

inline constexpr std::size_t kMaximoCulpables = 10;

// Connects through `bd` as a run does (connection file, lock, version gate), copies the database into the
// simulated engine reading only, disconnects, and runs the chain on the copy, answering the question
// itself. Messages about the connection go to `mensajes`; the real run's messages are in the report.
// `progreso` sees the copy's tables and the chain's steps as they go. Never throws.
InformeEnsayo Ensayar(cBaseDatos& bd, cMensajes& mensajes, Progreso& progreso, const OpcionesEnsayo& opciones,
                      const VersionPrograma& versionPrograma = VersionPrograma());

// The report for the operator, ending with the sentence that says the real database was not changed.
std::string TextoInforme(const InformeEnsayo& informe);

// 0 when the upgrade would complete or nothing is pending, 1 otherwise.
int EstadoEnsayo(const InformeEnsayo& informe);

}  // namespace solvane
