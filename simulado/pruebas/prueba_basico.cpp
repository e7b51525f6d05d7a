// Tables, rows, values and the errors of plain statements on the simulated server.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "Apoyo.h"
#include "motor/Servidor.h"

using simulado::ErrorSql;
using simulado::Servidor;

namespace {

using apoyo::ErrorDe;
using apoyo::NumeroDe;

std::string Valor(Servidor& s, const std::string& sql) {
  auto r = s.Ejecutar(sql);
  if (r.filas.empty()) return "<sin filas>";
  return r.filas[0][0].value_or("<NULL>");
}

class Basico : public ::testing::Test {
 protected:
  Servidor s{"Pagora"};
  void SetUp() override {
    s.Ejecutar(
        "CREATE TABLE [dbo].[Tarjeta] ([TAR_Cod] [smallint] NOT NULL, [TAR_Desc] [varchar] (30) NOT NULL, "
        "[TAR_Tipo] Char (3) NULL, [TAR_Monto] numeric(9, 2) NULL, [TAR_Fecha] smalldatetime NULL, "
        "[TAR_OFF] [bit] NULL, [TAR_Cant] tinyint NULL, "
        "CONSTRAINT [PK_Tarjeta] PRIMARY KEY CLUSTERED ([TAR_Cod]) ON [PRIMARY]) ON [PRIMARY]");
  }
};

TEST_F(Basico, InsertaYLeeValoresComoLosImprimeElServidor) {
  s.Ejecutar(
      "Insert Into Tarjeta (TAR_Cod,TAR_Desc,TAR_Tipo,TAR_Monto,TAR_Fecha,TAR_OFF,TAR_Cant) "
      "Values(7,'ITalcred','A',.00,'2026-11-02 10:15:00',1,255)");
  s.Ejecutar("INSERT INTO Tarjeta VALUES (8, 'Otra', NULL, -1250.5, NULL, 5, 0)");
  auto r = s.Ejecutar("SELECT * FROM Tarjeta WHERE TAR_Cod = 7");
  ASSERT_EQ(r.filas.size(), 1u);
  EXPECT_EQ(r.columnas[1], "TAR_Desc");
  EXPECT_EQ(r.filas[0][2].value(), "A  ");  // char pads
  EXPECT_EQ(r.filas[0][3].value(), "0.00");
  EXPECT_EQ(r.filas[0][4].value(), "2026-11-02 10:15:00");
  EXPECT_EQ(r.filas[0][5].value(), "1");
  r = s.Ejecutar("Select TAR_Monto, TAR_Tipo, TAR_OFF From Tarjeta Where TAR_Cod = 8");
  EXPECT_EQ(r.filas[0][0].value(), "-1250.50");
  EXPECT_FALSE(r.filas[0][1].has_value());
  EXPECT_EQ(r.filas[0][2].value(), "1");  // any non-zero number is a set bit
}

TEST_F(Basico, NombresSinDistinguirMayusculasYTextosComoLaIntercalacionCI) {
  s.Ejecutar("insert into TARJETA (tar_cod, TAR_DESC) values (1, 'Visa')");
  EXPECT_EQ(Valor(s, "select Tar_Desc from [dbo].[tarjeta] where TAR_DESC = 'VISA   '"), "Visa");
  EXPECT_EQ(Valor(s, "select TAR_Cod from Tarjeta where TAR_Desc <> 'visa'"), "<sin filas>");
  EXPECT_EQ(Valor(s, "select TAR_Cod from Tarjeta where TAR_Cod In (3, 1) And TAR_Desc = 'vIsA'"), "1");
  // Comparing text with a number converts the text.
  s.Ejecutar("insert into Tarjeta (TAR_Cod, TAR_Desc) values (2, '12')");
  EXPECT_EQ(Valor(s, "select TAR_Cod from Tarjeta where TAR_Cod = 2 And TAR_Desc = 12"), "2");
  EXPECT_EQ(NumeroDe(s, "select TAR_Cod from Tarjeta where TAR_Desc = 12"), 245);
}

TEST_F(Basico, ErroresDeNombresYSintaxis) {
  EXPECT_EQ(NumeroDe(s, "SELECT Nada FROM Tarjeta"), 207);
  EXPECT_EQ(NumeroDe(s, "SELECT * FROM NoHay"), 208);
  EXPECT_EQ(NumeroDe(s, "UPDATE NoHay SET a = 1"), 208);
  EXPECT_EQ(NumeroDe(s, "CREATE TABLE tarjeta (a int)"), 2714);
  EXPECT_EQ(NumeroDe(s, "MERGE Tarjeta USING x"), 102);
  EXPECT_EQ(NumeroDe(s, "SELECT * FROM Tarjeta WHERE"), 102);
  EXPECT_EQ(NumeroDe(s, "SELECT * FROM Tarjeta ORDER BY TAR_Cod"), 102);
  EXPECT_EQ(NumeroDe(s, "CREATE TABLE X (a money)"), 2715);
  EXPECT_EQ(NumeroDe(s, "CREATE TABLE X (a int, A int)"), 2705);
  EXPECT_EQ(ErrorDe(s, "SELECT FROM Tarjeta").descripcion, "Incorrect syntax near 'FROM'.");
  EXPECT_EQ(ErrorDe(s, "select tar_nada from Tarjeta").descripcion, "Invalid column name 'tar_nada'.");
}

TEST_F(Basico, ValoresFueraDeTipo) {
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc) VALUES ('x7', 'a')"), 245);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc) VALUES (40000, 'a')"), 8115);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc, TAR_Cant) VALUES (1, 'a', 256)"), 8115);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc, TAR_Monto) VALUES (1, 'a', 'uno')"), 8114);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc, TAR_Monto) VALUES (1, 'a', 10000000)"),
            8115);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc, TAR_Tipo) VALUES (1, 'a', 'ABCD')"), 8152);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc, TAR_Fecha) VALUES (1, 'a', '2026-13-01')"),
            242);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc) VALUES (1, NULL)"), 515);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod) VALUES (1)"), 515);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc) VALUES (1)"), 213);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Cod) VALUES (1, 2)"), 264);
  // Trailing blanks beyond the length are dropped, a number into text becomes its digits.
  s.Ejecutar(
      "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc, TAR_Tipo, TAR_Monto) VALUES ('  3 ', 45, 'AB    ', '12.345')");
  auto r = s.Ejecutar("SELECT TAR_Desc, TAR_Tipo, TAR_Monto FROM Tarjeta WHERE TAR_Cod = 3");
  EXPECT_EQ(r.filas[0][0].value(), "45");
  EXPECT_EQ(r.filas[0][1].value(), "AB ");
  EXPECT_EQ(r.filas[0][2].value(), "12.35");
  EXPECT_EQ(ErrorDe(s, "INSERT INTO Tarjeta (TAR_Cod, TAR_Desc) VALUES ('x7', 'a')").descripcion,
            "Conversion failed when converting the varchar value 'x7' to data type smallint.");
}

