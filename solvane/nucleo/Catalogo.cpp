// The catalogue reader of the rehearsal: SQL Server's sys views into a described database, then its rows.
#include "Catalogo.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "motores/Texto.h"

namespace solvane {

namespace {

using Fila = std::vector<ValorCampo>;

// A whole catalogue view, its rows as text.
std::vector<Fila> Leer(MotorBD& m, const std::string& sentencia) {
  std::vector<Fila> r;
  m.Recorrer(sentencia, [&](const Fila& f) {
    r.push_back(f);
    return true;
  });
  return r;
}

std::string Texto(const Fila& f, std::size_t i) {
  return i < f.size() && f[i] ? *f[i] : std::string();
}
long long Numero(const Fila& f, std::size_t i) {
  return std::atoll(Texto(f, i).c_str());
}
bool Nulo(const Fila& f, std::size_t i) {
  return i >= f.size() || !f[i];
}
bool Si(const Fila& f, std::size_t i) {
  return Numero(f, i) != 0;
}

// Objects listed in the order they were made: by creation date, then by id.
struct Objeto {
  long long id = 0;
  std::string nombre, tipo, descripcion, creado;
  long long esquema = 0, padre = 0;
  bool delSistema = false;
};
bool Antes(const Objeto* a, const Objeto* b) {
  return a->creado != b->creado ? a->creado < b->creado : a->id < b->id;
}

struct Lectura {
  std::map<long long, Objeto> objetos;
  std::map<long long, std::string> esquemas, tipos, grupos;
  std::map<long long, std::vector<Fila>> columnas, indices, indiceCols;
  std::map<std::pair<long long, long long>, Fila> identidades;
  std::map<long long, Fila> defectos;
  std::map<long long, std::string> modulos;
  long long grupoPorDefecto = 1;
};

constexpr const char* kConsultaColumnas =
    "SELECT object_id, name, column_id, system_type_id, user_type_id, max_length, precision, scale, "
    "collation_name, is_nullable, is_identity, is_computed, default_object_id FROM sys.columns";
enum {
  cObjeto,
  cNombre,
  cId,
  cSistema,
  cUsuario,
  cLargo,
  cPrecision,
  cEscala,
  cCollation,
  cNulos,
  cIdentidad,
  cCalculada,
  cDefecto
};

constexpr const char* kConsultaIndices =
    "SELECT object_id, name, index_id, type, is_unique, is_primary_key, is_unique_constraint, fill_factor, "
    "data_space_id, is_disabled, is_hypothetical, has_filter FROM sys.indexes";
enum {
  iObjeto,
  iNombre,
  iId,
  iTipo,
  iUnico,
  iPrimaria,
  iRestriccion,
  iRelleno,
  iGrupo,
  iApagado,
  iHipotetico,
  iFiltro
};

Lectura LeerVistas(MotorBD& m) {
  Lectura l;
  for (const auto& f : Leer(m, "SELECT schema_id, name FROM sys.schemas"))
    l.esquemas[Numero(f, 0)] = Texto(f, 1);
  for (const auto& f : Leer(m,
                            "SELECT object_id, name, schema_id, type, type_desc, parent_object_id, "
                            "create_date, is_ms_shipped FROM sys.objects")) {
    Objeto o;
    o.id = Numero(f, 0);
    o.nombre = Texto(f, 1);
    o.esquema = Numero(f, 2);
    o.tipo = Recortar(Texto(f, 3), kEspacios);
    o.descripcion = Texto(f, 4);
    o.padre = Numero(f, 5);
    o.creado = Texto(f, 6);
    o.delSistema = Si(f, 7);
    l.objetos[o.id] = o;
  }
  for (const auto& f : Leer(m, "SELECT user_type_id, name FROM sys.types"))
    l.tipos[Numero(f, 0)] = Texto(f, 1);
  for (const auto& f : Leer(m, kConsultaColumnas)) l.columnas[Numero(f, cObjeto)].push_back(f);
  for (const auto& f : Leer(m,
                            "SELECT object_id, column_id, seed_value, increment_value, last_value FROM "
                            "sys.identity_columns"))
    l.identidades[{Numero(f, 0), Numero(f, 1)}] = f;
  for (const auto& f : Leer(m, "SELECT object_id, name, definition FROM sys.default_constraints"))
    l.defectos[Numero(f, 0)] = f;
  for (const auto& f : Leer(m, kConsultaIndices)) l.indices[Numero(f, iObjeto)].push_back(f);
  for (const auto& f : Leer(m,
                            "SELECT object_id, index_id, column_id, key_ordinal, is_descending_key, "
                            "is_included_column FROM sys.index_columns"))
    l.indiceCols[Numero(f, 0) * 100000 + Numero(f, 1)].push_back(f);
  for (const auto& f : Leer(m, "SELECT object_id, definition FROM sys.sql_modules"))
    if (!Nulo(f, 1)) l.modulos[Numero(f, 0)] = Texto(f, 1);
  for (const auto& f : Leer(m, "SELECT data_space_id, name, is_default FROM sys.data_spaces")) {
    l.grupos[Numero(f, 0)] = Texto(f, 1);
    if (Si(f, 2)) l.grupoPorDefecto = Numero(f, 0);
  }
  return l;
}

// One column; empty when the engine cannot hold it, with the reason in `motivo`.
std::optional<ColumnaDescrita> Columna(const Lectura& l, long long tabla, const Fila& f,
                                       std::string& motivo) {
  ColumnaDescrita c;
  c.nombre = Texto(f, cNombre);
  const auto base = l.tipos.find(Numero(f, cSistema));
  const auto propio = l.tipos.find(Numero(f, cUsuario));
  c.tipo = base != l.tipos.end() ? base->second : std::string();
  if (Si(f, cCalculada)) {
    motivo = "la columna " + c.nombre + " es calculada";
    return std::nullopt;
  }
  if (!CopiaSimulada::TipoAdmitido(c.tipo)) {
    motivo = "la columna " + c.nombre + " es de tipo " +
             (propio != l.tipos.end() ? propio->second : "desconocido") + ", que el motor simulado no tiene";
    return std::nullopt;
  }
  c.largo = static_cast<int>(Numero(f, cLargo));
  if ((Minusculas(c.tipo) == "char" || Minusculas(c.tipo) == "varchar") && c.largo <= 0) {
    motivo = "la columna " + c.nombre + " es " + c.tipo + "(max), que el motor simulado no tiene";
    return std::nullopt;
  }
  c.precision = static_cast<int>(Numero(f, cPrecision));
  c.escala = static_cast<int>(Numero(f, cEscala));
  c.nulos = Si(f, cNulos);
  c.collation = Texto(f, cCollation);
  c.identidad = Si(f, cIdentidad);
  if (c.identidad) {
    const auto i = l.identidades.find({tabla, Numero(f, cId)});
    if (i != l.identidades.end()) {
      c.semilla = Numero(i->second, 2);
      c.incremento = Numero(i->second, 3);
      if (!Nulo(i->second, 4)) c.ultimo = Numero(i->second, 4);
    }
  }
  if (const auto d = l.defectos.find(Numero(f, cDefecto)); d != l.defectos.end()) {
    c.nombreDefecto = Texto(d->second, 1);
    c.defecto = Texto(d->second, 2);
  }
  return c;
}

// The table's keys and indexes; those the engine cannot hold go to `noCopiados`, details it drops to
// `avisos`.
void Indices(const Lectura& l, const Objeto& t, const std::map<long long, std::string>& nombresCol,
             TablaDescrita& d, Catalogo& r) {
  const auto it = l.indices.find(t.id);
  if (it == l.indices.end()) return;
  std::vector<std::pair<const Objeto*, IndiceDescrito>> restricciones;
  std::vector<std::pair<long long, IndiceDescrito>> planos;
  for (const Fila& f : it->second) {
    const long long id = Numero(f, iId);
    if (id == 0 || Si(f, iHipotetico)) continue;
    const std::string nombre = t.nombre + "." + Texto(f, iNombre);
    const long long tipo = Numero(f, iTipo);
    if ((tipo != 1 && tipo != 2) || Si(f, iFiltro) || Si(f, iApagado)) {
      r.noCopiados.push_back("índice " + nombre + ": " +
                             (Si(f, iFiltro) ? std::string("filtrado")
                              : Si(f, iApagado)
                                  ? std::string("deshabilitado")
                                  : "de un tipo (" + std::to_string(tipo) + ") que el motor no tiene"));
      continue;
    }
    IndiceDescrito x;
    x.nombre = Texto(f, iNombre);
    x.unico = Si(f, iUnico);
    x.agrupado = tipo == 1;
    x.relleno = static_cast<int>(Numero(f, iRelleno));
    x.clase = Si(f, iPrimaria)      ? IndiceDescrito::Clase::Primaria
              : Si(f, iRestriccion) ? IndiceDescrito::Clase::Unica
                                    : IndiceDescrito::Clase::Indice;
    if (Numero(f, iGrupo) != l.grupoPorDefecto) {
      const auto g = l.grupos.find(Numero(f, iGrupo));
      r.avisos.push_back("índice " + nombre + ": está en el grupo de archivos " +
                         (g != l.grupos.end() ? g->second : std::to_string(Numero(f, iGrupo))) +
                         ", que la copia no distingue");
    }
    auto cols = l.indiceCols.find(t.id * 100000 + id);
    std::vector<std::pair<long long, std::string>> clave;
    if (cols != l.indiceCols.end())
      for (const Fila& c : cols->second) {
        const auto n = nombresCol.find(Numero(c, 2));
        const std::string col = n != nombresCol.end() ? n->second : "?";
        if (Si(c, 5)) {
          r.avisos.push_back("índice " + nombre + ": se copia sin su columna incluida " + col);
          continue;
        }
        if (Si(c, 4))
          r.avisos.push_back("índice " + nombre + ": la columna " + col + " se copia en orden ascendente");
        clave.emplace_back(Numero(c, 3), col);
      }
    std::sort(clave.begin(), clave.end());
    for (auto& [orden, col] : clave) x.columnas.push_back(col);
    if (x.clase == IndiceDescrito::Clase::Indice) {
      planos.emplace_back(id, std::move(x));
    } else {
      const Objeto* o = nullptr;
      for (const auto& [oid, obj] : l.objetos)
        if (obj.padre == t.id && IgualSinCaso(obj.nombre, x.nombre)) o = &obj;
      static const Objeto kSinObjeto;
      restricciones.emplace_back(o ? o : &kSinObjeto, std::move(x));
    }
  }
  std::stable_sort(restricciones.begin(), restricciones.end(),
                   [](const auto& a, const auto& b) { return Antes(a.first, b.first); });
  std::sort(planos.begin(), planos.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [o, x] : restricciones) d.indices.push_back(std::move(x));
  for (auto& [id, x] : planos) d.indices.push_back(std::move(x));
}

}  // namespace

Catalogo LeerCatalogo(MotorBD& origen) {
  Catalogo r;
  const auto bases = Leer(origen, "SELECT name, collation_name FROM sys.databases WHERE name = DB_NAME()");
  if (bases.empty()) throw ErrorBD(0, "El servidor no dice el nombre de la base de datos (sys.databases)");
  r.base.nombre = Texto(bases[0], 0);
  r.base.collation = Texto(bases[0], 1);
  const Lectura l = LeerVistas(origen);
  const auto dbo = std::find_if(l.esquemas.begin(), l.esquemas.end(),
                                [](const auto& e) { return IgualSinCaso(e.second, "dbo"); });
  const long long esquemaDbo = dbo != l.esquemas.end() ? dbo->first : 1;

  std::vector<const Objeto*> tablas, vistas;
  std::set<long long> copiadas;
  for (const auto& [id, o] : l.objetos) {
    if (o.delSistema) continue;
    const std::string esquema = l.esquemas.count(o.esquema) ? l.esquemas.at(o.esquema) : "?";
    if (o.tipo == "U" || o.tipo == "V") {
      if (o.esquema != esquemaDbo)
        r.noCopiados.push_back((o.tipo == "U" ? "tabla " : "vista ") + esquema + "." + o.nombre +
                               ": está fuera del esquema dbo");
      else
        (o.tipo == "U" ? tablas : vistas).push_back(&o);
    } else if (o.tipo != "PK" && o.tipo != "UQ" && o.tipo != "D" && o.tipo != "IT" && o.tipo != "S" &&
               o.tipo != "SQ") {
      const auto padre = l.objetos.find(o.padre);
      r.noCopiados.push_back(Minusculas(o.descripcion) + " " + esquema + "." + o.nombre +
                             (padre != l.objetos.end() ? " (de " + padre->second.nombre + ")" : "") +
                             ": el motor simulado no tiene objetos de esta clase");
    }
  }
  std::sort(tablas.begin(), tablas.end(), Antes);
  std::sort(vistas.begin(), vistas.end(), Antes);

  for (const Objeto* t : tablas) {
    TablaDescrita d;
    d.nombre = t->nombre;
    std::string motivo;
    std::map<long long, std::string> nombresCol;
    auto cols = l.columnas.count(t->id) ? l.columnas.at(t->id) : std::vector<Fila>{};
    std::sort(cols.begin(), cols.end(),
              [](const Fila& a, const Fila& b) { return Numero(a, cId) < Numero(b, cId); });
    for (const Fila& f : cols) {
      nombresCol[Numero(f, cId)] = Texto(f, cNombre);
      auto c = Columna(l, t->id, f, motivo);
      if (!c) break;
      d.columnas.push_back(std::move(*c));
    }
    if (!motivo.empty() || d.columnas.empty()) {
      r.noCopiados.push_back("tabla " + t->nombre + ": " + (motivo.empty() ? "no tiene columnas" : motivo));
      continue;
    }
    Indices(l, *t, nombresCol, d, r);
    r.base.tablas.push_back(std::move(d));
  }
  for (const Objeto* v : vistas) {
    const auto m = l.modulos.find(v->id);
    if (m == l.modulos.end()) {
      r.noCopiados.push_back("vista " + v->nombre + ": su texto no se puede leer (cifrada)");
      continue;
    }
    r.base.vistas.push_back({v->nombre, m->second});
  }
  return r;
}

namespace {

// Loads batches of rows into the copy on a thread of its own while the caller reads the next ones from the
// live database: the driver's conversions and the engine's take about the same time, and a shop's database
// is millions of rows. The copy is touched by that thread alone until Esperar returns.
class Cargador {
 public:
  using Lote = std::vector<std::vector<ValorCampo>>;
  explicit Cargador(CopiaSimulada& copia) : copia_(copia), hilo_([this] { Correr(); }) {}
  ~Cargador() {
    {
      std::lock_guard lk(m_);
      fin_ = true;
    }
    cv_.notify_all();
    hilo_.join();
  }
  Cargador(const Cargador&) = delete;
  Cargador& operator=(const Cargador&) = delete;

