// The rehearsal's copy: a described database rebuilt in the simulated engine, its rows loaded directly.
#include "CopiaSimulada.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "MotorSimulado.h"
#include "Texto.h"
#include "motor/Archivo.h"
#include "motor/Servidor.h"

namespace solvane {

namespace {

constexpr const char* kTipos[] = {"bit",     "tinyint", "smallint", "int",           "decimal",
                                  "numeric", "char",    "varchar",  "smalldatetime", "datetime"};

template <typename F>
auto Frontera(F&& hacer) -> decltype(hacer()) {
  try {
    return hacer();
  } catch (const simulado::ErrorSql& e) {
    throw ErrorBD(e.numero, e.descripcion);
  } catch (const simulado::ErrorArchivo& e) {
    throw ErrorBD(e.errno_, e.descripcion);
  }
}

std::string Lista(const std::vector<std::string>& columnas) {
  std::string r;
  for (const auto& c : columnas) r += (r.empty() ? "" : ", ") + Corchetes(c);
  return r;
}

std::string Declaracion(const ColumnaDescrita& c) {
  std::string t = Minusculas(c.tipo);
  if (t == "char" || t == "varchar") return t + "(" + std::to_string(c.largo) + ")";
  if (t == "decimal" || t == "numeric")
    return t + "(" + std::to_string(c.precision) + ", " + std::to_string(c.escala) + ")";
  return t;
}

// The tables, their keys and indexes, then the views, in the engine's own script form: the views are taken
// as written, in the order they were made, as loading a dump takes them.
std::string Esquema(const BaseDescrita& b) {
  std::string r;
  for (const auto& t : b.tablas) {
    std::vector<std::string> lineas;
    for (const auto& c : t.columnas) {
      std::string l = "\t" + Corchetes(c.nombre) + " " + Declaracion(c);
      if (!c.collation.empty() && c.collation != b.collation) l += " COLLATE " + c.collation;
      if (c.identidad)
        l += " IDENTITY (" + std::to_string(c.semilla) + ", " + std::to_string(c.incremento) + ")";
      l += c.nulos ? " NULL" : " NOT NULL";
      if (!c.defecto.empty()) l += " CONSTRAINT " + Corchetes(c.nombreDefecto) + " DEFAULT " + c.defecto;
      lineas.push_back(std::move(l));
    }
    for (const auto& x : t.indices) {
      if (x.clase == IndiceDescrito::Clase::Indice) continue;
      std::string l = "\tCONSTRAINT " + Corchetes(x.nombre) +
                      (x.clase == IndiceDescrito::Clase::Primaria ? " PRIMARY KEY" : " UNIQUE") +
                      (x.agrupado ? " CLUSTERED" : " NONCLUSTERED") + " (" + Lista(x.columnas) + ")";
      if (x.relleno) l += " WITH FILLFACTOR = " + std::to_string(x.relleno);
      lineas.push_back(std::move(l));
    }
    r += "CREATE TABLE " + Corchetes(t.nombre) + " (\n";
    for (std::size_t i = 0; i < lineas.size(); ++i) r += lineas[i] + (i + 1 < lineas.size() ? ",\n" : "\n");
    r += ")\nGO\n";
    for (const auto& x : t.indices) {
      if (x.clase != IndiceDescrito::Clase::Indice) continue;
      r += std::string("CREATE ") + (x.unico ? "UNIQUE " : "") + (x.agrupado ? "CLUSTERED" : "NONCLUSTERED") +
           " INDEX " + Corchetes(x.nombre) + " ON " + Corchetes(t.nombre) + " (" + Lista(x.columnas) + ")";
      if (x.relleno) r += " WITH FILLFACTOR = " + std::to_string(x.relleno);
      r += "\nGO\n";
    }
  }
  for (const auto& v : b.vistas) r += v.texto + "\nGO\n";
  return r;
}

}  // namespace

bool CopiaSimulada::TipoAdmitido(const std::string& tipo) {
  const std::string t = Minusculas(tipo);
  for (const char* x : kTipos)
    if (t == x) return true;
  return false;
}

CopiaSimulada::CopiaSimulada(const BaseDescrita& base) : nombre_(base.nombre) {
  Frontera([&] {
    servidor_ = std::make_shared<simulado::Servidor>(base.nombre);
    if (!base.collation.empty()) servidor_->Collation(base.collation);
    servidor_->EjecutarScript(Esquema(base));
  });
}

CopiaSimulada::~CopiaSimulada() = default;

void CopiaSimulada::CargarFilas(const std::string& tabla, const std::vector<std::vector<ValorCampo>>& filas) {
  Frontera([&] { servidor_->CargarFilas(tabla, filas); });
}

void CopiaSimulada::FijarIdentidad(const std::string& tabla, std::optional<std::int64_t> ultimo) {
  Frontera([&] { servidor_->FijarIdentidad(tabla, ultimo); });
}

std::unique_ptr<MotorBD> CopiaSimulada::Motor() const {
  return CrearMotorEnMemoria(servidor_, "copia de " + nombre_);
}

std::string CopiaSimulada::Volcado() const {
  return servidor_->Script();
}

// A file that is not there yet is made empty first (never over one that appears meanwhile), so that it is
// written the way the engine writes its own: under its lock, through a temporary and a rename.
void CopiaSimulada::Grabar(const std::string& archivo) const {
  Frontera([&] {
    auto& os = simulado::Llamadas();
    const int fd = os.abrir(archivo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST)
      throw simulado::ErrorArchivo(errno,
                                   "No se puede crear el archivo " + archivo + ": " + std::strerror(errno));
    if (fd >= 0) os.cerrar(fd);
    simulado::ArchivoBase::Abrir(archivo)->Escribir(servidor_->Script());
  });
}

std::vector<std::string> CopiaSimulada::FilasCulpables(const std::string& sentencia, long numero,
                                                       std::size_t maximo) const {
  return servidor_->FilasCulpables(sentencia, static_cast<int>(numero), maximo);
}

}  // namespace solvane
