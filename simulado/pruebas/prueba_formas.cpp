// Less frequent forms: INSERT ... SELECT, sub-selects, DROP, inline keys, COLLATE, and their errors.
#include <gtest/gtest.h>

#include <string>

#include "Apoyo.h"
#include "motor/Servidor.h"

using simulado::ErrorSql;
using simulado::Servidor;

namespace {

using apoyo::ComprobarNumeros;
using apoyo::NumeroDe;

class Formas : public ::testing::Test {
 protected:
  Servidor s;
  void SetUp() override {
    s.EjecutarScript(
        "CREATE TABLE TarjetaCaja (TRC_Empresa varchar(6) NOT NULL, TRC_Caja char(3) NOT NULL, "
        "TRC_CodTarjeta "
        "smallint NOT NULL, TRC_IdTerminal varchar(8) NULL)\nGO\n"
        "INSERT INTO TarjetaCaja VALUES ('1', '001', 7, 'T1'), ('1', '002', 12, NULL), ('2', '001', 7, "
        "'T3')\nGO\n"
        "CREATE TABLE Plan2 (P_Empresa varchar(6) NOT NULL PRIMARY KEY, P_Conc smallint NOT NULL, P_Term "
        "varchar(8) COLLATE Latin1_General_CI_AS NULL, P_Cero int NOT NULL, P_Fecha smalldatetime NOT NULL "
        "DEFAULT (GETDATE()))\nGO\n");
    s.Reloj([] { return std::int64_t{1764931230000}; });  // 2025-12-05 10:40:30 UTC
  }
};

TEST_F(Formas, InsertSelectConConstantesYFiltro) {
  auto r = s.Ejecutar(
      "INSERT INTO Plan2 (P_Empresa, P_Conc, P_Term, P_Cero) SELECT TRC_Caja, TRC_CodTarjeta, "
      "TRC_IDTerminal, 0 FROM TarjetaCaja WHERE TRC_Empresa = '1'");
  EXPECT_EQ(r.filasAfectadas, 2);
  r = s.Ejecutar("SELECT P_Conc, P_Term, P_Cero, P_Fecha FROM Plan2 WHERE P_Empresa = '002'");
  ASSERT_EQ(r.filas.size(), 1u);
  EXPECT_EQ(r.filas[0][0].value(), "12");
  EXPECT_FALSE(r.filas[0][1].has_value());
  EXPECT_EQ(r.filas[0][3].value(), "2025-12-05 10:41:00");  // smalldatetime rounds to the minute
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Plan2 (P_Empresa, P_Conc) SELECT TRC_Caja FROM TarjetaCaja"), 120);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Plan2 (P_Empresa) SELECT TRC_Caja, 1 FROM TarjetaCaja"), 121);
  // The inline key of CREATE TABLE is enforced, and its column became NOT NULL.
  EXPECT_EQ(
      NumeroDe(s, "INSERT INTO Plan2 (P_Empresa, P_Conc, P_Cero) SELECT TRC_Caja, 1, 0 FROM TarjetaCaja"),
      2627);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Plan2 (P_Empresa, P_Conc, P_Cero) VALUES (NULL, 1, 0)"), 515);
  EXPECT_EQ(s.Ejecutar("SELECT COUNT(*) FROM Plan2").filas[0][0].value(), "2");
}

TEST_F(Formas, SubconsultasYCondiciones) {
  EXPECT_EQ(s.Ejecutar("SELECT TRC_Caja FROM TarjetaCaja WHERE TRC_CodTarjeta = (SELECT TRC_CodTarjeta FROM "
                       "TarjetaCaja WHERE TRC_Caja = '002')")
                .filas[0][0]
                .value(),
            "002");
  EXPECT_EQ(NumeroDe(s,
                     "SELECT TRC_Caja FROM TarjetaCaja WHERE TRC_CodTarjeta = (SELECT TRC_CodTarjeta FROM "
                     "TarjetaCaja)"),
            512);
  EXPECT_EQ(s.Ejecutar("SELECT TRC_Caja FROM TarjetaCaja WHERE TRC_CodTarjeta In (SELECT TRC_CodTarjeta FROM "
                       "TarjetaCaja WHERE TRC_Empresa = '2') And Not TRC_Empresa = '2'")
                .filas.size(),
            1u);
  EXPECT_EQ(s.Ejecutar("SELECT * FROM TarjetaCaja WHERE TRC_IdTerminal Not In ('T1', 'x')").filas.size(), 1u);
  // NOT IN over a list holding NULL is never true.
  EXPECT_EQ(s.Ejecutar("SELECT * FROM TarjetaCaja WHERE TRC_CodTarjeta Not In (1, NULL)").filas.size(), 0u);
  EXPECT_EQ(s.Ejecutar("SELECT * FROM TarjetaCaja WHERE (TRC_Empresa = '2' Or TRC_Caja = '002') And "
                       "TRC_CodTarjeta >= 7")
                .filas.size(),
            2u);
  EXPECT_EQ(s.Ejecutar("SELECT TRC_CodTarjeta * 2 + 1 AS x, 'k' FROM TarjetaCaja WHERE TRC_Caja = '002'")
                .filas[0][0]
                .value(),
            "25");
  ComprobarNumeros(s, {
                          {"SELECT x.TRC_Caja FROM TarjetaCaja", 4104},
                          {"SELECT TRC_IdTerminal / 0 FROM TarjetaCaja", 245},
                          {"SELECT TRC_CodTarjeta / 0 FROM TarjetaCaja", 8134},
                          {"SELECT NOW() FROM TarjetaCaja", 195},
                      });
}

