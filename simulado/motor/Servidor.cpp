// The simulated SQL Server: statement execution, transactions with an undo log, catalogue, script dump.
#include "Servidor.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

#include "Almacen.h"
#include "Sintaxis.h"
#include "Valores.h"

namespace simulado {

namespace {

using TR = DefRestriccion::T;

// Several errors raised together: the first number, both texts.
ErrorSql Doble(int numero, const std::string& texto, const std::string& siguiente) {
  return ErrorSql(numero, texto + " " + siguiente);
}

const char* const kNoRestriccion = "Could not create constraint or index. See previous errors.";

bool EsquemaPropio(const NombreObjeto& o) {
  return o.esquema.empty() || MismoNombre(o.esquema, "dbo");
}

std::string TextoNombre(const NombreObjeto& o) {
  return o.esquema.empty() ? o.nombre : o.esquema + "." + o.nombre;
}

// The engine's own dumps open with this line and close with a check of what lies between.
constexpr std::string_view kCabecera = "-- Base de datos simulada ";
constexpr std::string_view kCierre = "-- Fin de la base simulada: ";

// Calls `fn(inicio, fin)` for each line of a script (without its '\n').
template <typename F>
void CadaLinea(std::string_view script, F&& fn) {
  for (std::size_t pos = 0; pos <= script.size();) {
    std::size_t fin = script.find('\n', pos);
    if (fin == std::string_view::npos) fin = script.size();
    fn(pos, fin);
    pos = fin + 1;
  }
}

// The closing line for a dump's content: how many GO lines it holds and a 64-bit FNV-1a of its bytes.
std::string LineaCierre(std::string_view contenido) {
  std::size_t lotes = 0;
  CadaLinea(contenido,
            [&](std::size_t a, std::size_t b) { lotes += EsSeparador(contenido.substr(a, b - a)); });
  std::uint64_t suma = 14695981039346656037ull;
  for (unsigned char c : contenido) {
    suma ^= c;
    suma *= 1099511628211ull;
  }
  char hex[24];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(suma));
  return std::string(kCierre) + std::to_string(lotes) + " lotes, suma " + hex + ".\n";
}

// A script that says it is one of our dumps must end with its closing line and match it: a file
// cut short after any GO would otherwise load as a smaller database without a word.
void ComprobarVolcado(std::string_view script) {
  if (script.substr(0, kCabecera.size()) != kCabecera) return;
  const std::size_t corte =
      script.size() < 2 ? std::string_view::npos : script.rfind('\n', script.size() - 2);
  const std::string_view ultima = corte == std::string_view::npos ? script : script.substr(corte + 1);
  if (script.back() != '\n' || ultima.substr(0, kCierre.size()) != kCierre)
    throw ErrorSql(kErrorVolcado,
                   "El archivo de la base simulada está incompleto: falta su línea final de comprobación. Si lo "
                   "escribió una versión anterior y está completo, quítele la primera línea para cargarlo como "
                   "script.");
  if (ultima != LineaCierre(script.substr(0, corte + 1)))
    throw ErrorSql(kErrorVolcado,
                   "El archivo de la base simulada está dañado: su contenido no coincide con la línea final "
                   "de comprobación.");
}

// A row as expressions read it.
struct Fila {
  virtual ~Fila() = default;
  virtual Valor Leer(int i) const = 0;
};
struct FilaTabla : Fila {
  const Tabla* t = nullptr;
  std::size_t f = 0;
  Valor Leer(int i) const override { return t->e.cols[static_cast<std::size_t>(i)]->Leer(f); }
};
struct FilaValores : Fila {
  const std::vector<Valor>* v = nullptr;
  Valor Leer(int i) const override { return (*v)[static_cast<std::size_t>(i)]; }
};
struct FilaVacia : Fila {
  Valor Leer(int) const override { return {}; }
};

// Something rows can be read from: a table, a view, a catalogue view, or nothing (SELECT 1).
struct Origen {
  std::string nombre;
  std::vector<std::string> nombres;
  std::vector<TipoCol> tipos;
  std::shared_ptr<Tabla> tabla;
  bool materializado = false;
  bool vacio = false;
  std::vector<std::vector<Valor>> filas;
  struct Parte {
    std::unique_ptr<Origen> origen;
    std::vector<const Expr*> items;
    std::vector<int> directas;  // column index for `*` items, -1 for an expression
    const Expr* donde = nullptr;
  };
  std::vector<Parte> partes;
  std::shared_ptr<Consulta> consulta;  // keeps a view's tree alive
};

}  // namespace

struct Servidor::Impl {
  std::string base;
  std::string collation = "Modern_Spanish_CI_AS";
  std::vector<std::shared_ptr<Tabla>> tablas;
  std::vector<std::shared_ptr<Vista>> vistas;
  std::uint32_t semillaId = 0x25869641u;
  std::set<int> ids;
  int nivel = 0;
  bool cargando = false;  // running a script: views are not checked against their tables
  static constexpr int kVistasAnidadas = 32;
  int vistasAbiertas = 0;  // views being expanded, one inside the other
  static constexpr int kExpansionesMaximas = 4096;
  int vistasExpandidas = 0;       // views expanded under the outermost one being opened
  bool listandoColumnas = false;  // building information_schema.columns, which opens the views
  std::vector<Deshacer> log;
  std::size_t visitas = 0;
  std::function<std::int64_t()> reloj = AhoraMs;

  // ---- names and objects ----

  int NuevoId() {
    for (;;) {
      semillaId = semillaId * 1103515245u + 12345u;
      const int id = static_cast<int>((semillaId >> 1) & 0x7FFFFFFF);
      if (id > 1000 && ids.insert(id).second) return id;
    }
  }

  std::shared_ptr<Tabla> BuscarTabla(const NombreObjeto& o) const {
    if (!EsquemaPropio(o)) return nullptr;
    for (const auto& t : tablas)
      if (MismoNombre(t->nombre, o.nombre)) return t;
    return nullptr;
  }
  std::shared_ptr<Vista> BuscarVista(const NombreObjeto& o) const {
    if (!EsquemaPropio(o)) return nullptr;
    for (const auto& v : vistas)
      if (MismoNombre(v->nombre, o.nombre)) return v;
    return nullptr;
  }
  // Tables, views and constraints share one name space.
  bool NombreUsado(std::string_view nombre) const {
    for (const auto& t : tablas) {
      if (MismoNombre(t->nombre, nombre)) return true;
      for (const auto& r : t->e.restr)
        if (MismoNombre(r.nombre, nombre)) return true;
    }
    for (const auto& v : vistas)
      if (MismoNombre(v->nombre, nombre)) return true;
    return false;
  }
  std::shared_ptr<Tabla> TablaOError(const NombreObjeto& o) const {
    auto t = BuscarTabla(o);
    if (!t) {
      if (BuscarVista(o))
        throw ErrorSql(4406, "Update or insert of view or function '" + TextoNombre(o) +
                                 "' failed because it contains a derived or constant field.");
      throw ErrorSql(208, "Invalid object name '" + TextoNombre(o) + "'.");
    }
    return t;
  }
  std::string NombreCompleto(const Tabla& t) const { return base + ".dbo." + t.nombre; }

  // ---- undo log ----

  void AnotarEsquema(const std::shared_ptr<Tabla>& t) {
    Deshacer d;
    d.k = Deshacer::K::Esquema;
    d.tabla = t;
    d.esquema = t->e;
    log.push_back(std::move(d));
  }
  void AnotarObjetos() {
    Deshacer d;
    d.k = Deshacer::K::Objetos;
    d.tablas = tablas;
    d.vistas = vistas;
    log.push_back(std::move(d));
  }
  void AnotarFilas(const std::shared_ptr<Tabla>& t) {
    Deshacer d;
    d.k = Deshacer::K::Truncar;
    d.tabla = t;
    d.filas = t->filas;
    log.push_back(std::move(d));
  }

  void DeshacerHasta(std::size_t marca) {
    while (log.size() > marca) {
      Deshacer& d = log.back();
      switch (d.k) {
        case Deshacer::K::Esquema:
          d.tabla->e = std::move(d.esquema);
          d.tabla->clavesValidas = false;
          break;
        case Deshacer::K::Objetos:
          tablas = std::move(d.tablas);
          vistas = std::move(d.vistas);
          break;
        case Deshacer::K::Truncar:
          for (auto& c : d.tabla->e.cols) c->Truncar(d.filas);
          d.tabla->filas = d.filas;
          d.tabla->clavesValidas = false;
          break;
        case Deshacer::K::Celdas:
          for (std::size_t i = 0; i < d.posiciones.size(); ++i)
            d.col->CopiarDe(d.posiciones[i], *d.viejos, i);
          if (d.tabla) d.tabla->clavesValidas = false;
          break;
        case Deshacer::K::Borrado: {
          const std::size_t total = d.tabla->filas + d.posiciones.size();
          for (auto& [col, quitados] : d.borrados) {
            auto nueva = col->Vacia();
            nueva->Reservar(total);
            std::size_t k = 0, j = 0;
            for (std::size_t f = 0; f < total; ++f) {
              if (k < d.posiciones.size() && d.posiciones[k] == f)
                nueva->AgregarDe(*quitados, k++);
              else
                nueva->AgregarDe(*col, j++);
            }
            col->Intercambiar(*nueva);
          }
          d.tabla->filas = total;
          d.tabla->clavesValidas = false;
          break;
        }
      }
      log.pop_back();
    }
  }

  // ---- unique keys ----

  std::vector<const std::vector<std::string>*> ColumnasUnicas(const Tabla& t,
                                                              std::vector<std::string>* nombres) const {
    std::vector<const std::vector<std::string>*> r;
    for (const auto& x : t.e.restr)
      if (x.tipo != TR::DF) {
        r.push_back(&x.columnas);
        if (nombres) nombres->push_back(x.nombre);
      }
    for (const auto& x : t.e.indices)
      if (x.unico) {
        r.push_back(&x.columnas);
        if (nombres) nombres->push_back(x.nombre);
      }
    return r;
  }

