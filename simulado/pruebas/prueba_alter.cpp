// Schema changes: ADD, ALTER COLUMN, DROP, constraints, indexes, identity and views, with their refusals.
#include <gtest/gtest.h>

#include <string>

#include "Apoyo.h"
#include "motor/Servidor.h"

using simulado::ErrorSql;
using simulado::Servidor;

namespace {

using apoyo::ComprobarNumeros;
using apoyo::ErrorDe;

class Alterar : public ::testing::Test {
 protected:
  Servidor s;
  void SetUp() override {
    s.Ejecutar(
        "CREATE TABLE Transaccion (TRA_Empresa varchar(6) NOT NULL, TRA_Caja char(3) NOT NULL, "
        "TRA_Monto numeric(9,2) NOT NULL, TRA_Tipo tinyint NULL, TRA_Texto varchar(10) NULL)");
    s.Ejecutar(
        "INSERT INTO Transaccion VALUES ('1', '001', 10, 1, '7'), ('1', '002', 20, NULL, 'x'), "
        "('2', '001', 30, 3, NULL)");
  }
  std::string Uno(const std::string& sql) {
    auto r = s.Ejecutar(sql);
    return r.filas.empty() ? "<sin filas>" : r.filas[0][0].value_or("<NULL>");
  }
};

TEST_F(Alterar, AgregarColumnaConDefectoRellenaSoloSiNoAdmiteNulos) {
  s.Ejecutar("ALTER TABLE Transaccion ADD TRA_Enviado BIT NOT NULL DEFAULT 0");
  s.Ejecutar(
      "ALTER TABLE Transaccion ADD TRA_Banco VarChar(50) NOT NULL CONSTRAINT DF_Transaccion_TRA_Banco "
      "DEFAULT ('')");
  s.Ejecutar("ALTER TABLE Transaccion ADD TRA_Nulo int NULL DEFAULT 4");
  EXPECT_EQ(Uno("SELECT COUNT(*) FROM Transaccion WHERE TRA_Enviado = 0 And TRA_Banco = ''"), "3");
  EXPECT_EQ(Uno("SELECT COUNT(*) FROM Transaccion WHERE TRA_Nulo Is Null"), "3");
  s.Ejecutar("INSERT INTO Transaccion (TRA_Empresa, TRA_Caja, TRA_Monto) VALUES ('3', '003', 1)");
  EXPECT_EQ(Uno("SELECT TRA_Nulo FROM Transaccion WHERE TRA_Empresa = '3'"), "4");
  // The server names an unnamed default after the table and the column.
  auto r = s.Ejecutar("Select name From sysobjects Where xtype = 'D' And name <> 'DF_Transaccion_TRA_Banco'");
  ASSERT_EQ(r.filas.size(), 2u);
  const std::string n = r.filas[0][0].value();
  EXPECT_EQ(n.substr(0, 22), "DF__Transacci__TRA_E__");
  EXPECT_EQ(n.size(), 22u + 8u);
  EXPECT_NE(n, r.filas[1][0].value());
  ComprobarNumeros(
      s,
      {
          {"ALTER TABLE Transaccion ADD TRA_Otra int NOT NULL", 4901},
          {"ALTER TABLE Transaccion ADD TRA_Caja int NULL", 2705},
          {"ALTER TABLE NoHay ADD x int NULL", 4902},
          {"ALTER TABLE Transaccion ADD TRA_Mal int NOT NULL DEFAULT 'abc'", 245},
          {"ALTER TABLE Transaccion ADD TRA_Mal int NOT NULL CONSTRAINT DF_Transaccion_TRA_Banco DEFAULT 1",
           2714},
          {"ALTER TABLE Transaccion ADD TRA_Mal int NOT NULL DEFAULT TRA_Tipo", 128},
          // A refused constraint takes the column added before it in the same statement with it.
          {"ALTER TABLE Transaccion ADD TRA_Nueva int NULL, CONSTRAINT DF_Transaccion_TRA_Banco DEFAULT 1 "
           "FOR TRA_Nueva",
           2714},
          {"SELECT TRA_Nueva FROM Transaccion", 207},
      });
}

TEST_F(Alterar, RestriccionesConSusErrores) {
  EXPECT_EQ(ErrorDe(s, "ALTER TABLE Transaccion ADD CONSTRAINT PK_T PRIMARY KEY (TRA_Tipo)").numero, 8111);
  const ErrorSql dup = ErrorDe(s,
                               "ALTER TABLE Transaccion WITH CHECK ADD CONSTRAINT PK_T PRIMARY KEY CLUSTERED "
                               "(TRA_Empresa) WITH  FILLFACTOR = 90  ON [PRIMARY] ");
  EXPECT_EQ(dup.numero, 1505);
  EXPECT_EQ(
      dup.descripcion,
      "The CREATE UNIQUE INDEX statement terminated because a duplicate key was found for the object name "
      "'dbo.Transaccion' and the index name 'PK_T'. The duplicate key value is (1). Could not create "
      "constraint or index. See previous errors.");
  s.Ejecutar(
      "ALTER TABLE [Transaccion] WITH NOCHECK ADD CONSTRAINT [PK_T] PRIMARY KEY  NONCLUSTERED "
      "( [TRA_Empresa], [TRA_Caja]) WITH  FILLFACTOR = 90  ON [PRIMARY] ,CONSTRAINT [UQ_T] UNIQUE "
      "NONCLUSTERED ( [TRA_Monto] ) WITH  FILLFACTOR = 90  ON [PRIMARY]");
  ComprobarNumeros(s, {
                          {"ALTER TABLE Transaccion ADD CONSTRAINT PK_Otra PRIMARY KEY (TRA_Monto)", 1779},
                          {"ALTER TABLE Transaccion ADD CONSTRAINT UQ_T UNIQUE (TRA_Caja)", 2714},
                          {"CREATE TABLE UQ_T (a int)", 2714},
                          {"INSERT INTO Transaccion VALUES ('9', '009', 10, 1, NULL)", 2627},
                          {"ALTER TABLE Transaccion ADD CONSTRAINT DF_X DEFAULT (0) FOR [Nada]", 1752},
                      });
  // A default that does not convert is only refused when an insert needs it.
  s.Ejecutar("ALTER TABLE Transaccion ADD CONSTRAINT DF_Mal DEFAULT ('abc') FOR [TRA_Texto]");
  s.Ejecutar("ALTER TABLE Transaccion ALTER COLUMN TRA_Texto varchar(2)");
  EXPECT_EQ(
      ErrorDe(s, "INSERT INTO Transaccion (TRA_Empresa, TRA_Caja, TRA_Monto) VALUES ('8', '8', 1)").numero,
      8152);
  s.Ejecutar(
      "INSERT INTO Transaccion (TRA_Empresa, TRA_Caja, TRA_Monto, TRA_Texto) VALUES ('8', '8', 1, 'ok')");
  s.Ejecutar("ALTER TABLE Transaccion ADD CONSTRAINT DF_X DEFAULT (0) FOR [TRA_Tipo]");
  EXPECT_EQ(ErrorDe(s, "ALTER TABLE Transaccion ADD CONSTRAINT DF_Y DEFAULT (1) FOR [TRA_Tipo]").numero,
            1781);
  const ErrorSql nada = ErrorDe(s, "ALTER TABLE Transaccion DROP CONSTRAINT PK_Nada");
  EXPECT_EQ(nada.numero, 3728);
  EXPECT_EQ(nada.descripcion,
            "'PK_Nada' is not a constraint. Could not drop constraint. See previous errors.");
  s.Ejecutar("ALTER TABLE Transaccion DROP PK_T");
  EXPECT_EQ(Uno("SELECT COUNT(*) FROM sysobjects WHERE name = 'PK_T'"), "0");
  s.Ejecutar("INSERT INTO Transaccion VALUES ('1', '001', 11, 1, NULL)");
}

TEST_F(Alterar, AlterColumnConvierteYRespetaLoQueDependeDeLaColumna) {
  s.Ejecutar("ALTER TABLE Transaccion ALTER COLUMN TRA_Tipo int NULL");
  ComprobarNumeros(s, {
                          {"ALTER TABLE Transaccion ALTER COLUMN TRA_Tipo int NOT NULL", 515},
                          {"ALTER TABLE Transaccion ALTER COLUMN TRA_Texto int", 245},
                          {"ALTER TABLE Transaccion ALTER COLUMN TRA_Monto numeric(3,2)", 8115},
                          {"ALTER TABLE Transaccion ALTER COLUMN TRA_Caja char(2)", 8152},
                          {"ALTER TABLE Transaccion ALTER COLUMN Nada int", 4924},
                      });
  // Without NULL or NOT NULL the column becomes nullable.
  s.Ejecutar("ALTER TABLE Transaccion ALTER COLUMN TRA_Caja char(5)");
  EXPECT_EQ(Uno("Select IS_NULLABLE from information_schema.columns where table_name = 'Transaccion' And "
                "Column_name = 'TRA_Caja'"),
            "YES");
  EXPECT_EQ(Uno("SELECT TRA_Caja FROM Transaccion WHERE TRA_Monto = 10"), "001  ");
  s.Ejecutar("ALTER TABLE Transaccion ALTER COLUMN TRA_Caja char(5) NOT NULL");
  s.Ejecutar("ALTER TABLE Transaccion ADD CONSTRAINT PK_T PRIMARY KEY (TRA_Empresa, TRA_Caja)");
  s.Ejecutar("ALTER TABLE Transaccion ADD CONSTRAINT DF_Texto DEFAULT ('') FOR TRA_Texto");
  s.Ejecutar("CREATE INDEX IX_Monto ON Transaccion (TRA_Monto)");
  // A default allows changing only the length; a key or index allows only growing a varchar.
  s.Ejecutar("ALTER TABLE Transaccion ALTER COLUMN TRA_Texto varchar(40)");
  const ErrorSql conDefecto = ErrorDe(s, "ALTER TABLE Transaccion ALTER COLUMN TRA_Texto char(40)");
  EXPECT_EQ(conDefecto.numero, 5074);
  EXPECT_EQ(
      conDefecto.descripcion,
      "The object 'DF_Texto' is dependent on column 'TRA_Texto'. ALTER TABLE ALTER COLUMN TRA_Texto failed "
      "because one or more objects access this column.");
  EXPECT_EQ(ErrorDe(s, "ALTER TABLE Transaccion ALTER COLUMN TRA_Caja char(6) NOT NULL").numero, 5074);
  s.Ejecutar("ALTER TABLE Transaccion ALTER COLUMN TRA_Empresa varchar(10) NOT NULL");
  EXPECT_EQ(ErrorDe(s, "ALTER TABLE Transaccion ALTER COLUMN TRA_Empresa varchar(5) NOT NULL").numero, 5074);
  EXPECT_EQ(
      ErrorDe(s, "ALTER TABLE Transaccion ALTER COLUMN TRA_Monto numeric(12,2) NOT NULL").descripcion,
      "The index 'IX_Monto' is dependent on column 'TRA_Monto'. ALTER TABLE ALTER COLUMN TRA_Monto failed "
      "because one or more objects access this column.");
  // Drops: missing column, dependants, then a free column.
  EXPECT_EQ(ErrorDe(s, "ALTER TABLE Transaccion DROP Column Nada").descripcion,
            "ALTER TABLE DROP COLUMN failed because column 'Nada' does not exist in table 'Transaccion'.");
  EXPECT_EQ(ErrorDe(s, "ALTER TABLE Transaccion DROP Column TRA_Texto").numero, 5074);
  EXPECT_EQ(
      ErrorDe(s, "ALTER TABLE Transaccion DROP Column TRA_Caja").descripcion,
      "The object 'PK_T' is dependent on column 'TRA_Caja'. ALTER TABLE DROP COLUMN TRA_Caja failed because "
      "one or more objects access this column.");
  s.Ejecutar("ALTER TABLE Transaccion DROP Column TRA_Tipo");
  EXPECT_EQ(s.Ejecutar("SELECT * FROM Transaccion").columnas.size(), 4u);
}

TEST_F(Alterar, IndicesEnSysindexes) {
  const std::string consulta =
      "SELECT * FROM Sysindexes Where name = 'IX_Transaccion_Caja' And "
      "Id=(Select id From Sysobjects Where name='Transaccion')";
  EXPECT_EQ(s.Ejecutar(consulta).filas.size(), 0u);
  s.Ejecutar(
      "CREATE INDEX [IX_Transaccion_Caja] ON [Transaccion]([TRA_Empresa],[TRA_Caja]) WITH  FILLFACTOR = 90 "
      "ON [PRIMARY]");
  EXPECT_EQ(s.Ejecutar(consulta).filas.size(), 1u);
  EXPECT_EQ(ErrorDe(s, "CREATE  INDEX [IX_Transaccion_Caja] ON [Transaccion]([TRA_Caja])").numero, 1913);
  // Index names belong to their table.
  s.Ejecutar("CREATE TABLE Otra (a int NOT NULL)");
  s.Ejecutar("CREATE INDEX IX_Transaccion_Caja ON Otra (a)");
  EXPECT_EQ(s.Ejecutar("SELECT * FROM Sysindexes Where name = 'IX_Transaccion_Caja' And Id=(Select id From "
                       "Sysobjects Where name='Otra')")
                .filas.size(),
            1u);
  ComprobarNumeros(s, {
                          {"CREATE UNIQUE INDEX IX_U ON Transaccion (TRA_Empresa)", 1505},
                          {"CREATE INDEX IX_N ON Transaccion (Nada)", 1911},
                          {"CREATE INDEX IX_N ON Nada (a)", 1088},
                      });
  // A heap shows its indid 0 row; a clustered key takes indid 1.
  auto r = s.Ejecutar(
      "SELECT name, indid FROM Sysindexes Where id = (Select id From Sysobjects Where name = 'Otra')");
  ASSERT_EQ(r.filas.size(), 2u);
  EXPECT_FALSE(r.filas[0][0].has_value());
  EXPECT_EQ(r.filas[0][1].value(), "0");
  s.Ejecutar("ALTER TABLE Otra ADD CONSTRAINT PK_Otra PRIMARY KEY (a)");
  r = s.Ejecutar(
      "SELECT name, indid FROM Sysindexes Where id = (Select id From Sysobjects Where name = 'Otra')");
  ASSERT_EQ(r.filas.size(), 2u);
  EXPECT_EQ(r.filas[0][0].value(), "PK_Otra");
  EXPECT_EQ(r.filas[0][1].value(), "1");
}

TEST_F(Alterar, IdentidadNumeraEnOrdenYSigue) {
  s.Ejecutar("ALTER TABLE Transaccion ADD TRA_Id [int] IDENTITY (1, 1)");
  auto r = s.Ejecutar("SELECT TRA_Caja, TRA_Id FROM Transaccion");
  ASSERT_EQ(r.filas.size(), 3u);
  EXPECT_EQ(r.filas[0][1].value(), "1");
  EXPECT_EQ(r.filas[1][1].value(), "2");
  EXPECT_EQ(r.filas[2][1].value(), "3");
  s.Ejecutar("INSERT INTO Transaccion (TRA_Empresa, TRA_Caja, TRA_Monto) VALUES ('4', '004', 1)");
  EXPECT_EQ(Uno("SELECT TRA_Id FROM Transaccion WHERE TRA_Empresa = '4'"), "4");
  EXPECT_EQ(
      ErrorDe(s, "INSERT INTO Transaccion (TRA_Empresa, TRA_Caja, TRA_Monto, TRA_Id) VALUES ('5', '5', 1, 9)")
          .numero,
      544);
  EXPECT_EQ(ErrorDe(s, "UPDATE Transaccion SET TRA_Id = 1").numero, 8102);
  EXPECT_EQ(ErrorDe(s, "ALTER TABLE Transaccion ADD TRA_Id2 int IDENTITY (1, 1)").numero, 2744);
  EXPECT_EQ(Uno("Select IS_NULLABLE from information_schema.columns where table_name = 'Transaccion' And "
                "Column_name = 'TRA_Id'"),
            "NO");
  // A smallint identity that runs out of numbers.
  s.Ejecutar("CREATE TABLE Chica (id tinyint IDENTITY (254, 1) NOT NULL, x int NULL)");
  s.Ejecutar("INSERT INTO Chica (x) VALUES (1), (2)");
  EXPECT_EQ(ErrorDe(s, "INSERT INTO Chica (x) VALUES (3)").numero, 8115);
}

TEST_F(Alterar, VistasSeCompruebanAlCrearlas) {
  s.Ejecutar(
      "CREATE TABLE TransOFF (OFF_Empresa varchar(6) NOT NULL, OFF_Caja char(3) NOT NULL, OFF_Monto "
      "numeric(9,2) NOT NULL)");
  s.Ejecutar("INSERT INTO TransOFF VALUES ('1', '005', 5)");
  EXPECT_EQ(ErrorDe(s, "CREATE VIEW V AS (SELECT Transaccion.TRA_Nada AS Empresa From Transaccion)").numero,
            207);
  EXPECT_EQ(ErrorDe(s, "CREATE VIEW V AS (SELECT TRA_Empresa AS Empresa From NoHay)").numero, 208);
  EXPECT_EQ(ErrorDe(s,
                    "CREATE VIEW V AS (SELECT TRA_Empresa AS Empresa From Transaccion Union All (SELECT "
                    "OFF_Empresa AS Empresa, OFF_Caja FROM TransOFF))")
                .numero,
            205);
  s.Ejecutar(
      "CREATE VIEW V AS (SELECT Transaccion.TRA_Empresa AS Empresa, Transaccion.TRA_Monto AS Monto, "
      "Transaccion.TRA_Tipo AS Lote From Transaccion  Union All (SELECT TransOFF.OFF_Empresa AS Empresa, "
      "TransOFF.OFF_Monto  AS Monto, Lote = 0 FROM TransOFF))");
  EXPECT_EQ(ErrorDe(s, "CREATE TABLE V (a int)").numero, 2714);
  EXPECT_EQ(Uno("Select Name From sysobjects  Where Xtype = 'V' And Name = 'v'"), "V");
  EXPECT_EQ(Uno("Select Name From sysobjects  Where Xtype = 'U' And Name = 'V'"), "<sin filas>");
  auto r = s.Ejecutar("SELECT Empresa, Lote FROM V WHERE Monto = 5");
  ASSERT_EQ(r.filas.size(), 1u);
  EXPECT_EQ(r.filas[0][1].value(), "0");
  EXPECT_EQ(Uno("SELECT COUNT(*) FROM V"), "4");
  EXPECT_EQ(ErrorDe(s, "INSERT INTO V VALUES ('1', 1, 1)").numero, 4406);
}

}  // namespace
