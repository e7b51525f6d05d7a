// The ODBC engine against the SQLite ODBC driver and SQL Server (solvane-servidor through FreeTDS).
#include <gtest/gtest.h>

#include "BancoOdbc.h"

namespace solvane::pruebas {
namespace {

using Motor = ConBanco;

TEST_P(Motor, EjecutaYLeeLaPrimeraFilaPorNombreYPosicion) {
  auto m = banco->Conectado();
  EXPECT_FALSE(m->NombreServidor().empty());
  banco->CrearTabla(*m);
  m->Ejecutar("INSERT INTO " + banco->tabla + " (Id, Nombre, Importe) VALUES (1, 'Configuración', 1250.50)");
  m->Ejecutar("INSERT INTO " + banco->tabla + " (Id, Nombre, Importe) VALUES (2, 'otra', NULL)");

  const auto r =
      m->Consultar("SELECT Id, Nombre, Importe, Nota FROM " + banco->tabla + banco->dialecto.enOrden);
  ASSERT_EQ(r.Columnas.size(), 4u);
  EXPECT_EQ(r.Columnas[1], "Nombre");
  ASSERT_TRUE(r.Fila.has_value());
  EXPECT_EQ((*r.Fila)[0], "1");
  EXPECT_EQ((*r.Fila)[1], "Configuración");
  EXPECT_EQ((*r.Fila)[2], banco->dialecto.importe);
  EXPECT_EQ((*r.Fila)[3], std::nullopt);

  // No row: the column names are still there.
  const auto vacia = m->Consultar("SELECT Nombre FROM " + banco->tabla + " WHERE Id = 99");
  EXPECT_FALSE(vacia.Fila.has_value());
  EXPECT_EQ(vacia.Columnas, std::vector<std::string>{"Nombre"});
  // An UPDATE that matches nothing is not an error.
  EXPECT_NO_THROW(m->Ejecutar("UPDATE " + banco->tabla + " SET Nombre = 'x' WHERE Id = 99"));
}

// Values longer than one read buffer arrive whole.
TEST_P(Motor, UnValorLargoLlegaEntero) {
  auto m = banco->Conectado();
  banco->CrearTabla(*m);
  std::string largo;
  for (int i = 0; largo.size() < 3500; ++i) largo += std::to_string(i) + "-";
  m->Ejecutar("INSERT INTO " + banco->tabla + " (Id, Nota) VALUES (1, '" + largo + "')");
  const auto r = m->Consultar("SELECT Nota FROM " + banco->tabla);
  EXPECT_EQ(r.Fila.value()[0], largo);
}

// A whole set read row by row, over more rows than one fetch brings: every value as it was written (NULLs,
// accents and the euro sign, a long text among short ones), and a reader that stops halfway leaves the
// connection free for the next statement.
TEST_P(Motor, RecorrerTraeCadaFilaYSeDetieneCuandoSeLePide) {
  auto m = banco->Conectado();
  banco->CrearTabla(*m);
  constexpr int kFilas = 600;
  const std::string largo(3500, 'x');
  auto nombre = [](int i) { return i % 7 == 0 ? ValorCampo() : ValorCampo("ñ€ " + std::to_string(i)); };
  for (int desde = 1; desde <= kFilas; desde += 100) {
    std::string valores;
    for (int i = desde; i < desde + 100; ++i) {
      const ValorCampo n = nombre(i);
      valores += (i > desde ? ", (" : "(") + std::to_string(i) + ", " + (n ? "'" + *n + "'" : "NULL") + ", " +
                 (i % 5 == 0 ? "NULL" : std::to_string(i) + ".25") + ", " +
                 (i == 300 ? "'" + largo + "'" : "NULL") + ")";
    }
    m->Ejecutar("INSERT INTO " + banco->tabla + " (Id, Nombre, Importe, Nota) VALUES " + valores);
  }
  const std::string consulta =
      "SELECT Id, Nombre, Importe, Nota FROM " + banco->tabla + banco->dialecto.enOrden;
  int vistas = 0;
  const auto columnas = m->Recorrer(consulta, [&](const std::vector<ValorCampo>& f) {
    ++vistas;
    EXPECT_EQ(f.size(), 4u);
    if (f.size() != 4) return false;
    EXPECT_EQ(f[0], std::to_string(vistas));
    EXPECT_EQ(f[1], nombre(vistas));
    EXPECT_EQ(f[2].has_value(), vistas % 5 != 0) << vistas;
    if (f[2]) {
      EXPECT_EQ(f[2]->substr(0, f[2]->find('.')), std::to_string(vistas));
    }
    EXPECT_EQ(f[3], vistas == 300 ? ValorCampo(largo) : ValorCampo());
    return true;
  });
  EXPECT_EQ(vistas, kFilas);
  EXPECT_EQ(columnas, (std::vector<std::string>{"Id", "Nombre", "Importe", "Nota"}));

  vistas = 0;
  m->Recorrer(consulta, [&](const std::vector<ValorCampo>&) { return ++vistas < 300; });
  EXPECT_EQ(vistas, 300);
  EXPECT_EQ(m->Consultar("SELECT COUNT(*) FROM " + banco->tabla).Fila.value()[0], std::to_string(kFilas));
}

// The probe reads one row and lets the cursor go: the connection is free at once, and the one-row limit of
// the probe does not leak into the next statement.
TEST_P(Motor, LaSondaNoRetieneElCursorNiLimitaLaSentenciaSiguiente) {
  auto m = banco->Conectado();
  banco->CrearTabla(*m);
  for (int i = 1; i <= 50; ++i)
    m->Ejecutar("INSERT INTO " + banco->tabla + " (Id, Importe) VALUES (" + std::to_string(i) + ", 1)");
  const auto r = m->Consultar("SELECT Id FROM " + banco->tabla + banco->dialecto.enOrden);
  EXPECT_EQ(r.Fila.value()[0], "1");

  m->Ejecutar("UPDATE " + banco->tabla + " SET Importe = 2");
  const auto cambiadas = m->Consultar("SELECT COUNT(*) FROM " + banco->tabla + " WHERE Importe = 2");
  EXPECT_EQ(cambiadas.Fila.value()[0], "50");
  EXPECT_NO_THROW(m->Ejecutar("DROP TABLE " + banco->tabla));
}

TEST_P(Motor, UnaSentenciaRechazadaTraeElNumeroYElTextoDelServidor) {
  auto m = banco->Conectado();
  banco->CrearTabla(*m);
  try {
    m->Consultar("SELECT * FROM NoExiste");
    FAIL() << "la consulta debió fallar";
  } catch (const ErrorBD& e) {
    EXPECT_EQ(e.Numero, banco->dialecto.tablaInexistente);
    EXPECT_EQ(e.Descripcion, banco->dialecto.textoTablaInexistente);
  }
  m->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES (1)");
  try {
    m->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES (1)");
    FAIL() << "la clave duplicada debió fallar";
  } catch (const ErrorBD& e) {
    EXPECT_EQ(e.Numero, banco->dialecto.claveDuplicada);
    EXPECT_NE(e.Descripcion.find(banco->dialecto.textoClaveDuplicada), std::string::npos) << e.Descripcion;
    EXPECT_EQ(e.Descripcion.find('['), std::string::npos) << e.Descripcion;
  }
  // The connection survives its refused statements.
  EXPECT_EQ(banco->Contar(*m), 1);
}

TEST_P(Motor, ConfirmarGuardaDeshacerDescarta) {
  auto m = banco->Conectado();
  banco->CrearTabla(*m);
  EXPECT_FALSE(m->TransaccionAbierta());
  m->Comenzar();
  EXPECT_TRUE(m->TransaccionAbierta());
  m->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES (1)");
  m->Confirmar();
  EXPECT_FALSE(m->TransaccionAbierta());

  m->Comenzar();
  m->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES (2)");
  // A refused statement inside the transaction keeps it open and what came before it.
  EXPECT_THROW(m->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES (2)"), ErrorBD);
  EXPECT_TRUE(m->TransaccionAbierta());
  EXPECT_EQ(banco->Contar(*m), 2);
  m->Deshacer();
  EXPECT_FALSE(m->TransaccionAbierta());
  EXPECT_EQ(banco->Contar(*m), 1);

  // Back in autocommit: work now stands without a commit, seen from another connection.
  m->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES (3)");
  EXPECT_EQ(banco->Contar(*banco->Conectado()), 2);
  EXPECT_THROW(m->Confirmar(), ErrorBD);
}

// Disconnecting with a transaction open undoes it and lets its locks go: another connection can write
// the same table at once.
TEST_P(Motor, DesconectarConTransaccionAbiertaLaDeshaceYSueltaLosBloqueos) {
  auto m = banco->Conectado();
  banco->CrearTabla(*m);
  m->Comenzar();
  m->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES (1)");
  m->Desconectar();
  EXPECT_FALSE(m->TransaccionAbierta());
  EXPECT_THROW(m->Ejecutar("SELECT 1"), ErrorBD);

  auto otra = banco->Conectado();
  EXPECT_NO_THROW(otra->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES (2)"));
  EXPECT_EQ(banco->Contar(*otra), 1);

  // The engine can connect again after a disconnect, and a second disconnect is harmless.
  m->Conectar();
  EXPECT_EQ(banco->Contar(*m), 1);
  m->Desconectar();
  m->Desconectar();
}

INSTANTIATE_TEST_SUITE_P(Odbc, Motor, ::testing::Values("sqlite", "sqlserver"), NombreDelBanco);

using SoloSqlServer = ConBanco;

// SQL Server alone: the server ends the transaction itself on a conversion error, and an error in a later
// statement of a batch is reported even though the first one worked.
TEST_P(SoloSqlServer, ErroresQueSoloDaSqlServer) {
  auto m = banco->Conectado();
  banco->CrearTabla(*m);
  try {
    m->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES (1); INSERT INTO " + banco->tabla +
                " (Id) VALUES (1)");
    FAIL() << "la segunda sentencia del lote debió fallar";
  } catch (const ErrorBD& e) {
    EXPECT_EQ(e.Numero, 2627);
  }
  m->Comenzar();
  m->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES (2)");
  EXPECT_THROW(m->Ejecutar("INSERT INTO " + banco->tabla + " (Id) VALUES ('abc')"), ErrorBD);
  EXPECT_FALSE(m->TransaccionAbierta());
  m->Deshacer();
  EXPECT_EQ(banco->Contar(*m), 1);
}

INSTANTIATE_TEST_SUITE_P(Odbc, SoloSqlServer, ::testing::Values("sqlserver"), NombreDelBanco);

// Connection failures: a reason in words, never the password.
TEST(MotorOdbcConexion, UnDriverOUnArchivoEquivocadoDanUnErrorSinLaClave) {
  const std::string clave = "S3creta!x";
  const std::map<std::string, std::map<std::string, std::string>> casos = {
      {"driver", {{"cadena", "Driver=NoExisteDriver;Database=/tmp/x.db;PWD=" + clave}}},
      {"ruta", {{"cadena", "Driver=SQLite3;Database=/no/existe/carpeta/base.db"}, {"clave", clave}}},
      {"servidor",
       {{"cadena", "Driver=FreeTDS;Server=127.0.0.1;Port=1;Database=Pagora;TDS_Version=7.4"},
        {"usuario", "sa"},
        {"clave", clave},
        {"tiempoconexion", "3"}}},
  };
  for (const auto& [caso, ajustes] : casos) {
    auto m = CrearMotorOdbc(ajustes, "PagoraCliente.conexion");
    try {
      m->Conectar();
      ADD_FAILURE() << caso << ": debió fallar";
    } catch (const ErrorBD& e) {
      EXPECT_NE(e.Numero, 0) << caso;
      EXPECT_GT(e.Descripcion.size(), 20u) << caso;
      EXPECT_EQ(e.Descripcion.find(clave), std::string::npos) << caso << ": " << e.Descripcion;
      EXPECT_EQ(std::string(e.what()).find(clave), std::string::npos) << caso;
    }
    EXPECT_FALSE(m->TransaccionAbierta());
    EXPECT_THROW(m->Consultar("SELECT 1"), ErrorBD) << caso;
  }
}

TEST(MotorOdbcConexion, SinCadenaNoHayMotor) {
  try {
    CrearMotorOdbc({{"motor", "odbc"}}, "/etc/pagora/PagoraCliente.conexion");
    FAIL();
  } catch (const ErrorBD& e) {
    EXPECT_NE(e.Descripcion.find("/etc/pagora/PagoraCliente.conexion"), std::string::npos);
  }
}

}  // namespace
}  // namespace solvane::pruebas
