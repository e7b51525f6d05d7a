// The simulated server's dump: the script that rebuilds the database, and the check of its closing line.
#include "ServidorImpl.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "Fechas.h"

namespace simulado {

std::string LineaCierre(std::size_t lotes, std::uint64_t suma) {
  char hex[24];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(suma));
  return std::string(kCierre) + std::to_string(lotes) + " lotes, suma " + hex + ".\n";
}

ErrorSql VolcadoIncompleto() {
  return ErrorSql(
      kErrorVolcado,
      "El archivo de la base simulada está incompleto: falta su línea final de comprobación. Si lo "
      "escribió una versión anterior y está completo, quítele la primera línea para cargarlo como "
      "script.");
}

ErrorSql VolcadoDanado() {
  return ErrorSql(kErrorVolcado,
                  "El archivo de la base simulada está dañado: su contenido no coincide con la línea final "
                  "de comprobación.");
}

namespace {

// The closing line for a dump's content: how many GO lines it holds and a 64-bit FNV-1a of its bytes.
std::string CierreDe(std::string_view contenido) {
  std::size_t lotes = 0;
  CadaLinea(contenido,
            [&](std::size_t a, std::size_t b) { lotes += EsSeparador(contenido.substr(a, b - a)); });
  Fnv suma;
  suma(contenido);
  return LineaCierre(lotes, suma.h);
}

}  // namespace

// A script that says it is one of our dumps must end with its closing line and match it: a file
// cut short after any GO would otherwise load as a smaller database without a word.
void ComprobarVolcado(std::string_view script) {
  if (script.substr(0, kCabecera.size()) != kCabecera) return;
  const std::size_t corte =
      script.size() < 2 ? std::string_view::npos : script.rfind('\n', script.size() - 2);
  const std::string_view ultima = corte == std::string_view::npos ? script : script.substr(corte + 1);
  if (script.back() != '\n' || ultima.substr(0, kCierre.size()) != kCierre) throw VolcadoIncompleto();
  if (ultima != CierreDe(script.substr(0, corte + 1))) throw VolcadoDanado();
}

std::string Servidor::Impl::DefinicionColumna(const Tabla& t, const Columna& c) const {
  std::string r = "\t" + Corchetes(c.nombre) + " " + DeclaracionTipo(c.tipo);
  if (EsTexto(c.tipo.tipo) && c.collation != collation) r += " COLLATE " + NombreEnScript(c.collation);
  if (c.identidad) r += " IDENTITY (" + std::to_string(c.semilla) + ", " + std::to_string(c.incremento) + ")";
  r += c.nulos ? " NULL" : " NOT NULL";
  if (const Restriccion* d = t.Defecto(c.nombre))
    r += " CONSTRAINT " + Corchetes(d->nombre) + " DEFAULT " + d->textoDefecto;
  return r;
}

std::string Servidor::Impl::ListaCorchetes(const std::vector<std::string>& cols) {
  std::string r;
  for (const auto& c : cols) r += (r.empty() ? "" : ", ") + Corchetes(c);
  return r;
}

namespace {

// The dump as it is produced: gathered in blocks that end at a line's end, each block counted (GO lines)
// and hashed before it goes, and the closing line made from those counts at the end.
class Volcador {
 public:
  explicit Volcador(const std::function<void(std::string_view)>& destino) : destino_(destino) {
    r.reserve(kBloque + 4096);
  }
  std::string r;
  // Called where `r` ends a line.
  void Quizas() {
    if (r.size() >= kBloque) Vaciar();
  }
  void Fin() {
    Vaciar();
    destino_(LineaCierre(lotes_, suma_.h));
  }

 private:
  static constexpr std::size_t kBloque = 1 << 16;
  void Vaciar() {
    suma_(r);
    CadaLinea(
        std::string_view(r).substr(0, r.size() - (r.empty() ? 0 : 1)),
        [&](std::size_t a, std::size_t b) { lotes_ += EsSeparador(std::string_view(r).substr(a, b - a)); });
    destino_(r);
    r.clear();
  }
  const std::function<void(std::string_view)>& destino_;
  Fnv suma_;
  std::size_t lotes_ = 0;
};

void AnexarEntero(std::string& r, std::int64_t n) {
  char b[24];
  const auto [fin, e] = std::to_chars(b, b + sizeof b, n);
  r.append(b, static_cast<std::size_t>(fin - b));
}

// As Literal(c.Leer(f)), without building the value: char without its padding.
void AnexarValor(std::string& r, const Columna& c, std::size_t f) {
  if (c.Nulo(f)) {
    r += "NULL";
    return;
  }
  switch (c.tipo.tipo) {
    case Tipo::Char:
    case Tipo::VarChar: {
      const std::string_view s = c.Texto(f);
      if (s.find_first_of("'\n") != std::string_view::npos) {
        r += Literal(Valor::Texto(std::string(s)));
        return;
      }
      r += '\'';
      r.append(s);
      r += '\'';
      return;
    }
    case Tipo::Decimal: {
      const std::int64_t n = c.Entero(f);
      const int escala = c.tipo.escala;
      if (escala <= 0) return AnexarEntero(r, n);
      if (n < 0) r += '-';
      char b[24];
      const auto [fin, e] = std::to_chars(
          b, b + sizeof b, n < 0 ? -static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n));
      const auto cifras = static_cast<std::size_t>(fin - b), esc = static_cast<std::size_t>(escala);
      if (cifras <= esc) {
        r += "0.";
        r.append(esc - cifras, '0');
        r.append(b, cifras);
      } else {
        r.append(b, cifras - esc);
        r += '.';
        r.append(b + cifras - esc, esc);
      }
      return;
    }
    case Tipo::SmallDateTime:
    case Tipo::DateTime:
      r += '\'';
      AnexarFecha(r, c.Entero(f), c.tipo.tipo == Tipo::DateTime ? 3 : 0);
      r += '\'';
      return;
    default:
      AnexarEntero(r, c.Entero(f));
  }
}

}  // namespace

