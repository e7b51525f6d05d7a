// The fast path for the rows of a dump against the general parser: generated INSERTs of every type, at
// and past the limits, with wrong counts, NULLs, duplicate keys and look-alikes, give the same database
// and the same refusals both ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "Apoyo.h"
#include "motor/Servidor.h"

using simulado::Servidor;

namespace {

const char* const kTablas =
    "CREATE TABLE T (id int IDENTITY (1, 1) NOT NULL PRIMARY KEY, b bit NULL, ti tinyint NULL, "
    "si smallint NOT NULL DEFAULT 7, n int NULL, d decimal(18,4) NULL, m numeric(9,2) NULL, c char(6) NULL, "
    "v varchar(12) NULL, sd smalldatetime NULL, dt datetime NULL)\n"
    "CREATE UNIQUE INDEX IX_T ON T (v)\n"
    "CREATE TABLE [O'K] ([a b] varchar(3) NOT NULL, k char(2) NOT NULL, CONSTRAINT PK_OK PRIMARY KEY (k))";

// Both servers run the same batch: the same error (number and text), then the same database.
void Igual(Servidor& rapido, Servidor& general, const std::string& lote) {
  const auto a = apoyo::ErrorDe(rapido, lote), b = apoyo::ErrorDe(general, lote);
  EXPECT_EQ(a.numero, b.numero) << lote;
  EXPECT_EQ(a.descripcion, b.descripcion) << lote;
  EXPECT_EQ(rapido.NivelTransaccion(), general.NivelTransaccion()) << lote;
  ASSERT_EQ(rapido.Script(), general.Script()) << lote;
}

TEST(RutaRapida, FilasGeneradasDanLaMismaBaseYLosMismosRechazos) {
  std::mt19937 azar(20261208u);
  const auto al = [&](std::size_t n) { return static_cast<std::size_t>(azar() % n); };
  const auto de = [&](const std::vector<std::string>& v) { return v[al(v.size())]; };
  // Per column of T: values it takes, up to its limits; then values past them and look-alikes that the
  // fast path must hand over to the general parser.
  struct Valores {
    std::vector<std::string> buenos, malos;
  };
  const std::vector<Valores> valores = {
      {{"1", "100"}, {"-1", "2147483647", "'3'", "NULL", "1.5"}},
      {{"0", "1", "2", "'true'", "'FALSE'", "NULL", "-1", "0.9"}, {"'x'"}},
      {{"0", "255", "'12'", "' 7 '", "NULL", "+3", "1.999"}, {"256", "-1", "- 4", "'1x'"}},
      {{"-32768", "32767", "'-5'", "00012"}, {"32768", "-32769", "NULL"}},
      {{"2147483647", "-2147483648", "NULL", "'2147'", "0"},
       {"2147483648", "-2147483649", "999999999999999999", "9999999999999999999", "1e5", "5$", "--1", "-(1)",
        "1 + 1"}},
      {{"99999999999999.9999", ".5", "0.00005", "-0.0", "'1.5'", "1.", "NULL"},
       {"-99999999999999.99995", "100000000000000", "'x'", "12345678901234567890"}},
      {{"1234567.89", "-0.005", "NULL", "'-1.25'"}, {"9999999.995", "10000000"}},
      {{"''", "'abc'", "'abcdef  '", "'ñandú'", "N'xy'", "'a' + 'b'", "NULL", "'it''s'", "'dos\nlíneas'",
        "'GO\nGO'"},
       {"'abcdefg'", "'a' + 1", "'x' /* c */"}},
      {{"''", "'0123456789AB'", "'0123456789AB    '", "'a' + N'b' + 'c'", "12", "-3.5", "'Ñ'", "'ñ'", "NULL",
        "'x'", "'X'"},
       {"'0123456789ABC'"}},
      {{"'2026-11-01 10:15'", "'1900-01-01'", "'2079-06-06 23:59:29'", "0", "45000", "NULL"},
       {"'2079-06-06 23:59:31'", "'1899-12-31'", "'2026-02-30'", "'ayer'", "1.5"}},
      {{"'1753-01-01'", "'9999-12-31 23:59:59.997'", "'20261101'", "'2026-11-01T10:15:00.123'", "NULL"},
       {"'1752-12-31'", "-1", "GETDATE()", "2147483647"}},
  };
  // id and v are unique keys: mostly values not seen yet, so that rows go in; now and then one that is.
  int unico = 0;
  const auto valor = [&](std::size_t col) {
    const auto& v = valores[col];
    if (col == 8 && al(8) != 0) return "'u" + std::to_string(unico++) + "'";
    if (col == 0 && al(8) != 0) return std::to_string(1000 + unico++);
    return al(40) == 0 ? de(v.malos) : de(v.buenos);
  };
  const std::vector<std::string> nombres = {"id", "b", "ti", "si", "n", "d", "m", "c", "v", "sd", "dt"};
  Servidor rapido, general;
  general.RutaRapida(false);
  rapido.Reloj([] { return 1700000000000; });
  general.Reloj([] { return 1700000000000; });
  Igual(rapido, general, kTablas);
  for (int vuelta = 0; vuelta < 400; ++vuelta) {
    // A column list as the dump writes it, in brackets, or bare, or none; now and then a column twice,
    // an unknown one or the identity.
    std::vector<std::size_t> cols;
    for (std::size_t i = 1; i < nombres.size(); ++i)
      if (al(3)) cols.push_back(i);
    if (al(8) == 0) cols.push_back(al(nombres.size()));
    if (al(10) != 0 && std::find(cols.begin(), cols.end(), 8) == cols.end()) cols.push_back(8);
    const bool sinLista = al(10) == 0;
    std::string lote = al(6) == 0 ? "SET IDENTITY_INSERT T " + std::string(al(2) ? "ON" : "OFF") + "\n" : "";
    lote += al(2) ? "INSERT INTO [T] " : "insert into T ";
    if (!sinLista) {
      lote += "(";
      for (std::size_t k = 0; k < cols.size(); ++k)
        lote += (k ? ", " : "") + (al(2) ? "[" + nombres[cols[k]] + "]" : nombres[cols[k]]);
      if (al(20) == 0) lote += ", [x]";
      lote += ")";
    } else {
      cols.assign({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    }
    lote += al(2) ? " VALUES\n" : " values ";
    for (std::size_t f = 0, filas = 1 + al(6); f < filas; ++f) {
      lote += f ? (al(2) ? ",\n(" : ", (") : "(";
      const std::size_t cuantos = al(15) == 0 ? cols.size() + 1 - al(3) : cols.size();
      for (std::size_t k = 0; k < cuantos; ++k)
        lote += (k ? ", " : "") + valor(cols[std::min(k, cols.size() - 1)]);
      lote += ")";
    }
    if (al(8) == 0) lote += "\nSET IDENTITY_INSERT T OFF";
    if (al(10) == 0) lote += ";\nDBCC CHECKIDENT ('T', RESEED, 5)";
    if (al(12) == 0) lote = "BEGIN TRANSACTION\n" + lote;
    if (al(12) == 0) lote += "\nCOMMIT TRANSACTION";
    if (al(25) == 0) lote += " (1)";
    Igual(rapido, general, lote);
    if (rapido.NivelTransaccion() > 0) Igual(rapido, general, al(2) ? "COMMIT" : "ROLLBACK");
    if (al(10) == 0)
      Igual(rapido, general,
            "INSERT INTO [O'K] ([a b], [k]) VALUES (" + std::string(al(2) ? "'x'" : "NULL") + ", '" +
                std::to_string(al(4)) + (al(2) ? " '" : "'") + ")");
  }
  EXPECT_GT(rapido.SentenciasRapidas(), 250u) << "the fast path is hardly taken";
  EXPECT_EQ(general.SentenciasRapidas(), 0u);
  EXPECT_GT(std::stoi(*rapido.Ejecutar("SELECT COUNT(*) FROM T").filas[0][0]), 20) << "too few rows went in";
}

// A dump loads to the same state and the same bytes either way, and its rows take the fast path.
TEST(RutaRapida, UnVolcadoSeCargaIgual) {
  Servidor s;
  s.Ejecutar(kTablas);
  s.Ejecutar(
      "INSERT INTO T (v, c, d, sd) VALUES ('a', 'x''y', -1.5, '2000-01-01'), ('b\nGO\nc', NULL, 0, NULL)");
  for (int i = 0; i < 1200; ++i)
    s.Ejecutar("INSERT INTO T (n, v) VALUES (" + std::to_string(i) + ", 'f" + std::to_string(i) + "')");
  const std::string volcado = s.Script();
  Servidor rapido, general;
  general.RutaRapida(false);
  rapido.EjecutarScript(volcado);
  general.EjecutarScript(volcado);
  EXPECT_EQ(rapido.Script(), volcado);
  EXPECT_EQ(general.Script(), volcado);
  EXPECT_EQ(rapido.SentenciasRapidas(), 3u);
}

}  // namespace
