// Nested transactions, statement atomicity and probes that must not read the whole table.
#include <gtest/gtest.h>

#include <string>

#include "Apoyo.h"
#include "motor/Servidor.h"

using simulado::ErrorSql;
using simulado::Servidor;

namespace {

using apoyo::ComprobarNumeros;
using apoyo::NumeroDe;

std::size_t Filas(Servidor& s, const std::string& tabla) {
  return std::stoul(s.Ejecutar("SELECT COUNT(*) FROM " + tabla).filas[0][0].value());
}

class Transacciones : public ::testing::Test {
 protected:
  Servidor s;
  void SetUp() override {
    s.EjecutarScript(
        "-- base\n"
        "CREATE TABLE [T] (\n\t[a] [int] NOT NULL,\n\t[b] [varchar] (10) NULL,\n"
        "\tCONSTRAINT [PK_T] PRIMARY KEY CLUSTERED ([a]) ON [PRIMARY]\n) ON [PRIMARY]\nGO\n"
        "INSERT INTO [T] ([a],[b]) VALUES (1,'uno')\nINSERT INTO [T] ([a],[b]) VALUES (2,'dos')\nGO\n");
  }
};

TEST_F(Transacciones, SoloElCommitExteriorConfirmaYRollbackDeshaceHastaElPrimerBegin) {
  s.Ejecutar("BEGIN TRANSACTION");
  s.Ejecutar("INSERT INTO T VALUES (3, 'tres')");
  s.Ejecutar("BEGIN TRANSACTION");
  s.Ejecutar("DELETE FROM T WHERE a = 1");
  s.Ejecutar("ALTER TABLE T ADD c int NOT NULL DEFAULT 5");
  s.Ejecutar("UPDATE T SET b = 'cambio'");
  EXPECT_EQ(s.NivelTransaccion(), 2);
  s.Ejecutar("COMMIT TRANSACTION");
  EXPECT_EQ(s.NivelTransaccion(), 1);
  s.Ejecutar("CREATE TABLE Nueva (x int)");
  s.Ejecutar("ROLLBACK TRANSACTION");
  EXPECT_EQ(s.NivelTransaccion(), 0);
  // Everything since the outermost BEGIN is gone, the inner commit included.
  auto r = s.Ejecutar("SELECT * FROM T");
  ASSERT_EQ(r.columnas.size(), 2u);
  ASSERT_EQ(r.filas.size(), 2u);
  EXPECT_EQ(r.filas[0][0].value(), "1");
  EXPECT_EQ(r.filas[0][1].value(), "uno");
  EXPECT_EQ(r.filas[1][1].value(), "dos");
  EXPECT_EQ(NumeroDe(s, "SELECT * FROM Nueva"), 208);
  // The keys follow the undo: 3 is free again, 1 is taken again.
  EXPECT_EQ(NumeroDe(s, "INSERT INTO T VALUES (3, 'x')"), 0);
  EXPECT_EQ(NumeroDe(s, "INSERT INTO T VALUES (1, 'x')"), 2627);
}

TEST_F(Transacciones, CommitYRollbackSinTransaccion) {
  ComprobarNumeros(s, {
                          {"COMMIT TRANSACTION", 3902},
                          {"ROLLBACK TRANSACTION", 3903},
                          {"BEGIN TRANSACTION", 0},
                          {"COMMIT TRANSACTION", 0},
                          {"COMMIT TRANSACTION", 3902},
                      });
}

TEST_F(Transacciones, UnaSentenciaFallidaDeshaceSoloLoSuyo) {
  s.Ejecutar("BEGIN TRANSACTION");
  s.Ejecutar("INSERT INTO T VALUES (10, 'diez')");
  // The second row breaks the key: the first row of the same statement goes too.
  ComprobarNumeros(s, {
                          {"INSERT INTO T VALUES (11, 'once'), (1, 'otra')", 2627},
                          {"UPDATE T SET b = 'demasiado largo'", 8152},
                          {"INSERT INTO T VALUES (NULL, 'x')", 515},
                      });
  EXPECT_EQ(s.NivelTransaccion(), 1);
  EXPECT_EQ(Filas(s, "T"), 3u);
  EXPECT_EQ(s.Ejecutar("SELECT b FROM T WHERE a = 1").filas[0][0].value(), "uno");
  s.Ejecutar("COMMIT TRANSACTION");
  EXPECT_EQ(Filas(s, "T"), 3u);
}

TEST_F(Transacciones, UnErrorDeConversionTerminaLaTransaccion) {
  s.Ejecutar("BEGIN TRANSACTION");
  s.Ejecutar("BEGIN TRANSACTION");
  s.Ejecutar("INSERT INTO T VALUES (10, 'diez')");
  EXPECT_EQ(NumeroDe(s, "INSERT INTO T VALUES ('abc', 'x')"), 245);
  EXPECT_EQ(s.NivelTransaccion(), 0);
  EXPECT_EQ(Filas(s, "T"), 2u);
  EXPECT_EQ(NumeroDe(s, "COMMIT TRANSACTION"), 3902);
}

TEST_F(Transacciones, LaDefinicionTambienSeDeshace) {
  s.Ejecutar("BEGIN TRANSACTION");
  s.Ejecutar("ALTER TABLE T ALTER COLUMN b varchar(40) NOT NULL");
  s.Ejecutar("INSERT INTO T VALUES (5, 'un texto bastante largo')");
  s.Ejecutar("ALTER TABLE T DROP CONSTRAINT PK_T");
  s.Ejecutar("ALTER TABLE T DROP COLUMN b");
  s.Ejecutar("CREATE INDEX IX_T ON T (a)");
  s.Ejecutar("CREATE VIEW V AS SELECT a FROM T");
  s.Ejecutar("DROP TABLE T");
  s.Ejecutar("ROLLBACK TRANSACTION");
  auto r = s.Ejecutar(
      "Select COLUMN_NAME, IS_NULLABLE, CHARACTER_MAXIMUM_LENGTH from information_schema.columns where "
      "table_name = 'T'");
  ASSERT_EQ(r.filas.size(), 2u);
  EXPECT_EQ(r.filas[1][1].value(), "YES");
  EXPECT_EQ(r.filas[1][2].value(), "10");
  EXPECT_EQ(s.Ejecutar("SELECT name FROM Sysindexes WHERE name = 'PK_T'").filas.size(), 1u);
  EXPECT_EQ(s.Ejecutar("SELECT name FROM Sysindexes WHERE name = 'IX_T'").filas.size(), 0u);
  EXPECT_EQ(NumeroDe(s, "SELECT * FROM V"), 208);
  EXPECT_EQ(Filas(s, "T"), 2u);
}

TEST_F(Transacciones, FuncionaDeNuevoTrasDeshacerUnBorradoEnMedio) {
  for (int i = 3; i <= 9; ++i) s.Ejecutar("INSERT INTO T VALUES (" + std::to_string(i) + ", 'n')");
  const std::string antes = s.Script();
  s.Ejecutar("BEGIN TRAN");
  s.Ejecutar("DELETE FROM T WHERE a In (2, 5, 9)");
  s.Ejecutar("UPDATE T SET b = 'z' WHERE a > 3");
  s.Ejecutar("INSERT INTO T VALUES (20, 'veinte')");
  s.Ejecutar("ROLLBACK TRAN");
  EXPECT_EQ(s.Script(), antes);  // rows back in their stored order
}

// Texts that grow are stored again; the space they leave is reclaimed now and then, which must not
// disturb any value nor the undo of the transaction.
TEST_F(Transacciones, TextosQueCrecenYSeDeshacen) {
  s.Ejecutar("CREATE TABLE Txt (n int NOT NULL, t varchar(200) NULL, c char(3) NULL)");
  std::string valores;
  for (int i = 0; i < 100; ++i) valores += (i ? ", (" : "(") + std::to_string(i) + ", 'x', 'a')";
  s.Ejecutar("INSERT INTO Txt VALUES " + valores);
  s.Ejecutar("UPDATE Txt SET t = NULL WHERE n = 7");
  const std::string antes = s.Script();
  s.Ejecutar("BEGIN TRANSACTION");
  for (int k = 0; k < 7; ++k) s.Ejecutar("UPDATE Txt SET t = t + t, c = 'b'");
  for (int k = 0; k < 3; ++k) s.Ejecutar("UPDATE Txt SET t = t + 'y'");
  s.Ejecutar("UPDATE Txt SET t = 'corto' WHERE n < 10");
  const std::string largo = std::string(128, 'x') + "yyy";
  EXPECT_EQ(s.Ejecutar("SELECT COUNT(*) FROM Txt WHERE t = '" + largo + "' And c = 'B'").filas[0][0].value(),
            "90");
  EXPECT_EQ(s.Ejecutar("SELECT t FROM Txt WHERE n = 3").filas[0][0].value(), "corto");
  EXPECT_FALSE(s.Ejecutar("SELECT t FROM Txt WHERE n = 70").filas[0][0].value().empty());
  s.Ejecutar("ROLLBACK TRANSACTION");
  EXPECT_EQ(s.Script(), antes);
  EXPECT_FALSE(s.Ejecutar("SELECT t FROM Txt WHERE n = 7").filas[0][0].has_value());
}

TEST_F(Transacciones, UnaSondaNoRecorreLaTabla) {
  s.Ejecutar("CREATE TABLE Grande (n int NOT NULL, t varchar(5) NULL)");
  s.Ejecutar("BEGIN TRANSACTION");
  for (int i = 0; i < 2000; ++i) s.Ejecutar("INSERT INTO Grande VALUES (" + std::to_string(i) + ", 'x')");
  s.Ejecutar("COMMIT TRANSACTION");
  std::size_t antes = s.FilasVisitadas();
  auto r = s.Ejecutar("Select t From Grande", 1);
  EXPECT_EQ(r.filas.size(), 1u);
  EXPECT_LE(s.FilasVisitadas() - antes, 1u);
  antes = s.FilasVisitadas();
  r = s.Ejecutar("SELECT * FROM Grande WHERE n = 3", 1);
  EXPECT_EQ(r.filas[0][0].value(), "3");
  EXPECT_LE(s.FilasVisitadas() - antes, 4u);
  // A probe through a view stops as early.
  s.Ejecutar("CREATE VIEW VG AS (SELECT n AS Num From Grande Union All (SELECT a AS Num FROM T))");
  antes = s.FilasVisitadas();
  EXPECT_EQ(s.Ejecutar("SELECT * FROM VG", 1).filas.size(), 1u);
  EXPECT_LE(s.FilasVisitadas() - antes, 1u);
  // Without a limit, the whole table.
  EXPECT_EQ(s.Ejecutar("SELECT * FROM VG").filas.size(), 2002u);
}

}  // namespace
