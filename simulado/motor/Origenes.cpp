// The simulated server's sources of rows: tables, views, unions and the catalogue views (sys.*,
// information_schema).
#include "ServidorImpl.h"

#include <algorithm>

namespace simulado {

Origen Servidor::Impl::Catalogo(const NombreObjeto& o) {
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

Origen Servidor::Impl::OrigenDe(const std::shared_ptr<Tabla>& t) {
  Origen o;
  o.nombre = t->nombre;
  o.tabla = t;
  for (const auto& c : t->e.cols) {
    o.nombres.push_back(c->nombre);
    o.tipos.push_back(c->tipo);
  }
  return o;
}

Origen Servidor::Impl::AbrirOrigen(const NombreObjeto& o) {
  const std::string n = Minusculas(o.nombre);
  const std::string e = Minusculas(o.esquema);
  if (((e.empty() || e == "dbo" || e == "sys") && (n == "sysobjects" || n == "sysindexes")) ||
      (e == "information_schema" && n == "columns"))
    return Catalogo(o);
  if (e == "sys")
    if (auto c = CatalogoSys(o.nombre)) return std::move(*c);
  if (auto t = BuscarTabla(o)) return OrigenDe(t);
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
      throw ErrorSql(8623,
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
void Servidor::Impl::ArmarUnion(Origen& r, Consulta& c, const std::string& vista) {
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

Origen Servidor::Impl::Vacio() {
  Origen r;
  r.vacio = true;
  return r;
}

// Calls `fn` for every row of the source until it returns false; false when stopped early.
bool Servidor::Impl::Recorrer(const Origen& o, const std::function<bool(const Fila&)>& fn) {
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
        valores.push_back(p.directas[i] >= 0 ? interior.Leer(p.directas[i]) : Evaluar(*p.items[i], interior));
      FilaValores f;
      f.v = &valores;
      return fn(f);
    });
    if (!siguio) return false;
  }
  return true;
}

}  // namespace simulado