  // Queues a batch of `tabla`'s rows; false once a load has failed (the caller stops reading).
  bool Poner(const std::string& tabla, Lote lote) {
    std::unique_lock lk(m_);
    Aguardar(lk, [&] { return cola_.size() < kEnCola || error_; });
    if (error_) return false;
    cola_.push_back({tabla, std::move(lote)});
    cv_.notify_all();
    return true;
  }
  // Until every queued batch is in the copy; throws the first load's failure.
  void Esperar() {
    std::unique_lock lk(m_);
    Aguardar(lk, [&] { return (cola_.empty() && !ocupado_) || error_; });
    if (error_) std::rethrow_exception(error_);
  }

 private:
  static constexpr std::size_t kEnCola = 3;
  // A batch of rows loads in well under a second; one that takes this long means the copy is stuck.
  static constexpr std::chrono::minutes kPlazo{10};

  template <typename Condicion>
  void Aguardar(std::unique_lock<std::mutex>& lk, Condicion listo) {
    if (!cv_.wait_for(lk, kPlazo, listo))
      throw ErrorBD(0, "La copia en el motor simulado no avanzó en 10 minutos");
  }

  // Waits for work until the owner goes; after a failed load the rest of the queue is dropped.
  void Correr() {
    std::unique_lock lk(m_);
    for (;;) {
      cv_.wait(lk, [&] { return fin_ || !cola_.empty(); });
      if (fin_) return;  // the copy was given up: what is queued is not wanted
      auto [tabla, lote] = std::move(cola_.front());
      cola_.pop_front();
      if (error_) continue;
      ocupado_ = true;
      lk.unlock();
      std::exception_ptr e;
      try {
        copia_.CargarFilas(tabla, lote);
      } catch (...) {
        e = std::current_exception();
      }
      lk.lock();
      ocupado_ = false;
      if (e) error_ = e;
      cv_.notify_all();
    }
  }

