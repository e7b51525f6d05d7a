// Rows loaded straight from another database, and the rows a statement that failed on its data trips on.
#include <algorithm>
#include <unordered_map>

#include "ServidorImpl.h"

namespace simulado {

namespace {

bool Unica(const Sentencia& s) {
  return s.k == Sentencia::K::CrearIndice && s.unico;
}

// Why a value cannot go into a column of type `t`, in the operator's words.
std::string Motivo(int numero, const TipoCol& t) {
  switch (numero) {
    case 515:
      return "es NULL y la columna pasa a NOT NULL";
    case 8152:
      return "no cabe en " + DeclaracionTipo(t);
    default:
      return "no se puede convertir a " + DeclaracionTipo(t) + " (error " + std::to_string(numero) + ")";
  }
}

}  // namespace

// An INSERT's checks on one row already in the columns' types: NULLs, identity, keys; then it is appended.
void Servidor::Impl::CargarFila(Tabla& t, std::vector<Grupo>& grupos, std::vector<Valor>& fila,
                                std::vector<std::string>& claves) {
  for (std::size_t i = 0; i < fila.size(); ++i) {
    Columna& c = *t.e.cols[i];
    if (fila[i].Nulo() && !c.nulos)
      throw ErrorSql(515, "Cannot insert the value NULL into column '" + c.nombre + "', table '" +
                              NombreCompleto(t) + "'; column does not allow nulls. INSERT fails.");
    if (c.identidad && (!c.generado || (c.incremento > 0 ? fila[i].n > c.actual : fila[i].n < c.actual))) {
      c.actual = fila[i].n;
      c.generado = true;
    }
  }
  AnotarClaves(t, grupos, fila, claves);
  for (std::size_t i = 0; i < fila.size(); ++i) t.e.cols[i]->Agregar(fila[i]);
  ++t.filas;
}

// "TRA_Codigo = 17" from the primary key, or the row's position when the table has none.
std::string Servidor::Impl::DescribirFila(const Tabla& t, std::size_t f) const {
  const Restriccion* pk = t.ClavePrimaria();
  if (!pk) return "fila " + std::to_string(f + 1);
  std::string r;
  for (const auto& n : pk->columnas) {
    const int i = t.Columna(n);
    r += (r.empty() ? "" : ", ") + t.e.cols[static_cast<std::size_t>(i)]->nombre + " = " +
         Literal(t.e.cols[static_cast<std::size_t>(i)]->Leer(f));
  }
  return r;
}

// The key values that more than one row holds, as a unique index over `cols` would see them.
std::vector<std::string> Servidor::Impl::Repetidas(const Tabla& t, const std::vector<std::string>& cols,
                                                   std::size_t maximo) {
  for (const auto& c : cols)
    if (t.Columna(c) < 0) return {};
  std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> cuentas;  // key -> rows, first row
  std::vector<std::string> orden;
  for (std::size_t f = 0; f < t.filas; ++f) {
    auto leer = [&](int i) { return t.e.cols[static_cast<std::size_t>(i)]->Leer(f); };
    auto it = cuentas.try_emplace(Clave(t, cols, leer), 0, f).first;
    if (++it->second.first == 2) orden.push_back(it->first);
  }
  std::vector<std::string> r;
  for (const auto& k : orden) {
    if (r.size() == maximo) break;
    const std::size_t filas = cuentas[k].first, primera = cuentas[k].second;
    auto leer = [&](int i) { return t.e.cols[static_cast<std::size_t>(i)]->Leer(primera); };
    r.push_back("(" + ValoresClave(t, cols, leer) + ") en " + std::to_string(filas) + " filas");
  }
  return r;
}

// The rows whose value of the altered column would be refused by its new definition.
std::vector<std::string> Servidor::Impl::NoConvierten(const Tabla& t, const DefColumna& nueva,
                                                      std::size_t maximo) {
  const int i = t.Columna(nueva.nombre);
  if (i < 0) return {};
  const Columna& c = *t.e.cols[static_cast<std::size_t>(i)];
  const bool nulos = nueva.nulos.value_or(true);
  std::vector<std::string> r;
  for (std::size_t f = 0; f < t.filas && r.size() < maximo; ++f) {
    const Valor v = c.Leer(f);
    int numero = 0;
    if (v.Nulo()) {
      if (!nulos) numero = 515;
    } else {
      try {
        Convertir(v, nueva.tipo);
      } catch (const ErrorSql& e) {
        numero = e.numero;
      }
    }
    if (numero)
      r.push_back(DescribirFila(t, f) + ": " + c.nombre + " = " + Literal(v) + " " +
                  Motivo(numero, nueva.tipo));
  }
  return r;
}

// An UPDATE's new values row by row: those its columns refuse, and the keys it would leave held twice.
std::vector<std::string> Servidor::Impl::ChocanAlActualizar(Sentencia& s, std::size_t maximo) {
  auto t = TablaOError(s.objeto);
  const Origen o = OrigenDe(t);
  std::vector<std::size_t> cols;
  for (auto& [nombre, e] : s.asignaciones) {
    const int i = t->Columna(nombre);
    if (i < 0) return {};
    Ligar(*e, o);
    cols.push_back(static_cast<std::size_t>(i));
  }
  if (s.donde) Ligar(*s.donde, o);
  std::vector<std::string> r;
  std::vector<std::optional<std::vector<Valor>>> nuevas(t->filas);
  FilaTabla f;
  f.t = t.get();
  for (f.f = 0; f.f < t->filas && r.size() < maximo; ++f.f) {
    if (s.donde && Cumple(*s.donde, f) != 1) continue;
    std::vector<Valor> fila(t->e.cols.size());
    for (std::size_t k = 0; k < fila.size(); ++k) fila[k] = t->e.cols[k]->Leer(f.f);
    for (std::size_t k = 0; k < cols.size(); ++k) {
      const Columna& c = *t->e.cols[cols[k]];
      try {
        fila[cols[k]] = Convertir(Evaluar(*s.asignaciones[k].second, f), c.tipo);
        if (fila[cols[k]].Nulo() && !c.nulos) throw ErrorSql(515, "");
      } catch (const ErrorSql& e) {
        r.push_back(DescribirFila(*t, f.f) + ": " + c.nombre + " " +
                    (e.numero == 515 ? "quedaría NULL y la columna no lo admite" : Motivo(e.numero, c.tipo)));
      }
    }
    nuevas[f.f] = std::move(fila);
  }
  // Each unique key over the rows as the statement would leave them.
  std::vector<std::string> nombres;
  const auto grupos = ColumnasUnicas(*t, &nombres);
  for (std::size_t g = 0; g < grupos.size() && r.size() < maximo; ++g) {
    std::unordered_map<std::string, std::vector<std::size_t>> filas;
    std::vector<std::string> orden;
    for (std::size_t k = 0; k < t->filas; ++k) {
      auto leer = [&](int i) {
        const auto ui = static_cast<std::size_t>(i);
        return nuevas[k] ? (*nuevas[k])[ui] : t->e.cols[ui]->Leer(k);
      };
      auto& v = filas[Clave(*t, *grupos[g], leer)];
      v.push_back(k);
      if (v.size() == 2) orden.push_back(Clave(*t, *grupos[g], leer));
    }
    for (const auto& k : orden) {
      if (r.size() == maximo) break;
      std::string l;
      for (std::size_t fila : filas[k])
        l += (l.empty() ? "" : "; ") + DescribirFila(*t, fila) +
             (nuevas[fila] ? " (actualizada)" : " (sin cambio)");
      r.push_back(nombres[g] + ": " + l);
    }
  }
  return r;
}

void Servidor::Collation(std::string nombre) {
  impl_->collation = std::move(nombre);
}

const std::string& Servidor::Collation() const {
  return impl_->collation;
}

void Servidor::CargarFilas(std::string_view tabla,
                           const std::vector<std::vector<std::optional<std::string>>>& filas) {
  NombreObjeto o;
  o.nombre = std::string(tabla);
  auto t = impl_->TablaOError(o);
  const std::size_t marca = impl_->log.size();
  try {
    impl_->AnotarFilas(t);
    auto grupos = impl_->Grupos(*t);
    std::vector<std::string> claves;
    std::vector<Valor> fila;
    for (const auto& textos : filas) {
      if (textos.size() != t->e.cols.size())
        throw ErrorSql(213, "Column name or number of supplied values does not match table definition.");
      fila.clear();
      for (std::size_t i = 0; i < textos.size(); ++i)
        fila.push_back(textos[i] ? Convertir(Valor::Texto(*textos[i]), t->e.cols[i]->tipo) : Valor{});
      impl_->CargarFila(*t, grupos, fila, claves);
    }
  } catch (...) {
    impl_->DeshacerHasta(marca);
    if (impl_->nivel == 0) impl_->log.clear();
    throw;
  }
  if (impl_->nivel == 0) impl_->log.clear();
}

void Servidor::FijarIdentidad(std::string_view tabla, std::optional<std::int64_t> ultimo) {
  NombreObjeto o;
  o.nombre = std::string(tabla);
  auto t = impl_->TablaOError(o);
  for (auto& c : t->e.cols)
    if (c->identidad) {
      c->generado = ultimo.has_value();
      c->actual = ultimo.value_or(0);
    }
}

std::vector<std::string> Servidor::FilasCulpables(std::string_view sentencia, int numero,
                                                  std::size_t maximo) {
  std::vector<std::string> r;
  try {
    auto lote = AnalizarLote(sentencia);
    if (lote.size() != 1) return r;
    Sentencia& s = lote[0];
    if (s.k == Sentencia::K::Actualizar) return impl_->ChocanAlActualizar(s, maximo);
    auto t = impl_->BuscarTabla(s.objeto);
    if (!t) return r;
    if (s.k == Sentencia::K::AlterarColumna && !s.columnas.empty())
      return impl_->NoConvierten(*t, s.columnas[0], maximo);
    if (Unica(s)) return impl_->Repetidas(*t, s.listaCols, maximo);
    if (s.k == Sentencia::K::AgregarATabla && (numero == 1505 || numero == 2627))
      for (const auto& x : s.restricciones)
        if (x.tipo != DefRestriccion::T::DF) return impl_->Repetidas(*t, x.columnas, maximo);
  } catch (const ErrorSql&) {
    // A statement this engine does not take has no rows to show.
  }
  return r;
}

}  // namespace simulado