  static std::string Clave(const Tabla& t, const std::vector<std::string>& cols,
                           const std::function<Valor(int)>& leer) {
    std::string k;
    for (const auto& c : cols) {
      const Valor v = leer(t.Columna(c));
      if (v.Nulo())
        k += '\x01';
      else if (v.clase == Valor::Clase::Texto)
        k += ClaveTexto(v.s);
      else
        k += Imprimir(v);
      k += '\0';
    }
    return k;
  }

  static std::string ValoresClave(const Tabla& t, const std::vector<std::string>& cols,
                                  const std::function<Valor(int)>& leer) {
    std::string r;
    for (const auto& c : cols) {
      const Valor v = leer(t.Columna(c));
      if (!r.empty()) r += ", ";
      r += v.Nulo() ? "<NULL>" : Imprimir(v);
    }
    return r;
  }

  std::string MensajeDuplicado(const Tabla& t, const std::string& nombre, const std::string& valores) const {
    for (const auto& x : t.e.restr)
      if (x.tipo != TR::DF && MismoNombre(x.nombre, nombre))
        return std::string("Violation of ") + (x.tipo == TR::PK ? "PRIMARY KEY" : "UNIQUE KEY") +
               " constraint '" + x.nombre + "'. Cannot insert duplicate key in object 'dbo." + t.nombre +
               "'. The duplicate key value is (" + valores + ").";
    return "Cannot insert duplicate key row in object 'dbo." + t.nombre + "' with unique index '" + nombre +
           "'. The duplicate key value is (" + valores + ").";
  }

  int NumeroDuplicado(const Tabla& t, const std::string& nombre) const {
    for (const auto& x : t.e.restr)
      if (x.tipo != TR::DF && MismoNombre(x.nombre, nombre)) return 2627;
    return 2601;
  }

  // Builds the key sets from the rows; a duplicate raises the error of an insert or update.
  void AsegurarClaves(Tabla& t) {
    if (t.clavesValidas) return;
    t.claves.clear();
    std::vector<std::string> nombres;
    const auto grupos = ColumnasUnicas(t, &nombres);
    for (std::size_t g = 0; g < grupos.size(); ++g) {
      auto& conjunto = t.claves[Minusculas(nombres[g])];
      conjunto.reserve(t.filas);
      for (std::size_t f = 0; f < t.filas; ++f) {
        auto leer = [&](int i) { return t.e.cols[static_cast<std::size_t>(i)]->Leer(f); };
        if (!conjunto.insert(Clave(t, *grupos[g], leer)).second)
          throw ErrorSql(NumeroDuplicado(t, nombres[g]),
                         MensajeDuplicado(t, nombres[g], ValoresClave(t, *grupos[g], leer)));
      }
    }
    t.clavesValidas = true;
  }

  // The unique keys of a table ready for one statement's inserts: the key sets are built first and
  // stay put while the statement runs.
  struct Grupo {
    std::string nombre;
    std::vector<std::string> columnas;
    std::vector<int> indices;
    std::unordered_set<std::string>* conjunto = nullptr;
  };
  std::vector<Grupo> Grupos(Tabla& t) {
    AsegurarClaves(t);
    std::vector<std::string> nombres;
    const auto cols = ColumnasUnicas(t, &nombres);
    std::vector<Grupo> r(cols.size());
    for (std::size_t g = 0; g < cols.size(); ++g) {
      r[g].nombre = nombres[g];
      r[g].columnas = *cols[g];
      for (const auto& c : *cols[g]) r[g].indices.push_back(t.Columna(c));
      r[g].conjunto = &t.claves[Minusculas(nombres[g])];
    }
    return r;
  }

  // Checks a new row against every unique key and records its keys.
  void AnotarClaves(Tabla& t, std::vector<Grupo>& grupos, const std::vector<Valor>& fila,
                    std::vector<std::string>& claves) {
    claves.resize(grupos.size());
    for (std::size_t g = 0; g < grupos.size(); ++g) {
      std::string& k = claves[g];
      k.clear();
      for (int i : grupos[g].indices) {
        const Valor& v = fila[static_cast<std::size_t>(i)];
        if (v.Nulo())
          k += '\x01';
        else if (v.clase == Valor::Clase::Texto)
          k += ClaveTexto(v.s);
        else
          k += Imprimir(v);
        k += '\0';
      }
      if (grupos[g].conjunto->count(k) != 0) {
        auto leer = [&](int i) { return fila[static_cast<std::size_t>(i)]; };
        throw ErrorSql(NumeroDuplicado(t, grupos[g].nombre),
                       MensajeDuplicado(t, grupos[g].nombre, ValoresClave(t, grupos[g].columnas, leer)));
      }
    }
    for (std::size_t g = 0; g < grupos.size(); ++g) grupos[g].conjunto->insert(claves[g]);
  }

  // Creating a unique index over the existing rows: 1505 on a duplicate.
  void ComprobarUnicidad(const Tabla& t, const std::vector<std::string>& cols, const std::string& indice) {
    std::unordered_set<std::string> vistos;
    vistos.reserve(t.filas);
    for (std::size_t f = 0; f < t.filas; ++f) {
      auto leer = [&](int i) { return t.e.cols[static_cast<std::size_t>(i)]->Leer(f); };
      if (!vistos.insert(Clave(t, cols, leer)).second)
        throw Doble(1505,
                    "The CREATE UNIQUE INDEX statement terminated because a duplicate key was found for the "
                    "object name 'dbo." +
                        t.nombre + "' and the index name '" + indice + "'. The duplicate key value is (" +
                        ValoresClave(t, cols, leer) + ").",
                    kNoRestriccion);
    }
  }

  // ---- sources ----

  Origen Catalogo(const NombreObjeto& o) {
    Origen r;
    r.nombre = o.nombre;
    r.materializado = true;
    auto col = [&](const char* n, Tipo t, int largo = 0) {
      r.nombres.emplace_back(n);
      TipoCol tc;
      tc.tipo = t;
      tc.largo = largo;
      r.tipos.push_back(tc);
    };
    auto texto = [](const std::string& s) { return Valor::Texto(s); };
    auto entero = [](std::int64_t n) { return Valor::Entero(n); };
    const std::string n = Minusculas(o.nombre);
    if (n == "sysobjects") {
      col("name", Tipo::VarChar, 128);
      col("id", Tipo::Int);
      col("xtype", Tipo::Char, 2);
      col("type", Tipo::Char, 2);
      col("parent_obj", Tipo::Int);
      col("uid", Tipo::SmallInt);
      auto fila = [&](const std::string& nombre, int id, const char* tipo, int padre) {
        const std::string t = std::string(tipo).append(2 - std::string(tipo).size(), ' ');
        r.filas.push_back({texto(nombre), entero(id), texto(t), texto(t), entero(padre), entero(1)});
      };
      for (const auto& t : tablas) {
        fila(t->nombre, t->id, "U", 0);
        for (const auto& x : t->e.restr)
          fila(x.nombre, x.id, x.tipo == TR::PK ? "PK" : x.tipo == TR::UQ ? "UQ" : "D", t->id);
      }
      for (const auto& v : vistas) fila(v->nombre, v->id, "V", 0);
    } else if (n == "sysindexes") {
      col("id", Tipo::Int);
      col("indid", Tipo::SmallInt);
      col("name", Tipo::VarChar, 128);
      col("OrigFillFactor", Tipo::TinyInt);
      for (const auto& t : tablas) {
        std::vector<std::pair<int, std::vector<Valor>>> filas;
        bool agrupada = false;
        for (const auto& x : t->e.restr)
          if (x.tipo != TR::DF) {
            agrupada = agrupada || x.agrupado;
            filas.push_back({x.indid, {entero(t->id), entero(x.indid), texto(x.nombre), entero(x.relleno)}});
          }
        for (const auto& x : t->e.indices) {
          agrupada = agrupada || x.agrupado;
          filas.push_back({x.indid, {entero(t->id), entero(x.indid), texto(x.nombre), entero(x.relleno)}});
        }
        if (!agrupada) filas.push_back({0, {entero(t->id), entero(0), Valor{}, entero(0)}});
        std::sort(filas.begin(), filas.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& f : filas) r.filas.push_back(std::move(f.second));
      }
    } else if (n == "columns") {
      for (const char* c : {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "COLUMN_NAME"})
        col(c, Tipo::VarChar, 128);
      col("ORDINAL_POSITION", Tipo::Int);
      col("COLUMN_DEFAULT", Tipo::VarChar, 4000);
      col("IS_NULLABLE", Tipo::VarChar, 3);
      col("DATA_TYPE", Tipo::VarChar, 128);
      col("CHARACTER_MAXIMUM_LENGTH", Tipo::Int);
      col("NUMERIC_PRECISION", Tipo::TinyInt);
      col("NUMERIC_SCALE", Tipo::Int);
      col("COLLATION_NAME", Tipo::VarChar, 128);
      auto fila = [&](const std::string& tabla, std::size_t pos, const std::string& nombre, const TipoCol& t,
                      bool nulos, const std::string& intercalacion, const Restriccion* df) {
        std::vector<Valor> v{texto(base),
                             texto("dbo"),
                             texto(tabla),
                             texto(nombre),
                             entero(static_cast<std::int64_t>(pos)),
                             df ? texto(df->textoDefecto) : Valor{},
                             texto(nulos ? "YES" : "NO"),
                             texto(NombreTipo(t))};
        v.push_back(EsTexto(t.tipo) ? entero(t.largo) : Valor{});
        const int precision = t.tipo == Tipo::Decimal    ? t.precision
                              : t.tipo == Tipo::Int      ? 10
                              : t.tipo == Tipo::SmallInt ? 5
                              : t.tipo == Tipo::TinyInt  ? 3
                                                         : 0;
        v.push_back(precision ? entero(precision) : Valor{});
        v.push_back(precision ? entero(t.tipo == Tipo::Decimal ? t.escala : 0) : Valor{});
        v.push_back(EsTexto(t.tipo) && !intercalacion.empty() ? texto(intercalacion) : Valor{});
        r.filas.push_back(std::move(v));
      };
      for (const auto& t : tablas)
        for (std::size_t i = 0; i < t->e.cols.size(); ++i) {
          const auto& c = *t->e.cols[i];
          fila(t->nombre, i + 1, c.nombre, c.tipo, c.nulos, c.collation, t->Defecto(c.nombre));
        }
      // A view over this catalogue opens it again: that inner copy lists the tables only, so the
      // work stays linear in the number of views.
      const bool dentro = listandoColumnas;
      listandoColumnas = true;
      const struct Restaurar {
        bool& b;
        bool antes;
        ~Restaurar() { b = antes; }
      } restaurar{listandoColumnas, dentro};
      for (const auto& v : dentro ? std::vector<std::shared_ptr<Vista>>{} : vistas) {
        try {
          NombreObjeto vo;
          vo.nombre = v->nombre;
          const Origen ov = AbrirOrigen(vo);
          for (std::size_t i = 0; i < ov.nombres.size(); ++i)
            fila(v->nombre, i + 1, ov.nombres[i], ov.tipos[i], true,
                 EsTexto(ov.tipos[i].tipo) ? collation : std::string(), nullptr);
        } catch (const ErrorSql&) {
          // A view whose tables changed under it lists no columns, as the server's catalogue does.
        }
      }
    }
    return r;
  }

