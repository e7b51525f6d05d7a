// The simulated server's schema statements: tables, columns, constraints, indexes and views.
#include "ServidorImpl.h"

#include <algorithm>
#include <cstdio>

namespace simulado {

std::string Servidor::Impl::NombreDefecto(const Tabla& t, const std::string& col) {
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

std::string Servidor::Impl::NombreClave(const Tabla& t, TR tipo) {
  for (;;) {
    const int id = NuevoId();
    char hex[24];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(id));
    std::string n = (tipo == TR::PK ? "PK__" : "UQ__") + t.nombre.substr(0, 8) + "__" + hex;
    if (!NombreUsado(n)) return n;
  }
}

std::shared_ptr<Columna> Servidor::Impl::NuevaColumna(const DefColumna& d, const std::string& tabla) {
  auto c = std::make_shared<Columna>();
  c->nombre = d.nombre;
  c->tipo = d.tipo;
  if (!d.collate.empty() && !EsTexto(d.tipo.tipo))
    throw ErrorSql(447, "Expression type " + NombreTipo(d.tipo.tipo) + " is invalid for COLLATE clause.");
  if (EsTexto(d.tipo.tipo)) c->collation = d.collate.empty() ? collation : d.collate;
  if (d.identidad) {
    if (!(EsEntero(d.tipo.tipo) && d.tipo.tipo != Tipo::Bit) &&
        !(d.tipo.tipo == Tipo::Decimal && d.tipo.escala == 0))
      throw ErrorSql(2749, "Identity column '" + d.nombre +
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

namespace {

std::string TextoYaExiste(const std::string& nombre) {
  return "There is already an object named '" + nombre + "' in the database.";
}

}  // namespace

void Servidor::Impl::ComprobarNombreNuevo(const NombreObjeto& o) const {
  if (!EsquemaPropio(o))
    throw ErrorSql(2760, "The specified schema name \"" + o.esquema +
                             "\" either does not exist or you do not have permission to use it.");
  if (NombreUsado(o.nombre)) throw ErrorSql(2714, TextoYaExiste(o.nombre));
}

void Servidor::Impl::ComprobarNombreRestriccion(const std::string& nombre, std::set<std::string>& nuevos) {
  if (NombreUsado(nombre) || !nuevos.insert(Minusculas(nombre)).second)
    throw Doble(2714, TextoYaExiste(nombre), kNoRestriccion);
}

int Servidor::Impl::SiguienteIndid(const Tabla& t, bool agrupado) const {
  if (agrupado) return 1;
  int m = 1;
  for (const auto& x : t.e.restr) m = std::max(m, x.indid);
  for (const auto& x : t.e.indices) m = std::max(m, x.indid);
  return m + 1;
}

const std::string* Servidor::Impl::IndiceAgrupado(const Tabla& t) const {
  for (const auto& x : t.e.restr)
    if (x.tipo != TR::DF && x.agrupado) return &x.nombre;
  for (const auto& x : t.e.indices)
    if (x.agrupado) return &x.nombre;
  return nullptr;
}

bool Servidor::Impl::IndiceExiste(const Tabla& t, const std::string& nombre) const {
  for (const auto& x : t.e.restr)
    if (x.tipo != TR::DF && MismoNombre(x.nombre, nombre)) return true;
  for (const auto& x : t.e.indices)
    if (MismoNombre(x.nombre, nombre)) return true;
  return false;
}

// Adds a PRIMARY KEY or UNIQUE constraint over the table's rows (the name is already checked).
void Servidor::Impl::AgregarClave(Tabla& t, const DefRestriccion& d, std::string nombre) {
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

Valor Servidor::Impl::ValorDefecto(const std::string& texto, const TipoCol& tipo) {
  auto e = AnalizarExpresion(texto);
  SinColumnas(*e);
  return Convertir(Evaluar(*e, FilaVacia()), tipo);
}

void Servidor::Impl::AgregarDefecto(Tabla& t, const DefRestriccion& d, std::string nombre) {
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

Resultado Servidor::Impl::CrearTabla(Sentencia& s) {
  ComprobarNombreNuevo(s.objeto);
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

std::shared_ptr<Tabla> Servidor::Impl::TablaAlterada(const NombreObjeto& o) {
  auto t = BuscarTabla(o);
  if (!t)
    throw ErrorSql(4902, "Cannot find the object \"" + TextoNombre(o) +
                             "\" because it does not exist or you do not have permissions.");
  return t;
}

Resultado Servidor::Impl::AgregarATabla(Sentencia& s) {
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
std::string Servidor::Impl::Dependientes(const Tabla& t, const Columna& c, const DefColumna* nueva,
                                         bool nulos) const {
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

Resultado Servidor::Impl::AlterarColumna(Sentencia& s) {
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
    if (!nulos && c->Nulo(c->Filas() - 1))
      throw ErrorSql(515, "Cannot insert the value NULL into column '" + vieja.nombre + "', table '" +
                              NombreCompleto(*t) + "'; column does not allow nulls. UPDATE fails.");
  }
  AnotarEsquema(t);
  t->e.cols[ui] = c;
  t->clavesValidas = false;
  return {};
}

Resultado Servidor::Impl::EliminarDeTabla(Sentencia& s) {
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

Resultado Servidor::Impl::CrearIndice(Sentencia& s) {
  auto t = BuscarTabla(s.objeto);
  if (!t)
    throw ErrorSql(1088, "Cannot find the object \"" + TextoNombre(s.objeto) +
                             "\" because it does not exist or you do not have permissions.");
  if (IndiceExiste(*t, s.nombreIndice))
    throw ErrorSql(1913, "The operation failed because an index or statistics with name '" + s.nombreIndice +
                             "' already exists on table '" + t->nombre + "'.");
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
      throw ErrorSql(e.numero,
                     e.descripcion.substr(0, e.descripcion.size() - std::string(kNoRestriccion).size() - 1) +
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

Resultado Servidor::Impl::CrearVista(Sentencia& s) {
  ComprobarNombreNuevo(s.objeto);
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
bool Servidor::Impl::Nombra(const Consulta& c, const std::string& nombre) {
  for (const auto& n : c.partes) {
    if (n.desde && EsquemaPropio(*n.desde) && MismoNombre(n.desde->nombre, nombre)) return true;
    for (const auto& it : n.items)
      if (it.expr && Nombra(*it.expr, nombre)) return true;
    if (n.donde && Nombra(*n.donde, nombre)) return true;
  }
  return false;
}

bool Servidor::Impl::Nombra(const Expr& e, const std::string& nombre) {
  if (e.sub && Nombra(*e.sub, nombre)) return true;
  for (const auto& h : e.hijos)
    if (Nombra(*h, nombre)) return true;
  return false;
}

Resultado Servidor::Impl::EliminarObjeto(Sentencia& s) {
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

Resultado Servidor::Impl::Identidad(Sentencia& s) {
  auto t = BuscarTabla(s.objeto);
  if (!t) throw ErrorSql(208, "Invalid object name '" + TextoNombre(s.objeto) + "'.");
  auto c = std::find_if(t->e.cols.begin(), t->e.cols.end(), [](const auto& x) { return x->identidad; });
  if (c == t->e.cols.end())
    throw ErrorSql(
        8106, "Table '" + t->nombre + "' does not have the identity property. Cannot perform SET operation.");
  if (s.k == Sentencia::K::IdentityInsert) {
    t->identityInsert = s.activar;
  } else {
    (*c)->actual = s.reseed;
    (*c)->generado = true;
  }
  return {};
}

}  // namespace simulado
