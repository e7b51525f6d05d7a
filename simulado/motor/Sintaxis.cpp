// Statement trees of the simulated server and the parser that builds them from T-SQL text.
#include "Sintaxis.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace simulado {

namespace {

struct Token {
  enum class T { Id, Num, Cad, Sim, Fin };
  T t = T::Fin;
  std::string texto;
  bool corchete = false;
  Valor valor;  // Num, Cad
  std::size_t pos = 0, fin = 0;
};

bool Letra(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '@' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool Cifra(char c) {
  return c >= '0' && c <= '9';
}

[[noreturn]] void Sintaxis(const std::string& cerca) {
  throw ErrorSql(102, "Incorrect syntax near '" + cerca + "'.");
}

std::vector<Token> Tokens(std::string_view s) {
  std::vector<Token> r;
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      while (i < s.size() && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      const std::size_t fin = s.find("*/", i + 2);
      if (fin == std::string_view::npos) throw ErrorSql(113, "Missing end comment mark '*/'.");
      i = fin + 2;
      continue;
    }
    Token t;
    t.pos = i;
    if (c == '[') {
      const std::size_t fin = s.find(']', i + 1);
      if (fin == std::string_view::npos)
        throw ErrorSql(105, "Unclosed quotation mark after the character string '" +
                                std::string(s.substr(i + 1)) + "'.");
      t.t = Token::T::Id;
      t.corchete = true;
      t.texto = std::string(s.substr(i + 1, fin - i - 1));
      // A name is written back into scripts as it is; a line break in it could end a batch there.
      if (t.texto.find_first_of("\r\n") != std::string::npos) Sintaxis(t.texto);
      i = fin + 1;
    } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'')) {
      if (c != '\'') ++i;
      ++i;
      std::string v;
      for (;;) {
        if (i >= s.size())
          throw ErrorSql(105, "Unclosed quotation mark after the character string '" + v + "'.");
        if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            v += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        v += s[i++];
      }
      t.t = Token::T::Cad;
      t.texto = v;
      t.valor = Valor::Texto(std::move(v));
    } else if (Cifra(c) || (c == '.' && i + 1 < s.size() && Cifra(s[i + 1]))) {
      std::size_t j = i;
      while (j < s.size() && Cifra(s[j])) ++j;
      bool punto = false;
      if (j < s.size() && s[j] == '.') {
        punto = true;
        ++j;
        while (j < s.size() && Cifra(s[j])) ++j;
      }
      if (j < s.size() && Letra(s[j])) Sintaxis(std::string(s.substr(i, j - i + 1)));
      t.t = Token::T::Num;
      t.texto = std::string(s.substr(i, j - i));
      std::int64_t n = 0;
      int escala = 0, cifras = 0;
      bool trasPunto = false;
      for (char d : t.texto) {
        if (d == '.') {
          trasPunto = true;
          continue;
        }
        // Leading zeros add nothing: "0.123456789012345678" is 18 digits, as the engine writes it.
        if ((cifras > 0 || d != '0') && ++cifras > 18)
          throw ErrorSql(1007,
                         "The number '" + t.texto +
                             "' is out of the range for numeric representation (maximum precision 38).");
        n = n * 10 + (d - '0');
        if (trasPunto) ++escala;
      }
      t.valor = (punto || n > 2147483647) ? Valor::Decimal(n, escala) : Valor::Entero(n);
      i = j;
    } else if (Letra(c)) {
      std::size_t j = i;
      while (j < s.size() && (Letra(s[j]) || Cifra(s[j]) || s[j] == '$')) ++j;
      t.t = Token::T::Id;
      t.texto = std::string(s.substr(i, j - i));
      i = j;
    } else {
      t.t = Token::T::Sim;
      const std::string_view dos = s.substr(i, 2);
      if (dos == "<>" || dos == "!=" || dos == "<=" || dos == ">=") {
        t.texto = std::string(dos);
        i += 2;
      } else if (std::strchr("(),.=<>*+-/;", c) != nullptr) {
        t.texto = std::string(1, c);
        ++i;
      } else {
        Sintaxis(std::string(1, c));
      }
    }
    t.fin = i;
    r.push_back(std::move(t));
  }
  Token fin;
  fin.pos = fin.fin = s.size();
  r.push_back(fin);
  return r;
}

