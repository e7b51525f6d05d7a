// Cutting a batch into statements and recognising the connection-level ones.
#include "tds/Lotes.h"

#include <cctype>
#include <initializer_list>
#include <utility>

#include "motor/Sintaxis.h"
#include "motor/Texto.h"

namespace simulado::tds {

namespace {

// Position just after the quote that closes the one at `i` (doubled quotes stay inside); `cerrada` false
// when the text ends first.
std::size_t FinCita(std::string_view s, std::size_t i, char fin, bool& cerrada) {
  for (++i; i < s.size(); ++i) {
    if (s[i] != fin) continue;
    if (i + 1 < s.size() && s[i + 1] == fin) {
      ++i;
      continue;
    }
    cerrada = true;
    return i + 1;
  }
  cerrada = false;
  return s.size();
}

bool Palabra(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' || c == '$' ||
         (static_cast<unsigned char>(c) & 0x80);
}

// The C library's blanks, \v and \f among them: a connection-level statement is recognised whatever
// blanks separate its words.
constexpr std::string_view kBlancosC = " \t\n\v\f\r";

struct Ficha {
  enum class T { Palabra, Nombre, Cadena, Numero, Simbolo };
  T t = T::Simbolo;
  std::string texto;  // a quoted name or string without its quotes
  std::size_t pos = 0, fin = 0;
  bool cerrada = true;  // quotes and comments that the text ends before closing are not cerrada
};

std::string SinComillas(std::string_view s, char fin) {
  std::string r;
  for (std::size_t i = 0; i < s.size(); ++i) {
    r += s[i];
    if (s[i] == fin && i + 1 < s.size() && s[i + 1] == fin) ++i;
  }
  return r;
}

// Words, numbers, quoted names, strings (also N'...') and symbols of a batch with their places; comments
// are left out, but one the text ends inside stays as an unclosed symbol, so that nothing after it is
// taken for a statement.
std::vector<Ficha> Fichas(std::string_view s) {
  std::vector<Ficha> r;
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    Ficha f;
    f.pos = i;
    if (Blanco(c, kBlancosC)) {
      ++i;
      continue;
    }
    if (s.substr(i, 2) == "--") {
      i = s.find('\n', i);
      if (i == std::string_view::npos) i = s.size();
      continue;
    }
    if (s.substr(i, 2) == "/*") {
      i = s.find("*/", i + 2);
      if (i != std::string_view::npos) {
        i += 2;
        continue;
      }
      f.texto = "/*";
      f.cerrada = false;
      i = s.size();
    } else if (c == '\'' || ((c == 'N' || c == 'n') && s.substr(i + 1, 1) == "'")) {
      const std::size_t a = c == '\'' ? i : i + 1;
      i = FinCita(s, a, '\'', f.cerrada);
      f.t = Ficha::T::Cadena;
      f.texto = SinComillas(s.substr(a + 1, i - a - 1 - (f.cerrada ? 1 : 0)), '\'');
    } else if (c == '[' || c == '"') {
      const char fin = c == '[' ? ']' : '"';
      i = FinCita(s, i, fin, f.cerrada);
      f.t = Ficha::T::Nombre;
      f.texto = SinComillas(s.substr(f.pos + 1, i - f.pos - 1 - (f.cerrada ? 1 : 0)), fin);
    } else if (Digito(c)) {
      while (i < s.size() && Digito(s[i])) ++i;
      if (i + 1 < s.size() && s[i] == '.' && Digito(s[i + 1])) {
        ++i;
        while (i < s.size() && Digito(s[i])) ++i;
      }
      f.t = Ficha::T::Numero;
      f.texto = std::string(s.substr(f.pos, i - f.pos));
    } else if (Palabra(c)) {
      while (i < s.size() && Palabra(s[i])) ++i;
      f.t = Ficha::T::Palabra;
      f.texto = std::string(s.substr(f.pos, i - f.pos));
    } else {
      f.texto = std::string(1, c);
      ++i;
    }
    f.fin = i;
    r.push_back(std::move(f));
  }
  return r;
}

bool EnLista(const std::string& palabra, std::initializer_list<const char*> lista) {
  for (const char* p : lista)
    if (MismoNombre(palabra, p)) return true;
  return false;
}

// Words that begin a statement: a connection-level statement is over when one of them follows it.
bool Inicia(const std::string& w) {
  return EnLista(
      w, {"SELECT",  "INSERT",   "UPDATE",    "DELETE",     "CREATE",   "ALTER", "DROP",    "BEGIN",
          "COMMIT",  "ROLLBACK", "SAVE",      "SET",        "USE",      "EXEC",  "EXECUTE", "IF",
          "DECLARE", "PRINT",    "RAISERROR", "WITH",       "TRUNCATE", "GRANT", "REVOKE",  "DENY",
          "RETURN",  "WHILE",    "WAITFOR",   "MERGE",      "DBCC",     "THROW", "ELSE",    "END",
          "OPEN",    "CLOSE",    "FETCH",     "DEALLOCATE", "KILL",     "GOTO",  "BREAK",   "CONTINUE"});
}

// Options of SET that take one value (a number, a word or a string) instead of ON or OFF.
bool ConValor(const std::string& w) {
  return EnLista(w, {"TEXTSIZE", "ROWCOUNT", "LOCK_TIMEOUT", "DATEFIRST", "DATEFORMAT", "LANGUAGE",
                     "DEADLOCK_PRIORITY", "QUERY_GOVERNOR_COST_LIMIT", "CONTEXT_INFO"});
}

// The tokens of one batch and the matchers of the connection-level forms. Each matcher looks at the
// statement that begins at token `i` and, when it is its form, fills the piece and returns the index of
// the first token after it.
class Cortador {
 public:
  explicit Cortador(std::string_view s) : s_(s), f_(Fichas(s)) {}