void Servidor::Impl::Volcar(const std::function<void(std::string_view)>& destino) const {
  Volcador v(destino);
  std::string& r = v.r;
  r += "-- Base de datos simulada " + base + ": tablas, vistas y filas.\n";
  for (const auto& t : tablas) {
    r += "CREATE TABLE " + Corchetes(t->nombre) + " (\n";
    std::vector<std::string> lineas;
    for (const auto& c : t->e.cols) lineas.push_back(DefinicionColumna(*t, *c));
    for (const auto& x : t->e.restr) {
      if (x.tipo == TR::DF) continue;
      std::string l = "\tCONSTRAINT " + Corchetes(x.nombre) +
                      (x.tipo == TR::PK ? " PRIMARY KEY" : " UNIQUE") +
                      (x.agrupado ? " CLUSTERED" : " NONCLUSTERED") + " (" + ListaCorchetes(x.columnas) + ")";
      if (x.relleno) l += " WITH FILLFACTOR = " + std::to_string(x.relleno);
      lineas.push_back(std::move(l));
    }
    for (std::size_t i = 0; i < lineas.size(); ++i) r += lineas[i] + (i + 1 < lineas.size() ? ",\n" : "\n");
    r += ")\nGO\n";
    for (const auto& x : t->e.indices) {
      r += "CREATE " + std::string(x.unico ? "UNIQUE " : "") + (x.agrupado ? "CLUSTERED" : "NONCLUSTERED") +
           " INDEX " + Corchetes(x.nombre) + " ON " + Corchetes(t->nombre) + " (" +
           ListaCorchetes(x.columnas) + ")";
      if (x.relleno) r += " WITH FILLFACTOR = " + std::to_string(x.relleno);
      r += "\nGO\n";
    }
    v.Quizas();
  }
  for (const auto& vista : vistas) {
    r += vista->texto + "\nGO\n";
    v.Quizas();
  }
  for (const auto& t : tablas) {
    if (t->filas == 0 && std::none_of(t->e.cols.begin(), t->e.cols.end(),
                                      [](const auto& c) { return c->identidad && c->generado; }))
      continue;
    const Columna* identidad = nullptr;
    for (const auto& c : t->e.cols)
      if (c->identidad) identidad = c.get();
    std::string cabeza = "INSERT INTO " + Corchetes(t->nombre) + " (";
    for (std::size_t i = 0; i < t->e.cols.size(); ++i)
      cabeza += (i ? ", " : "") + Corchetes(t->e.cols[i]->nombre);
    cabeza += ") VALUES\n";
    if (identidad && t->filas) r += "SET IDENTITY_INSERT " + Corchetes(t->nombre) + " ON\n";
    // One statement per 500 rows, one row per line.
    for (std::size_t f = 0; f < t->filas; ++f) {
      if (f % 500 == 0) {
        if (f) r += "GO\n";
        r += cabeza;
      }
      r += '(';
      for (std::size_t i = 0; i < t->e.cols.size(); ++i) {
        if (i) r += ", ";
        AnexarValor(r, *t->e.cols[i], f);
      }
      r += (f % 500 == 499 || f + 1 == t->filas) ? ")\n" : "),\n";
      v.Quizas();
    }
    if (identidad) {
      if (t->filas) r += "SET IDENTITY_INSERT " + Corchetes(t->nombre) + " OFF\n";
      if (identidad->generado)
        r += "DBCC CHECKIDENT (" + Literal(Valor::Texto(NombreEnScript(t->nombre))) + ", RESEED, " +
             std::to_string(identidad->actual) + ")\n";
    }
    r += "GO\n";
    v.Quizas();
  }
  v.Fin();
}

}  // namespace simulado
