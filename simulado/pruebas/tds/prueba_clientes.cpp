// Real clients against the real program: tsql, FreeTDS's ODBC driver and DB-Library through pymssql.
#include <gtest/gtest.h>

#include "Arnes.h"
#include "Odbc.h"

using namespace prueba_tds;

TEST(Clientes, TsqlEntraConsultaYEsRechazadoConSusNumeros) {
  ServidorPrueba s;
  const std::string base = "tsql -H 127.0.0.1 -p " + std::to_string(s.puerto) + " -U pagora ";
  const std::string bien =
      Correr(base + "-P " + kClave + " -D PagoraDemo",
             "SELECT PAR_Version, PAR_LA FROM Parametros\ngo\nSELECT @@TRANCOUNT\ngo\nquit\n");
  EXPECT_NE(bien.find("LA-MVD-01"), std::string::npos) << bien;
  EXPECT_NE(bien.find("(1 row affected)"), std::string::npos) << bien;
  const std::string mala = Correr(base + "-P otra-clave", "quit\n");
  EXPECT_NE(mala.find("Msg 18456 (severity 14"), std::string::npos) << mala;
  EXPECT_NE(mala.find("Login failed for user 'pagora'."), std::string::npos) << mala;
  const std::string otraBase = Correr(base + "-P " + kClave + " -D Ajena", "quit\n");
  EXPECT_NE(otraBase.find("Msg 4060"), std::string::npos) << otraBase;
  EXPECT_NE(otraBase.find("Msg 18456"), std::string::npos) << otraBase;
  // Every TDS version the clients may ask for logs in and reads the same row.
  for (const char* v : {"7.1", "7.2", "7.3", "7.4"}) {
    const std::string r = Correr(std::string("env TDSVER=") + v + " " + base + "-P " + kClave,
                                 "SELECT PAR_LA FROM Parametros\ngo\nquit\n");
    EXPECT_NE(r.find("LA-MVD-01"), std::string::npos) << v << ": " << r;
  }
  EXPECT_EQ(s.Detener(SIGTERM), 0);
  const std::string salida = s.Salida();
  EXPECT_EQ(salida.find(kClave), std::string::npos) << "la clave no se registra";
  EXPECT_NE(salida.find("Acceso rechazado: usuario pagora"), std::string::npos) << salida;
  EXPECT_NE(salida.find("Sesión 51 abierta: usuario pagora desde 127.0.0.1:"), std::string::npos) << salida;
}

// Every column type of the emulator with a value and with NULL, read back through the ODBC driver, at the
// TDS versions with and without NBCROW.
TEST(Clientes, OdbcLeeCadaTipoYNulos) {
  ServidorPrueba s;
  for (const char* version : {"7.4", "7.2", "7.1"}) {
    Odbc o;
    std::string cadena = s.Cadena();
    cadena.replace(cadena.find("TDS_Version=7.4"), 15, std::string("TDS_Version=") + version);
    ASSERT_TRUE(o.Conectar(cadena + "ClientCharset=UTF-8")) << o.mensaje;
    const std::string t = std::string("Tipos") + version[2];
    ASSERT_TRUE(o.Ejecutar("CREATE TABLE " + t +
                           " (a bit, b tinyint, c smallint, d int, e decimal(9,2), f numeric(18,4), "
                           "g char(5), h varchar(20), i smalldatetime, j datetime, k decimal(2,0))"))
        << o.mensaje;
    ASSERT_TRUE(o.Ejecutar("INSERT INTO " + t +
                           " VALUES (1, 255, -32768, -2147483648, -123.45, 12345.6789, 'ab', 'ñandú €', "
                           "'2023-03-17 13:30:00', '2023-03-17 13:30:15.503', -7)"))
        << o.mensaje;
    ASSERT_TRUE(o.Ejecutar("INSERT INTO " + t +
                           " VALUES (0, 0, 32767, 2147483647, 0.05, -0.0001, '', '', "
                           "'1900-01-01 00:00:00', '1753-01-01 23:59:59.997', 99)"));
    ASSERT_TRUE(
        o.Ejecutar("INSERT INTO " + t + " VALUES (NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL)"));
    std::vector<std::vector<std::optional<std::string>>> f;
    ASSERT_TRUE(o.Ejecutar("SELECT * FROM " + t, &f)) << o.mensaje;
    ASSERT_EQ(f.size(), 3u);
    const std::vector<std::optional<std::string>> esperado1 = {
        "1",          "255",   "-32768",  "-2147483648",         "-123.45",
        "12345.6789", "ab   ", "ñandú €", "2023-03-17 13:30:00", "2023-03-17 13:30:15.503",
        "-7"};
    const std::vector<std::optional<std::string>> esperado2 = {
        "0",       "0",     "32767", "2147483647",          "0.05",
        "-0.0001", "     ", "",      "1900-01-01 00:00:00", "1753-01-01 23:59:59.997",
        "99"};
    EXPECT_EQ(f[0], esperado1) << version;
    EXPECT_EQ(f[1], esperado2) << version;
    EXPECT_EQ(f[2], std::vector<std::optional<std::string>>(11, std::nullopt)) << version;
  }
}

