// The simulated server's changes to rows: INSERT, UPDATE and DELETE.
#include "ServidorImpl.h"

#include <algorithm>

namespace simulado {

namespace {

// INSERT and UPDATE give a column named twice the same text.
ErrorSql ColumnaRepetida(const std::string& n) {
  return ErrorSql(264, "The column name '" + n +
                           "' is specified more than once in the SET clause or column list of an INSERT. A "
                           "column cannot be assigned more than one value in the same clause. Modify the "
                           "clause to make sure that a column is updated only once. If this statement "
                           "updates or inserts columns into a view, column aliasing can conceal the "
                           "duplication in your code.");
}

ErrorSql ValoresQueNoCoinciden() {
  return ErrorSql(213, "Column name or number of supplied values does not match table definition.");
}

}  // namespace

std::int64_t Servidor::Impl::SiguienteIdentidad(Columna& c) {
  const std::int64_t v = c.generado ? c.actual + c.incremento : c.semilla;
  Convertir(Valor::Entero(v), c.tipo);
  c.actual = v;
  c.generado = true;
  return v;
}

Resultado Servidor::Impl::Insertar(Sentencia& s) {
  auto t = TablaOError(s.objeto);
  std::vector<int> destino;
  if (s.listaCols.empty()) {
    for (std::size_t i = 0; i < t->e.cols.size(); ++i)
      if (!t->e.cols[i]->identidad) destino.push_back(static_cast<int>(i));
  } else {
    for (const auto& n : s.listaCols) {
      const int i = t->Columna(n);
      if (i < 0) throw ErrorSql(207, "Invalid column name '" + n + "'.");
      if (std::find(destino.begin(), destino.end(), i) != destino.end()) throw ColumnaRepetida(n);
      destino.push_back(i);
    }
  }
  for (int i : destino)
    if (t->e.cols[static_cast<std::size_t>(i)]->identidad && !t->identityInsert)
      throw ErrorSql(544, "Cannot insert explicit value for identity column in table '" + t->nombre +
                              "' when IDENTITY_INSERT is set to OFF.");
  std::vector<Valor> valores;
  if (s.consulta) {
    Consultar(*s.consulta, std::numeric_limits<std::size_t>::max(), nullptr, [&](std::vector<Valor>& f) {
      for (auto& v : f) valores.push_back(std::move(v));
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
  } else if (s.rapida) {
    if (s.irregular || s.porFila != destino.size()) throw ValoresQueNoCoinciden();
    valores = std::move(s.literales);
  } else {
    FilaVacia vacia;
    for (auto& fila : s.valores) {
      if (fila.size() != destino.size()) throw ValoresQueNoCoinciden();
      for (auto& e : fila) {
        SinColumnas(*e);
        valores.push_back(Evaluar(*e, vacia));
      }
    }
  }
  return InsertarValores(t, destino, valores);
}

Resultado Servidor::Impl::InsertarValores(const std::shared_ptr<Tabla>& t, const std::vector<int>& destino,
                                          std::vector<Valor>& valores) {
  const std::size_t n = destino.size(), cuantas = n == 0 ? 0 : valores.size() / n;
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
  std::vector<Valor> fila(t->e.cols.size());
  std::vector<char> dado(t->e.cols.size());
  for (std::size_t r = 0; r < cuantas; ++r) {
    std::fill(dado.begin(), dado.end(), 0);
    for (std::size_t k = 0; k < n; ++k) {
      const auto i = static_cast<std::size_t>(destino[k]);
      fila[i] = Convertir(std::move(valores[r * n + k]), t->e.cols[i]->tipo);
      dado[i] = 1;
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
      } else {
        fila[i] = Valor{};
      }
      if (fila[i].Nulo() && !c.nulos)
        throw ErrorSql(515, "Cannot insert the value NULL into column '" + c.nombre + "', table '" +
                                NombreCompleto(*t) + "'; column does not allow nulls. INSERT fails.");
    }
    AnotarClaves(*t, grupos, fila, claves);
    for (std::size_t i = 0; i < fila.size(); ++i) t->e.cols[i]->Agregar(fila[i]);
    ++t->filas;
  }
  Resultado res;
  res.filasAfectadas = static_cast<long>(cuantas);
  return res;
}

bool Servidor::Impl::EnClave(const Tabla& t, const std::string& col) const {
  for (const auto* cols : ColumnasUnicas(t, nullptr))
    for (const auto& c : *cols)
      if (MismoNombre(c, col)) return true;
  return false;
}

Resultado Servidor::Impl::Actualizar(Sentencia& s) {
  auto t = TablaOError(s.objeto);
  const Origen o = OrigenDe(t);
  std::vector<std::size_t> cols;
  bool tocaClave = false;
  for (auto& [nombre, e] : s.asignaciones) {
    const int i = t->Columna(nombre);
    if (i < 0) throw ErrorSql(207, "Invalid column name '" + nombre + "'.");
    const auto ui = static_cast<std::size_t>(i);
    if (std::find(cols.begin(), cols.end(), ui) != cols.end()) throw ColumnaRepetida(nombre);
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

Resultado Servidor::Impl::Borrar(Sentencia& s) {
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

}  // namespace simulado