TEST_F(Formas, BorrarObjetosYCollate) {
  EXPECT_EQ(NumeroDe(s, "DROP TABLE NoHay"), 3701);
  EXPECT_EQ(NumeroDe(s, "DROP VIEW NoHay"), 3701);
  s.Ejecutar("CREATE VIEW V AS SELECT TRC_Caja AS Caja FROM TarjetaCaja");
  s.Ejecutar("DROP VIEW V");
  s.Ejecutar("DROP TABLE Plan2");
  EXPECT_EQ(NumeroDe(s, "SELECT * FROM Plan2"), 208);
  // Its constraint names are free again.
  s.Ejecutar(
      "CREATE TABLE Otra (a int NOT NULL CONSTRAINT PK_Otra PRIMARY KEY, b char(2) COLLATE "
      "Latin1_General_CI_AS NULL)");
  EXPECT_EQ(s.Ejecutar("Select Collation_name from information_schema.columns where table_name = 'Otra' And "
                       "Column_name = 'b'")
                .filas[0][0]
                .value(),
            "Latin1_General_CI_AS");
  s.Ejecutar("INSERT INTO Otra VALUES (1, 'x')");
  s.Ejecutar("CREATE UNIQUE INDEX IX_B ON Otra (b)");
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Otra VALUES (2, 'X ')"), 2601);
  EXPECT_EQ(NumeroDe(s, "CREATE CLUSTERED INDEX IX_C ON Otra (b)"), 1902);
  s.Ejecutar("CREATE TABLE Fechas (f datetime NULL)");
  EXPECT_EQ(NumeroDe(s, "INSERT INTO Fechas VALUES ('mañana')"), 241);
  s.Ejecutar("INSERT INTO Fechas VALUES ('20260102'), ('2026-01-02T03:04:05.5')");
  EXPECT_EQ(s.Ejecutar("SELECT f FROM Fechas WHERE f > '2026-01-02'").filas[0][0].value(),
            "2026-01-02 03:04:05.500");
  ComprobarNumeros(s, {
                          {"CREATE TABLE Mal (a int COLLATE Latin1_General_CI_AS)", 447},
                          {"CREATE TABLE Mal (a int NOT NULL CONSTRAINT PK_Otra PRIMARY KEY)", 2714},
                          {"CREATE TABLE Mal (a int NULL, CONSTRAINT PK_Mal PRIMARY KEY (a))", 8111},
                          {"CREATE TABLE Mal (a int IDENTITY (1, 1), b smallint IDENTITY (1, 1))", 2744},
                          {"SELECT * FROM Mal", 208},
                      });
}

}  // namespace

namespace {

// A sub-select cannot see the outer row: it runs once per statement, not once per row.
TEST(Subconsulta, SeEjecutaUnaSolaVezPorSentencia) {
  Servidor s;
  s.Ejecutar("CREATE TABLE G (n int NOT NULL)");
  std::string valores;
  for (int i = 0; i < 300; ++i) valores += (i ? ", (" : "(") + std::to_string(i) + ")";
  s.Ejecutar("INSERT INTO G VALUES " + valores);
  const std::size_t antes = s.FilasVisitadas();
  EXPECT_EQ(s.Ejecutar("SELECT COUNT(*) FROM G WHERE n In (SELECT n FROM G WHERE n < 3)").filas[0][0].value(),
            "3");
  EXPECT_EQ(s.Ejecutar("UPDATE G SET n = n + 1000 WHERE n = (SELECT n FROM G WHERE n = 299)").filasAfectadas,
            1);
  EXPECT_LE(s.FilasVisitadas() - antes, 4 * 300u);
  // The update saw the table as it was before it began.
  EXPECT_EQ(s.Ejecutar("UPDATE G SET n = n + 1 WHERE n In (SELECT n FROM G WHERE n < 2)").filasAfectadas, 2);
  EXPECT_EQ(s.Ejecutar("SELECT COUNT(*) FROM G WHERE n = 2").filas[0][0].value(), "2");
}

}  // namespace
