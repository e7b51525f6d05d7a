// The simulated server's dump: the script that rebuilds the database, and the check of its closing line.
#include "ServidorImpl.h"

#include <algorithm>
#include <cstdio>

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
std::string LineaCierre(std::string_view contenido) {
  std::size_t lotes = 0;
  CadaLinea(contenido,
            [&](std::size_t a, std::size_t b) { lotes += EsSeparador(contenido.substr(a, b - a)); });
  Fnv suma;
  suma(contenido);
  return simulado::LineaCierre(lotes, suma.h);
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
  if (ultima != LineaCierre(script.substr(0, corte + 1))) throw VolcadoDanado();
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

std::string Servidor::Impl::Volcar() const {
  std::string r = "-- Base de datos simulada " + base + ": tablas, vistas y filas.\n";
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
  }
  for (const auto& v : vistas) r += v->texto + "\nGO\n";
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
        const Columna& c = *t->e.cols[i];
        Valor v = c.Leer(f);
        if (c.tipo.tipo == Tipo::Char && !v.Nulo()) v.s.resize(RecortarFinal(v.s, " ").size());
        if (i) r += ", ";
        r += Literal(v);
      }
      r += (f % 500 == 499 || f + 1 == t->filas) ? ")\n" : "),\n";
    }
    if (identidad) {
      if (t->filas) r += "SET IDENTITY_INSERT " + Corchetes(t->nombre) + " OFF\n";
      if (identidad->generado)
        r += "DBCC CHECKIDENT (" + Literal(Valor::Texto(NombreEnScript(t->nombre))) + ", RESEED, " +
             std::to_string(identidad->actual) + ")\n";
    }
    r += "GO\n";
  }
  return r + LineaCierre(r);
}

}  // namespace simulado