// Refusals arrive with their native numbers and SQL Server's texts; a batch goes on after a statement
// error, and a conversion error ends it.
TEST(Clientes, OdbcVeRechazosConSuNumeroYSuTexto) {
  ServidorPrueba s;
  Odbc o;
  ASSERT_TRUE(o.Conectar(s.Cadena()));
  struct Caso {
    const char* sql;
    int numero;
    const char* texto;
  } casos[] = {
      {"SELECT * FROM NoExiste", 208, "Invalid object name 'NoExiste'."},
      {"SELECT nada FROM Parametros", 207, "Invalid column name 'nada'."},
      {"SELEC 1", 102, "Incorrect syntax near"},
      {"COMMIT TRANSACTION", 3902, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."},
      {"EXEC sp_quien", 2812, "Could not find stored procedure 'sp_quien'."},
      {"USE master", 911, "Database 'master' does not exist."},
  };
  for (const auto& c : casos) {
    EXPECT_FALSE(o.Ejecutar(c.sql)) << c.sql;
    EXPECT_EQ(o.nativo, c.numero) << c.sql << ": " << o.mensaje;
    EXPECT_NE(o.mensaje.find(c.texto), std::string::npos) << o.mensaje;
  }
  ASSERT_TRUE(o.Ejecutar("CREATE TABLE Lote (n int)"));
  // The second statement fails, the third still runs; after a conversion error nothing more runs.
  o.Ejecutar("INSERT INTO Lote VALUES (1); INSERT INTO NoExiste VALUES (2); INSERT INTO Lote VALUES (3)");
  EXPECT_EQ(o.Uno("SELECT COUNT(*) FROM Lote"), "2");
  o.Ejecutar("INSERT INTO Lote VALUES ('x'); INSERT INTO Lote VALUES (4)");
  EXPECT_EQ(o.Uno("SELECT COUNT(*) FROM Lote"), "2");
}

// T-SQL transactions and the driver's own (autocommit off, SQLEndTran): what is committed is in the file,
// what is rolled back is not, and @@TRANCOUNT follows.
// At 7.2 and later the driver's own transactions are transaction-manager requests; at 7.1 it sends
// T-SQL batches (IF @@TRANCOUNT > 0 COMMIT BEGIN TRANSACTION) instead.
TEST(Clientes, OdbcConfirmaYDeshaceEnElArchivo) {
  for (const char* version : {"7.4", "7.1"}) {
    SCOPED_TRACE(version);
    ServidorPrueba s;
    Odbc o;
    std::string cadena = s.Cadena();
    cadena.replace(cadena.find("TDS_Version=7.4"), 15, std::string("TDS_Version=") + version);
    ASSERT_TRUE(o.Conectar(cadena));
    ASSERT_TRUE(o.Ejecutar("CREATE TABLE Mov (n int)"));
    EXPECT_NE(LeerArchivo(s.archivo).find("Mov"), std::string::npos) << "un cambio en autocommit se graba";
    ASSERT_TRUE(o.Ejecutar("BEGIN TRANSACTION"));
    ASSERT_TRUE(o.Ejecutar("INSERT INTO Mov VALUES (9100041)"));
    EXPECT_EQ(o.Uno("SELECT @@TRANCOUNT"), "1");
    EXPECT_EQ(LeerArchivo(s.archivo).find("9100041"), std::string::npos)
        << "nada se graba antes de confirmar";
    ASSERT_TRUE(o.Ejecutar("ROLLBACK TRANSACTION"));
    EXPECT_EQ(o.Uno("SELECT @@TRANCOUNT"), "0");
    ASSERT_TRUE(o.Ejecutar("BEGIN TRANSACTION; INSERT INTO Mov VALUES (9100042); COMMIT TRANSACTION"));
    ASSERT_TRUE(o.Ejecutar("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"));
    EXPECT_EQ(o.Uno("SELECT COUNT(*) FROM Mov"), "1");
    EXPECT_NE(LeerArchivo(s.archivo).find("9100042"), std::string::npos);

    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLSetConnectAttr(o.dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0)));
    ASSERT_TRUE(o.Ejecutar("INSERT INTO Mov VALUES (9100043)"));
    EXPECT_EQ(o.Uno("SELECT @@TRANCOUNT"), "1");
    ASSERT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, o.dbc, SQL_ROLLBACK)));
    ASSERT_TRUE(o.Ejecutar("INSERT INTO Mov VALUES (9100044)"));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, o.dbc, SQL_COMMIT)));
    const std::string archivo = LeerArchivo(s.archivo);
    EXPECT_EQ(archivo.find("9100043"), std::string::npos);
    EXPECT_NE(archivo.find("9100044"), std::string::npos);
    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLSetConnectAttr(o.dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0)));
    EXPECT_EQ(o.Uno("SELECT @@TRANCOUNT"), "0");
    EXPECT_EQ(o.Uno("SELECT COUNT(*) FROM Mov"), "2");
  }
}