  std::vector<Pieza> Partir();

 private:
  using Fin = std::optional<std::size_t>;

  bool Hay(std::size_t j) const { return j < f_.size(); }
  bool Es(std::size_t j, const char* w) const {
    return Hay(j) && f_[j].t == Ficha::T::Palabra && MismoNombre(f_[j].texto, w);
  }
  bool EsSim(std::size_t j, const char* c) const {
    return Hay(j) && f_[j].t == Ficha::T::Simbolo && f_[j].cerrada && f_[j].texto == c;
  }
  bool EsPalabra(std::size_t j) const { return Hay(j) && f_[j].t == Ficha::T::Palabra; }
  bool EsNombre(std::size_t j) const {
    return Hay(j) && ((f_[j].t == Ficha::T::Palabra && !Inicia(f_[j].texto)) ||
                      (f_[j].t == Ficha::T::Nombre && f_[j].cerrada));
  }
  // The statement that ended just before `j` is complete: what follows starts another one.
  bool Termina(std::size_t j) const {
    return !Hay(j) || EsSim(j, ";") || (f_[j].t == Ficha::T::Palabra && Inicia(f_[j].texto));
  }

  Fin Set(std::size_t i, Pieza& p) const;
  Fin Use(std::size_t i, Pieza& p) const;
  Fin Seleccion(std::size_t i, Pieza& p) const;
  Fin SiTrancount(std::size_t i, Pieza& p) const;
  Fin Exec(std::size_t i, Pieza& p) const;
  Fin Declarar(std::size_t i, Pieza& p) const;
  Fin Valor(std::size_t j, Argumento& a) const;
  Fin Argumentos(std::size_t j, std::vector<Argumento>& r, bool nombres) const;
  void Estiramiento(std::size_t desde, std::size_t hasta, std::vector<Pieza>& r) const;

