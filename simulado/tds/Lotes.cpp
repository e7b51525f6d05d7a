// Cutting a batch into statements and recognising the connection-level ones.
#include "tds/Lotes.h"

#include <cctype>

#include "motor/Texto.h"

namespace simulado::tds {

namespace {

// Position just after the quote that closes the one at `i` (doubled quotes stay inside).
std::size_t FinCita(std::string_view s, std::size_t i, char fin) {
  for (++i; i < s.size(); ++i) {
    if (s[i] != fin) continue;
    if (i + 1 < s.size() && s[i + 1] == fin) {
      ++i;
      continue;
    }
    return i + 1;
  }
  return s.size();
}

bool Palabra(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' || c == '$' ||
         (static_cast<unsigned char>(c) & 0x80);
}

// The C library's blanks, \v and \f among them: a connection-level statement is recognised whatever
// blanks separate its words.
constexpr std::string_view kBlancosC = " \t\n\v\f\r";

// Words and symbols of one piece, comments left out, names unquoted; strings are kept as one token "'".
std::vector<std::string> Fichas(std::string_view s) {
  std::vector<std::string> r;
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    if (Blanco(c, kBlancosC)) {
      ++i;
    } else if (s.substr(i, 2) == "--") {
      i = s.find('\n', i);
      if (i == std::string_view::npos) i = s.size();
    } else if (s.substr(i, 2) == "/*") {
      i = s.find("*/", i + 2);
      i = i == std::string_view::npos ? s.size() : i + 2;
    } else if (c == '\'') {
      i = FinCita(s, i, c);
      r.emplace_back("'");
    } else if (c == '[' || c == '"') {
      const char fin = c == '[' ? ']' : '"';
      std::string n;
      for (++i; i < s.size(); ++i) {
        if (s[i] == fin) {
          if (i + 1 < s.size() && s[i + 1] == fin) {
            n += fin;
            ++i;
            continue;
          }
          ++i;
          break;
        }
        n += s[i];
      }
      r.push_back(n);
    } else if (Palabra(c)) {
      const std::size_t a = i;
      while (i < s.size() && Palabra(s[i])) ++i;
      r.emplace_back(s.substr(a, i - a));
    } else {
      r.emplace_back(1, c);
      ++i;
    }
  }
  return r;
}

bool EsTran(const std::string& w) {
  const std::string m = Mayusculas(w);
  return m == "TRAN" || m == "TRANSACTION" || m == "WORK";
}

void Clasificar(Pieza& p) {
  const auto f = Fichas(p.texto);
  auto es = [&](std::size_t i, const char* w) { return i < f.size() && Mayusculas(f[i]) == w; };
  if (es(0, "SET") && !es(1, "IDENTITY_INSERT")) {
    p.k = Pieza::K::Set;
  } else if (es(0, "USE") && f.size() == 2) {
    p.k = Pieza::K::Use;
    p.nombre = f[1];
  } else if (es(0, "SELECT") && f.size() == 2 && f[1].starts_with("@@")) {
    p.k = Pieza::K::Variable;
    p.nombre = Mayusculas(f[1]);
  } else if (es(0, "SELECT") && f.size() == 4 && es(1, "DB_NAME") && f[2] == "(" && f[3] == ")") {
    p.k = Pieza::K::Variable;
    p.nombre = "DB_NAME";
  } else if (es(0, "IF") && es(1, "@@TRANCOUNT") && es(2, ">") && es(3, "0") &&
             (es(4, "COMMIT") || es(4, "ROLLBACK"))) {
    std::size_t i = 5;
    if (i < f.size() && EsTran(f[i])) ++i;
    bool empezar = false;
    if (es(i, "BEGIN") && i + 1 < f.size() && EsTran(f[i + 1])) {
      empezar = true;
      i += 2;
    }
    if (i == f.size()) {
      p.k = Pieza::K::SiTrancount;
      p.confirmar = es(4, "COMMIT");
      p.empezar = empezar;
    }
  } else if ((es(0, "EXEC") || es(0, "EXECUTE")) && f.size() >= 2) {
    p.k = Pieza::K::Exec;
    p.nombre = f[1];
    // sys.sp_x, dbo.sp_x
    if (f.size() >= 4 && f[2] == ".") p.nombre = f[3];
  } else if (!f.empty() && Mayusculas(f[0]).starts_with("SP_")) {
    p.k = Pieza::K::Exec;
    p.nombre = f[0];
  }
}

}  // namespace

std::vector<Pieza> PartirLote(std::string_view s) {
  std::vector<Pieza> r;
  std::size_t inicio = 0;
  auto cortar = [&](std::size_t fin) {
    Pieza p;
    p.texto = std::string(s.substr(inicio, fin - inicio));
    if (!Fichas(p.texto).empty()) {
      Clasificar(p);
      r.push_back(std::move(p));
    }
    inicio = fin + 1;
  };
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    if (s.substr(i, 2) == "--") {
      i = s.find('\n', i);
      if (i == std::string_view::npos) i = s.size();
    } else if (s.substr(i, 2) == "/*") {
      i = s.find("*/", i + 2);
      i = i == std::string_view::npos ? s.size() : i + 2;
    } else if (c == '\'' || c == '[' || c == '"') {
      i = FinCita(s, i, c == '[' ? ']' : c);
    } else if (c == ';') {
      cortar(i);
      ++i;
    } else {
      ++i;
    }
  }
  if (inicio < s.size()) cortar(s.size());
  return r;
}

}  // namespace simulado::tds
