// The simulated server's fast path for the rows of a dump: INSERT ... VALUES with literal values read
// straight into values, without tokens or expression trees.
#include "Lexico.h"
#include "ServidorImpl.h"

namespace simulado {

namespace {

bool Letra(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '@' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Reads what the general parser would read the same way, or gives up (false) at anything else: the
// caller then hands the whole batch to the general parser, which gives the same result or the same error.
class Lector {
 public:
  explicit Lector(std::string_view s) : s_(s) {}
  std::size_t pos = 0;

  void Blancos() {
    while (pos < s_.size() && Blanco(s_[pos])) ++pos;
  }
  bool Fin() {
    Blancos();
    return pos >= s_.size();
  }
  bool Sim(char c) {
    Blancos();
    if (pos < s_.size() && s_[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  // A keyword, bare, in any case, not followed by more of a word.
  bool Palabra(std::string_view p) {
    Blancos();
    if (s_.size() - pos < p.size() || !MismoNombre(s_.substr(pos, p.size()), p)) return false;
    const std::size_t fin = pos + p.size();
    if (fin < s_.size() && (Letra(s_[fin]) || Digito(s_[fin]) || s_[fin] == '$')) return false;
    pos = fin;
    return true;
  }
  // One part of a name: [x] (no line break in it) or a bare word that is not reserved.
  bool Nombre(std::string& r) {
    Blancos();
    if (pos >= s_.size()) return false;
    if (s_[pos] == '[') {
      const std::size_t fin = s_.find(']', pos + 1);
      if (fin == std::string_view::npos) return false;
      const std::string_view n = s_.substr(pos + 1, fin - pos - 1);
      if (n.find_first_of("\r\n") != std::string_view::npos) return false;
      r.assign(n);
      pos = fin + 1;
      return true;
    }
    if (!Letra(s_[pos])) return false;
    std::size_t fin = pos;
    while (fin < s_.size() && (Letra(s_[fin]) || Digito(s_[fin]) || s_[fin] == '$')) ++fin;
    r.assign(s_.substr(pos, fin - pos));
    if (Reservada(r)) return false;
    pos = fin;
    return true;
  }
  // A literal as a value: NULL, a number with at most one sign before it, or quoted texts joined by +.
  bool Valor_(Valor& v) {
    Blancos();
    if (pos >= s_.size()) return false;
    const char c = s_[pos];
    if (c == '\'' || ((c == 'N' || c == 'n') && pos + 1 < s_.size() && s_[pos + 1] == '\'')) {
      v.clase = Valor::Clase::Texto;
      v.s.clear();
      for (;;) {
        if (!Cadena(v.s)) return false;
        const std::size_t antes = pos;
        if (!Sim('+')) break;
        Blancos();
        if (pos >= s_.size() || (s_[pos] != '\'' && !((s_[pos] == 'N' || s_[pos] == 'n') &&
                                                      pos + 1 < s_.size() && s_[pos + 1] == '\''))) {
          pos = antes;
          return false;
        }
      }
      return true;
    }
    if (Palabra("null")) {
      v = Valor{};
      return true;
    }
    bool negativo = false;
    if (c == '-' || c == '+') {
      negativo = c == '-';
      ++pos;
      // "--" opens a comment.
      if (pos < s_.size() && s_[pos] == '-') return false;
      Blancos();
    }
    if (!Numero(v)) return false;
    if (negativo) v = Negar(v);
    return true;
  }

 private:
  std::string_view s_;

  bool Cadena(std::string& r) {
    if (s_[pos] != '\'') ++pos;
    ++pos;
    for (;;) {
      const std::size_t q = s_.find('\'', pos);
      if (q == std::string_view::npos) return false;
      r.append(s_.substr(pos, q - pos));
      pos = q + 1;
      if (pos < s_.size() && s_[pos] == '\'') {
        r += '\'';
        ++pos;
        continue;
      }
      return true;
    }
  }
  // As the lexer reads a number: digits, a point, digits; at most 18 significant digits.
  bool Numero(Valor& v) {
    std::size_t j = pos;
    while (j < s_.size() && Digito(s_[j])) ++j;
    bool punto = false;
    if (j < s_.size() && s_[j] == '.') {
      punto = true;
      ++j;
      while (j < s_.size() && Digito(s_[j])) ++j;
    }
    if (j == pos || (punto && j == pos + 1)) return false;
    if (j < s_.size() && Letra(s_[j])) return false;
    std::int64_t n = 0;
    int escala = 0, cifras = 0;
    bool trasPunto = false;
    for (std::size_t k = pos; k < j; ++k) {
      const char d = s_[k];
      if (d == '.') {
        trasPunto = true;
        continue;
      }
      if ((cifras > 0 || d != '0') && ++cifras > 18) return false;
      n = n * 10 + (d - '0');
      if (trasPunto) ++escala;
    }
    v = (punto || n > 2147483647) ? Valor::Decimal(n, escala) : Valor::Entero(n);
    pos = j;
    return true;
  }
};

// `SET IDENTITY_INSERT` and `DBCC CHECKIDENT` around the rows, as the dump writes them, go to the general
// parser: they are short. Returns where the line that opens with INSERT starts, or npos.
std::size_t InicioInsert(std::string_view lote) {
  for (std::size_t p = 0; p < lote.size();) {
    const std::size_t q = lote.find_first_not_of(" \t", p);
    if (q == std::string_view::npos) return q;
    if (lote.size() - q > 6 && MismoNombre(lote.substr(q, 6), "insert") && Blanco(lote[q + 6])) return q;
    const std::size_t nl = lote.find('\n', q);
    if (nl == std::string_view::npos) return nl;
    p = nl + 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::optional<std::vector<Sentencia>> Servidor::Impl::AnalizarRapido(std::string_view lote) {
  const std::size_t inicio = InicioInsert(lote);
  if (inicio == std::string_view::npos) return std::nullopt;
  Lector l(lote.substr(inicio));
  Sentencia s;
  s.k = Sentencia::K::Insertar;
  s.rapida = true;
  l.Palabra("insert");
  if (!l.Palabra("into") || !l.Nombre(s.objeto.nombre)) return std::nullopt;
  if (l.Sim('(')) {
    do {
      s.listaCols.emplace_back();
      if (!l.Nombre(s.listaCols.back())) return std::nullopt;
    } while (l.Sim(','));
    if (!l.Sim(')')) return std::nullopt;
  }
  if (!l.Palabra("values")) return std::nullopt;
  std::size_t porFila = 0;
  do {
    if (!l.Sim('(')) return std::nullopt;
    std::size_t cuenta = 0;
    do {
      s.literales.emplace_back();
      if (!l.Valor_(s.literales.back())) return std::nullopt;
      ++cuenta;
    } while (l.Sim(','));
    if (!l.Sim(')')) return std::nullopt;
    if (porFila == 0) porFila = cuenta;
    if (cuenta != porFila) s.irregular = true;
  } while (l.Sim(','));
  s.porFila = porFila;
  const std::size_t fin = inicio + l.pos;
  s.fuente = lote.substr(inicio, fin - inicio);
  try {
    std::vector<Sentencia> r = AnalizarLote(lote.substr(0, inicio));
    std::vector<Sentencia> despues = AnalizarLote(lote.substr(fin));
    r.push_back(std::move(s));
    for (auto& x : despues) r.push_back(std::move(x));
    ++rapidas;
    return r;
  } catch (const ErrorSql&) {
    // The general parser gives this error for the whole batch, before anything runs.
    return std::nullopt;
  }
}

std::vector<Sentencia> Servidor::Impl::Analizar(std::string_view lote) {
  if (rutaRapida)
    if (auto r = AnalizarRapido(lote)) return std::move(*r);
  return AnalizarLote(lote);
}

}  // namespace simulado