const char* const kReservadas[] = {"add",     "all",     "alter",        "and",       "as",
                                   "begin",   "by",      "check",        "clustered", "collate",
                                   "column",  "commit",  "constraint",   "create",    "dbcc",
                                   "default", "delete",  "drop",         "else",      "exec",
                                   "for",     "from",    "go",           "identity",  "identity_insert",
                                   "in",      "index",   "insert",       "into",      "is",
                                   "key",     "nocheck", "nonclustered", "not",       "null",
                                   "on",      "or",      "order",        "primary",   "rollback",
                                   "select",  "set",     "table",        "tran",      "transaction",
                                   "union",   "unique",  "update",       "values",    "view",
                                   "where",   "with"};

bool Reservada(const std::string& s) {
  for (const char* r : kReservadas)
    if (MismoNombre(s, r)) return true;
  return false;
}

class Analizador {
 public:
  explicit Analizador(std::string_view texto) : src_(texto), t_(Tokens(texto)) {}

  std::vector<Sentencia> Lote() {
    std::vector<Sentencia> r;
    for (;;) {
      while (AceptaSim(";")) {
      }
      if (Ver().t == Token::T::Fin) break;
      r.push_back(UnaSentencia());
    }
    return r;
  }

  PExpr SoloExpresion() {
    PExpr e = Suma();
    if (Ver().t != Token::T::Fin) Error();
    return e;
  }

 private:
  std::string_view src_;
  std::vector<Token> t_;
  std::size_t i_ = 0;
  int nivel_ = 0;   // recursion depth of the parser itself
  int altura_ = 0;  // the tallest expression of the query being read

  [[noreturn]] static void Anidado() {
    throw ErrorSql(191,
                   "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
                   "into smaller queries.");
  }

  // Held by each parsing function that recurses; it refuses the level past the limit.
  struct Nivel {
    int& n;
    explicit Nivel(int& x) : n(x) {
      if (++n > kAnidamientoMaximo) {
        --n;
        Anidado();
      }
    }
    ~Nivel() { --n; }
    Nivel(const Nivel&) = delete;
    Nivel& operator=(const Nivel&) = delete;
  };

  // Sets a finished node's height from its children; operator chains are built without recursion,
  // so it is the height, not the parser's depth, that keeps the evaluator's recursion bounded.
  PExpr Medido(PExpr e) {
    int a = 0;
    for (const auto& h : e->hijos) a = std::max(a, h->altura);
    if (e->sub) a = std::max(a, e->sub->altura);
    e->altura = a + 1;
    if (e->altura > kAnidamientoMaximo) Anidado();
    altura_ = std::max(altura_, e->altura);
    return e;
  }

  const Token& Ver(std::size_t k = 0) const { return t_[std::min(i_ + k, t_.size() - 1)]; }
  bool Es(const char* palabra, std::size_t k = 0) const {
    const Token& t = Ver(k);
    return t.t == Token::T::Id && !t.corchete && MismoNombre(t.texto, palabra);
  }
  bool EsSim(const char* s, std::size_t k = 0) const {
    const Token& t = Ver(k);
    return t.t == Token::T::Sim && t.texto == s;
  }
  bool Acepta(const char* palabra) {
    if (!Es(palabra)) return false;
    ++i_;
    return true;
  }
  bool AceptaSim(const char* s) {
    if (!EsSim(s)) return false;
    ++i_;
    return true;
  }
  void Espera(const char* palabra) {
    if (!Acepta(palabra)) Error();
  }
  void EsperaSim(const char* s) {
    if (!AceptaSim(s)) Error();
  }
  [[noreturn]] void Error() const {
    const Token& t = Ver();
    if (t.t == Token::T::Fin) Sintaxis(i_ > 0 ? t_[i_ - 1].texto : std::string());
    Sintaxis(t.t == Token::T::Cad ? t.texto : std::string(src_.substr(t.pos, t.fin - t.pos)));
  }

  std::string Identificador() {
    const Token& t = Ver();
    if (t.t != Token::T::Id || (!t.corchete && Reservada(t.texto))) Error();
    ++i_;
    return t.texto;
  }

  NombreObjeto Objeto() {
    NombreObjeto r;
    r.nombre = Identificador();
    if (AceptaSim(".")) {
      r.esquema = r.nombre;
      r.nombre = Identificador();
    }
    return r;
  }