  Origen AbrirOrigen(const NombreObjeto& o) {
    const std::string n = Minusculas(o.nombre);
    const std::string e = Minusculas(o.esquema);
    if (((e.empty() || e == "dbo" || e == "sys") && (n == "sysobjects" || n == "sysindexes")) ||
        (e == "information_schema" && n == "columns"))
      return Catalogo(o);
    if (auto t = BuscarTabla(o)) {
      Origen r;
      r.nombre = t->nombre;
      r.tabla = t;
      for (const auto& c : t->e.cols) {
        r.nombres.push_back(c->nombre);
        r.tipos.push_back(c->tipo);
      }
      return r;
    }
    if (auto v = BuscarVista(o)) {
      // Views made in a script are not checked, so they may name each other in a cycle.
      if (vistasAbiertas >= kVistasAnidadas)
        throw ErrorSql(217,
                       "Maximum stored procedure, function, trigger, or view nesting level exceeded (limit " +
                           std::to_string(kVistasAnidadas) + ").");
      // Views that read another view several times grow exponentially with depth; each outermost
      // view gets a fixed budget of expansions, as the server's optimiser gives up on such plans.
      if (vistasAbiertas == 0) vistasExpandidas = 0;
      if (++vistasExpandidas > kExpansionesMaximas)
        throw ErrorSql(
            8623,
            "The query processor ran out of internal resources and could not produce a query plan. "
            "This is a rare event and only expected for extremely complex queries or queries that "
            "reference a very large number of tables or partitions. Please simplify the query.");
      ++vistasAbiertas;
      const struct Salida {
        int& n;
        ~Salida() { --n; }
      } salida{vistasAbiertas};
      Origen r;
      r.nombre = v->nombre;
      auto lote = AnalizarLote(v->texto);
      r.consulta = lote.at(0).consulta;
      ArmarUnion(r, *r.consulta, v->nombre);
      return r;
    }
    throw ErrorSql(208, "Invalid object name '" + TextoNombre(o) + "'.");
  }

  // The parts of a union as a source: each part bound to its own table.
  void ArmarUnion(Origen& r, Consulta& c, const std::string& vista) {
    for (auto& n : c.partes) {
      Origen::Parte p;
      p.origen = std::make_unique<Origen>(n.desde ? AbrirOrigen(*n.desde) : Vacio());
      std::vector<std::string> nombres;
      std::vector<TipoCol> tipos;
      Proyectar(n, *p.origen, p.items, p.directas, nombres, tipos);
      if (n.donde) {
        Ligar(*n.donde, *p.origen);
        p.donde = n.donde.get();
      }
      if (r.partes.empty()) {
        for (std::size_t i = 0; i < nombres.size(); ++i)
          if (nombres[i].empty())
            throw ErrorSql(4511,
                           "Create View or Function failed because no column name was specified for column " +
                               std::to_string(i + 1) + ".");
        for (std::size_t i = 0; i < nombres.size(); ++i)
          for (std::size_t j = 0; j < i; ++j)
            if (MismoNombre(nombres[i], nombres[j]))
              throw ErrorSql(4506, "Column names in each view or function must be unique. Column name '" +
                                       nombres[i] + "' in view or function '" + vista +
                                       "' is specified more than once.");
        r.nombres = nombres;
        r.tipos = tipos;
      } else if (nombres.size() != r.nombres.size()) {
        throw ErrorSql(205,
                       "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an equal "
                       "number of expressions in their target lists.");
      }
      r.partes.push_back(std::move(p));
    }
  }

  static Origen Vacio() {
    Origen r;
    r.vacio = true;
    return r;
  }

  // Calls `fn` for every row of the source until it returns false; false when stopped early.
  bool Recorrer(const Origen& o, const std::function<bool(const Fila&)>& fn) {
    if (o.vacio) return fn(FilaVacia());
    if (o.tabla) {
      FilaTabla f;
      f.t = o.tabla.get();
      for (f.f = 0; f.f < o.tabla->filas; ++f.f) {
        ++visitas;
        if (!fn(f)) return false;
      }
      return true;
    }
    if (o.materializado) {
      FilaValores f;
      for (const auto& v : o.filas) {
        f.v = &v;
        if (!fn(f)) return false;
      }
      return true;
    }
    for (const auto& p : o.partes) {
      std::vector<Valor> valores;
      const bool siguio = Recorrer(*p.origen, [&](const Fila& interior) {
        if (p.donde && Cumple(*p.donde, interior) != 1) return true;
        valores.clear();
        for (std::size_t i = 0; i < p.items.size(); ++i)
          valores.push_back(p.directas[i] >= 0 ? interior.Leer(p.directas[i])
                                               : Evaluar(*p.items[i], interior));
        FilaValores f;
        f.v = &valores;
        return fn(f);
      });
      if (!siguio) return false;
    }
    return true;
  }

  // ---- expressions ----

  void Ligar(Expr& e, const Origen& o) {
    if (e.k == Expr::K::Columna) {
      if (!e.calificador.empty() && !MismoNombre(e.calificador, o.nombre))
        throw ErrorSql(
            4104, "The multi-part identifier \"" + e.calificador + "." + e.nombre + "\" could not be bound.");
      e.indice = -1;
      for (std::size_t i = 0; i < o.nombres.size(); ++i)
        if (MismoNombre(o.nombres[i], e.nombre)) {
          e.indice = static_cast<int>(i);
          break;
        }
      if (e.indice < 0) throw ErrorSql(207, "Invalid column name '" + e.nombre + "'.");
      return;
    }
    for (auto& h : e.hijos) Ligar(*h, o);
  }

  static bool TieneColumnas(const Expr& e) {
    if (e.k == Expr::K::Columna) return true;
    for (const auto& h : e.hijos)
      if (TieneColumnas(*h)) return true;
    return false;
  }
  static const Expr* PrimeraColumna(const Expr& e) {
    if (e.k == Expr::K::Columna) return &e;
    for (const auto& h : e.hijos)
      if (const Expr* c = PrimeraColumna(*h)) return c;
    return nullptr;
  }

  // A constant expression (VALUES, DEFAULT): column names are not allowed there.
  void SinColumnas(const Expr& e) {
    if (const Expr* c = PrimeraColumna(e))
      throw ErrorSql(128,
                     "The name \"" + c->nombre +
                         "\" is not permitted in this context. Valid expressions are constants, constant "
                         "expressions, and (in some contexts) variables. Column names are not permitted.");
  }

  Valor Evaluar(const Expr& e, const Fila& f) {
    switch (e.k) {
      case Expr::K::Literal:
        return e.valor;
      case Expr::K::Columna:
        return f.Leer(e.indice);
      case Expr::K::Menos:
        return Negar(Evaluar(*e.hijos[0], f));
      case Expr::K::Binaria:
        return Operar(e.op[0], Evaluar(*e.hijos[0], f), Evaluar(*e.hijos[1], f));
      case Expr::K::Getdate:
        return Valor::Fecha(reloj(), 3);
      case Expr::K::Subconsulta: {
        const std::vector<Valor>& valores = ValoresSubconsulta(e);
        if (valores.size() > 1)
          throw ErrorSql(
              512,
              "Subquery returned more than 1 value. This is not permitted when the subquery follows "
              "=, !=, <, <= , >, >= or when the subquery is used as an expression.");
        return valores.empty() ? Valor{} : valores[0];
      }
      default:
        throw ErrorSql(
            4145, "An expression of non-boolean type specified in a context where a condition is expected.");
    }
  }

  // An uncorrelated subquery: run once, its first column.
  const std::vector<Valor>& ValoresSubconsulta(const Expr& e) {
    if (e.resultado) return *e.resultado;
    auto r = std::make_shared<std::vector<Valor>>();
    Consultar(*e.sub, std::numeric_limits<std::size_t>::max(), nullptr, [&](std::vector<Valor>& fila) {
      if (fila.size() != 1)
        throw ErrorSql(116,
                       "Only one expression can be specified in the select list when the subquery is not "
                       "introduced with EXISTS.");
      r->push_back(std::move(fila[0]));
      return true;
    });
    e.resultado = r;
    return *r;
  }