  std::string_view s_;
  std::vector<Ficha> f_;
};

Cortador::Fin Cortador::Set(std::size_t i, Pieza& p) const {
  std::size_t j = i + 1;
  if (!EsPalabra(j) || Es(j, "IDENTITY_INSERT")) return {};
  if (Es(j, "TRANSACTION")) {
    if (!Es(j + 1, "ISOLATION") || !Es(j + 2, "LEVEL")) return {};
    j += 3;
    if (Es(j, "READ") && (Es(j + 1, "COMMITTED") || Es(j + 1, "UNCOMMITTED"))) {
      p.valor = "READ " + Mayusculas(f_[j + 1].texto);
      j += 2;
    } else if (Es(j, "REPEATABLE") && Es(j + 1, "READ")) {
      p.valor = "REPEATABLE READ";
      j += 2;
    } else if (Es(j, "SNAPSHOT") || Es(j, "SERIALIZABLE")) {
      p.valor = Mayusculas(f_[j++].texto);
    } else {
      return {};
    }
    p.opciones = {"TRANSACTION ISOLATION LEVEL"};
  } else if (ConValor(f_[j].texto)) {
    p.opciones = {Mayusculas(f_[j].texto)};
    ++j;
    std::string signo;
    if (EsSim(j, "-") || EsSim(j, "+")) signo = f_[j++].texto;
    if (!Hay(j) || !f_[j].cerrada) return {};
    const Ficha::T t = f_[j].t;
    if (t == Ficha::T::Numero || (signo.empty() && (t == Ficha::T::Palabra || t == Ficha::T::Cadena)))
      p.valor = signo + f_[j++].texto;
    else
      return {};
  } else {
    // SET STATISTICS IO, TIME ON names its options after one word of its own.
    const bool estadisticas = Es(j, "STATISTICS");
    if (estadisticas) ++j;
    for (;;) {
      if (!EsPalabra(j) || Es(j, "ON") || Es(j, "OFF")) return {};
      p.opciones.push_back((estadisticas ? "STATISTICS " : "") + Mayusculas(f_[j++].texto));
      if (!EsSim(j, ",")) break;
      ++j;
    }
    if (!Es(j, "ON") && !Es(j, "OFF")) return {};
    p.valor = Mayusculas(f_[j++].texto);
  }
  if (!Termina(j)) return {};
  p.k = Pieza::K::Set;
  p.nombre = p.opciones.front();
  return j;
}

Cortador::Fin Cortador::Use(std::size_t i, Pieza& p) const {
  if (!EsNombre(i + 1) || !Termina(i + 2)) return {};
  p.k = Pieza::K::Use;
  p.nombre = f_[i + 1].texto;
  return i + 2;
}

// One value: a number (with its sign), a string, a variable, DEFAULT, NULL or a bare word (T-SQL takes a
// bare word given to a procedure as a string).
Cortador::Fin Cortador::Valor(std::size_t j, Argumento& a) const {
  std::string signo;
  if (EsSim(j, "-") || EsSim(j, "+")) signo = f_[j++].texto;
  if (!Hay(j) || !f_[j].cerrada) return {};
  const Ficha& f = f_[j];
  if (!signo.empty() && f.t != Ficha::T::Numero) return {};  // only numbers take a sign
  if (f.t == Ficha::T::Numero) {
    a.valor = (signo == "-" ? "-" : "") + f.texto;
  } else if (f.t == Ficha::T::Palabra && MismoNombre(f.texto, "NULL")) {
    a.valor.reset();
  } else if (f.t == Ficha::T::Palabra && MismoNombre(f.texto, "DEFAULT")) {
    a.porDefecto = true;
  } else if (f.t == Ficha::T::Palabra && f.texto.starts_with("@")) {
    a.valor = Mayusculas(f.texto);
    a.variable = true;
  } else if (f.t == Ficha::T::Cadena || EsNombre(j)) {
    a.valor = f.texto;
    a.texto = true;
  } else {
    return {};
  }
  return j + 1;
}

// Values separated by commas, each `@nombre = valor` when `nombres` allows it and optionally OUTPUT.
Cortador::Fin Cortador::Argumentos(std::size_t j, std::vector<Argumento>& r, bool nombres) const {
  for (;;) {
    Argumento a;
    if (nombres && EsPalabra(j) && f_[j].texto.starts_with("@") && EsSim(j + 1, "=")) {
      a.nombre = f_[j].texto;
      j += 2;
    }
    const Fin fin = Valor(j, a);
    if (!fin) return {};
    j = *fin;
    if (nombres && (Es(j, "OUTPUT") || Es(j, "OUT"))) {
      a.salida = true;
      ++j;
    }
    r.push_back(std::move(a));
    if (!EsSim(j, ",")) return j;
    ++j;
  }
}

// SELECT of values the session knows, each with its alias: @@SPID, DB_NAME(), APPLOCK_MODE(...), @r.
Cortador::Fin Cortador::Seleccion(std::size_t i, Pieza& p) const {
  std::size_t j = i + 1;
  for (;;) {
    if (!EsPalabra(j)) return {};
    Columna c;
    const std::string w = f_[j].texto;
    if (w.starts_with("@")) {
      c.nombre = Mayusculas(w);
      ++j;
    } else if (EnLista(w, {"DB_NAME", "APPLOCK_MODE", "APPLOCK_TEST"}) && EsSim(j + 1, "(")) {
      c.nombre = Mayusculas(w);
      j += 2;
      if (!EsSim(j, ")")) {
        const Fin fin = Argumentos(j, c.argumentos, false);
        if (!fin) return {};
        j = *fin;
      }
      if (!EsSim(j, ")")) return {};
      ++j;
    } else {
      return {};
    }
    if (Es(j, "AS") && Hay(j + 1) && f_[j + 1].t != Ficha::T::Simbolo && f_[j + 1].cerrada) {
      c.alias = f_[j + 1].texto;
      j += 2;
    } else if (EsNombre(j) &&
               !EnLista(f_[j].texto, {"FROM", "WHERE", "UNION", "ORDER", "GROUP", "INTO", "HAVING"})) {
      c.alias = f_[j++].texto;
    }
    p.columnas.push_back(std::move(c));
    if (!EsSim(j, ",")) break;
    ++j;
  }
  if (!Termina(j)) return {};
  p.k = Pieza::K::Variable;
  return j;
}

// IF @@TRANCOUNT > 0 COMMIT|ROLLBACK [TRAN|TRANSACTION|WORK]; a BEGIN TRANSACTION after it is a statement
// of its own (the IF governs one statement).
Cortador::Fin Cortador::SiTrancount(std::size_t i, Pieza& p) const {
  std::size_t j = i + 1;
  const bool parentesis = EsSim(j, "(");
  if (parentesis) ++j;
  if (!Es(j, "@@TRANCOUNT") || !EsSim(j + 1, ">") || !Hay(j + 2) || f_[j + 2].t != Ficha::T::Numero ||
      f_[j + 2].texto != "0")
    return {};
  j += 3;
  if (parentesis && !EsSim(j++, ")")) return {};
  if (!Es(j, "COMMIT") && !Es(j, "ROLLBACK")) return {};
  p.confirmar = Es(j, "COMMIT");
  ++j;
  if (Es(j, "TRAN") || Es(j, "TRANSACTION") || Es(j, "WORK")) ++j;
  if (!Termina(j)) return {};
  p.k = Pieza::K::SiTrancount;
  return j;
}

// EXEC[UTE] [@r =] [db.][schema.]proc [args]; the bare form only where a statement may begin it.
Cortador::Fin Cortador::Exec(std::size_t i, Pieza& p) const {
  std::size_t j = i;
  if (Es(j, "EXEC") || Es(j, "EXECUTE")) {
    ++j;
    if (EsPalabra(j) && f_[j].texto.starts_with("@") && EsSim(j + 1, "=")) {
      p.destino = Mayusculas(f_[j].texto);
      j += 2;
    }
  }
  for (;;) {
    if (!EsNombre(j)) return {};
    p.nombre = f_[j++].texto;
    if (!EsSim(j, ".")) break;
    ++j;
    if (EsSim(j, ".")) ++j;  // master..sp_x
  }
  if (!Termina(j)) {
    const Fin fin = Argumentos(j, p.argumentos, true);
    if (!fin || !Termina(*fin)) return {};
    j = *fin;
  }
  p.k = Pieza::K::Exec;
  return j;
}

// DECLARE @v [AS] type[(n[, m])] [= value][, ...]
Cortador::Fin Cortador::Declarar(std::size_t i, Pieza& p) const {
  std::size_t j = i + 1;
  for (;;) {
    if (!EsPalabra(j) || !f_[j].texto.starts_with("@") || f_[j].texto.starts_with("@@")) return {};
    Argumento a;
    a.nombre = Mayusculas(f_[j++].texto);
    if (Es(j, "AS")) ++j;
    if (!EsNombre(j)) return {};
    a.tipo = Mayusculas(f_[j++].texto);
    if (EsSim(j, "(")) {
      j += 2;
      if (EsSim(j, ",")) j += 2;
      if (!EsSim(j, ")")) return {};
      ++j;
    }
    if (EsSim(j, "=")) {
      const Fin fin = Valor(j + 1, a);
      if (!fin || a.variable || a.porDefecto) return {};
      j = *fin;
    }
    p.argumentos.push_back(std::move(a));
    if (!EsSim(j, ",")) break;
    ++j;
  }
  if (!Termina(j)) return {};
  p.k = Pieza::K::Declarar;
  return j;
}

// The emulator's statements between `desde` and `hasta` (positions in the text), each a piece of its own.
void Cortador::Estiramiento(std::size_t desde, std::size_t hasta, std::vector<Pieza>& r) const {
  const std::string_view trozo = s_.substr(desde, hasta - desde);
  for (const auto& [a, b] : ExtensionesLote(trozo)) {
    Pieza p;
    p.texto = std::string(trozo.substr(a, b - a));
    r.push_back(std::move(p));
  }
}

std::vector<Pieza> Cortador::Partir() {
  std::vector<Pieza> r;
  constexpr std::size_t kNinguno = static_cast<std::size_t>(-1);
  std::size_t desde = kNinguno;  // first token of the emulator's stretch being read
  int hondo = 0;                 // parentheses open in it
  for (std::size_t i = 0; i < f_.size();) {
    Pieza p;
    Fin fin;
    if (hondo == 0 && f_[i].t == Ficha::T::Palabra) {
      const std::string& w = f_[i].texto;
      if (MismoNombre(w, "SET"))
        fin = Set(i, p);
      else if (MismoNombre(w, "USE"))
        fin = Use(i, p);
      else if (MismoNombre(w, "SELECT"))
        fin = Seleccion(i, p);
      else if (MismoNombre(w, "IF"))
        fin = SiTrancount(i, p);
      else if (MismoNombre(w, "DECLARE"))
        fin = Declarar(i, p);
      else if (MismoNombre(w, "EXEC") || MismoNombre(w, "EXECUTE") ||
               (Mayusculas(w).starts_with("SP_") && (i == 0 || EsSim(i - 1, ";"))))
        fin = Exec(i, p);
    }
    if (!fin) {
      if (desde == kNinguno && !EsSim(i, ";")) desde = i;
      if (EsSim(i, "(")) ++hondo;
      if (EsSim(i, ")") && hondo > 0) --hondo;
      ++i;
      continue;
    }
    if (desde != kNinguno) Estiramiento(f_[desde].pos, f_[i].pos, r);
    desde = kNinguno;
    p.texto = std::string(s_.substr(f_[i].pos, f_[*fin - 1].fin - f_[i].pos));
    r.push_back(std::move(p));
    i = *fin;
  }
  if (desde != kNinguno) Estiramiento(f_[desde].pos, s_.size(), r);
  return r;
}

}  // namespace

std::vector<Pieza> PartirLote(std::string_view texto) {
  return Cortador(texto).Partir();
}

}  // namespace simulado::tds
