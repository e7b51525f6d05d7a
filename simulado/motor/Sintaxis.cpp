// The T-SQL parser of the simulated server, its upper half: batches and statements; and its entry points.
#include "Sintaxis.h"

#include <algorithm>
#include <initializer_list>

#include "Analizador.h"

namespace simulado {

std::vector<Sentencia> Analizador::Lote() {
  std::vector<Sentencia> r;
  for (;;) {
    while (AceptaSim(";")) {
    }
    if (Ver().t == Token::T::Fin) break;
    const std::size_t desde = Ver().pos;
    r.push_back(UnaSentencia());
    r.back().fuente = src_.substr(desde, t_[i_ - 1].fin - desde);
  }
  return r;
}

std::vector<std::pair<std::size_t, std::size_t>> Analizador::Extensiones() {
  std::vector<std::pair<std::size_t, std::size_t>> r;
  for (;;) {
    while (AceptaSim(";")) {
    }
    if (Ver().t == Token::T::Fin) break;
    const std::size_t inicio = Ver().pos;
    UnaSentencia();
    r.emplace_back(inicio, t_[i_ - 1].fin);
  }
  return r;
}

PExpr Analizador::SoloExpresion() {
  PExpr e = Suma();
  if (Ver().t != Token::T::Fin) Error();
  return e;
}

std::int64_t Analizador::Entero() {
  bool negativo = AceptaSim("-");
  const Token& t = Ver();
  if (t.t != Token::T::Num || t.valor.clase != Valor::Clase::Entero) Error();
  ++i_;
  return negativo ? -t.valor.n : t.valor.n;
}

Sentencia Analizador::UnaSentencia() {
  Sentencia s;
  const std::size_t inicio = Ver().pos;
  if (Acepta("begin")) {
    if (!Acepta("tran")) Espera("transaction");
    s.k = Sentencia::K::Begin;
  } else if (Acepta("commit")) {
    if (!Acepta("tran")) Acepta("transaction");
    s.k = Sentencia::K::Commit;
  } else if (Acepta("rollback")) {
    if (!Acepta("tran")) Acepta("transaction");
    s.k = Sentencia::K::Rollback;
  } else if (Acepta("create")) {
    Crear(s, inicio);
  } else if (Acepta("drop")) {
    if (Acepta("table"))
      s.k = Sentencia::K::EliminarTabla;
    else if (Acepta("view"))
      s.k = Sentencia::K::EliminarVista;
    else
      Error();
    s.objeto = Objeto();
  } else if (Acepta("alter")) {
    Espera("table");
    s.objeto = Objeto();
    Alterar(s);
  } else if (Acepta("insert")) {
    Insertar(s);
  } else if (Acepta("update")) {
    s.k = Sentencia::K::Actualizar;
    s.objeto = Objeto();
    Espera("set");
    do {
      std::string col = Identificador();
      EsperaSim("=");
      s.asignaciones.emplace_back(std::move(col), Suma());
    } while (AceptaSim(","));
    if (Acepta("where")) s.donde = Condicion();
  } else if (Acepta("delete")) {
    s.k = Sentencia::K::Borrar;
    Acepta("from");
    s.objeto = Objeto();
    if (Acepta("where")) s.donde = Condicion();
  } else if (Es("select") || EsSim("(")) {
    s.k = Sentencia::K::Seleccionar;
    s.consulta = ConsultaCompleta();
  } else if (Acepta("set")) {
    Espera("identity_insert");
    s.k = Sentencia::K::IdentityInsert;
    s.objeto = Objeto();
    if (Acepta("on"))
      s.activar = true;
    else if (Es("off"))
      ++i_;
    else
      Error();
  } else if (Acepta("dbcc")) {
    if (!Es("checkident")) Error();
    ++i_;
    s.k = Sentencia::K::Reseed;
    EsperaSim("(");
    if (Ver().t != Token::T::Cad) Error();
    const std::string nombre = Ver().texto;
    ++i_;
    s.objeto = Analizador(nombre).Objeto();
    EsperaSim(",");
    if (!Es("reseed")) Error();
    ++i_;
    EsperaSim(",");
    s.reseed = Entero();
    EsperaSim(")");
  } else {
    Error();
  }
  return s;
}

void Analizador::Crear(Sentencia& s, std::size_t inicio) {
  if (Acepta("table")) {
    s.k = Sentencia::K::CrearTabla;
    s.objeto = Objeto();
    EsperaSim("(");
    do {
      if (EsSim(")")) break;
      if (Es("constraint") || Es("primary") || Es("unique"))
        s.restricciones.push_back(Restriccion(false));
      else
        s.columnas.push_back(Columna());
    } while (AceptaSim(","));
    EsperaSim(")");
    EnGrupo();
    return;
  }
  if (Acepta("view")) {
    s.k = Sentencia::K::CrearVista;
    s.objeto = Objeto();
    Espera("as");
    std::size_t primero = i_;
    while (primero > 0 && t_[primero].pos != inicio) --primero;
    s.consulta = ConsultaCompleta();
    s.texto = TextoSinSeparadores(primero, i_);
    return;
  }
  s.k = Sentencia::K::CrearIndice;
  s.unico = Acepta("unique");
  if (Acepta("clustered"))
    s.agrupado = true;
  else
    Acepta("nonclustered");
  Espera("index");
  s.nombreIndice = Identificador();
  Espera("on");
  s.objeto = Objeto();
  s.listaCols = ListaColumnas();
  s.relleno = Relleno();
  EnGrupo();
}

// The source of tokens [desde, hasta), as a dump can hold it: a quoted text or the
// comments between two tokens that hold a line reading as GO are written again without one.
std::string Analizador::TextoSinSeparadores(std::size_t desde, std::size_t hasta) const {
  std::string r;
  for (std::size_t k = desde; k < hasta; ++k) {
    const Token& t = t_[k];
    if (k > desde) {
      const std::string_view hueco = src_.substr(t_[k - 1].fin, t.pos - t_[k - 1].fin);
      if (TieneSeparador(hueco))
        r += ' ';
      else
        r += hueco;
    }
    const std::string_view fuente = src_.substr(t.pos, t.fin - t.pos);
    if (t.t == Token::T::Cad && TieneSeparador(fuente))
      r += Literal(t.valor);
    else
      r += fuente;
  }
  return r;
}

bool Analizador::TieneSeparador(std::string_view s) {
  for (std::size_t i = s.find('\n'); i != std::string_view::npos;) {
    const std::size_t fin = s.find('\n', i + 1);
    if (fin == std::string_view::npos) return false;
    if (EsSeparador(s.substr(i + 1, fin - i - 1))) return true;
    i = fin;
  }
  return false;
}

void Analizador::EnGrupo() {
  if (Acepta("on")) {
    const Token& t = Ver();
    if (t.t != Token::T::Id || !t.corchete) Error();
    ++i_;
  }
}

int Analizador::Relleno() {
  if (!Acepta("with")) return 0;
  const bool parentesis = AceptaSim("(");
  if (!Es("fillfactor")) Error();
  ++i_;
  EsperaSim("=");
  const std::int64_t v = Entero();
  if (v < 0 || v > 100)
    throw ErrorSql(1086, "The FILLFACTOR value " + std::to_string(v) +
                             " is not a valid percentage; fillfactor must be between 1 and 100.");
  if (parentesis) EsperaSim(")");
  return static_cast<int>(v);
}

std::vector<std::string> Analizador::ListaColumnas() {
  std::vector<std::string> r;
  EsperaSim("(");
  do {
    r.push_back(Identificador());
    if (!Acepta("asc")) Acepta("desc");
  } while (AceptaSim(","));
  EsperaSim(")");
  return r;
}

TipoCol Analizador::TipoColumna() {
  const std::string nombre = Identificador();
  TipoCol t;
  const std::string n = Minusculas(nombre);
  if (n == "bit")
    t.tipo = Tipo::Bit;
  else if (n == "tinyint")
    t.tipo = Tipo::TinyInt;
  else if (n == "smallint")
    t.tipo = Tipo::SmallInt;
  else if (n == "int" || n == "integer")
    t.tipo = Tipo::Int;
  else if (n == "decimal" || n == "numeric" || n == "dec") {
    t.tipo = Tipo::Decimal;
    t.numeric = n == "numeric";
  } else if (n == "char" || n == "character")
    t.tipo = Tipo::Char;
  else if (n == "varchar")
    t.tipo = Tipo::VarChar;
  else if (n == "smalldatetime")
    t.tipo = Tipo::SmallDateTime;
  else if (n == "datetime")
    t.tipo = Tipo::DateTime;
  else
    throw ErrorSql(2715, "Column, parameter, or variable #1: Cannot find data type " + nombre + ".");
  if (EsTexto(t.tipo)) {
    t.largo = 1;
    if (AceptaSim("(")) {
      const std::int64_t v = Entero();
      if (v < 1 || v > 8000)
        throw ErrorSql(131, "The size (" + std::to_string(v) + ") given to the type '" + nombre +
                                "' exceeds the maximum allowed for any data type (8000).");
      t.largo = static_cast<int>(v);
      EsperaSim(")");
    }
  } else if (t.tipo == Tipo::Decimal) {
    t.precision = 18;
    if (AceptaSim("(")) {
      t.precision = static_cast<int>(Entero());
      if (AceptaSim(",")) t.escala = static_cast<int>(Entero());
      EsperaSim(")");
      if (t.precision < 1 || t.precision > 18 || t.escala < 0 || t.escala > t.precision)
        throw ErrorSql(2750, "Column or parameter #1: Specified column precision " +
                                 std::to_string(t.precision) +
                                 " is greater than the maximum precision of 18.");
    }
  }
  return t;
}

DefColumna Analizador::Columna() {
  DefColumna c;
  c.nombre = Identificador();
  c.tipo = TipoColumna();
  std::string nombreRestriccion;
  for (;;) {
    if (Acepta("collate")) {
      c.collate = Identificador();
    } else if (Acepta("identity")) {
      c.identidad = true;
      if (AceptaSim("(")) {
        c.semilla = Entero();
        EsperaSim(",");
        c.incremento = Entero();
        EsperaSim(")");
      }
    } else if (Acepta("null")) {
      c.nulos = true;
    } else if (Es("not") && Es("null", 1)) {
      i_ += 2;
      c.nulos = false;
    } else if (Acepta("constraint")) {
      nombreRestriccion = Identificador();
      if (!Es("default") && !Es("primary") && !Es("unique")) Error();
    } else if (Acepta("default")) {
      DefRestriccion d;
      d.tipo = DefRestriccion::T::DF;
      d.nombre = std::move(nombreRestriccion);
      nombreRestriccion.clear();
      d.defecto = Suma();
      d.textoDefecto = "(" + TextoExpresion(*d.defecto) + ")";
      d.para = c.nombre;
      c.defecto = std::move(d);
    } else if (Es("primary") || Es("unique")) {
      DefRestriccion k = ClaveSinColumnas(std::move(nombreRestriccion));
      nombreRestriccion.clear();
      k.columnas.push_back(c.nombre);
      c.clave = std::move(k);
    } else {
      break;
    }
  }
  if (!nombreRestriccion.empty()) Error();
  return c;
}

// PRIMARY KEY | UNIQUE [CLUSTERED | NONCLUSTERED], without the column list.
DefRestriccion Analizador::ClaveSinColumnas(std::string nombre) {
  DefRestriccion k;
  k.nombre = std::move(nombre);
  if (Acepta("primary")) {
    Espera("key");
    k.tipo = DefRestriccion::T::PK;
    k.agrupado = true;
  } else {
    Espera("unique");
    k.tipo = DefRestriccion::T::UQ;
  }
  if (Acepta("clustered")) {
    k.agrupado = true;
    k.agrupadoDicho = true;
  } else if (Acepta("nonclustered")) {
    k.agrupado = false;
    k.agrupadoDicho = true;
  }
  return k;
}

// A table constraint; `conDefecto` allows DEFAULT ... FOR col (ALTER TABLE ADD only).
DefRestriccion Analizador::Restriccion(bool conDefecto) {
  std::string nombre;
  if (Acepta("constraint")) nombre = Identificador();
  if (conDefecto && Acepta("default")) {
    DefRestriccion d;
    d.tipo = DefRestriccion::T::DF;
    d.nombre = std::move(nombre);
    d.defecto = Suma();
    d.textoDefecto = "(" + TextoExpresion(*d.defecto) + ")";
    Espera("for");
    d.para = Identificador();
    return d;
  }
  DefRestriccion k = ClaveSinColumnas(std::move(nombre));
  k.columnas = ListaColumnas();
  k.relleno = Relleno();
  EnGrupo();
  return k;
}

void Analizador::Alterar(Sentencia& s) {
  if (Acepta("with")) {
    if (!Acepta("check")) Espera("nocheck");
  }
  if (Acepta("add")) {
    s.k = Sentencia::K::AgregarATabla;
    do {
      if (Es("constraint") || Es("primary") || Es("unique") || Es("default"))
        s.restricciones.push_back(Restriccion(true));
      else
        s.columnas.push_back(Columna());
    } while (AceptaSim(","));
  } else if (Acepta("alter")) {
    Espera("column");
    s.k = Sentencia::K::AlterarColumna;
    DefColumna c;
    c.nombre = Identificador();
    c.tipo = TipoColumna();
    if (Acepta("collate")) c.collate = Identificador();
    if (Acepta("null"))
      c.nulos = true;
    else if (Acepta("not")) {
      Espera("null");
      c.nulos = false;
    }
    s.columnas.push_back(std::move(c));
  } else if (Acepta("drop")) {
    s.k = Sentencia::K::EliminarDeTabla;
    do {
      if (Acepta("column")) {
        do {
          s.eliminarColumnas.push_back(Identificador());
        } while (EsSim(",") && !Es("constraint", 1) && !Es("column", 1) && ++i_);
      } else {
        Acepta("constraint");
        s.eliminarRestricciones.push_back(Identificador());
      }
    } while (AceptaSim(","));
  } else {
    Error();
  }
}

void Analizador::Insertar(Sentencia& s) {
  s.k = Sentencia::K::Insertar;
  Acepta("into");
  s.objeto = Objeto();
  if (EsSim("(") && !Es("select", 1)) {
    ++i_;
    do {
      s.listaCols.push_back(Identificador());
    } while (AceptaSim(","));
    EsperaSim(")");
  }
  if (Acepta("values")) {
    do {
      EsperaSim("(");
      std::vector<PExpr> fila;
      do {
        fila.push_back(Suma());
      } while (AceptaSim(","));
      EsperaSim(")");
      s.valores.push_back(std::move(fila));
    } while (AceptaSim(","));
  } else if (Es("select") || EsSim("(")) {
    s.consulta = ConsultaCompleta();
  } else {
    Error();
  }
}

std::vector<Sentencia> AnalizarLote(std::string_view texto) {
  return Analizador(texto).Lote();
}

std::vector<std::pair<std::size_t, std::size_t>> ExtensionesLote(std::string_view texto) {
  return Analizador(texto).Extensiones();
}

PExpr AnalizarExpresion(std::string_view texto) {
  return Analizador(texto).SoloExpresion();
}

std::string NombreEnScript(const std::string& nombre) {
  try {
    const auto t = Tokens(nombre);
    if (t.size() == 2 && t[0].t == Token::T::Id && !t[0].corchete && t[0].texto == nombre &&
        !Reservada(nombre))
      return nombre;
  } catch (const ErrorSql&) {
    // Not even a token: it needs the brackets.
  }
  return "[" + nombre + "]";
}

std::string TextoExpresion(const Expr& e) {
  switch (e.k) {
    case Expr::K::Literal:
      return Literal(e.valor);
    case Expr::K::Getdate:
      return "getdate()";
    case Expr::K::BaseActual:
      return "db_name()";
    case Expr::K::Menos:
      return "-" + TextoExpresion(*e.hijos[0]);
    case Expr::K::Binaria:
      return "(" + TextoExpresion(*e.hijos[0]) + e.op + TextoExpresion(*e.hijos[1]) + ")";
    case Expr::K::Columna:
      return "[" + e.nombre + "]";
    default:
      return "(" + std::string("expression") + ")";
  }
}

}  // namespace simulado
