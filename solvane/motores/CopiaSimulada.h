// A database described by another server's catalogue, rebuilt in memory by the simulated engine.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Motor.h"

namespace simulado {
class Servidor;
}

namespace solvane {

// One column as the catalogue describes it; `tipo` is SQL Server's type name ("varchar").
struct ColumnaDescrita {
  std::string nombre, tipo;
  int largo = 0, precision = 0, escala = 0;
  bool nulos = true;
  std::string collation;  // empty for types without one
  bool identidad = false;
  std::int64_t semilla = 1, incremento = 1;
  std::optional<std::int64_t> ultimo;  // the identity's last value handed out, none yet when empty
  std::string defecto, nombreDefecto;  // the default's definition and constraint name, or empty
};

// A primary key, a unique constraint or an index, its columns in key order.
struct IndiceDescrito {
  std::string nombre;
  enum class Clase { Primaria, Unica, Indice } clase = Clase::Indice;
  bool unico = false, agrupado = false;
  int relleno = 0;
  std::vector<std::string> columnas;
};

struct TablaDescrita {
  std::string nombre;
  std::vector<ColumnaDescrita> columnas;
  std::vector<IndiceDescrito> indices;  // constraints in the order they were made, then plain indexes
};

struct VistaDescrita {
  std::string nombre, texto;  // the whole CREATE VIEW statement
};

struct BaseDescrita {
  std::string nombre, collation;
  std::vector<TablaDescrita> tablas;  // in the order they were made
  std::vector<VistaDescrita> vistas;
};

// The copy. Built table by table, then rows, then each identity's state; the chain then runs on it through
// Motor(). Every failure is an ErrorBD.
class CopiaSimulada {
 public:
  explicit CopiaSimulada(const BaseDescrita& base);
  ~CopiaSimulada();
  CopiaSimulada(const CopiaSimulada&) = delete;
  CopiaSimulada& operator=(const CopiaSimulada&) = delete;

  // Whether the simulated engine holds a column of this type (SQL Server's name, any letter case).
  static bool TipoAdmitido(const std::string& tipo);

  void CargarFilas(const std::string& tabla, const std::vector<std::vector<ValorCampo>>& filas);
  void FijarIdentidad(const std::string& tabla, std::optional<std::int64_t> ultimo);

  // An engine over the copy, for cBaseDatos: its commits stay in memory.
  std::unique_ptr<MotorBD> Motor() const;
  // The copy as a simulated database file (written whole, atomically) that Motor=simulado opens.
  void Grabar(const std::string& archivo) const;
  std::string Volcado() const;
  // The rows or key values at fault when `sentencia` was refused with `numero` (see the engine).
  std::vector<std::string> FilasCulpables(const std::string& sentencia, long numero,
                                          std::size_t maximo) const;

 private:
  std::string nombre_;
  std::shared_ptr<simulado::Servidor> servidor_;
};

}  // namespace solvane
