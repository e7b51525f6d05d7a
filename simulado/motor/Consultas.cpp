// The simulated server's queries: binding and evaluating expressions, projection, SELECT.
#include "ServidorImpl.h"

#include <algorithm>

namespace simulado {

void Servidor::Impl::Ligar(Expr& e, const Origen& o) {
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

bool Servidor::Impl::TieneColumnas(const Expr& e) {
  if (e.k == Expr::K::Columna) return true;
  for (const auto& h : e.hijos)
    if (TieneColumnas(*h)) return true;
  return false;
}

const Expr* Servidor::Impl::PrimeraColumna(const Expr& e) {
  if (e.k == Expr::K::Columna) return &e;
  for (const auto& h : e.hijos)
    if (const Expr* c = PrimeraColumna(*h)) return c;
  return nullptr;
}

// A constant expression (VALUES, DEFAULT): column names are not allowed there.
void Servidor::Impl::SinColumnas(const Expr& e) {
  if (const Expr* c = PrimeraColumna(e))
    throw ErrorSql(128, "The name \"" + c->nombre +
                            "\" is not permitted in this context. Valid expressions are constants, constant "
                            "expressions, and (in some contexts) variables. Column names are not permitted.");
}

Valor Servidor::Impl::Evaluar(const Expr& e, const Fila& f) {
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
      return Valor::Fecha(Hora(), 3);
    case Expr::K::BaseActual:
      return Valor::Texto(base);
    case Expr::K::Subconsulta: {
      const std::vector<Valor>& valores = ValoresSubconsulta(e);
      if (valores.size() > 1)
        throw ErrorSql(512,
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
const std::vector<Valor>& Servidor::Impl::ValoresSubconsulta(const Expr& e) {
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
int Servidor::Impl::Cumple(const Expr& e, const Fila& f) {
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
    case Expr::K::Y:
    case Expr::K::O: {
      // A false side decides AND and a true side decides OR, without the other side being evaluated;
      // otherwise an unknown side makes the whole unknown.
      const int decide = e.k == Expr::K::Y ? 0 : 1;
      const int a = Cumple(*e.hijos[0], f);
      if (a == decide) return decide;
      const int b = Cumple(*e.hijos[1], f);
      if (b == decide) return decide;
      return (a < 0 || b < 0) ? -1 : 1 - decide;
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

TipoCol Servidor::Impl::TipoDe(const Expr& e, const Origen& o) {
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
  if (e.k == Expr::K::BaseActual) {
    t.tipo = Tipo::VarChar;
    t.largo = 128;
  }
  if (!e.hijos.empty()) return TipoDe(*e.hijos[0], o);
  return t;
}

void Servidor::Impl::Proyectar(Nucleo& n, const Origen& o, std::vector<const Expr*>& items,
                               std::vector<int>& directas, std::vector<std::string>& nombres,
                               std::vector<TipoCol>& tipos) {
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
    nombres.push_back(!it.alias.empty()                ? it.alias
                      : it.expr->k == Expr::K::Columna ? o.nombres[static_cast<std::size_t>(it.expr->indice)]
                                                       : std::string());
    tipos.push_back(TipoDe(*it.expr, o));
  }
}

// Runs a query; `fn` receives each row and returns false to stop. Column names go to `nombres`.
void Servidor::Impl::Consultar(Consulta& c, std::size_t maxFilas, std::vector<std::string>* nombres,
                               const std::function<bool(std::vector<Valor>&)>& fn,
                               std::vector<TipoCol>* tiposSalida) {
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

// With a receptor the rows go to it one by one as they are produced and are not kept.
Resultado Servidor::Impl::Seleccionar(Sentencia& s, std::size_t maxFilas) {
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

TipoResultado Servidor::Impl::TipoDeResultado(const TipoCol& t) {
  TipoResultado r;
  r.clase = t.tipo;
  r.largo = t.largo;
  r.precision = t.precision;
  r.escala = t.escala;
  return r;
}

}  // namespace simulado
