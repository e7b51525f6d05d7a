// The T-SQL parser of the simulated server, its lower half: names, queries, conditions and expressions.
#include "Analizador.h"

#include <algorithm>
#include <cstring>

namespace simulado {

std::string Analizador::Identificador() {
  const Token& t = Ver();
  if (t.t != Token::T::Id || (!t.corchete && Reservada(t.texto))) Error();
  ++i_;
  return t.texto;
}

NombreObjeto Analizador::Objeto() {
  NombreObjeto r;
  r.nombre = Identificador();
  if (AceptaSim(".")) {
    r.esquema = r.nombre;
    r.nombre = Identificador();
  }
  return r;
}

std::shared_ptr<Consulta> Analizador::ConsultaCompleta() {
  auto c = std::make_shared<Consulta>();
  const int fuera = altura_;
  altura_ = 0;
  Termino(*c);
  while (Acepta("union")) {
    Espera("all");
    Termino(*c);
  }
  c->altura = altura_;
  altura_ = fuera;
  return c;
}

void Analizador::Termino(Consulta& c) {
  const Nivel nivel(nivel_);
  if (AceptaSim("(")) {
    Termino(c);
    while (Acepta("union")) {
      Espera("all");
      Termino(c);
    }
    EsperaSim(")");
    return;
  }
  c.partes.push_back(UnNucleo());
}

Nucleo Analizador::UnNucleo() {
  Espera("select");
  Nucleo n;
  if (Es("count") && EsSim("(", 1) && EsSim("*", 2) && EsSim(")", 3)) {
    i_ += 4;
    n.contar = true;
  } else {
    do {
      ItemSel it;
      if (AceptaSim("*")) {
        it.estrella = true;
      } else if (Ver().t == Token::T::Id && EsSim("=", 1)) {
        it.alias = Identificador();
        ++i_;
        it.expr = Suma();
      } else {
        it.expr = Suma();
        if (Acepta("as")) it.alias = Identificador();
      }
      n.items.push_back(std::move(it));
    } while (AceptaSim(","));
  }
  if (Acepta("from")) n.desde = Objeto();
  if (Acepta("where")) n.donde = Condicion();
  return n;
}

// Operands joined by one keyword, grouped from the left: a OR b OR c is (a OR b) OR c.
PExpr Analizador::Cadena(const char* palabra, Expr::K k, PExpr (Analizador::*operando)()) {
  PExpr a = (this->*operando)();
  while (Acepta(palabra)) {
    PExpr n = Nodo(k);
    n->hijos.push_back(std::move(a));
    n->hijos.push_back((this->*operando)());
    a = Medido(std::move(n));
  }
  return a;
}

PExpr Analizador::Condicion() {
  return Cadena("or", Expr::K::O, &Analizador::CondicionY);
}

PExpr Analizador::CondicionY() {
  return Cadena("and", Expr::K::Y, &Analizador::CondicionNo);
}

PExpr Analizador::CondicionNo() {
  const Nivel nivel(nivel_);
  if (Acepta("not")) {
    PExpr n = Nodo(Expr::K::No);
    n->hijos.push_back(CondicionNo());
    return Medido(std::move(n));
  }
  PExpr a = Suma();
  static const char* const kOps[] = {"=", "<>", "!=", "<", ">", "<=", ">="};
  for (const char* op : kOps) {
    if (AceptaSim(op)) {
      PExpr c = Nodo(Expr::K::Comparacion);
      c->op = std::strcmp(op, "!=") == 0 ? "<>" : op;
      c->hijos.push_back(std::move(a));
      c->hijos.push_back(Suma());
      return Medido(std::move(c));
    }
  }
  const bool negado = Es("not") && Es("in", 1);
  if (negado) ++i_;
  if (Acepta("in")) {
    PExpr e = Nodo(Expr::K::En);
    e->negado = negado;
    e->hijos.push_back(std::move(a));
    EsperaSim("(");
    if (Es("select")) {
      e->sub = ConsultaCompleta();
    } else {
      do {
        e->hijos.push_back(Suma());
      } while (AceptaSim(","));
    }
    EsperaSim(")");
    return Medido(std::move(e));
  }
  if (negado) Error();
  if (Acepta("is")) {
    PExpr e = Nodo(Expr::K::EsNulo);
    e->negado = Acepta("not");
    Espera("null");
    e->hijos.push_back(std::move(a));
    return Medido(std::move(e));
  }
  return a;
}

bool Analizador::TextoLiteral(const Expr& e) {
  return e.k == Expr::K::Literal && e.valor.clase == Valor::Clase::Texto;
}

// The arithmetic operator at the current token between `a` and the operand that follows it.
PExpr Analizador::Operacion(PExpr a, PExpr (Analizador::*operando)()) {
  PExpr b = Nodo(Expr::K::Binaria);
  b->op = Ver().texto;
  ++i_;
  b->hijos.push_back(std::move(a));
  b->hijos.push_back((this->*operando)());
  return b;
}

PExpr Analizador::Suma() {
  PExpr a = Producto();
  while (EsSim("+") || EsSim("-")) {
    PExpr b = Operacion(std::move(a), &Analizador::Producto);
    // Quoted pieces joined with + are one text (how a dump writes a text holding a GO line), so
    // a long text does not become a tall tree.
    if (b->op == "+" && TextoLiteral(*b->hijos[0]) && TextoLiteral(*b->hijos[1])) {
      a = std::move(b->hijos[0]);
      a->valor.s += b->hijos[1]->valor.s;
      continue;
    }
    a = Medido(std::move(b));
  }
  return a;
}

PExpr Analizador::Producto() {
  PExpr a = Unario();
  while (EsSim("*") || EsSim("/")) a = Medido(Operacion(std::move(a), &Analizador::Unario));
  return a;
}

PExpr Analizador::Unario() {
  const Nivel nivel(nivel_);
  if (AceptaSim("+")) return Unario();
  if (AceptaSim("-")) {
    PExpr a = Unario();
    if (a->k == Expr::K::Literal && !a->valor.Nulo() && a->valor.clase != Valor::Clase::Texto) {
      a->valor = Negar(a->valor);
      return a;
    }
    PExpr m = Nodo(Expr::K::Menos);
    m->hijos.push_back(std::move(a));
    return Medido(std::move(m));
  }
  return Primario();
}

PExpr Analizador::Primario() {
  const Token& t = Ver();
  if (t.t == Token::T::Num || t.t == Token::T::Cad) {
    PExpr e = Nodo(Expr::K::Literal);
    e->valor = t.valor;
    ++i_;
    return e;
  }
  if (Acepta("null")) return Nodo(Expr::K::Literal);
  if (AceptaSim("(")) {
    if (Es("select")) {
      PExpr e = Nodo(Expr::K::Subconsulta);
      e->sub = ConsultaCompleta();
      EsperaSim(")");
      return Medido(std::move(e));
    }
    PExpr e = Condicion();
    EsperaSim(")");
    return e;
  }
  if (t.t == Token::T::Id && !t.corchete && EsSim("(", 1)) {
    const bool base = MismoNombre(t.texto, "db_name");
    if (!MismoNombre(t.texto, "getdate") && !base) {
      if (Reservada(t.texto)) Error();
      throw ErrorSql(195, "'" + t.texto + "' is not a recognized built-in function name.");
    }
    i_ += 2;
    EsperaSim(")");
    return Nodo(base ? Expr::K::BaseActual : Expr::K::Getdate);
  }
  PExpr e = Nodo(Expr::K::Columna);
  e->nombre = Identificador();
  if (AceptaSim(".")) {
    e->calificador = std::move(e->nombre);
    e->nombre = Identificador();
  }
  return e;
}

}  // namespace simulado