TEST_F(Basico, ClavesDuplicadasSinDistinguirMayusculasNiBlancos) {
  s.Ejecutar("CREATE TABLE Seg ([Cod] [char] (8) NOT NULL, CONSTRAINT [PK_Seg] PRIMARY KEY ([Cod]))");
  s.Ejecutar("INSERT INTO Seg VALUES ('abc')");
  const ErrorSql e = ErrorDe(s, "INSERT INTO Seg VALUES ('ABC ')");
  EXPECT_EQ(e.numero, 2627);
  EXPECT_EQ(e.descripcion,
            "Violation of PRIMARY KEY constraint 'PK_Seg'. Cannot insert duplicate key in object 'dbo.Seg'. "
            "The duplicate key value is (ABC     ).");
  // The same key twice in one statement, and an update onto an existing key.
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Seg VALUES ('x'), ('X')"), 2627);
  s.Ejecutar("INSERT INTO Seg VALUES ('y')");
  EXPECT_EQ(NumeroDe(s, "UPDATE Seg SET Cod = 'ABC' WHERE Cod = 'y'"), 2627);
  EXPECT_EQ(Valor(s, "SELECT Cod FROM Seg WHERE Cod = 'y'"), "y       ");
  EXPECT_EQ(s.Ejecutar("SELECT * FROM Seg").filas.size(), 2u);
}