  // Three-valued: 1 true, 0 false, -1 unknown.
  int Cumple(const Expr& e, const Fila& f) {
    switch (e.k) {
      case Expr::K::Comparacion: {
        const Valor a = Evaluar(*e.hijos[0], f), b = Evaluar(*e.hijos[1], f);
        if (a.Nulo() || b.Nulo()) return -1;
        const int c = Comparar(a, b);
        if (e.op == "=") return c == 0;
        if (e.op == "<>") return c != 0;
        if (e.op == "<") return c < 0;
        if (e.op == ">") return c > 0;
        if (e.op == "<=") return c <= 0;
        return c >= 0;
      }
      case Expr::K::En: {
        const Valor a = Evaluar(*e.hijos[0], f);
        if (a.Nulo()) return -1;
        bool nulo = false;
        auto prueba = [&](const Valor& b) {
          if (b.Nulo()) {
            nulo = true;
            return false;
          }
          return Comparar(a, b) == 0;
        };
        bool hallado = false;
        if (e.sub) {
          for (const Valor& b : ValoresSubconsulta(e))
            if (prueba(b)) {
              hallado = true;
              break;
            }
        } else {
          for (std::size_t i = 1; i < e.hijos.size() && !hallado; ++i)
            hallado = prueba(Evaluar(*e.hijos[i], f));
        }
        if (hallado) return e.negado ? 0 : 1;
        if (nulo) return -1;
        return e.negado ? 1 : 0;
      }
      case Expr::K::Y: {
        const int a = Cumple(*e.hijos[0], f);
        if (a == 0) return 0;
        const int b = Cumple(*e.hijos[1], f);
        if (b == 0) return 0;
        return (a == 1 && b == 1) ? 1 : -1;
      }
      case Expr::K::O: {
        const int a = Cumple(*e.hijos[0], f);
        if (a == 1) return 1;
        const int b = Cumple(*e.hijos[1], f);
        if (b == 1) return 1;
        return (a == 0 && b == 0) ? 0 : -1;
      }
      case Expr::K::No: {
        const int a = Cumple(*e.hijos[0], f);
        return a < 0 ? -1 : 1 - a;
      }
      case Expr::K::EsNulo: {
        const bool nulo = Evaluar(*e.hijos[0], f).Nulo();
        return (nulo != e.negado) ? 1 : 0;
      }
      default:
        throw ErrorSql(
            4145, "An expression of non-boolean type specified in a context where a condition is expected.");
    }
  }

  static TipoCol TipoDe(const Expr& e, const Origen& o) {
    TipoCol t;
    if (e.k == Expr::K::Columna) return o.tipos[static_cast<std::size_t>(e.indice)];
    if (e.k == Expr::K::Literal) {
      if (e.valor.clase == Valor::Clase::Texto) {
        t.tipo = Tipo::VarChar;
        t.largo = std::max<int>(1, static_cast<int>(e.valor.s.size()));
      } else if (e.valor.clase == Valor::Clase::Decimal) {
        t.tipo = Tipo::Decimal;
        t.precision = 18;
        t.escala = e.valor.escala;
      }
      return t;
    }
    if (e.k == Expr::K::Getdate) t.tipo = Tipo::DateTime;
    if (!e.hijos.empty()) return TipoDe(*e.hijos[0], o);
    return t;
  }

  void Proyectar(Nucleo& n, const Origen& o, std::vector<const Expr*>& items, std::vector<int>& directas,
                 std::vector<std::string>& nombres, std::vector<TipoCol>& tipos) {
    if (n.contar) {
      nombres.emplace_back();
      tipos.push_back(TipoCol{});
      return;
    }
    for (auto& it : n.items) {
      if (it.estrella) {
        if (o.vacio) throw ErrorSql(263, "Must specify table to select from.");
        for (std::size_t i = 0; i < o.nombres.size(); ++i) {
          items.push_back(nullptr);
          directas.push_back(static_cast<int>(i));
          nombres.push_back(o.nombres[i]);
          tipos.push_back(o.tipos[i]);
        }
        continue;
      }
      Ligar(*it.expr, o);
      items.push_back(it.expr.get());
      directas.push_back(-1);
      nombres.push_back(!it.alias.empty() ? it.alias
                        : it.expr->k == Expr::K::Columna
                            ? o.nombres[static_cast<std::size_t>(it.expr->indice)]
                            : std::string());
      tipos.push_back(TipoDe(*it.expr, o));
    }
  }

  // Runs a query; `fn` receives each row and returns false to stop. Column names go to `nombres`.
  void Consultar(Consulta& c, std::size_t maxFilas, std::vector<std::string>* nombres,
                 const std::function<bool(std::vector<Valor>&)>& fn, std::vector<TipoCol>* tiposSalida = nullptr) {
    std::size_t producidas = 0;
    std::size_t ancho = 0;
    for (std::size_t p = 0; p < c.partes.size(); ++p) {
      Nucleo& n = c.partes[p];
      const Origen o = n.desde ? AbrirOrigen(*n.desde) : Vacio();
      std::vector<const Expr*> items;
      std::vector<int> directas;
      std::vector<std::string> columnas;
      std::vector<TipoCol> tipos;
      Proyectar(n, o, items, directas, columnas, tipos);
      if (n.donde) Ligar(*n.donde, o);
      if (p == 0) {
        ancho = columnas.size();
        if (nombres) *nombres = columnas;
        if (tiposSalida) *tiposSalida = tipos;
      } else if (columnas.size() != ancho) {
        throw ErrorSql(205,
                       "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an equal "
                       "number of expressions in their target lists.");
      }
      if (producidas >= maxFilas) break;
      if (n.contar) {
        std::int64_t cuenta = 0;
        Recorrer(o, [&](const Fila& f) {
          if (!n.donde || Cumple(*n.donde, f) == 1) ++cuenta;
          return true;
        });
        std::vector<Valor> fila{Valor::Entero(cuenta)};
        ++producidas;
        if (!fn(fila)) return;
        continue;
      }
      std::vector<Valor> fila;
      bool seguir = true;
      Recorrer(o, [&](const Fila& f) {
        if (n.donde && Cumple(*n.donde, f) != 1) return true;
        fila.clear();
        for (std::size_t i = 0; i < items.size(); ++i)
          fila.push_back(directas[i] >= 0 ? f.Leer(directas[i]) : Evaluar(*items[i], f));
        ++producidas;
        seguir = fn(fila);
        return seguir && producidas < maxFilas;
      });
      if (!seguir) return;
    }
  }

  // ---- statements ----

  // With a receptor the rows go to it one by one as they are produced and are not kept.
  Resultado Seleccionar(Sentencia& s, std::size_t maxFilas) {
    Resultado r;
    std::vector<TipoCol> tipos;
    bool anunciado = false;
    auto anunciar = [&] {
      if (anunciado) return;
      anunciado = true;
      for (const TipoCol& t : tipos) r.tipos.push_back(TipoDeResultado(t));
      if (receptor && receptor->columnas) receptor->columnas(r);
    };
    long cuenta = 0;
    Consultar(
        *s.consulta, maxFilas, &r.columnas,
        [&](std::vector<Valor>& fila) {
          anunciar();
          if (receptor && receptor->valores) {
            ++cuenta;
            return receptor->valores(fila);
          }
          std::vector<std::optional<std::string>> texto;
          texto.reserve(fila.size());
          for (const Valor& v : fila)
            texto.push_back(v.Nulo() ? std::nullopt : std::optional<std::string>(Imprimir(v)));
          ++cuenta;
          if (receptor) return receptor->fila ? receptor->fila(texto) : true;
          r.filas.push_back(std::move(texto));
          return true;
        },
        &tipos);
    anunciar();
    r.filasAfectadas = cuenta;
    return r;
  }

  static TipoResultado TipoDeResultado(const TipoCol& t) {
    using C = TipoResultado::Clase;
    TipoResultado r;
    switch (t.tipo) {
      case Tipo::Bit: r.clase = C::Bit; break;
      case Tipo::TinyInt: r.clase = C::TinyInt; break;
      case Tipo::SmallInt: r.clase = C::SmallInt; break;
      case Tipo::Int: r.clase = C::Int; break;
      case Tipo::Decimal: r.clase = C::Decimal; break;
      case Tipo::Char: r.clase = C::Char; break;
      case Tipo::VarChar: r.clase = C::VarChar; break;
      case Tipo::SmallDateTime: r.clase = C::SmallDateTime; break;
      case Tipo::DateTime: r.clase = C::DateTime; break;
    }
    r.largo = t.largo;
    r.precision = t.precision;
    r.escala = t.escala;
    return r;
  }

  const Servidor::Receptor* receptor = nullptr;

  std::int64_t SiguienteIdentidad(Columna& c) {
    const std::int64_t v = c.generado ? c.actual + c.incremento : c.semilla;
    Convertir(Valor::Entero(v), c.tipo);
    c.actual = v;
    c.generado = true;
    return v;
  }