  std::int64_t Entero() {
    bool negativo = AceptaSim("-");
    const Token& t = Ver();
    if (t.t != Token::T::Num || t.valor.clase != Valor::Clase::Entero) Error();
    ++i_;
    return negativo ? -t.valor.n : t.valor.n;
  }

  Sentencia UnaSentencia() {
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

  void Crear(Sentencia& s, std::size_t inicio) {
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
  std::string TextoSinSeparadores(std::size_t desde, std::size_t hasta) const {
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

  static bool TieneSeparador(std::string_view s) {
    for (std::size_t i = s.find('\n'); i != std::string_view::npos;) {
      const std::size_t fin = s.find('\n', i + 1);
      if (fin == std::string_view::npos) return false;
      if (EsSeparador(s.substr(i + 1, fin - i - 1))) return true;
      i = fin;
    }
    return false;
  }

  void EnGrupo() {
    if (Acepta("on")) {
      const Token& t = Ver();
      if (t.t != Token::T::Id || !t.corchete) Error();
      ++i_;
    }
  }

  int Relleno() {
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

  std::vector<std::string> ListaColumnas() {
    std::vector<std::string> r;
    EsperaSim("(");
    do {
      r.push_back(Identificador());
      if (!Acepta("asc")) Acepta("desc");
    } while (AceptaSim(","));
    EsperaSim(")");
    return r;
  }

  TipoCol TipoColumna() {
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

  DefColumna Columna() {
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
  DefRestriccion ClaveSinColumnas(std::string nombre) {
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
  DefRestriccion Restriccion(bool conDefecto) {
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

  void Alterar(Sentencia& s) {
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

  void Insertar(Sentencia& s) {
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

  std::shared_ptr<Consulta> ConsultaCompleta() {
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

  void Termino(Consulta& c) {
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

  Nucleo UnNucleo() {
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

  PExpr Nodo(Expr::K k) {
    auto e = std::make_unique<Expr>();
    e->k = k;
    return e;
  }

  PExpr Condicion() {
    PExpr a = CondicionY();
    while (Acepta("or")) {
      PExpr o = Nodo(Expr::K::O);
      o->hijos.push_back(std::move(a));
      o->hijos.push_back(CondicionY());
      a = Medido(std::move(o));
    }
    return a;
  }

  PExpr CondicionY() {
    PExpr a = CondicionNo();
    while (Acepta("and")) {
      PExpr y = Nodo(Expr::K::Y);
      y->hijos.push_back(std::move(a));
      y->hijos.push_back(CondicionNo());
      a = Medido(std::move(y));
    }
    return a;
  }

  PExpr CondicionNo() {
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

  static bool TextoLiteral(const Expr& e) {
    return e.k == Expr::K::Literal && e.valor.clase == Valor::Clase::Texto;
  }

  PExpr Suma() {
    PExpr a = Producto();
    while (EsSim("+") || EsSim("-")) {
      PExpr b = Nodo(Expr::K::Binaria);
      b->op = Ver().texto;
      ++i_;
      b->hijos.push_back(std::move(a));
      b->hijos.push_back(Producto());
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

  PExpr Producto() {
    PExpr a = Unario();
    while (EsSim("*") || EsSim("/")) {
      PExpr b = Nodo(Expr::K::Binaria);
      b->op = Ver().texto;
      ++i_;
      b->hijos.push_back(std::move(a));
      b->hijos.push_back(Unario());
      a = Medido(std::move(b));
    }
    return a;
  }

  PExpr Unario() {
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

  PExpr Primario() {
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
      if (!MismoNombre(t.texto, "getdate")) {
        if (Reservada(t.texto)) Error();
        throw ErrorSql(195, "'" + t.texto + "' is not a recognized built-in function name.");
      }
      i_ += 2;
      EsperaSim(")");
      return Nodo(Expr::K::Getdate);
    }
    PExpr e = Nodo(Expr::K::Columna);
    e->nombre = Identificador();
    if (AceptaSim(".")) {
      e->calificador = std::move(e->nombre);
      e->nombre = Identificador();
    }
    return e;
  }
};

}  // namespace

std::vector<Sentencia> AnalizarLote(std::string_view texto) {
  return Analizador(texto).Lote();
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
