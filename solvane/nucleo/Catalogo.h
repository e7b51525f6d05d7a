// Reading a SQL Server database's structure from its catalogue views, and copying its rows, for a rehearsal.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "motores/CopiaSimulada.h"
#include "motores/Motor.h"

namespace solvane {

// The structure of the database `origen` is connected to, read with plain SELECTs of the catalogue views
// that SQL Server 2008 and later answer (sys.databases, sys.schemas, sys.objects, sys.tables, sys.views,
// sys.columns, sys.types, sys.identity_columns, sys.default_constraints, sys.key_constraints,
// sys.indexes, sys.index_columns, sys.sql_modules, sys.data_spaces). What the simulated engine cannot
// hold is left out and named in `noCopiados` with the reason; what it holds differently, in `avisos`.
struct Catalogo {
  BaseDescrita base;
  std::vector<std::string> noCopiados, avisos;
};
Catalogo LeerCatalogo(MotorBD& origen);

// Every row of every table of `base`, read from `origen` with plain SELECTs and loaded into `copia`,
// then each identity's state. `aviso` is told of each table before it is read and gets its row count
// after. Throws ErrorBD naming the table whose reading failed.
std::size_t CopiarFilas(MotorBD& origen, const BaseDescrita& base, CopiaSimulada& copia,
                        const std::function<void(const std::string& tabla, std::size_t filas)>& aviso);

}  // namespace solvane
