// Hostile statements: unbounded nesting, decimals past 38 digits, dates out of range.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Apoyo.h"
#include "motor/Servidor.h"

using apoyo::ErrorDeScript;
using apoyo::NumeroDe;
using simulado::ErrorSql;
using simulado::Servidor;

namespace {

std::string Repetir(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

TEST(Anidamiento, LoProfundoSeRechazaCon191SinAgotarLaPila) {
  Servidor s;
  s.Ejecutar("CREATE TABLE T (a int NULL)");
  s.Ejecutar("INSERT INTO T VALUES (1)");
  // The deepest forms at 100,000 levels; the costlier ones at a fifth of that, still far past
  // what a stack holds without the limit.
  constexpr int kHondo = 100000, kMenos = kHondo / 5;
  const struct {
    std::string sql;
  } casos[] = {
      {"SELECT " + Repetir("(", kHondo) + "1" + Repetir(")", kHondo)},
      {"SELECT " + Repetir("- ", kMenos) + "1"},
      {"SELECT 1" + Repetir(" + 1", kHondo)},
      {"SELECT 'a'" + Repetir(" + a", kMenos) + " FROM T"},
      {"SELECT a FROM T WHERE " + Repetir("NOT ", kMenos) + "a = 1"},
      {"SELECT a FROM T WHERE a = 1" + Repetir(" OR a = 1", kMenos)},
      {"DELETE FROM T WHERE a IN " + Repetir("(SELECT a FROM T WHERE a IN ", kHondo / 10) + "(1)" +
       Repetir(")", kHondo / 10)},
      {Repetir("(", kMenos) + "SELECT 1" + Repetir(")", kMenos)},
      {"SELECT " + Repetir("(SELECT ", kMenos) + "1" + Repetir(")", kMenos)},
  };
  for (const auto& c : casos) EXPECT_EQ(NumeroDe(s, c.sql), 191) << c.sql.substr(0, 60);
  // Well inside the limit the same forms still run.
  EXPECT_EQ(s.Ejecutar("SELECT " + Repetir("(", 60) + "2" + Repetir(")", 60)).filas[0][0].value(), "2");
  EXPECT_EQ(s.Ejecutar("SELECT 1" + Repetir(" + 1", 100)).filas[0][0].value(), "101");
  // Quoted pieces joined with + are one text, however many.
  EXPECT_EQ(s.Ejecutar("SELECT 'a'" + Repetir(" + 'a'", kHondo / 10)).filas[0][0].value().size(),
            static_cast<std::size_t>(kHondo / 10 + 1));
  EXPECT_EQ(s.Ejecutar("SELECT COUNT(*) FROM T").filas[0][0].value(), "1");
}

TEST(Anidamiento, LasVistasNoSeLlamanSinFin) {
  // Refused when made, by a statement or by a script.
  Servidor s;
  EXPECT_EQ(NumeroDe(s, "CREATE VIEW V AS SELECT * FROM V"), 208);
  EXPECT_EQ(NumeroDe(s, "CREATE VIEW V AS SELECT 1 AS x WHERE 1 IN (SELECT x FROM dbo.V)"), 208);
  EXPECT_EQ(ErrorDeScript(s, "CREATE VIEW V AS SELECT * FROM V\nGO\n").numero, 208);
  // A cycle through a table that became a view loads (views are not checked in scripts) and stops
  // at the nesting limit when used; the catalogue just leaves the views out.
  s.EjecutarScript(
      "CREATE TABLE B (x int NULL)\nGO\nCREATE VIEW A AS SELECT x FROM B\nGO\nDROP TABLE B\nGO\n"
      "CREATE VIEW B AS SELECT x FROM A\nGO\nCREATE VIEW C AS SELECT * FROM "
      "information_schema.columns\nGO\n");
  EXPECT_EQ(NumeroDe(s, "SELECT * FROM A"), 217);
  EXPECT_EQ(NumeroDe(s, "SELECT COUNT(*) FROM B"), 217);
  EXPECT_EQ(s.Ejecutar("SELECT COUNT(*) FROM C WHERE TABLE_NAME = 'A'").filas[0][0].value(), "0");
  Servidor otro;
  otro.EjecutarScript(s.Script());
  EXPECT_EQ(otro.Script(), s.Script());
  // Each view reading the one before twice doubles the work: refused once past the budget, made
  // by a statement or used after a script made it, instead of running for hours.
  std::string script = "CREATE TABLE D (a int NULL)\nGO\nCREATE VIEW D0 AS SELECT a FROM D\nGO\n";
  for (int i = 1; i <= 13; ++i) {
    const std::string previa = "D" + std::to_string(i - 1);
    script += "CREATE VIEW D" + std::to_string(i) + " AS SELECT a FROM " + previa +
              " UNION ALL SELECT a FROM " + previa + "\nGO\n";
  }
  Servidor dobles;
  dobles.EjecutarScript(script);
  EXPECT_EQ(dobles.Ejecutar("SELECT COUNT(*) FROM D10").filas[0][0].value(), "0");
  EXPECT_EQ(NumeroDe(dobles, "SELECT COUNT(*) FROM D13"), 8623);
  EXPECT_EQ(NumeroDe(dobles, "CREATE VIEW E AS SELECT a FROM D12 UNION ALL SELECT a FROM D12"), 8623);
}

TEST(Decimales, TreintaYOchoCifrasSinDesbordarNiRespuestasFalsas) {
  Servidor s;
  s.Ejecutar("CREATE TABLE U (x decimal(18,2) NULL)");
  s.Ejecutar("INSERT INTO U VALUES (2), (0), (-5)");
  const std::string diminuto = "." + Repetir("0", 37) + "1";  // 38 decimals: 1e-38
  // The smallest 38-place value is above 0 and -5 and below 2; 2 scaled to 38 places passes 128
  // bits, and a Release build used to wrap it negative and delete that row too.
  EXPECT_EQ(s.Ejecutar("DELETE FROM [U] WHERE '" + diminuto + "' > [x]").filasAfectadas, 2);
  EXPECT_EQ(s.Ejecutar("SELECT x FROM U").filas.at(0).at(0).value(), "2.00");
  const struct {
    std::string sql;
    int numero;  // 0: runs
    std::string valor;
  } casos[] = {
      {"SELECT COUNT(*) FROM U WHERE x > '" + Repetir("9", 39) + "'", 8115, ""},
      {"SELECT COUNT(*) FROM U WHERE x > '0." + Repetir("1", 39) + "'", 8115, ""},
      {"SELECT COUNT(*) FROM U WHERE x < '" + Repetir("0", 60) + "7'", 0, "1"},
      {"SELECT COUNT(*) FROM U WHERE x < '" + diminuto + "'", 0, "0"},
      {"SELECT COUNT(*) FROM U WHERE x = '5" + diminuto + "'", 8115, ""},
      {"SELECT 1.0 + '" + diminuto + "'", 0, "1.000000000000000000"},
      {"SELECT -1.0 - '" + diminuto + "'", 0, "-1.000000000000000000"},
      {"SELECT '" + diminuto + "' - 0.1", 0, "-0.1000000000000000000"},
      {"SELECT 1.0 / '" + diminuto + "'", 8115, ""},
      {"SELECT '" + diminuto + "' / 7.0", 0, "0." + Repetir("0", 37)},
      {"SELECT 0.1 * '" + diminuto + "'", 0, "0.000000000000"},
      {"SELECT 0.5 / 3", 0, "0.166666"},
      {"SELECT 900000000000000000 * 100", 8115, ""},
      {"SELECT -999999999999999999" + Repetir(" - 999999999999999999", 9), 8115, ""},
      {"SELECT 1.5 - 1.25", 0, "0.25"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.sql);
    try {
      const auto r = s.Ejecutar(c.sql);
      EXPECT_EQ(c.numero, 0);
      EXPECT_EQ(r.filas.at(0).at(0).value_or("NULL"), c.valor);
    } catch (const ErrorSql& e) {
      EXPECT_EQ(e.numero, c.numero) << e.what();
    }
  }
}

TEST(Fechas, FueraDelRangoDeDatetimeSeRechazaAlEscribir) {
  Servidor s;
  s.Ejecutar("CREATE TABLE F (d datetime NULL, p smalldatetime NULL)");
  const struct {
    std::string valor;
    int numero;
  } casos[] = {
      {"'9999-12-31 23:59:59.997'", 0},
      {"2958463", 0},
      {"-53690", 0},
      {"'1753-01-01'", 0},
      {"3000000", 8115},
      {"-60000", 8115},
      {"2147483647", 8115},
      {"'1752-12-31'", 242},
      {"'0001-01-01 00:00'", 242},
      {"'9999-12-31 23:59:59.999'", 242},
  };
  for (const auto& c : casos) {
    EXPECT_EQ(NumeroDe(s, "INSERT INTO F (d) VALUES (" + c.valor + ")"), c.numero) << c.valor;
    EXPECT_EQ(NumeroDe(s, "UPDATE F SET d = " + c.valor), c.numero) << c.valor;
  }
  EXPECT_EQ(NumeroDe(s, "INSERT INTO F (p) VALUES (-2147483647)"), 8115);
  EXPECT_EQ(NumeroDe(s, "SELECT COUNT(*) FROM F WHERE d > '1000-01-01'"), 242);
  // Before 1970 a smalldatetime rounds to its own minute, not the next one.
  s.Ejecutar("INSERT INTO F (p) VALUES ('1916-07-11 08:30:00'), ('1969-12-31 23:59:29.998')");
  EXPECT_EQ(s.Ejecutar("SELECT p FROM F WHERE p < '1970-01-01'").filas,
            (std::vector<std::vector<std::optional<std::string>>>{{"1916-07-11 08:30:00"},
                                                                  {"1969-12-31 23:59:00"}}));
  // What was stored prints and reloads as itself.
  Servidor otro;
  otro.EjecutarScript(s.Script());
  EXPECT_EQ(otro.Script(), s.Script());
  EXPECT_EQ(s.Ejecutar("SELECT MIN_D = d FROM F WHERE d < '1800-01-01'").filas.at(0).at(0).value(),
            "1753-01-01 00:00:00.000");
}

}  // namespace