TEST(Clientes, PymssqlConsultaConfirmaYVeErrores) {
  ServidorPrueba s;
  const std::string r = Correr("/usr/bin/python3 " DIR_PRUEBAS "/clientes_pymssql.py " +
                                   std::to_string(s.puerto) + " " + kClave + " " + s.archivo,
                               "");
  EXPECT_NE(r.find("pymssql: bien"), std::string::npos) << r;
}

// jTDS sends LOGIN7 without PRELOGIN by default and PRELOGIN with ssl=request; it opens with a batch of
// SELECT @@MAX_PRECISION and SETs, runs its transactions with SET IMPLICIT_TRANSACTIONS and IF @@TRANCOUNT,
// and prepares with sp_prepare / sp_execute. The program checks each of those answers. The server does not
// encrypt here, as a SQL Server without a certificate: jTDS's ssl=request then goes on in clear text (its
// login-only encryption closes its own socket on this Java; the encrypted sessions are tried apart).
TEST(Clientes, JtdsConectaLeeConfirmaYPrepara) {
#ifndef DIR_JTDS
  GTEST_SKIP() << "sin javac o sin jtds.jar";
#else
  ServidorPrueba s(Demo(), {"--cifrado", "no"});
  const std::string r = Correr("java -cp " DIR_JTDS ":" JTDS_JAR " ClientesJtds " + std::to_string(s.puerto) +
                                   " " + kClave + " " + s.archivo,
                               "");
  EXPECT_NE(r.find("jtds: bien"), std::string::npos) << r;
#endif
}

// unixODBC's isql without -e prepares every line, so FreeTDS sends each as sp_prepexec and then
// sp_unprepare; results, row counts and refusals arrive as with SQLExecDirect.
TEST(Clientes, IsqlPreparaCadaSentencia) {
  ServidorPrueba s;
  const std::string r = Correr(
      "isql -v -b -k \"" + s.Cadena("ClientCharset=UTF-8") + "\"",
      "CREATE TABLE T (n int, t varchar(10))\nINSERT INTO T VALUES (1, 'ñandú')\n"
      "UPDATE T SET n = 2 WHERE n = 1\nSELECT n, t FROM T\nSELECT * FROM NoExiste\nSELECT @@TRANCOUNT\n");
  EXPECT_NE(r.find("| 2   "), std::string::npos) << r;
  EXPECT_NE(r.find("ñandú"), std::string::npos) << r;
  EXPECT_NE(r.find("SQLRowCount returns 1"), std::string::npos) << r;
  EXPECT_NE(r.find("[S0002][FreeTDS][SQL Server]Invalid object name 'NoExiste'."), std::string::npos) << r;
  EXPECT_EQ(r.find("08S01"), std::string::npos) << "la sesión no se cae: " << r;
  EXPECT_NE(LeerArchivo(s.archivo).find("ñandú"), std::string::npos);
}

// Parameters bound through the ODBC driver (sp_prepexec, then sp_execute on the same handle) arrive as their
// exact values, whatever they hold: quotes, comment marks, accents, decimals, dates, NULL.
TEST(Clientes, OdbcPreparadaConParametros) {
  ServidorPrueba s;
  Odbc o;
  ASSERT_TRUE(o.Conectar(s.Cadena("ClientCharset=UTF-8")));
  ASSERT_TRUE(o.Ejecutar("CREATE TABLE P (n int, t varchar(20), d decimal(9,2), f datetime)"));
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_STMT, o.dbc, &st);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepare(st, (SQLCHAR*)"INSERT INTO P VALUES (?, ?, ?, ?)", SQL_NTS)));
  SQLINTEGER n = 0;
  char t[32], d[16];
  SQL_TIMESTAMP_STRUCT f{};
  SQLLEN largoT = SQL_NTS, largoD = SQL_NTS, largoF = 0;
  SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &n, 0, nullptr);
  SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, t, sizeof t, &largoT);
  SQLBindParameter(st, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, 9, 2, d, sizeof d, &largoD);
  SQLBindParameter(st, 4, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, &f, 0, &largoF);
  const struct {
    int n;
    const char* t;
    const char* d;
    bool fechaNula;
  } filas[] = {{1, "it's -- ñ", "-12.50", false}, {2, "@P1 /* ?", "0.05", true}};
  for (const auto& x : filas) {
    n = x.n;
    std::snprintf(t, sizeof t, "%s", x.t);
    std::snprintf(d, sizeof d, "%s", x.d);
    f = SQL_TIMESTAMP_STRUCT{2023, 3, 17, 13, 30, 15, 503000000};
    largoF = x.fechaNula ? SQL_NULL_DATA : 0;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(st))) << x.n;
    SQLLEN cuenta = 0;
    SQLRowCount(st, &cuenta);
    EXPECT_EQ(cuenta, 1) << x.n;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  std::vector<std::vector<std::optional<std::string>>> r;
  ASSERT_TRUE(o.Ejecutar("SELECT n, t, d, f FROM P", &r)) << o.mensaje;
  const std::vector<std::vector<std::optional<std::string>>> esperado = {
      {"1", "it's -- ñ", "-12.50", "2023-03-17 13:30:15.503"}, {"2", "@P1 /* ?", "0.05", std::nullopt}};
  EXPECT_EQ(r, esperado);
}
