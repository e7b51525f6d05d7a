// The dump: readable, deterministic, and loaded back into the same state.
#include <gtest/gtest.h>

#include <string>

#include "motor/Servidor.h"

using simulado::ErrorSql;
using simulado::Servidor;

namespace {

const char* const kBase =
    "CREATE TABLE [dbo].[TarjetaTipo] ( [TAT_IdTarjetaTipo] [smallint] IDENTITY (1, 1) NOT NULL, "
    "[TAT_Desc] [varchar] (50) COLLATE Latin1_General_CS_AS NOT NULL, [TAT_Tipo] char(4) NULL, "
    "[TAT_Monto] numeric(9, 2) NULL, [TAT_Fecha] datetime NULL, [TAT_OFF] [Bit]) ON [PRIMARY]\n"
    "GO\n"
    "ALTER TABLE [dbo].[TarjetaTipo] WITH NOCHECK ADD CONSTRAINT [PK_TarjetaTipo] PRIMARY KEY  CLUSTERED "
    "([TAT_IdTarjetaTipo]) WITH  FILLFACTOR = 90  ON [PRIMARY] \n"
    "GO\n"
    "ALTER TABLE [dbo].[TarjetaTipo] ADD CONSTRAINT [DF_TarjetaTipo_TAT_OFF] DEFAULT (0) FOR [TAT_OFF]\n"
    "GO\n"
    "ALTER TABLE TarjetaTipo ADD TAT_Neg int NOT NULL DEFAULT -1, CONSTRAINT UQ_Desc UNIQUE (TAT_Desc)\n"
    "GO\n"
    "CREATE UNIQUE INDEX IX_Tipo ON TarjetaTipo (TAT_Desc, TAT_Fecha) WITH FILLFACTOR = 80\n"
    "GO\n"
    "-- rows\n"
    "INSERT INTO TarjetaTipo (TAT_Desc, TAT_Tipo, TAT_Monto, TAT_Fecha) VALUES ('O''Neill', 'ab', -0.5, "
    "'2026-02-28 23:59:59.997')\n"
    "INSERT INTO TarjetaTipo (TAT_Desc, TAT_Tipo, TAT_Monto, TAT_Fecha, TAT_OFF) VALUES ('Año  ', NULL, "
    "NULL, "
    "NULL, NULL)\n"
    "INSERT INTO TarjetaTipo (TAT_Desc) VALUES ('borrada')\n"
    "DELETE FROM TarjetaTipo WHERE TAT_Desc = 'borrada'\n"
    "GO\n"
    "CREATE VIEW VTipo AS (SELECT TAT_Desc AS Descripcion, Fijo = 1 From TarjetaTipo)\n"
    "GO\n";

TEST(Script, VolcadoLegibleQueSeRecargaIgual) {
  Servidor s;
  s.EjecutarScript(kBase);
  const std::string volcado = s.Script();
  EXPECT_NE(
      volcado.find("CREATE TABLE [TarjetaTipo] (\n\t[TAT_IdTarjetaTipo] smallint IDENTITY (1, 1) NOT NULL,\n"
                   "\t[TAT_Desc] varchar(50) COLLATE Latin1_General_CS_AS NOT NULL,\n"),
      std::string::npos)
      << volcado;
  EXPECT_NE(volcado.find("\t[TAT_OFF] bit NULL CONSTRAINT [DF_TarjetaTipo_TAT_OFF] DEFAULT (0),\n"),
            std::string::npos);
  EXPECT_NE(
      volcado.find(
          "\tCONSTRAINT [PK_TarjetaTipo] PRIMARY KEY CLUSTERED ([TAT_IdTarjetaTipo]) WITH FILLFACTOR = 90"),
      std::string::npos);
  EXPECT_NE(volcado.find(
                "CREATE UNIQUE NONCLUSTERED INDEX [IX_Tipo] ON [TarjetaTipo] ([TAT_Desc], [TAT_Fecha]) WITH "
                "FILLFACTOR = 80\nGO\n"),
            std::string::npos);
  EXPECT_NE(volcado.find(") VALUES\n(1, 'O''Neill', 'ab', -0.50, '2026-02-28 23:59:59.997', 0, -1),\n(2, "
                         "'Año  ', NULL, NULL, "
                         "NULL, NULL, -1)\nSET IDENTITY_INSERT [TarjetaTipo] OFF\n"),
            std::string::npos)
      << volcado;
  EXPECT_NE(volcado.find("DBCC CHECKIDENT ('TarjetaTipo', RESEED, 3)"), std::string::npos);
  Servidor otro;
  otro.EjecutarScript(volcado);
  EXPECT_EQ(otro.Script(), volcado);
  // The reloaded identity continues after the deleted row's number, as the original does.
  s.Ejecutar("INSERT INTO TarjetaTipo (TAT_Desc) VALUES ('nueva')");
  otro.Ejecutar("INSERT INTO TarjetaTipo (TAT_Desc) VALUES ('nueva')");
  EXPECT_EQ(
      otro.Ejecutar("SELECT TAT_IdTarjetaTipo FROM TarjetaTipo WHERE TAT_Desc = 'nueva'").filas[0][0].value(),
      "4");
  EXPECT_EQ(otro.Script(), s.Script());
  // The reloaded database keeps its keys, its view and the column's own collation.
  EXPECT_THROW(otro.Ejecutar("INSERT INTO TarjetaTipo (TAT_Desc) VALUES ('o''neill')"), ErrorSql);
  EXPECT_EQ(otro.Ejecutar("SELECT COUNT(*) FROM VTipo").filas[0][0].value(), "3");
  EXPECT_EQ(
      otro.Ejecutar("Select Collation_name from information_schema.columns where table_name = 'TarjetaTipo' "
                    "And Column_name = 'TAT_Tipo'")
          .filas[0][0]
          .value(),
      "Modern_Spanish_CI_AS");
}

TEST(Script, ElMismoEstadoDaLosMismosBytes) {
  Servidor a, b;
  a.EjecutarScript(kBase);
  b.EjecutarScript(kBase);
  EXPECT_EQ(a.Script(), b.Script());
  // Server-made default names are part of the state and reproducible.
  a.Ejecutar("ALTER TABLE TarjetaTipo ADD TAT_X int NOT NULL DEFAULT 0");
  b.Ejecutar("ALTER TABLE TarjetaTipo ADD TAT_X int NOT NULL DEFAULT 0");
  EXPECT_EQ(a.Script(), b.Script());
  EXPECT_NE(a.Script().find("CONSTRAINT [DF__TarjetaTi__TAT_X__"), std::string::npos);
}

TEST(Script, UnLoteConErrorNoSeCorreYElScriptSeDetiene) {
  Servidor s;
  EXPECT_THROW(
      s.EjecutarScript("CREATE TABLE A (a int)\nGO\nINSERT INTO A VALUES (1)\nINSERT INTO A VALUES (\nGO\n"
                       "CREATE TABLE B (b int)\nGO\n"),
      ErrorSql);
  EXPECT_EQ(s.Ejecutar("SELECT COUNT(*) FROM A").filas[0][0].value(), "0");
  EXPECT_THROW(s.Ejecutar("SELECT * FROM B"), ErrorSql);
  // GO is only a separator on a line of its own, in any letter case and with blanks around it.
  s.EjecutarScript("INSERT INTO A VALUES (1) -- GO\n  go  \r\nINSERT INTO A VALUES (2)");
  EXPECT_EQ(s.Ejecutar("SELECT COUNT(*) FROM A").filas[0][0].value(), "2");
}

TEST(Script, UnaVistaQuePerdioUnaColumnaNoImpideAbrirLaBase) {
  Servidor s;
  s.Ejecutar("CREATE TABLE T (a int NULL, b int NULL)");
  s.Ejecutar("CREATE VIEW V AS SELECT a, b FROM T");
  s.Ejecutar("ALTER TABLE T DROP COLUMN b");
  EXPECT_THROW(s.Ejecutar("SELECT * FROM V"), ErrorSql);
  Servidor otro;
  otro.EjecutarScript(s.Script());
  EXPECT_EQ(otro.Script(), s.Script());
  try {
    otro.Ejecutar("SELECT * FROM V");
    FAIL();
  } catch (const ErrorSql& e) {
    EXPECT_EQ(e.numero, 207);
  }
  // Made by a statement, the same view is refused.
  EXPECT_EQ(otro.Ejecutar("SELECT COUNT(*) FROM sysobjects WHERE xtype = 'V'").filas[0][0].value(), "1");
  try {
    otro.Ejecutar("CREATE VIEW W AS SELECT b FROM T");
    FAIL();
  } catch (const ErrorSql& e) {
    EXPECT_EQ(e.numero, 207);
  }
}

TEST(Catalogo, ConsultasDeLosAyudantesTalComoSeEscriben) {
  Servidor s;
  s.EjecutarScript(kBase);
  s.Ejecutar(
      "CREATE TABLE [TarjetaCaja] ([TRC_Empresa] [varchar] (6)  NOT NULL ,[TRC_Caja] [char] (3) NOT NULL "
      ",[TRC_CodTarjeta] [smallint] NOT NULL)");
  EXPECT_EQ(
      s.Ejecutar("Select Name From sysobjects  Where Xtype = 'U' And Name = 'tarjetacaja'").filas.size(), 1u);
  EXPECT_EQ(
      s.Ejecutar("Select Name From sysobjects  Where Xtype = 'V' And Name = 'TarjetaCaja'").filas.size(), 0u);
  auto r = s.Ejecutar(
      "Select Collation_name from information_schema.columns where table_name = 'TarjetaCaja' And "
      "Column_name = 'TRC_Empresa'");
  ASSERT_EQ(r.filas.size(), 1u);
  EXPECT_EQ(r.columnas[0], "COLLATION_NAME");
  EXPECT_EQ(r.filas[0][0].value(), "Modern_Spanish_CI_AS");
  r = s.Ejecutar(
      "Select Collation_name from information_schema.columns where table_name = 'TarjetaCaja' And "
      "Column_name = 'TRC_CodTarjeta'");
  EXPECT_FALSE(r.filas[0][0].has_value());
  EXPECT_EQ(
      s.Ejecutar("SELECT * FROM Sysindexes Where name = 'PK_TarjetaTipo' And Id=(Select id From Sysobjects "
                 "Where name='TarjetaTipo')")
          .filas.size(),
      1u);
  EXPECT_EQ(
      s.Ejecutar("SELECT * FROM Sysindexes Where name = 'PK_TarjetaTipo' And Id=(Select id From Sysobjects "
                 "Where name='TarjetaCaja')")
          .filas.size(),
      0u);
  EXPECT_EQ(
      s.Ejecutar("SELECT * FROM Sysindexes Where name = 'PK_TarjetaTipo' And Id=(Select id From Sysobjects "
                 "Where name='NoHay')")
          .filas.size(),
      0u);
  // Constraints are objects of their table.
  r = s.Ejecutar(
      "Select name, xtype From sysobjects Where parent_obj = (Select id From sysobjects Where name = "
      "'TarjetaTipo')");
  ASSERT_EQ(r.filas.size(), 4u);
  EXPECT_EQ(r.filas[0][1].value(), "PK");
  r = s.Ejecutar(
      "Select ORDINAL_POSITION, COLUMN_NAME, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, IS_NULLABLE From "
      "information_schema.columns Where TABLE_NAME = 'TarjetaTipo' And COLUMN_NAME = 'TAT_Monto'");
  ASSERT_EQ(r.filas.size(), 1u);
  EXPECT_EQ(r.filas[0][0].value(), "4");
  EXPECT_EQ(r.filas[0][2].value(), "numeric");
  EXPECT_FALSE(r.filas[0][3].has_value());
  EXPECT_EQ(r.filas[0][4].value(), "YES");
}

}  // namespace