  CopiaSimulada& copia_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::pair<std::string, Lote>> cola_;
  bool ocupado_ = false, fin_ = false;
  std::exception_ptr error_;
  std::thread hilo_;  // last: it starts once the rest is built
};

}  // namespace

std::size_t CopiarFilas(MotorBD& origen, const BaseDescrita& base, CopiaSimulada& copia,
                        const std::function<void(const std::string& tabla, std::size_t filas)>& aviso) {
  constexpr std::size_t kLote = 2000;
  Cargador cargador(copia);
  std::size_t total = 0;
  for (const auto& t : base.tablas) {
    if (aviso) aviso(t.nombre, 0);
    std::string consulta = "SELECT ";
    for (std::size_t i = 0; i < t.columnas.size(); ++i)
      consulta += (i ? ", " : "") + Corchetes(t.columnas[i].nombre);
    consulta += " FROM [dbo]." + Corchetes(t.nombre);
    Cargador::Lote lote;
    std::size_t filas = 0;
    try {
      origen.Recorrer(consulta, [&](const std::vector<ValorCampo>& f) {
        lote.push_back(f);
        if (lote.size() < kLote) return true;
        filas += lote.size();
        return cargador.Poner(t.nombre, std::exchange(lote, {}));
      });
      filas += lote.size();
      if (!lote.empty()) cargador.Poner(t.nombre, std::move(lote));
      cargador.Esperar();
    } catch (const ErrorBD& e) {
      throw ErrorBD(e.Numero, "No se pudieron copiar las filas de " + t.nombre + ": " + e.Descripcion);
    }
    for (const auto& c : t.columnas)
      if (c.identidad) copia.FijarIdentidad(t.nombre, c.ultimo);
    total += filas;
    if (aviso) aviso(t.nombre, filas);
  }
  return total;
}

}  // namespace solvane