  Resultado Insertar(Sentencia& s) {
    auto t = TablaOError(s.objeto);
    std::vector<int> destino;
    if (s.listaCols.empty()) {
      for (std::size_t i = 0; i < t->e.cols.size(); ++i)
        if (!t->e.cols[i]->identidad) destino.push_back(static_cast<int>(i));
    } else {
      for (const auto& n : s.listaCols) {
        const int i = t->Columna(n);
        if (i < 0) throw ErrorSql(207, "Invalid column name '" + n + "'.");
        if (std::find(destino.begin(), destino.end(), i) != destino.end())
          throw ErrorSql(264,
                         "The column name '" + n +
                             "' is specified more than once in the SET clause or column list of an INSERT. A "
                             "column cannot be assigned more than one value in the same clause. Modify the "
                             "clause to make sure that a column is updated only once. If this statement "
                             "updates or inserts columns into a view, column aliasing can conceal the "
                             "duplication in your code.");
        destino.push_back(i);
      }
    }
    for (int i : destino)
      if (t->e.cols[static_cast<std::size_t>(i)]->identidad && !t->identityInsert)
        throw ErrorSql(544, "Cannot insert explicit value for identity column in table '" + t->nombre +
                                "' when IDENTITY_INSERT is set to OFF.");
    std::vector<std::vector<Valor>> filas;
    if (s.consulta) {
      Consultar(*s.consulta, std::numeric_limits<std::size_t>::max(), nullptr, [&](std::vector<Valor>& f) {
        filas.push_back(f);
        return true;
      });
      // The list length is a property of the query, not of its rows.
      std::vector<std::string> nombres;
      Consultar(*s.consulta, 0, &nombres, [](std::vector<Valor>&) { return false; });
      if (nombres.size() < destino.size())
        throw ErrorSql(120,
                       "The select list for the INSERT statement contains fewer items than the insert list. "
                       "The number of SELECT values must match the number of INSERT columns.");
      if (nombres.size() > destino.size())
        throw ErrorSql(121,
                       "The select list for the INSERT statement contains more items than the insert list. "
                       "The number of SELECT values must match the number of INSERT columns.");
    } else {
      FilaVacia vacia;
      for (auto& fila : s.valores) {
        if (fila.size() != destino.size())
          throw ErrorSql(213, "Column name or number of supplied values does not match table definition.");
        std::vector<Valor> v;
        for (auto& e : fila) {
          SinColumnas(*e);
          v.push_back(Evaluar(*e, vacia));
        }
        filas.push_back(std::move(v));
      }
    }
    // Defaults are worked out once per statement, only for the columns it leaves out.
    std::vector<std::optional<Valor>> defectos(t->e.cols.size());
    for (std::size_t i = 0; i < t->e.cols.size(); ++i)
      if (const Restriccion* d = t->Defecto(t->e.cols[i]->nombre);
          d && std::find(destino.begin(), destino.end(), static_cast<int>(i)) == destino.end()) {
        auto e = AnalizarExpresion(d->textoDefecto);
        defectos[i] = Convertir(Evaluar(*e, FilaVacia()), t->e.cols[i]->tipo);
      }
    AnotarFilas(t);
    auto grupos = Grupos(*t);
    std::vector<std::string> claves;
    for (auto& origen : filas) {
      std::vector<Valor> fila(t->e.cols.size());
      std::vector<bool> dado(t->e.cols.size(), false);
      for (std::size_t k = 0; k < destino.size(); ++k) {
        const auto i = static_cast<std::size_t>(destino[k]);
        fila[i] = Convertir(origen[k], t->e.cols[i]->tipo);
        dado[i] = true;
      }
      for (std::size_t i = 0; i < fila.size(); ++i) {
        Columna& c = *t->e.cols[i];
        if (dado[i]) {
          if (c.identidad && !fila[i].Nulo() &&
              (!c.generado || (c.incremento > 0 ? fila[i].n > c.actual : fila[i].n < c.actual))) {
            c.actual = fila[i].n;
            c.generado = true;
          }
        } else if (c.identidad) {
          fila[i] = Valor::Entero(SiguienteIdentidad(c));
        } else if (defectos[i]) {
          fila[i] = *defectos[i];
        }
        if (fila[i].Nulo() && !c.nulos)
          throw ErrorSql(515, "Cannot insert the value NULL into column '" + c.nombre + "', table '" +
                                  NombreCompleto(*t) + "'; column does not allow nulls. INSERT fails.");
      }
      AnotarClaves(*t, grupos, fila, claves);
      for (std::size_t i = 0; i < fila.size(); ++i) t->e.cols[i]->Agregar(fila[i]);
      ++t->filas;
    }
    Resultado r;
    r.filasAfectadas = static_cast<long>(filas.size());
    return r;
  }

  Origen OrigenDe(const std::shared_ptr<Tabla>& t) {
    Origen o;
    o.nombre = t->nombre;
    o.tabla = t;
    for (const auto& c : t->e.cols) {
      o.nombres.push_back(c->nombre);
      o.tipos.push_back(c->tipo);
    }
    return o;
  }

  bool EnClave(const Tabla& t, const std::string& col) const {
    for (const auto* cols : ColumnasUnicas(t, nullptr))
      for (const auto& c : *cols)
        if (MismoNombre(c, col)) return true;
    return false;
  }

  Resultado Actualizar(Sentencia& s) {
    auto t = TablaOError(s.objeto);
    const Origen o = OrigenDe(t);
    std::vector<std::size_t> cols;
    bool tocaClave = false;
    for (auto& [nombre, e] : s.asignaciones) {
      const int i = t->Columna(nombre);
      if (i < 0) throw ErrorSql(207, "Invalid column name '" + nombre + "'.");
      const auto ui = static_cast<std::size_t>(i);
      if (std::find(cols.begin(), cols.end(), ui) != cols.end())
        throw ErrorSql(264,
                       "The column name '" + nombre +
                           "' is specified more than once in the SET clause or column list of an INSERT. A "
                           "column cannot be assigned more than one value in the same clause. Modify the "
                           "clause to make sure that a column is updated only once. If this statement "
                           "updates or inserts columns into a view, column aliasing can conceal the "
                           "duplication in your code.");
      if (t->e.cols[ui]->identidad) throw ErrorSql(8102, "Cannot update identity column '" + nombre + "'.");
      Ligar(*e, o);
      cols.push_back(ui);
      tocaClave = tocaClave || EnClave(*t, t->e.cols[ui]->nombre);
    }
    if (s.donde) Ligar(*s.donde, o);
    const std::size_t primera = log.size();
    for (std::size_t ui : cols) {
      Deshacer d;
      d.k = Deshacer::K::Celdas;
      d.tabla = t;
      d.col = t->e.cols[ui];
      d.viejos = d.col->Vacia();
      log.push_back(std::move(d));
    }
    long cuenta = 0;
    FilaTabla f;
    f.t = t.get();
    std::vector<Valor> nuevos(cols.size());
    for (f.f = 0; f.f < t->filas; ++f.f) {
      ++visitas;
      if (s.donde && Cumple(*s.donde, f) != 1) continue;
      for (std::size_t k = 0; k < cols.size(); ++k) {
        const Columna& c = *t->e.cols[cols[k]];
        nuevos[k] = Convertir(Evaluar(*s.asignaciones[k].second, f), c.tipo);
        if (nuevos[k].Nulo() && !c.nulos)
          throw ErrorSql(515, "Cannot insert the value NULL into column '" + c.nombre + "', table '" +
                                  NombreCompleto(*t) + "'; column does not allow nulls. UPDATE fails.");
      }
      for (std::size_t k = 0; k < cols.size(); ++k) {
        Deshacer& d = log[primera + k];
        d.posiciones.push_back(f.f);
        d.viejos->AgregarDe(*d.col, f.f);
        d.col->Poner(f.f, nuevos[k]);
      }
      ++cuenta;
    }
    if (tocaClave && cuenta > 0) {
      t->clavesValidas = false;
      AsegurarClaves(*t);
    }
    Resultado r;
    r.filasAfectadas = cuenta;
    return r;
  }

  Resultado Borrar(Sentencia& s) {
    auto t = TablaOError(s.objeto);
    const Origen o = OrigenDe(t);
    if (s.donde) Ligar(*s.donde, o);
    std::vector<std::size_t> quitar;
    FilaTabla f;
    f.t = t.get();
    for (f.f = 0; f.f < t->filas; ++f.f) {
      ++visitas;
      if (!s.donde || Cumple(*s.donde, f) == 1) quitar.push_back(f.f);
    }
    Resultado r;
    r.filasAfectadas = static_cast<long>(quitar.size());
    if (quitar.empty()) return r;
    Deshacer d;
    d.k = Deshacer::K::Borrado;
    d.tabla = t;
    d.posiciones = quitar;
    for (auto& c : t->e.cols) {
      auto quitados = c->Vacia();
      auto quedan = c->Vacia();
      quedan->Reservar(t->filas - quitar.size());
      std::size_t k = 0;
      for (std::size_t i = 0; i < t->filas; ++i) {
        if (k < quitar.size() && quitar[k] == i) {
          quitados->AgregarDe(*c, i);
          ++k;
        } else {
          quedan->AgregarDe(*c, i);
        }
      }
      c->Intercambiar(*quedan);
      d.borrados.emplace_back(c, std::move(quitados));
    }
    t->filas -= quitar.size();
    t->clavesValidas = false;
    log.push_back(std::move(d));
    return r;
  }

  // ---- DDL ----