TEST_F(Basico, UpdateLeeLosValoresAnterioresDeLaFila) {
  s.Ejecutar("CREATE TABLE T (a int NULL, b int NULL, op char(1) NULL, m decimal(8,2) NULL)");
  s.Ejecutar("INSERT INTO T VALUES (1, 2, 'C', 10.5), (3, 4, 'D', 7), (5, 6, NULL, 1)");
  auto r = s.Ejecutar("UPDATE T SET a = b, b = a");
  EXPECT_EQ(r.filasAfectadas, 3);
  EXPECT_EQ(Valor(s, "SELECT b FROM T WHERE a = 2"), "1");
  r = s.Ejecutar("UPDATE T Set m = m * -1 Where op <> 'C' ");
  EXPECT_EQ(r.filasAfectadas, 1);  // NULL <> 'C' is unknown
  EXPECT_EQ(Valor(s, "SELECT m FROM T WHERE op = 'd'"), "-7.00");
  EXPECT_EQ(Valor(s, "SELECT m FROM T WHERE op = 'c'"), "10.50");
  EXPECT_EQ(s.Ejecutar("UPDATE T SET a = 0 WHERE a = 99").filasAfectadas, 0);
  EXPECT_EQ(s.Ejecutar("DELETE FROM T WHERE op Is Null").filasAfectadas, 1);
  EXPECT_EQ(s.Ejecutar("SELECT COUNT(*) FROM T").filas[0][0].value(), "2");
}

// AND and OR over true, false and unknown follow Kleene's tables (AND the least, OR the greatest with
// false < unknown < true); a row is kept only when true, and NOT tells false from unknown. A side that
// decides leaves the other unevaluated.
TEST_F(Basico, YyOEnTresValores) {
  s.Ejecutar("INSERT INTO Tarjeta (TAR_Cod, TAR_Desc) VALUES (1, 'uno')");
  const struct {
    const char* sql;
    int valor;  // 0 false, 1 unknown, 2 true
  } lados[] = {{"TAR_Cod = 2", 0}, {"TAR_Tipo = 'A'", 1}, {"TAR_Cod = 1", 2}};
  auto filas = [&](const std::string& donde) {
    return Valor(s, "SELECT COUNT(*) FROM Tarjeta WHERE " + donde);
  };
  for (const auto& a : lados)
    for (const auto& b : lados)
      for (const bool y : {true, false}) {
        const std::string expr = std::string("(") + a.sql + (y ? " AND " : " OR ") + b.sql + ")";
        const int valor = y ? std::min(a.valor, b.valor) : std::max(a.valor, b.valor);
        EXPECT_EQ(filas(expr), valor == 2 ? "1" : "0") << expr;
        EXPECT_EQ(filas("NOT " + expr), valor == 0 ? "1" : "0") << "NOT " << expr;
      }
  EXPECT_EQ(filas("TAR_Cod = 2 AND TAR_Cod / 0 = 1"), "0");
  EXPECT_EQ(filas("TAR_Cod = 1 OR TAR_Cod / 0 = 1"), "1");
  EXPECT_EQ(NumeroDe(s, "SELECT COUNT(*) FROM Tarjeta WHERE TAR_Cod = 1 AND TAR_Cod / 0 = 1"), 8134);
  EXPECT_EQ(NumeroDe(s, "SELECT COUNT(*) FROM Tarjeta WHERE TAR_Tipo = 'A' OR TAR_Cod / 0 = 1"), 8134);
}

}  // namespace
