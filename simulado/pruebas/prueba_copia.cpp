// The sys catalogue views, rows loaded straight into a table, and the rows a refused statement trips on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Apoyo.h"
#include "motor/Servidor.h"

using simulado::Servidor;

namespace {

constexpr const char* kEsquema =
    "CREATE TABLE T (T_Id int IDENTITY (10, 5) NOT NULL, T_Cod varchar(8) COLLATE Latin1_General_CS_AS NOT "
    "NULL "
    "CONSTRAINT DF_T_Cod DEFAULT ('x'), T_Monto decimal(9,2) NULL DEFAULT (0), T_Baja smallint NULL DEFAULT "
    "(-1), "
    "T_Alta datetime NULL DEFAULT (getdate()), T_Letra char(2) NULL, "
    "CONSTRAINT PK_T PRIMARY KEY NONCLUSTERED (T_Id), CONSTRAINT UQ_T UNIQUE (T_Letra, T_Cod))\nGO\n"
    "CREATE CLUSTERED INDEX IX_T_Monto ON T (T_Monto, T_Baja) WITH FILLFACTOR = 90\nGO\n"
    "CREATE TABLE Monton (M_N tinyint NULL, M_Texto varchar(20) NULL)\nGO\n"
    "CREATE TABLE Dup (D_N int NOT NULL, D_T varchar(5) NULL)\nGO\n"
    "INSERT INTO Dup VALUES (1, 'a'), (1, 'b'), (2, 'c'), (300, 'c')\nGO\n"
    "CREATE VIEW vT AS SELECT T_Id, Codigo = T_Cod FROM T\nGO\n"
    "INSERT INTO Monton VALUES (1, 'uno'), (2, 'dos'), (2, 'DOS '), (NULL, 'abcdefghij'), (300 - 297, "
    "NULL)\n";

class CatalogoSys : public ::testing::Test {
 protected:
  Servidor s{"Tienda"};
  void SetUp() override { s.EjecutarScript(kEsquema); }
  // The first row of a query, its values joined by '|' (NULL as "NULL").
  std::vector<std::string> Filas(const std::string& sql) {
    std::vector<std::string> r;
    for (const auto& f : s.Ejecutar(sql).filas) {
      std::string l;
      for (const auto& v : f) l += (l.empty() ? "" : "|") + v.value_or("NULL");
      r.push_back(l);
    }
    return r;
  }
};

// What a catalogue reader needs from each view, as SQL Server documents it.
TEST_F(CatalogoSys, LasVistasSysDicenLoQueDiceSqlServer) {
  const std::string t = "(SELECT object_id FROM sys.tables WHERE name = 'T')";
  const struct {
    std::string sql;
    std::vector<std::string> filas;
  } casos[] = {
      {"SELECT name, collation_name FROM sys.databases WHERE name = DB_NAME()",
       {"Tienda|Modern_Spanish_CI_AS"}},
      {"SELECT name FROM sys.schemas WHERE schema_id = 1", {"dbo"}},
      {"SELECT name, system_type_id, max_length, precision, scale, collation_name, is_nullable, is_identity "
       "FROM "
       "sys.columns WHERE object_id = " +
           t,
       {"T_Id|56|4|10|0|NULL|0|1", "T_Cod|167|8|0|0|Latin1_General_CS_AS|0|0", "T_Monto|106|5|9|2|NULL|1|0",
        "T_Baja|52|2|5|0|NULL|1|0", "T_Alta|61|8|23|3|NULL|1|0",
        "T_Letra|175|2|0|0|Modern_Spanish_CI_AS|1|0"}},
      {"SELECT seed_value, increment_value, last_value FROM sys.identity_columns", {"10|5|NULL"}},
      {"SELECT name, parent_column_id, definition, is_system_named FROM sys.default_constraints WHERE "
       "parent_column_id > 2",
       {"DF__T__T_Monto__NNNNNNNN|3|((0))|1", "DF__T__T_Baja__NNNNNNNN|4|((-1))|1",
        "DF__T__T_Alta__NNNNNNNN|5|(getdate())|1"}},
      {"SELECT definition, is_system_named FROM sys.default_constraints WHERE name = 'DF_T_Cod'",
       {"('x')|0"}},
      {"SELECT name, type, unique_index_id FROM sys.key_constraints", {"PK_T|PK|2", "UQ_T|UQ|3"}},
      {"SELECT name, index_id, type_desc, is_unique, is_primary_key, fill_factor FROM sys.indexes WHERE "
       "object_id = " +
           t,
       {"IX_T_Monto|1|CLUSTERED|0|0|90", "PK_T|2|NONCLUSTERED|1|1|0", "UQ_T|3|NONCLUSTERED|1|0|0"}},
      {"SELECT name, index_id, type_desc FROM sys.indexes WHERE object_id = (SELECT object_id FROM "
       "sys.tables "
       "WHERE name = 'Monton')",
       {"NULL|0|HEAP"}},
      {"SELECT index_id, column_id, key_ordinal FROM sys.index_columns WHERE object_id = " + t,
       {"1|3|1", "1|4|2", "2|1|1", "3|6|1", "3|2|2"}},
      {"SELECT name, type, type_desc FROM sys.objects WHERE parent_object_id = 0",
       {"T|U |USER_TABLE", "Monton|U |USER_TABLE", "Dup|U |USER_TABLE", "vT|V |VIEW"}},
      {"SELECT definition FROM sys.sql_modules", {"CREATE VIEW vT AS SELECT T_Id, Codigo = T_Cod FROM T"}},
      {"SELECT name, column_id, system_type_id FROM sys.columns WHERE object_id = (SELECT object_id FROM "
       "sys.views)",
       {"T_Id|1|56", "Codigo|2|167"}},
      {"SELECT name, user_type_id FROM sys.types WHERE system_type_id = 231",
       {"nvarchar|231", "sysname|256"}},
      {"SELECT name, is_default FROM sys.data_spaces", {"PRIMARY|1"}},
  };
  for (const auto& c : casos) {
    auto filas = Filas(c.sql);
    for (auto& f : filas)  // server-made names end in the id they were made with
      if (const auto p = f.find("__T_"); p != std::string::npos && f.rfind("DF__", 0) == 0)
        f.replace(f.find("__", p + 4) + 2, 8, "NNNNNNNN");
    EXPECT_EQ(filas, c.filas) << c.sql;
  }
  EXPECT_EQ(apoyo::NumeroDe(s, "SELECT * FROM sys.triggers"), 208);
  s.Ejecutar("INSERT INTO T (T_Cod) VALUES ('a')");
  EXPECT_EQ(Filas("SELECT last_value FROM sys.identity_columns"), std::vector<std::string>{"10"});
}

// A reader lists objects by create_date to get back the order they were made in, which the dump keeps.
TEST_F(CatalogoSys, LaFechaDeCreacionSigueElOrdenDeLosObjetos) {
  s.Reloj([] { return std::int64_t{1764931230000}; });  // a clock that stands still
  s.Ejecutar("CREATE TABLE Z (Z int NULL)");
  s.Ejecutar("CREATE TABLE A (A int NULL)");
  std::vector<std::string> creadas;
  for (const auto& f : s.Ejecutar("SELECT create_date, name FROM sys.tables").filas)
    creadas.push_back(*f[0] + *f[1]);
  ASSERT_EQ(creadas.size(), 5u);
  EXPECT_TRUE(std::is_sorted(creadas.begin(), creadas.end()));
  EXPECT_EQ(creadas.back().substr(creadas.back().size() - 1), "A");
}

// Rows loaded without a statement pass an INSERT's checks, and a refused batch leaves the table as it was.
TEST_F(CatalogoSys, LasFilasCargadasPasanLosControlesDeUnInsertYVanTodasONinguna) {
  using F = std::vector<std::optional<std::string>>;
  const std::string cuenta = "SELECT COUNT(*) FROM T";
  s.CargarFilas("T", {F{"40", "ab", "12.50", "-7", "2023-03-17 13:30:15.997", "x"},
                      F{"12", "ab", std::nullopt, std::nullopt, std::nullopt, std::nullopt}});
  EXPECT_EQ(Filas("SELECT T_Id, T_Monto, T_Alta, T_Letra FROM T WHERE T_Baja = -7"),
            std::vector<std::string>{"40|12.50|2023-03-17 13:30:15.997|x "});
  EXPECT_EQ(Filas("SELECT last_value FROM sys.identity_columns"), std::vector<std::string>{"40"});
  const struct {
    F fila;
    int numero;
  } rechazos[] = {
      {{"1", std::nullopt, "0", "0", std::nullopt, std::nullopt}, 515},  // NULL into NOT NULL
      {{"40", "zz", "0", "0", std::nullopt, std::nullopt}, 2627},        // the primary key again
      {{"1", "ab", "0", "0", std::nullopt, "x"}, 2627},                  // the unique constraint again
      {{"1", "demasiado largo", "0", "0", std::nullopt, std::nullopt}, 8152},
      {{"1", "ok", "mucho", "0", std::nullopt, std::nullopt}, 8114},
      {{"1", "ok", "0", "70000", std::nullopt, std::nullopt}, 8115},
      {{"1", "ok"}, 213},
  };
  for (const auto& r : rechazos) {
    // A good row first: it must not stay when the second is refused.
    const auto e = apoyo::ErrorAl([&] {
      s.CargarFilas("T", {F{"2", "bien", "1", "1", std::nullopt, std::nullopt}, r.fila});
    });
    EXPECT_EQ(e.numero, r.numero) << e.descripcion;
    EXPECT_EQ(Filas(cuenta), std::vector<std::string>{"2"});
  }
  s.FijarIdentidad("T", std::nullopt);
  s.Ejecutar("INSERT INTO T (T_Cod) VALUES ('nuevo')");
  EXPECT_EQ(Filas("SELECT T_Id FROM T WHERE T_Cod = 'nuevo'"), std::vector<std::string>{"10"});
  EXPECT_EQ(apoyo::ErrorAl([&] { s.CargarFilas("NoHay", {}); }).numero, 208);
}

// The rows named for each kind of refusal that comes from the data, and none for the others.
TEST_F(CatalogoSys, LasFilasCulpablesDeCadaRechazo) {
  s.Ejecutar(
      "INSERT INTO T (T_Cod, T_Monto, T_Baja, T_Letra) VALUES ('a', 1, 1, 'p'), ('b', 1, 1, 'q'), "
      "('c', NULL, 2, 'r'), ('d', 99999.5, 3, NULL)");
  const struct {
    std::string sql;
    int numero;
    std::vector<std::string> culpables;
  } casos[] = {
      {"ALTER TABLE Dup ADD CONSTRAINT PK_Dup PRIMARY KEY (D_N)", 1505, {"(1) en 2 filas"}},
      {"CREATE UNIQUE INDEX IX_M ON Monton (M_Texto)", 1505, {"(dos) en 2 filas"}},
      {"ALTER TABLE T ADD CONSTRAINT UQ_2 UNIQUE (T_Monto, T_Baja)", 1505, {"(1.00, 1) en 2 filas"}},
      {"ALTER TABLE Monton ALTER COLUMN M_N tinyint NOT NULL",
       515,
       {"fila 4: M_N = NULL es NULL y la columna pasa a NOT NULL"}},
      {"ALTER TABLE Monton ALTER COLUMN M_Texto varchar(3) NULL",
       8152,
       {"fila 4: M_Texto = 'abcdefghij' no cabe en varchar(3)"}},
      {"ALTER TABLE Monton ALTER COLUMN M_Texto int NULL",
       245,
       {"fila 1: M_Texto = 'uno' no se puede convertir a int (error 245)",
        "fila 2: M_Texto = 'dos' no se puede convertir a int (error 245)"}},
      {"ALTER TABLE Dup ALTER COLUMN D_N tinyint NOT NULL",
       8115,
       {"fila 4: D_N = 300 no se puede convertir a tinyint (error 8115)"}},
      {"UPDATE T SET T_Letra = 'p', T_Cod = 'a' WHERE T_Cod = 'b'",
       2627,
       {"UQ_T: T_Id = 10 (sin cambio); T_Id = 15 (actualizada)"}},
      {"UPDATE T SET T_Cod = NULL WHERE T_Baja = 3",
       515,
       {"T_Id = 25: T_Cod quedaría NULL y la columna no lo admite"}},
      {"INSERT INTO T (T_Cod, T_Letra) VALUES ('a', 'p')", 2627, {}},
      {"DROP TABLE NoHay", 3701, {}},
  };
  for (const auto& c : casos) {
    EXPECT_EQ(apoyo::NumeroDe(s, c.sql), c.numero) << c.sql;
    auto r = s.FilasCulpables(c.sql, c.numero, 2);
    EXPECT_EQ(r, c.culpables) << c.sql;
  }
  EXPECT_EQ(s.FilasCulpables("ALTER TABLE Monton ALTER COLUMN M_Texto int NULL", 245, 1).size(), 1u);
}

}  // namespace