  std::string NombreDefecto(const Tabla& t, const std::string& col) {
    const std::size_t parteTabla = 14 - std::min<std::size_t>(col.size(), 5);
    const std::string a = t.nombre.substr(0, std::min(parteTabla, t.nombre.size()));
    const std::string b = col.substr(0, std::min(col.size(), 14 - a.size()));
    for (;;) {
      const int id = NuevoId();
      char hex[16];
      std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(id));
      std::string n = "DF__" + a + "__" + b + "__" + hex;
      if (!NombreUsado(n)) return n;
    }
  }

  std::string NombreClave(const Tabla& t, TR tipo) {
    for (;;) {
      const int id = NuevoId();
      char hex[24];
      std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(id));
      std::string n = (tipo == TR::PK ? "PK__" : "UQ__") + t.nombre.substr(0, 8) + "__" + hex;
      if (!NombreUsado(n)) return n;
    }
  }

  std::shared_ptr<Columna> NuevaColumna(const DefColumna& d, const std::string& tabla) {
    auto c = std::make_shared<Columna>();
    c->nombre = d.nombre;
    c->tipo = d.tipo;
    if (!d.collate.empty() && !EsTexto(d.tipo.tipo))
      throw ErrorSql(447, "Expression type " + NombreTipo(d.tipo.tipo) + " is invalid for COLLATE clause.");
    if (EsTexto(d.tipo.tipo)) c->collation = d.collate.empty() ? collation : d.collate;
    if (d.identidad) {
      if (!(EsEntero(d.tipo.tipo) && d.tipo.tipo != Tipo::Bit) &&
          !(d.tipo.tipo == Tipo::Decimal && d.tipo.escala == 0))
        throw ErrorSql(2749,
                       "Identity column '" + d.nombre +
                           "' must be of data type int, bigint, smallint, tinyint, or decimal or numeric "
                           "with a scale of 0, and constrained to be nonnullable.");
      if (d.nulos.value_or(false))
        throw ErrorSql(8147, "Could not create IDENTITY attribute on nullable column '" + d.nombre +
                                 "', table '" + tabla + "'.");
      if (d.incremento == 0)
        throw ErrorSql(2748, "Cannot specify the increment of zero for identity column '" + d.nombre + "'.");
      c->identidad = true;
      c->semilla = d.semilla;
      c->incremento = d.incremento;
      c->nulos = false;
    } else {
      c->nulos = d.nulos.value_or(true);
    }
    return c;
  }

  void ComprobarNombreRestriccion(const std::string& nombre, std::set<std::string>& nuevos) {
    if (NombreUsado(nombre) || !nuevos.insert(Minusculas(nombre)).second)
      throw Doble(2714, "There is already an object named '" + nombre + "' in the database.", kNoRestriccion);
  }

  int SiguienteIndid(const Tabla& t, bool agrupado) const {
    if (agrupado) return 1;
    int m = 1;
    for (const auto& x : t.e.restr) m = std::max(m, x.indid);
    for (const auto& x : t.e.indices) m = std::max(m, x.indid);
    return m + 1;
  }

  const std::string* IndiceAgrupado(const Tabla& t) const {
    for (const auto& x : t.e.restr)
      if (x.tipo != TR::DF && x.agrupado) return &x.nombre;
    for (const auto& x : t.e.indices)
      if (x.agrupado) return &x.nombre;
    return nullptr;
  }

  bool IndiceExiste(const Tabla& t, const std::string& nombre) const {
    for (const auto& x : t.e.restr)
      if (x.tipo != TR::DF && MismoNombre(x.nombre, nombre)) return true;
    for (const auto& x : t.e.indices)
      if (MismoNombre(x.nombre, nombre)) return true;
    return false;
  }

  // Adds a PRIMARY KEY or UNIQUE constraint over the table's rows (the name is already checked).
  void AgregarClave(Tabla& t, const DefRestriccion& d, std::string nombre) {
    if (d.tipo == TR::PK && t.ClavePrimaria())
      throw Doble(1779, "Table '" + t.nombre + "' already has a primary key defined on it.", kNoRestriccion);
    std::vector<std::string> cols;
    for (const auto& n : d.columnas) {
      const int i = t.Columna(n);
      if (i < 0)
        throw Doble(1911, "Column name '" + n + "' does not exist in the target table or view.",
                    kNoRestriccion);
      for (const auto& c : cols)
        if (MismoNombre(c, n))
          throw Doble(1919, "Column '" + n + "' is specified more than once in the index key list.",
                      kNoRestriccion);
      cols.push_back(t.e.cols[static_cast<std::size_t>(i)]->nombre);
      if (d.tipo == TR::PK && t.e.cols[static_cast<std::size_t>(i)]->nulos)
        throw Doble(8111,
                    "Cannot define PRIMARY KEY constraint on nullable column in table '" + t.nombre + "'.",
                    kNoRestriccion);
    }
    const std::string* agrupada = IndiceAgrupado(t);
    const bool agrupado = d.agrupadoDicho ? d.agrupado : (d.tipo == TR::PK && agrupada == nullptr);
    if (agrupado && agrupada)
      throw Doble(1902,
                  "Cannot create more than one clustered index on table '" + t.nombre +
                      "'. Drop the existing clustered index '" + *agrupada + "' before creating another.",
                  kNoRestriccion);
    if (IndiceExiste(t, nombre))
      throw Doble(1913,
                  "The operation failed because an index or statistics with name '" + nombre +
                      "' already exists on table '" + t.nombre + "'.",
                  kNoRestriccion);
    ComprobarUnicidad(t, cols, nombre);
    Restriccion r;
    r.tipo = d.tipo;
    r.nombre = std::move(nombre);
    r.id = NuevoId();
    r.columnas = std::move(cols);
    r.agrupado = agrupado;
    r.relleno = d.relleno;
    r.indid = SiguienteIndid(t, agrupado);
    t.e.restr.push_back(std::move(r));
    t.clavesValidas = false;
  }

  Valor ValorDefecto(const std::string& texto, const TipoCol& tipo) {
    auto e = AnalizarExpresion(texto);
    SinColumnas(*e);
    return Convertir(Evaluar(*e, FilaVacia()), tipo);
  }

  void AgregarDefecto(Tabla& t, const DefRestriccion& d, std::string nombre) {
    const int i = t.Columna(d.para);
    if (i < 0)
      throw Doble(
          1752,
          "Column '" + d.para + "' in table '" + t.nombre + "' is invalid for creating a default constraint.",
          kNoRestriccion);
    const Columna& c = *t.e.cols[static_cast<std::size_t>(i)];
    if (t.Defecto(c.nombre)) throw Doble(1781, "Column already has a DEFAULT bound to it.", kNoRestriccion);
    if (c.identidad)
      throw Doble(1754,
                  "Defaults cannot be created on columns with an IDENTITY attribute. Table '" + t.nombre +
                      "', column '" + c.nombre + "'.",
                  kNoRestriccion);
    // The value is converted where it is used, as the server does: a default that does not fit its
    // column is accepted here and refused by the insert that needs it.
    SinColumnas(*AnalizarExpresion(d.textoDefecto));
    Restriccion r;
    r.tipo = TR::DF;
    r.nombre = std::move(nombre);
    r.id = NuevoId();
    r.textoDefecto = d.textoDefecto;
    r.para = c.nombre;
    t.e.restr.push_back(std::move(r));
  }

  Resultado CrearTabla(Sentencia& s) {
    if (!EsquemaPropio(s.objeto))
      throw ErrorSql(2760, "The specified schema name \"" + s.objeto.esquema +
                               "\" either does not exist or you do not have permission to use it.");
    if (NombreUsado(s.objeto.nombre))
      throw ErrorSql(2714, "There is already an object named '" + s.objeto.nombre + "' in the database.");
    auto t = std::make_shared<Tabla>();
    t->nombre = s.objeto.nombre;
    std::vector<DefRestriccion> claves;
    for (auto& c : s.columnas)
      if (c.clave) claves.push_back(std::move(*c.clave));
    for (auto& r : s.restricciones) claves.push_back(std::move(r));
    bool identidad = false;
    for (auto& d : s.columnas) {
      if (t->Columna(d.nombre) >= 0)
        throw ErrorSql(2705, "Column names in each table must be unique. Column name '" + d.nombre +
                                 "' in table '" + t->nombre + "' is specified more than once.");
      if (d.identidad && identidad)
        throw ErrorSql(2744, "Multiple identity columns specified for table '" + t->nombre +
                                 "'. Only one identity column per table is allowed.");
      identidad = identidad || d.identidad;
      // Columns of a primary key declared here become NOT NULL unless the statement says NULL.
      if (!d.nulos)
        for (const auto& k : claves)
          if (k.tipo == TR::PK)
            for (const auto& n : k.columnas)
              if (MismoNombre(n, d.nombre)) d.nulos = false;
      t->e.cols.push_back(NuevaColumna(d, t->nombre));
    }
    std::set<std::string> nuevos{Minusculas(t->nombre)};
    for (auto& d : s.columnas)
      if (d.defecto) {
        std::string nombre = d.defecto->nombre.empty() ? NombreDefecto(*t, d.nombre) : d.defecto->nombre;
        ComprobarNombreRestriccion(nombre, nuevos);
        AgregarDefecto(*t, *d.defecto, nombre);
      }
    for (auto& k : claves) {
      std::string nombre = k.nombre.empty() ? NombreClave(*t, k.tipo) : k.nombre;
      ComprobarNombreRestriccion(nombre, nuevos);
      AgregarClave(*t, k, nombre);
    }
    t->id = NuevoId();
    AnotarObjetos();
    tablas.push_back(t);
    return {};
  }

  std::shared_ptr<Tabla> TablaAlterada(const NombreObjeto& o) {
    auto t = BuscarTabla(o);
    if (!t)
      throw ErrorSql(4902, "Cannot find the object \"" + TextoNombre(o) +
                               "\" because it does not exist or you do not have permissions.");
    return t;
  }

  Resultado AgregarATabla(Sentencia& s) {
    auto t = TablaAlterada(s.objeto);
    AnotarEsquema(t);
    std::set<std::string> nuevos;
    for (auto& d : s.columnas) {
      if (t->Columna(d.nombre) >= 0)
        throw ErrorSql(2705, "Column names in each table must be unique. Column name '" + d.nombre +
                                 "' in table '" + t->nombre + "' is specified more than once.");
      if (d.identidad)
        for (const auto& c : t->e.cols)
          if (c->identidad)
            throw ErrorSql(2744, "Multiple identity columns specified for table '" + t->nombre +
                                     "'. Only one identity column per table is allowed.");
      auto c = NuevaColumna(d, t->nombre);
      if (!c->nulos && !c->identidad && !d.defecto && t->filas > 0)
        throw ErrorSql(
            4901,
            "ALTER TABLE only allows columns to be added that can contain nulls, or have a DEFAULT "
            "definition specified, or the column being added is an identity or timestamp column, or "
            "alternatively if none of the previous conditions are satisfied the table must be empty to "
            "allow addition of this column. Column '" +
                d.nombre + "' cannot be added to non-empty table '" + t->nombre +
                "' because it does not satisfy these conditions.");
      std::string nombreDefecto;
      if (d.defecto) {
        nombreDefecto = d.defecto->nombre.empty() ? NombreDefecto(*t, d.nombre) : d.defecto->nombre;
        ComprobarNombreRestriccion(nombreDefecto, nuevos);
      }
      c->Reservar(t->filas);
      if (c->identidad) {
        for (std::size_t f = 0; f < t->filas; ++f) c->Agregar(Valor::Entero(SiguienteIdentidad(*c)));
      } else {
        // Existing rows take the default only when the column cannot hold NULL.
        Valor v;
        if (d.defecto && !c->nulos) v = ValorDefecto(d.defecto->textoDefecto, c->tipo);
        // A NULL default would leave NOT NULL rows holding NULL, which no script could load again.
        if (!c->nulos && v.Nulo() && t->filas > 0)
          throw ErrorSql(515, "Cannot insert the value NULL into column '" + c->nombre + "', table '" +
                                  NombreCompleto(*t) + "'; column does not allow nulls. ALTER TABLE fails.");
        for (std::size_t f = 0; f < t->filas; ++f) c->Agregar(v);
      }
      t->e.cols.push_back(c);
      if (d.defecto) AgregarDefecto(*t, *d.defecto, nombreDefecto);
      if (d.clave) {
        std::string nombre = d.clave->nombre.empty() ? NombreClave(*t, d.clave->tipo) : d.clave->nombre;
        ComprobarNombreRestriccion(nombre, nuevos);
        AgregarClave(*t, *d.clave, nombre);
      }
    }
    for (auto& r : s.restricciones) {
      std::string nombre = !r.nombre.empty()  ? r.nombre
                           : r.tipo == TR::DF ? NombreDefecto(*t, r.para)
                                              : NombreClave(*t, r.tipo);
      ComprobarNombreRestriccion(nombre, nuevos);
      if (r.tipo == TR::DF)
        AgregarDefecto(*t, r, nombre);
      else
        AgregarClave(*t, r, nombre);
    }
    return {};
  }

  // The objects that keep a column from being dropped or altered; empty when it is free.
  std::string Dependientes(const Tabla& t, const Columna& c, const DefColumna* nueva, bool nulos) const {
    std::string r;
    auto anota = [&](const char* clase, const std::string& nombre) {
      r += std::string("The ") + clase + " '" + nombre + "' is dependent on column '" + c.nombre + "'. ";
    };
    const bool variable = nueva && c.tipo.tipo == Tipo::VarChar && nueva->tipo.tipo == Tipo::VarChar;
    const bool crece = variable && nueva->tipo.largo >= c.tipo.largo;
    for (const auto& x : t.e.restr) {
      if (x.tipo == TR::DF) {
        if (!MismoNombre(x.para, c.nombre)) continue;
        if (nueva && nueva->tipo.tipo == c.tipo.tipo) continue;
        anota("object", x.nombre);
        continue;
      }
      if (std::none_of(x.columnas.begin(), x.columnas.end(),
                       [&](const auto& n) { return MismoNombre(n, c.nombre); }))
        continue;
      if (x.tipo == TR::PK && crece && !nulos) continue;
      if (x.tipo == TR::UQ && variable) continue;
      anota("object", x.nombre);
    }
    for (const auto& x : t.e.indices) {
      if (std::none_of(x.columnas.begin(), x.columnas.end(),
                       [&](const auto& n) { return MismoNombre(n, c.nombre); }))
        continue;
      if (crece) continue;
      anota("index", x.nombre);
    }
    return r;
  }

  Resultado AlterarColumna(Sentencia& s) {
    auto t = TablaAlterada(s.objeto);
    const DefColumna& d = s.columnas.at(0);
    const int i = t->Columna(d.nombre);
    if (i < 0)
      throw ErrorSql(4924, "ALTER TABLE ALTER COLUMN failed because column '" + d.nombre +
                               "' does not exist in table '" + t->nombre + "'.");
    const auto ui = static_cast<std::size_t>(i);
    const Columna& vieja = *t->e.cols[ui];
    if (vieja.identidad)
      throw ErrorSql(4928, "Cannot alter column '" + vieja.nombre + "' because it is 'IDENTITY'.");
    const bool nulos = d.nulos.value_or(true);
    const std::string dependientes = Dependientes(*t, vieja, &d, nulos);
    if (!dependientes.empty())
      throw ErrorSql(5074, dependientes + "ALTER TABLE ALTER COLUMN " + vieja.nombre +
                               " failed because one or more objects access this column.");
    if (!d.collate.empty() && !EsTexto(d.tipo.tipo))
      throw ErrorSql(447, "Expression type " + NombreTipo(d.tipo.tipo) + " is invalid for COLLATE clause.");
    auto c = vieja.Vacia();
    c->tipo = d.tipo;
    c->nulos = nulos;
    c->collation = EsTexto(d.tipo.tipo) ? (d.collate.empty() ? collation : d.collate) : std::string();
    c->Reservar(t->filas);
    const bool mismoTipo = vieja.tipo == d.tipo;
    for (std::size_t f = 0; f < t->filas; ++f) {
      if (mismoTipo) {
        c->AgregarDe(vieja, f);
      } else {
        const Valor v = vieja.Leer(f);
        c->Agregar(v.Nulo() ? v : Convertir(v, d.tipo));
      }
      if (!nulos && c->nulo.back())
        throw ErrorSql(515, "Cannot insert the value NULL into column '" + vieja.nombre + "', table '" +
                                NombreCompleto(*t) + "'; column does not allow nulls. UPDATE fails.");
    }
    AnotarEsquema(t);
    t->e.cols[ui] = c;
    t->clavesValidas = false;
    return {};
  }

  Resultado EliminarDeTabla(Sentencia& s) {
    auto t = TablaAlterada(s.objeto);
    AnotarEsquema(t);
    for (const auto& nombre : s.eliminarRestricciones) {
      auto it = std::find_if(t->e.restr.begin(), t->e.restr.end(),
                             [&](const Restriccion& r) { return MismoNombre(r.nombre, nombre); });
      if (it == t->e.restr.end())
        throw Doble(3728, "'" + nombre + "' is not a constraint.",
                    "Could not drop constraint. See previous errors.");
      t->e.restr.erase(it);
      t->clavesValidas = false;
    }
    for (const auto& nombre : s.eliminarColumnas) {
      const int i = t->Columna(nombre);
      if (i < 0)
        throw ErrorSql(4924, "ALTER TABLE DROP COLUMN failed because column '" + nombre +
                                 "' does not exist in table '" + t->nombre + "'.");
      const auto ui = static_cast<std::size_t>(i);
      const std::string dependientes = Dependientes(*t, *t->e.cols[ui], nullptr, true);
      if (!dependientes.empty())
        throw ErrorSql(5074, dependientes + "ALTER TABLE DROP COLUMN " + t->e.cols[ui]->nombre +
                                 " failed because one or more objects access this column.");
      t->e.cols.erase(t->e.cols.begin() + static_cast<std::ptrdiff_t>(ui));
    }
    return {};
  }

  Resultado CrearIndice(Sentencia& s) {
    auto t = BuscarTabla(s.objeto);
    if (!t)
      throw ErrorSql(1088, "Cannot find the object \"" + TextoNombre(s.objeto) +
                               "\" because it does not exist or you do not have permissions.");
    if (IndiceExiste(*t, s.nombreIndice))
      throw ErrorSql(1913, "The operation failed because an index or statistics with name '" +
                               s.nombreIndice + "' already exists on table '" + t->nombre + "'.");
    Indice x;
    for (const auto& n : s.listaCols) {
      const int i = t->Columna(n);
      if (i < 0) throw ErrorSql(1911, "Column name '" + n + "' does not exist in the target table or view.");
      x.columnas.push_back(t->e.cols[static_cast<std::size_t>(i)]->nombre);
    }
    if (s.agrupado)
      if (const std::string* otro = IndiceAgrupado(*t))
        throw ErrorSql(1902, "Cannot create more than one clustered index on table '" + t->nombre +
                                 "'. Drop the existing clustered index '" + *otro +
                                 "' before creating another.");
    if (s.unico) {
      try {
        ComprobarUnicidad(*t, x.columnas, s.nombreIndice);
      } catch (const ErrorSql& e) {
        throw ErrorSql(
            e.numero, e.descripcion.substr(0, e.descripcion.size() - std::string(kNoRestriccion).size() - 1) +
                          " The statement has been terminated.");
      }
    }
    x.nombre = s.nombreIndice;
    x.unico = s.unico;
    x.agrupado = s.agrupado;
    x.relleno = s.relleno;
    x.indid = SiguienteIndid(*t, s.agrupado);
    AnotarEsquema(t);
    t->e.indices.push_back(std::move(x));
    t->clavesValidas = false;
    return {};
  }

  Resultado CrearVista(Sentencia& s) {
    if (!EsquemaPropio(s.objeto))
      throw ErrorSql(2760, "The specified schema name \"" + s.objeto.esquema +
                               "\" either does not exist or you do not have permission to use it.");
    if (NombreUsado(s.objeto.nombre))
      throw ErrorSql(2714, "There is already an object named '" + s.objeto.nombre + "' in the database.");
    // The view does not exist while it is made, also when a script makes it.
    if (Nombra(*s.consulta, s.objeto.nombre))
      throw ErrorSql(208, "Invalid object name '" + TextoNombre(s.objeto) + "'.");
    Origen prueba;
    try {
      ArmarUnion(prueba, *s.consulta, s.objeto.nombre);
    } catch (const ErrorSql&) {
      // A database file must open even when a view lost a column after it was made; the view
      // then fails where it is used, as it does on the server.
      if (!cargando) throw;
    }
    auto v = std::make_shared<Vista>();
    v->nombre = s.objeto.nombre;
    v->id = NuevoId();
    v->texto = s.texto;
    AnotarObjetos();
    vistas.push_back(v);
    return {};
  }

  // Whether a query reads from the object `nombre` of our schema, in any part or subquery.
  static bool Nombra(const Consulta& c, const std::string& nombre) {
    for (const auto& n : c.partes) {
      if (n.desde && EsquemaPropio(*n.desde) && MismoNombre(n.desde->nombre, nombre)) return true;
      for (const auto& it : n.items)
        if (it.expr && Nombra(*it.expr, nombre)) return true;
      if (n.donde && Nombra(*n.donde, nombre)) return true;
    }
    return false;
  }
  static bool Nombra(const Expr& e, const std::string& nombre) {
    if (e.sub && Nombra(*e.sub, nombre)) return true;
    for (const auto& h : e.hijos)
      if (Nombra(*h, nombre)) return true;
    return false;
  }

  Resultado EliminarObjeto(Sentencia& s) {
    const bool tabla = s.k == Sentencia::K::EliminarTabla;
    AnotarObjetos();
    if (tabla) {
      auto t = BuscarTabla(s.objeto);
      if (!t)
        throw ErrorSql(3701, "Cannot drop the table '" + TextoNombre(s.objeto) +
                                 "', because it does not exist or you do not have permission.");
      tablas.erase(std::find(tablas.begin(), tablas.end(), t));
    } else {
      auto v = BuscarVista(s.objeto);
      if (!v)
        throw ErrorSql(3701, "Cannot drop the view '" + TextoNombre(s.objeto) +
                                 "', because it does not exist or you do not have permission.");
      vistas.erase(std::find(vistas.begin(), vistas.end(), v));
    }
    return {};
  }

  Resultado Identidad(Sentencia& s) {
    auto t = BuscarTabla(s.objeto);
    if (!t) throw ErrorSql(208, "Invalid object name '" + TextoNombre(s.objeto) + "'.");
    auto c = std::find_if(t->e.cols.begin(), t->e.cols.end(), [](const auto& x) { return x->identidad; });
    if (c == t->e.cols.end())
      throw ErrorSql(8106, "Table '" + t->nombre +
                               "' does not have the identity property. Cannot perform SET operation.");
    if (s.k == Sentencia::K::IdentityInsert) {
      t->identityInsert = s.activar;
    } else {
      (*c)->actual = s.reseed;
      (*c)->generado = true;
    }
    return {};
  }

  Resultado Una(Sentencia& s, std::size_t maxFilas) {
    switch (s.k) {
      case Sentencia::K::Begin:
        ++nivel;
        return {};
      case Sentencia::K::Commit:
        if (nivel == 0)
          throw ErrorSql(3902, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
        if (--nivel == 0) log.clear();
        return {};
      case Sentencia::K::Rollback:
        if (nivel == 0)
          throw ErrorSql(3903, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
        DeshacerHasta(0);
        nivel = 0;
        return {};
      default:
        break;
    }
    const std::size_t marca = log.size();
    Resultado r;
    try {
      switch (s.k) {
        case Sentencia::K::CrearTabla:
          r = CrearTabla(s);
          break;
        case Sentencia::K::CrearIndice:
          r = CrearIndice(s);
          break;
        case Sentencia::K::CrearVista:
          r = CrearVista(s);
          break;
        case Sentencia::K::EliminarTabla:
        case Sentencia::K::EliminarVista:
          r = EliminarObjeto(s);
          break;
        case Sentencia::K::AgregarATabla:
          r = AgregarATabla(s);
          break;
        case Sentencia::K::AlterarColumna:
          r = AlterarColumna(s);
          break;
        case Sentencia::K::EliminarDeTabla:
          r = EliminarDeTabla(s);
          break;
        case Sentencia::K::Insertar:
          r = Insertar(s);
          break;
        case Sentencia::K::Actualizar:
          r = Actualizar(s);
          break;
        case Sentencia::K::Borrar:
          r = Borrar(s);
          break;
        case Sentencia::K::Seleccionar:
          r = Seleccionar(s, maxFilas);
          break;
        case Sentencia::K::IdentityInsert:
        case Sentencia::K::Reseed:
          r = Identidad(s);
          break;
        default:
          break;
      }
    } catch (const ErrorSql& e) {
      // A conversion failure ends the whole transaction; other errors only their statement.
      if (EsErrorConversion(e.numero) && nivel > 0) {
        DeshacerHasta(0);
        nivel = 0;
      } else {
        DeshacerHasta(marca);
      }
      if (nivel == 0) log.clear();
      throw;
    }
    if (nivel == 0) log.clear();
    return r;
  }

  // ---- dump ----

  static std::string Corchetes(const std::string& n) { return "[" + n + "]"; }

  std::string DefinicionColumna(const Tabla& t, const Columna& c) const {
    std::string r = "\t" + Corchetes(c.nombre) + " " + DeclaracionTipo(c.tipo);
    if (EsTexto(c.tipo.tipo) && c.collation != collation) r += " COLLATE " + NombreEnScript(c.collation);
    if (c.identidad)
      r += " IDENTITY (" + std::to_string(c.semilla) + ", " + std::to_string(c.incremento) + ")";
    r += c.nulos ? " NULL" : " NOT NULL";
    if (const Restriccion* d = t.Defecto(c.nombre))
      r += " CONSTRAINT " + Corchetes(d->nombre) + " DEFAULT " + d->textoDefecto;
    return r;
  }

  static std::string ListaCorchetes(const std::vector<std::string>& cols) {
    std::string r;
    for (const auto& c : cols) r += (r.empty() ? "" : ", ") + Corchetes(c);
    return r;
  }

  std::string Volcar() const {
    std::string r = "-- Base de datos simulada " + base + ": tablas, vistas y filas.\n";
    for (const auto& t : tablas) {
      r += "CREATE TABLE " + Corchetes(t->nombre) + " (\n";
      std::vector<std::string> lineas;
      for (const auto& c : t->e.cols) lineas.push_back(DefinicionColumna(*t, *c));
      for (const auto& x : t->e.restr) {
        if (x.tipo == TR::DF) continue;
        std::string l =
            "\tCONSTRAINT " + Corchetes(x.nombre) + (x.tipo == TR::PK ? " PRIMARY KEY" : " UNIQUE") +
            (x.agrupado ? " CLUSTERED" : " NONCLUSTERED") + " (" + ListaCorchetes(x.columnas) + ")";
        if (x.relleno) l += " WITH FILLFACTOR = " + std::to_string(x.relleno);
        lineas.push_back(std::move(l));
      }
      for (std::size_t i = 0; i < lineas.size(); ++i) r += lineas[i] + (i + 1 < lineas.size() ? ",\n" : "\n");
      r += ")\nGO\n";
      for (const auto& x : t->e.indices) {
        r += "CREATE " + std::string(x.unico ? "UNIQUE " : "") + (x.agrupado ? "CLUSTERED" : "NONCLUSTERED") +
             " INDEX " + Corchetes(x.nombre) + " ON " + Corchetes(t->nombre) + " (" +
             ListaCorchetes(x.columnas) + ")";
        if (x.relleno) r += " WITH FILLFACTOR = " + std::to_string(x.relleno);
        r += "\nGO\n";
      }
    }
    for (const auto& v : vistas) r += v->texto + "\nGO\n";
    for (const auto& t : tablas) {
      if (t->filas == 0 && std::none_of(t->e.cols.begin(), t->e.cols.end(),
                                        [](const auto& c) { return c->identidad && c->generado; }))
        continue;
      const Columna* identidad = nullptr;
      for (const auto& c : t->e.cols)
        if (c->identidad) identidad = c.get();
      std::string cabeza = "INSERT INTO " + Corchetes(t->nombre) + " (";
      for (std::size_t i = 0; i < t->e.cols.size(); ++i)
        cabeza += (i ? ", " : "") + Corchetes(t->e.cols[i]->nombre);
      cabeza += ") VALUES\n";
      if (identidad && t->filas) r += "SET IDENTITY_INSERT " + Corchetes(t->nombre) + " ON\n";
      // One statement per 500 rows, one row per line.
      for (std::size_t f = 0; f < t->filas; ++f) {
        if (f % 500 == 0) {
          if (f) r += "GO\n";
          r += cabeza;
        }
        r += '(';
        for (std::size_t i = 0; i < t->e.cols.size(); ++i) {
          const Columna& c = *t->e.cols[i];
          Valor v = c.Leer(f);
          if (c.tipo.tipo == Tipo::Char && !v.Nulo())
            while (!v.s.empty() && v.s.back() == ' ') v.s.pop_back();
          if (i) r += ", ";
          r += Literal(v);
        }
        r += (f % 500 == 499 || f + 1 == t->filas) ? ")\n" : "),\n";
      }
      if (identidad) {
        if (t->filas) r += "SET IDENTITY_INSERT " + Corchetes(t->nombre) + " OFF\n";
        if (identidad->generado)
          r += "DBCC CHECKIDENT (" + Literal(Valor::Texto(NombreEnScript(t->nombre))) + ", RESEED, " +
               std::to_string(identidad->actual) + ")\n";
      }
      r += "GO\n";
    }
    return r + LineaCierre(r);
  }
};

Servidor::Servidor(std::string nombreBase) : impl_(std::make_unique<Impl>()) {
  impl_->base = std::move(nombreBase);
}

Servidor::~Servidor() = default;

Resultado Servidor::Ejecutar(std::string_view sentencia, std::size_t maxFilas) {
  auto lote = AnalizarLote(sentencia);
  Resultado r;
  for (auto& s : lote) r = impl_->Una(s, maxFilas);
  return r;
}

void Servidor::EjecutarLote(std::string_view lote, const Receptor& receptor) {
  auto sentencias = AnalizarLote(lote);
  struct Atado {
    const Receptor*& r;
    Atado(const Receptor*& x, const Receptor& y) : r(x) { r = &y; }
    ~Atado() { r = nullptr; }
  } atado(impl_->receptor, receptor);
  for (auto& s : sentencias) {
    bool seguir = true;
    try {
      if (receptor.antes) {
        using K = Sentencia::K;
        receptor.antes(s.k == K::Seleccionar ? Clase::Consulta
                       : s.k == K::Begin     ? Clase::Begin
                       : s.k == K::Commit    ? Clase::Commit
                       : s.k == K::Rollback  ? Clase::Rollback
                                             : Clase::Cambio);
      }
      Resultado r = impl_->Una(s, std::numeric_limits<std::size_t>::max());
      r.contadas = s.k == Sentencia::K::Seleccionar || s.k == Sentencia::K::Insertar ||
                   s.k == Sentencia::K::Actualizar || s.k == Sentencia::K::Borrar;
      if (receptor.fin) seguir = receptor.fin(&r, nullptr);
    } catch (const ErrorSql& e) {
      seguir = receptor.fin ? receptor.fin(nullptr, &e) : false;
    }
    if (!seguir) break;
  }
}

void Servidor::EjecutarScript(std::string_view script) {
  struct Cargando {
    bool& b;
    explicit Cargando(bool& x) : b(x) { b = true; }
    ~Cargando() { b = false; }
  } cargando(impl_->cargando);
  ComprobarVolcado(script);
  std::size_t inicio = 0;
  auto correr = [&](std::size_t fin) {
    const std::string_view lote = script.substr(inicio, fin - inicio);
    if (lote.find_first_not_of(" \t\r\n") != std::string_view::npos) Ejecutar(lote);
  };
  CadaLinea(script, [&](std::size_t pos, std::size_t fin) {
    if (EsSeparador(script.substr(pos, fin - pos))) {
      correr(pos);
      inicio = fin + 1;
    }
  });
  if (inicio < script.size()) correr(script.size());
  // The key sets built while loading are dropped: most tables are only read afterwards.
  for (auto& t : impl_->tablas) {
    t->claves.clear();
    t->clavesValidas = false;
  }
}

std::string Servidor::Script() const {
  return impl_->Volcar();
}

int Servidor::NivelTransaccion() const {
  return impl_->nivel;
}

const std::string& Servidor::NombreBase() const {
  return impl_->base;
}

std::size_t Servidor::FilasVisitadas() const {
  return impl_->visitas;
}

void Servidor::Reloj(std::function<std::int64_t()> reloj) {
  impl_->reloj = std::move(reloj);
}

}  // namespace simulado
