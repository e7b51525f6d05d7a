// Fuzz target: scripts and statements fed to the emulator, with its dump and reload and the replay of its
// journal notes as the oracles.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "motor/Servidor.h"

namespace {

using simulado::ErrorSql;
using simulado::Servidor;

// A small base with a column of every type, keys, a default, an identity and a view.
const char* const kBase =
    "CREATE TABLE T (id int IDENTITY (1, 1) NOT NULL PRIMARY KEY, b bit NULL, ti tinyint NULL, "
    "si smallint NULL, n int NULL, d decimal(18,4) NULL, m numeric(9,2) NULL, c char(6) NULL, "
    "v varchar(40) NULL DEFAULT 'x', sd smalldatetime NULL, dt datetime NULL)\nGO\n"
    "CREATE UNIQUE INDEX IX_T ON T (v)\nGO\n"
    "INSERT INTO T (b, ti, si, n, d, m, c, v, sd, dt) VALUES (1, 255, -32768, 2147483647, "
    "-99999999999999.9999, 1234567.89, 'abc', 'O''Neill', '1950-06-01 10:00', '1753-01-01'), "
    "(0, 0, 32767, -2147483647, 0.0001, -0.01, '', 'línea', '2079-06-06 23:59', "
    "'9999-12-31 23:59:59.997')\nGO\n"
    "CREATE VIEW W AS SELECT id, v FROM T WHERE n > 0\nGO\n";

[[noreturn]] void Abortar(const char* que, const std::string& detalle) {
  std::fprintf(stderr, "fuzz_motor: %s\n%s\n", que, detalle.c_str());
  std::abort();
}

// What a server holds, dumped, loaded into a new one and dumped again, must come back byte for
// byte; a dump that does not load is a database lost at the next start.
void IdaYVuelta(const Servidor& s) {
  const std::string volcado = s.Script();
  Servidor otro(s.NombreBase());
  try {
    otro.EjecutarScript(volcado);
  } catch (const ErrorSql& e) {
    Abortar("el volcado no se vuelve a cargar",
            std::to_string(e.numero) + " " + e.descripcion + "\n" + volcado);
  }
  if (otro.Script() != volcado)
    Abortar("el volcado recargado no es el mismo", volcado + "\n----\n" + otro.Script());
}

// Any refusal must be an ErrorSql; anything else escaping is a fault of the engine.
template <typename F>
void Correr(F&& f, std::string_view que) {
  try {
    f();
  } catch (const ErrorSql&) {
  } catch (const std::exception& e) {
    Abortar(e.what(), std::string(que.substr(0, 400)));
  }
}

// One batch as solvane-servidor runs it: a change outside a transaction runs in one of its own, and
// each commit's notes go to `diario` just before the COMMIT, as to the server's journal.
void EnSesion(Servidor& s, std::string_view lote, std::vector<std::string>& diario) {
  using Clase = Servidor::Clase;
  bool implicita = false;
  Servidor::Receptor r;
  r.antes = [&](Clase c) {
    implicita = false;
    if (c == Clase::Cambio && s.NivelTransaccion() == 0) {
      s.Ejecutar("BEGIN TRANSACTION");
      implicita = true;
    }
    if (c == Clase::Commit && s.NivelTransaccion() == 1) diario.push_back(s.Notas());
  };
  r.fin = [&](const simulado::Resultado*, const ErrorSql* e) {
    if (implicita && !e) {
      diario.push_back(s.Notas());
      s.Ejecutar("COMMIT TRANSACTION");
    }
    if (implicita && s.NivelTransaccion() > 0) s.Ejecutar("ROLLBACK TRANSACTION");
    return true;
  };
  s.EjecutarLote(lote, r);
}

// What `f` is refused with ("" when it runs): number and text.
template <typename F>
std::string Rechazo(F&& f, std::string_view que) {
  std::string r;
  Correr(
      [&] {
        try {
          f();
        } catch (const ErrorSql& e) {
          r = std::to_string(e.numero) + " " + e.descripcion;
          throw;
        }
      },
      que);
  return r;
}

void Probar(const std::uint8_t* datos, std::size_t largo) {
  const std::string entrada(reinterpret_cast<const char*>(datos), largo);
  // The input as a database file, loaded with the fast path for its rows and without it: the same
  // refusal, the same database.
  {
    Servidor s, general;
    general.RutaRapida(false);
    const std::string a = Rechazo([&] { s.EjecutarScript(entrada); }, entrada);
    const std::string b = Rechazo([&] { general.EjecutarScript(entrada); }, entrada);
    if (a != b || s.Script() != general.Script())
      Abortar("la vía rápida y la general no coinciden", a + "\n" + b + "\n" + entrada);
    IdaYVuelta(s);
  }
  // Each line of the input as a batch against the small base, run as a server runs it (a change outside
  // a transaction in one of its own), the notes of each commit kept as a journal would keep them.
  {
    auto preparar = [](Servidor& x) {
      x.EjecutarScript(kBase);
      x.Ejecutar("UPDATE T SET v = 'línea\nGO\nfin' WHERE id = 2");
    };
    Servidor s;
    preparar(s);
    s.Anotar(true);
    std::vector<std::string> diario;
    std::size_t inicio = 0;
    for (int i = 0; i < 64 && inicio <= entrada.size(); ++i) {
      std::size_t fin = entrada.find('\n', inicio);
      if (fin == std::string::npos) fin = entrada.size();
      const std::string_view linea = std::string_view(entrada).substr(inicio, fin - inicio);
      Correr([&] { EnSesion(s, linea, diario); }, linea);
      inicio = fin + 1;
    }
    if (s.NivelTransaccion() > 0) s.Ejecutar("ROLLBACK TRANSACTION");
    // Identities given out by rolled-back work reach the journal with the next commit: one more commit,
    // so that the states compared hold the same identities.
    EnSesion(s, "CREATE TABLE [fin del diario] (x int)", diario);
    IdaYVuelta(s);
    // The journal replayed on the state it started from gives the same state.
    Servidor otro(s.NombreBase());
    preparar(otro);
    for (const auto& r : diario) try {
        otro.Reproducir(r);
      } catch (const ErrorSql& e) {
        Abortar("el diario no se reproduce", std::to_string(e.numero) + " " + e.descripcion + "\n" + r);
      }
    if (otro.Script() != s.Script())
      Abortar("el diario reproducido da otra base", s.Script() + "\n----\n" + otro.Script());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
  Probar(datos, largo);
  return 0;
}

#ifndef PAGORA_LIBFUZZER
// Without libFuzzer: a seeded generator of statements built from the forms the engine knows,
// with the awkward values (GO lines, quotes, 38-digit decimals, dates at the range ends, deep
// nesting) and byte-level damage, run for a bounded count.
int main(int argc, char** argv) {
  const long cuenta = argc > 1 ? std::atol(argv[1]) : 300;
  const unsigned semilla = argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 20261208u;
  std::mt19937 azar(semilla);
  const auto al = [&](std::size_t n) { return static_cast<std::size_t>(azar() % n); };
  const auto de = [&](const auto& lista) { return std::string(lista[al(std::size(lista))]); };
  const char* const tablas[] = {
      "T", "U", "W", "V2", "[O'x]", "[a.b]", "dbo.T", "sysobjects", "information_schema.columns"};
  const char* const columnas[] = {"id", "b", "ti", "si", "n", "d", "m", "c", "v", "sd", "dt", "x", "*"};
  const char* const tipos[] = {"bit",          "tinyint",      "smallint", "int",           "decimal(18,18)",
                               "decimal(1,0)", "numeric(9,2)", "char(3)",  "varchar(8000)", "smalldatetime",
                               "datetime"};
  const char* const textos[] = {
      "GO",         "\nGO\n",    "\n go \r\n", "'",  "''", "--",         "/*",
      "*/",         "\t",        "ñ",          "\0", "x",  "1753-01-01", "9999-12-31 23:59:59.997",
      "1752-12-31", "2079-06-07"};
  const char* const numeros[] = {"0",
                                 "-0.0",
                                 "2147483647",
                                 "-2147483648",
                                 "999999999999999999",
                                 "0.000000000000000001",
                                 "3000000",
                                 "-53690",
                                 ".00000000000000000000000000000000000001",
                                 "99999999999999999999999999999999999999",
                                 "1e5",
                                 "NULL",
                                 "GETDATE()"};
  const auto texto = [&] {
    std::string t = "'";
    for (std::size_t i = 0, n = al(6); i < n; ++i)
      for (char c : de(textos)) t += c == '\'' ? std::string("''") : std::string(1, c);
    return t + "'";
  };
  const auto valor = [&] { return al(2) ? texto() : de(numeros); };
  const auto anidado = [&](const std::string& v) {
    const std::size_t n = al(4) == 0 ? al(200) : al(4);
    return std::string(n, '(') + v + std::string(n, ')');
  };
  const auto expresion = [&] {
    std::string e = anidado(valor());
    for (std::size_t i = 0, n = al(3); i < n; ++i)
      e += std::string(" ") + "+-*/"[al(4)] + " " + (al(2) ? de(columnas) : anidado(valor()));
    return e;
  };
  const auto condicion = [&] {
    const char* const ops[] = {"=", "<>", "<", ">", "<=", ">="};
    std::string c = de(columnas) + " " + de(ops) + " " + expresion();
    if (al(3) == 0) c += " OR " + de(columnas) + " IN (SELECT " + de(columnas) + " FROM " + de(tablas) + ")";
    if (al(4) == 0) c = "NOT (" + c + ")";
    return c;
  };
  const auto sentencia = [&]() -> std::string {
    switch (al(12)) {
      case 0: {
        std::string s = "CREATE TABLE " + de(tablas) + " (";
        for (std::size_t i = 0, n = 1 + al(4); i < n; ++i)
          s += (i ? ", " : "") + de(columnas) + " " + de(tipos) + (al(3) ? " NULL" : " NOT NULL") +
               (al(4) == 0 ? " DEFAULT " + valor() : "");
        return s + ")";
      }
      case 1:
        return "CREATE VIEW " + de(tablas) + " AS SELECT " + de(columnas) + " FROM " + de(tablas) +
               (al(2) ? " WHERE " + condicion() : "");
      case 2:
        return std::string(al(2) ? "DROP TABLE " : "DROP VIEW ") + de(tablas);
      case 3:
      case 4: {
        std::string s = "INSERT INTO " + de(tablas) + " (" + de(columnas) + ") VALUES ";
        for (std::size_t i = 0, n = 1 + al(3); i < n; ++i) s += (i ? ", (" : "(") + expresion() + ")";
        return s;
      }
      case 5:
        return "UPDATE " + de(tablas) + " SET " + de(columnas) + " = " + expresion() + " WHERE " +
               condicion();
      case 6:
        return "DELETE FROM " + de(tablas) + " WHERE " + condicion();
      case 7:
        return "SELECT " + expresion() + ", " + de(columnas) + " FROM " + de(tablas) + " WHERE " +
               condicion();
      case 8:
        return "ALTER TABLE " + de(tablas) + (al(2) ? " ALTER COLUMN " : " ADD ") + de(columnas) + " " +
               de(tipos) + (al(2) ? " NULL" : " NOT NULL DEFAULT " + valor());
      case 9: {
        const char* const t[] = {"BEGIN TRANSACTION", "COMMIT", "ROLLBACK", "SET IDENTITY_INSERT T ON",
                                 "DBCC CHECKIDENT ('T', RESEED, 2147483646)"};
        return de(t);
      }
      case 10:
        return "CREATE UNIQUE INDEX IX" + std::to_string(al(3)) + " ON " + de(tablas) + " (" + de(columnas) +
               ")";
      default:
        return "ALTER TABLE " + de(tablas) + " DROP COLUMN " + de(columnas);
    }
  };
  for (long i = 0; i < cuenta; ++i) {
    std::string entrada;
    for (std::size_t j = 0, n = 1 + al(12); j < n; ++j) entrada += sentencia() + (al(3) ? "\nGO\n" : "\n");
    // Byte-level damage now and then: flips, cuts, a stray quote.
    for (std::size_t j = 0, n = al(4) == 0 ? 1 + al(3) : 0; j < n && !entrada.empty(); ++j) {
      const std::size_t p = al(entrada.size());
      switch (al(3)) {
        case 0:
          entrada[p] = static_cast<char>(al(256));
          break;
        case 1:
          entrada.resize(p);
          break;
        default:
          entrada.insert(p, 1, '\'');
      }
    }
    Probar(reinterpret_cast<const std::uint8_t*>(entrada.data()), entrada.size());
  }
  std::printf("fuzz_motor: %ld entradas sin fallas (semilla %u)\n", cuenta, semilla);
  return 0;
}
#endif
