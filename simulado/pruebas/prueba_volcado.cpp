// The dump and the script loader as exact inverses, and dumps cut short or altered refused.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "motor/Servidor.h"

using simulado::ErrorSql;
using simulado::Servidor;

namespace {

std::string Comillas(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("''") : std::string(1, c);
  return r + "'";
}

// Dumped, loaded and dumped again: the same bytes, and the same rows.
void IdaYVuelta(Servidor& s, const std::string& consulta) {
  const std::string volcado = s.Script();
  Servidor otro;
  ASSERT_NO_THROW(otro.EjecutarScript(volcado)) << volcado;
  EXPECT_EQ(otro.Script(), volcado);
  EXPECT_EQ(otro.Ejecutar(consulta).filas, s.Ejecutar(consulta).filas) << volcado;
}

TEST(Volcado, TextosNombresYVistasQueParecenSeparadores) {
  Servidor s;
  const std::string separadores[] = {"GO", "go", " Go\t", "gO\r", "\tGO  "};
  std::string valores;
  for (const auto& g : separadores) {
    const std::string texto = "x\n" + g + "\n" + g + "\ny\n" + g;
    valores += std::string(valores.empty() ? "" : ", ") + "(" + Comillas(texto) + ")";
  }
  s.Ejecutar(
      "CREATE TABLE [O'Neill.x] (id int IDENTITY (1, 1) NOT NULL, t varchar(40) COLLATE [Un Orden] "
      "NULL DEFAULT 'a\nGO\nb', d decimal(18,18) NULL)");
  s.Ejecutar("INSERT INTO [O'Neill.x] (t) VALUES " + valores);
  s.Ejecutar("INSERT INTO [O'Neill.x] (d) VALUES (-0.999999999999999999), (0.000000000000000001)");
  s.Ejecutar(
      "CREATE VIEW V AS SELECT 'p\ngo\nq' AS t /* un\nGO\ncomentario */ UNION ALL SELECT t FROM [O'Neill.x]");
  IdaYVuelta(s, "SELECT * FROM [O'Neill.x]");
  IdaYVuelta(s, "SELECT t FROM V");
  // A name with a line break could not be written back; it is refused where it is read.
  EXPECT_THROW(s.Ejecutar("CREATE TABLE [a\nGO\nb] (x int)"), ErrorSql);
}

// Values of every type the engine holds, drawn at random (seeded), through dump and reload.
TEST(Volcado, PropiedadValoresAlAzarDeTodosLosTipos) {
  std::mt19937 azar(20261208u);
  const auto al = [&](std::uint32_t n) { return static_cast<int>(azar() % n); };
  const std::string piezas[] = {"GO",
                                "go",
                                " gO ",
                                "\n",
                                "\r\n",
                                "\r",
                                "'",
                                "''",
                                "\t",
                                "\x01",
                                "\x7f",
                                "ñ",
                                "Ä",
                                "€",
                                "--",
                                "/*",
                                "*/",
                                "[",
                                "]",
                                "a",
                                " ",
                                "N'",
                                std::string(1, '\0')};
  const auto texto = [&](int largo) {
    std::string t;
    while (static_cast<int>(t.size()) < largo && al(6) != 0) t += piezas[al(std::size(piezas))];
    return t.substr(0, static_cast<std::size_t>(largo));
  };
  struct Col {
    const char* tipo;
    std::function<std::string()> valor;
  };
  const auto entero = [&](long lo, long hi) {
    return [&, lo, hi] {
      const int c = al(4);
      const long v = c == 0   ? lo
                     : c == 1 ? hi
                              : lo + static_cast<long>(azar() % static_cast<unsigned long>(hi - lo));
      return std::to_string(v);
    };
  };
  const auto decimal = [&](int p, int e) {
    return [&, p, e] {
      std::string d;
      for (int i = 0, n = al(2) ? p : 1 + al(static_cast<std::uint32_t>(p)); i < n; ++i)
        d += char('0' + al(10));
      d.insert(d.size() - static_cast<std::size_t>(std::min<int>(e, static_cast<int>(d.size()))), ".");
      return (al(2) ? "-" : "") + d;
    };
  };
  const auto fecha = [&](int y0, int y1) {
    return [&, y0, y1] {
      char b[96];
      const int c = al(5);
      if (c == 0) return std::string(y0 == 1753 ? "'1753-01-01 00:00:00.000'" : "'1900-01-01 00:00'");
      if (c == 1) return std::string(y0 == 1753 ? "'9999-12-31 23:59:59.997'" : "'2079-06-05 23:59'");
      std::snprintf(b, sizeof b, "'%04d-%02d-%02d %02d:%02d:%02d.%03d'",
                    y0 + al(static_cast<std::uint32_t>(y1 - y0)), 1 + al(12), 1 + al(28), al(24), al(60),
                    al(60), al(1000));
      return std::string(b);
    };
  };
  const std::vector<Col> cols = {
      {"bit", entero(0, 1)},
      {"tinyint", entero(0, 255)},
      {"smallint", entero(-32768, 32767)},
      {"int", entero(-2147483647, 2147483647)},
      {"decimal(18,0)", decimal(18, 0)},
      {"decimal(18,18)", decimal(18, 18)},
      {"numeric(9,2)", decimal(9, 2)},
      {"decimal(1,1)", decimal(1, 1)},
      {"char(12)", [&] { return Comillas(texto(12)); }},
      {"varchar(60)", [&] { return Comillas(texto(60)); }},
      {"smalldatetime", fecha(1900, 2079)},
      {"datetime", fecha(1753, 9999)},
  };
  for (int vuelta = 0; vuelta < 8; ++vuelta) {
    Servidor s;
    std::string crear = "CREATE TABLE T (id int IDENTITY (-5, 3) NOT NULL";
    for (std::size_t i = 0; i < cols.size(); ++i)
      crear += ", c" + std::to_string(i) + " " + cols[i].tipo + " NULL";
    s.Ejecutar(crear + ")");
    for (int f = 0; f < 40; ++f) {
      std::string fila;
      for (const auto& c : cols)
        fila += std::string(fila.empty() ? "" : ", ") + (al(8) == 0 ? "NULL" : c.valor());
      s.Ejecutar("INSERT INTO T VALUES (" + fila + ")");
    }
    SCOPED_TRACE(vuelta);
    IdaYVuelta(s, "SELECT * FROM T");
  }
}

// Statement sequences the fuzzer found leaving a database whose dump would not load: the last
// statement is refused with its number, and what remains dumps and reloads.
TEST(Volcado, LoQueQuedaSiempreSeRecarga) {
  const struct {
    std::vector<std::string> previas;
    std::string sentencia;
    int numero;
  } casos[] = {
      {{"CREATE TABLE T (a int NULL)", "INSERT INTO T VALUES (1)"},
       "ALTER TABLE T ADD x char(3) NOT NULL DEFAULT NULL",
       515},
  };
  for (const auto& c : casos) {
    Servidor s;
    for (const auto& p : c.previas) s.Ejecutar(p);
    try {
      s.Ejecutar(c.sentencia);
      ADD_FAILURE() << c.sentencia;
    } catch (const ErrorSql& e) {
      EXPECT_EQ(e.numero, c.numero) << c.sentencia;
    }
    IdaYVuelta(s, "SELECT * FROM T");
  }
}

TEST(Volcado, UnVolcadoCortadoOAlteradoSeRechaza) {
  Servidor s;
  s.Ejecutar("CREATE TABLE A (a int NULL)");
  s.Ejecutar("INSERT INTO A VALUES (1)");
  s.Ejecutar("CREATE TABLE B (b varchar(5) NULL)");
  s.Ejecutar("INSERT INTO B VALUES ('x')");
  const std::string volcado = s.Script();
  auto numero = [](const std::string& script) {
    Servidor otro;
    try {
      otro.EjecutarScript(script);
    } catch (const ErrorSql& e) {
      // Refused before anything runs.
      EXPECT_EQ(otro.Ejecutar("SELECT COUNT(*) FROM sysobjects").filas[0][0].value(), "0");
      return e.numero;
    }
    return 0;
  };
  EXPECT_EQ(numero(volcado), 0);
  // Cut after every GO, and at the last bytes.
  int cortes = 0;
  for (std::size_t p = volcado.find("GO\n"); p != std::string::npos;
       p = volcado.find("GO\n", p + 1), ++cortes)
    EXPECT_EQ(numero(volcado.substr(0, p + 3)), simulado::kErrorVolcado) << p;
  EXPECT_GE(cortes, 4);
  EXPECT_EQ(numero(volcado.substr(0, volcado.size() - 1)), simulado::kErrorVolcado);
  // One byte changed anywhere, the closing line included.
  for (std::size_t p = 0; p < volcado.size(); p += 7) {
    std::string alterado = volcado;
    alterado[p] = alterado[p] == '1' ? '2' : '1';
    if (alterado.rfind("-- Base de datos simulada ", 0) == 0) {
      EXPECT_EQ(numero(alterado), simulado::kErrorVolcado) << p;
    }
  }
  // A script written by hand, without the header, loads as it always did.
  EXPECT_EQ(numero("CREATE TABLE A (a int)\nGO\nINSERT INTO A VALUES (1)\nGO\n"), 0);
}

}  // namespace
