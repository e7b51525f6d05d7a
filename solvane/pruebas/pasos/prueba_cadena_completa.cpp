// The whole chain on the demo database: statement record, final schema and data, a second run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "ArnesCadena.h"

namespace solvane::pruebas {
namespace {

const std::string kRegistroEsperado = std::string(DATOS_PRUEBA) + "/cadena_demo_0_a_30100.txt";

// One full run from version 0, shared by the tests of this file (it is the slow part).
class CadenaCompleta : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = new BaseDePrueba(ScriptDemo());
    OpcionesCorrida op;
    op.despues.push_back(FilasTarjetaCaja());
    corrida_ = new Corrida(base_->Correr(op));
  }
  static void TearDownTestSuite() {
    delete corrida_;
    delete base_;
  }
  static Lector Final() { return Lector(corrida_->archivoDespues); }
  static BaseDePrueba* base_;
  static Corrida* corrida_;
};
BaseDePrueba* CadenaCompleta::base_ = nullptr;
Corrida* CadenaCompleta::corrida_ = nullptr;

TEST_F(CadenaCompleta, TerminaBienYGrabaLaVersion) {
  const Corrida& c = *corrida_;
  ASSERT_TRUE(c.finalizado) << c.Errores();
  EXPECT_TRUE(c.Pregunto());
  EXPECT_EQ(c.Errores(), "");
  EXPECT_EQ(c.descargado, 1);
  ASSERT_FALSE(c.mensajes.empty());
  EXPECT_EQ(c.mensajes.back().texto, kTextoFinalizado);
  EXPECT_EQ(VersionGrabada(c.archivoDespues), "30100");
}

// Every statement, probe and catalogue query of the run, with the places where the pump ran,
// against the record checked by hand. PASOS3_GRABAR=<file> writes the record seen, for review.
TEST_F(CadenaCompleta, RegistroDeSentencias) {
  const auto& traza = corrida_->traza;
  if (const char* grabar = std::getenv("PASOS3_GRABAR")) {
    std::string todo;
    for (const auto& l : traza) todo += l + "\n";
    EscribirArchivo(grabar, todo);
  }
  const auto esperado = LeerLineas(kRegistroEsperado);
  const std::size_t n = std::min(esperado.size(), traza.size());
  for (std::size_t i = 0; i < n; ++i)
    ASSERT_EQ(traza[i], esperado[i]) << "primera diferencia en la linea " << i + 1 << " del registro";
  EXPECT_EQ(traza.size(), esperado.size());
}

TEST_F(CadenaCompleta, EtiquetasDelFinalDeLaCadena) {
  const auto& e = corrida_->etiquetas;
  ASSERT_GE(e.size(), 11u);
  std::vector<std::string> esperadas;
  for (const char* v :
       {"3.0.0", "3.0.1", "3.0.2", "3.0.3", "3.0.4", "3.0.5", "3.0.6", "3.0.7", "3.0.8", "3.0.9", "3.1.0"})
    esperadas.push_back(std::string("Actualizando Version a ") + v);
  EXPECT_EQ(std::vector<std::string>(e.end() - 11, e.end()), esperadas);
  EXPECT_EQ(e.front(), "Actualizando Version a 2.5.0");
}

struct Columna {
  const char* tabla;
  const char* columna;
  const char* tipo;   // DATA_TYPE
  const char* largo;  // CHARACTER_MAXIMUM_LENGTH, "NULL" for non-character types
  const char* nulos;  // IS_NULLABLE
};

// Columns the 3.0 and 3.1 steps create or change, as the final database must hold them.
const Columna kColumnas[] = {
    {"TransOFF", "OFF_NroTarEnc", "varchar", "50", "NO"},
    {"Transaccion", "TRA_NroTarEnc", "varchar", "50", "NO"},
    {"Parametros", "PAR_DiaSinCierre", "tinyint", "NULL", "NO"},
    {"Tarjeta", "TAR_IngManual", "bit", "NULL", "NO"},
    {"Tarjeta", "TAR_IngPlan", "bit", "NULL", "NO"},
    {"TransOFF", "OFF_TrackI", "varchar", "180", "YES"},
    {"TransOFF", "OFF_TrackII", "varchar", "100", "YES"},
    {"TransOFF", "OFF_Venc", "varchar", "16", "YES"},
    {"TransOFF", "OFF_Titular", "varchar", "100", "YES"},
    {"Transaccion", "TRA_Titular", "varchar", "100", "YES"},
    {"Transaccion", "TRA_Venc", "varchar", "16", "YES"},
    {"Tarjeta", "TAR_Devolucion", "bit", "NULL", "NO"},
    {"Tarjeta", "TAR_Anulacion", "bit", "NULL", "NO"},
    {"Tarjeta", "TAR_CodAutorizNro", "bit", "NULL", "NO"},
    {"Tarjeta", "TAR_Propina", "bit", "NULL", "NO"},
    {"Transaccion", "TRA_MontoAdicional", "decimal", "NULL", "NO"},
    {"TransOFF", "OFF_MontoAdicional", "decimal", "NULL", "NO"},
    {"Locales", "Loc_Propina", "bit", "NULL", "NO"},
    {"TransOFF", "OFF_TransOff", "int", "NULL", "NO"},
    {"Parametros", "PAR_PorRetIVA", "decimal", "NULL", "NO"},
    {"Acreditada", "ACR_RetIva", "decimal", "NULL", "NO"},
    {"Transaccion", "TRA_Banco", "varchar", "50", "NO"},
    {"Tarjeta", "TAR_Tipo", "smallint", "NULL", "NO"},
    {"Tarjeta", "TAR_MontMIN", "decimal", "NULL", "NO"},
    {"Tarjeta", "TAR_MontMAX", "decimal", "NULL", "NO"},
    {"TarjetaCaja", "TRC_Empresa", "varchar", "6", "NO"},
    {"TarjetaCaja", "TRC_Caja", "char", "3", "NO"},
    {"TarjetaCaja", "TRC_CodTarjeta", "smallint", "NULL", "NO"},
    {"TarjetaCaja", "TRC_CodComercio", "varchar", "15", "NO"},
    {"TarjetaCaja", "TRC_CodComDolar", "varchar", "15", "NO"},
    {"TarjetaCaja", "TRC_IdTerminal", "varchar", "8", "NO"},
    {"TarjetaCaja", "TRC_WKey", "varchar", "50", "NO"},
    {"TarjetaCaja", "TRC_IDConcentrador", "int", "NULL", "NO"},
    {"TarjetaCaja", "TRC_CodComCierre", "varchar", "15", "NO"},
    {"TarjetaBanco", "BAN_Codigo", "smallint", "NULL", "NO"},
    {"TarjetaBanco", "BAN_CodTarjeta", "smallint", "NULL", "NO"},
    {"TarjetaBanco", "BAN_Banco", "varchar", "50", "NO"},
    {"TarjetaBanco", "BAN_Desde", "int", "NULL", "NO"},
    {"TarjetaBanco", "BAN_Hasta", "int", "NULL", "NO"},
    {"TarjetaBanco", "BAN_Largo", "smallint", "NULL", "NO"},
    {"Locales", "Loc_TipoIMP", "tinyint", "NULL", "NO"},
    {"Cajas", "Caj_TCPuerto", "tinyint", "NULL", "NO"},
    {"Cajas", "Caj_TCModelo", "tinyint", "NULL", "NO"},
    {"Rangos", "RAN_Debito", "tinyint", "NULL", "NO"},
    {"Transaccion", "TRA_TipoCuenta", "varchar", "2", "NO"},
    {"TransOFF", "OFF_TipoCuenta", "varchar", "2", "NO"},
    {"Transaccion", "TRA_NumeroCuenta", "varchar", "64", "NO"},
    {"TransOFF", "OFF_NumeroCuenta", "varchar", "64", "NO"},
    {"Transaccion", "TRA_Debito", "tinyint", "NULL", "NO"},
    {"TransOFF", "OFF_Debito", "tinyint", "NULL", "NO"},
    {"uTransaccion", "UTA_TipoProducto", "int", "NULL", "NO"},
    {"uTransaccion", "UTA_TransUN", "int", "NULL", "NO"},
    {"uTransaccion", "UTA_CodAutorizacion", "varchar", "10", "NO"},
    {"uTransaccion", "UTA_NroVale", "varchar", "10", "NO"},
    {"Parametros", "PAR_ICGImp", "bit", "NULL", "NO"},
    {"Parametros", "PAR_ICGServidor", "varchar", "50", "NO"},
    {"Parametros", "PAR_ICGBase", "varchar", "50", "NO"},
    {"Parametros", "PAR_ICGUsuario", "varchar", "50", "NO"},
    {"Parametros", "PAR_ICGClave", "varchar", "50", "NO"},
    {"Parametros", "PAR_ICGTipoImp", "smallint", "NULL", "NO"},
    {"uTransOFF", "UOF_TransOff", "int", "NULL", "NO"},
    {"uTransOFF", "UOF_Estado", "char", "1", "NO"},
    {"uTransOFF", "UOF_TransUN", "int", "NULL", "NO"},
    {"uTransOFF", "UOF_CodAutorizacion", "varchar", "10", "NO"},
    {"uTransOFF", "UOF_NroVale", "varchar", "10", "NO"},
    {"uTransOFF", "UOF_MontoTotal", "decimal", "NULL", "NO"},
    {"uTransOFF", "UOF_MontoEntregar", "decimal", "NULL", "NO"},
    {"uTransaccion", "UTA_MontoTotal", "decimal", "NULL", "NO"},
    {"uTransaccion", "UTA_MontoEntregar", "decimal", "NULL", "NO"},
    {"Acreditada", "ACR_Enviado", "bit", "NULL", "NO"},
    {"Acreditada", "ACR_FecFactura", "smalldatetime", "NULL", "NO"},
    {"Parametros", "PAR_CONExp", "smallint", "NULL", "NO"},
    {"Parametros", "PAR_CONApRE", "varchar", "150", "NO"},
    {"Parametros", "PAR_CONServRE", "varchar", "150", "NO"},
    {"uTarjeta", "UTA_Activa", "bit", "NULL", "NO"},
    {"TipoCambio", "TCA_Moneda", "tinyint", "NULL", "NO"},
    {"TipoCambio", "TCA_Fecha", "smalldatetime", "NULL", "NO"},
    {"TipoCambio", "TCA_TipCam", "decimal", "NULL", "NO"},
    {"TipoCambio", "TCA_Arbitraje", "decimal", "NULL", "NO"},
    {"TarjetaRubro", "TRU_Empresa", "varchar", "6", "NO"},
    {"TarjetaRubro", "TRU_CodTarjeta", "smallint", "NULL", "NO"},
    {"TarjetaRubro", "TRU_CodContable", "varchar", "12", "NO"},
    {"TarjetaRubro", "TRU_CierreD0", "varchar", "25", "NO"},
    {"TarjetaRubro", "TRU_AuxPago", "varchar", "25", "NO"},
    {"Concentrador", "CON_IDConcentrador", "smallint", "NULL", "NO"},
    {"Concentrador", "CON_Concentrador", "varchar", "30", "NO"},
    {"Tarjeta", "TAR_IDConcentrador", "int", "NULL", "NO"},
    {"TarjetaPlan", "TAP_Empresa", "varchar", "6", "NO"},
    {"TarjetaPlan", "TAP_CodTarjeta", "smallint", "NULL", "NO"},
    {"TarjetaPlan", "TAP_CodTarjetaPlan", "int", "NULL", "NO"},
    {"TarjetaPlan", "TAP_Descripcion", "varchar", "30", "NO"},
    {"TarjetaPlan", "TAP_Cuotas", "varchar", "50", "NO"},
    {"TarjetaPlan", "TAP_Plan", "varchar", "2", "NO"},
    {"TarjetaPlan", "TAP_TipoPlan", "varchar", "2", "NO"},
    {"TarjetaPlan", "TAP_Debito", "tinyint", "NULL", "NO"},
    {"TarjetaPlan", "TAP_OFF", "bit", "NULL", "NO"},
    {"TarjetaPlan", "TAP_Activo", "bit", "NULL", "NO"},
    {"TarjetaCajaPlan", "TCP_Empresa", "varchar", "6", "NO"},
    {"TarjetaCajaPlan", "TCP_Caja", "char", "3", "NO"},
    {"TarjetaCajaPlan", "TCP_IDConcentrador", "smallint", "NULL", "NO"},
    {"TarjetaCajaPlan", "TCP_IDTerminal", "varchar", "8", "NO"},
    {"TarjetaCajaPlan", "TCP_CodTarjeta", "smallint", "NULL", "NO"},
    {"TarjetaCajaPlan", "TCP_CodTarjetaPlan", "int", "NULL", "NO"},
    {"TarjetaCajaPlan", "TCP_CodComercio", "varchar", "15", "NO"},
    {"TarjetaCajaPlan", "TCP_CodComDolar", "varchar", "15", "NO"},
    {"TransOFF", "OFF_IDConcentrador", "int", "NULL", "NO"},
    {"TransOFF", "OFF_CodTarjetaPlan", "int", "NULL", "NO"},
    {"TransOFF", "OFF_IDTerminal", "varchar", "8", "NO"},
    {"TransOFF", "OFF_CodComercio", "varchar", "15", "NO"},
    {"Transaccion", "TRA_IDConcentrador", "int", "NULL", "NO"},
    {"Transaccion", "TRA_CodTarjetaPlan", "int", "NULL", "NO"},
    {"Transaccion", "TRA_IDTerminal", "varchar", "8", "NO"},
    {"Transaccion", "TRA_CodComercio", "varchar", "15", "NO"},
};

// The character columns that 3.1.0 creates, all with the collation of TarjetaCaja.TRC_Empresa.
const std::pair<const char*, const char*> kColumnasConCollation[] = {
    {"Concentrador", "CON_Concentrador"},
    {"TarjetaPlan", "TAP_Empresa"},
    {"TarjetaPlan", "TAP_Descripcion"},
    {"TarjetaPlan", "TAP_Cuotas"},
    {"TarjetaPlan", "TAP_Plan"},
    {"TarjetaPlan", "TAP_TipoPlan"},
    {"TarjetaCajaPlan", "TCP_Empresa"},
    {"TarjetaCajaPlan", "TCP_Caja"},
    {"TarjetaCajaPlan", "TCP_IDTerminal"},
    {"TarjetaCajaPlan", "TCP_CodComercio"},
    {"TarjetaCajaPlan", "TCP_CodComDolar"},
    {"TarjetaCaja", "TRC_CodComCierre"},
    {"TransOFF", "OFF_IDTerminal"},
    {"TransOFF", "OFF_CodComercio"},
    {"Transaccion", "TRA_IDTerminal"},
    {"Transaccion", "TRA_CodComercio"},
};

TEST_F(CadenaCompleta, EsquemaFinal) {
  Lector l = Final();
  for (const auto& c : kColumnas) {
    const auto filas = l.Filas(std::string("Select DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, IS_NULLABLE From "
                                           "information_schema.columns Where TABLE_NAME = '") +
                               c.tabla + "' And COLUMN_NAME = '" + c.columna + "'");
    ASSERT_EQ(filas.size(), 1u) << c.tabla << "." << c.columna;
    EXPECT_EQ(filas[0], (std::vector<std::string>{c.tipo, c.largo, c.nulos})) << c.tabla << "." << c.columna;
  }
  EXPECT_FALSE(
      l.Existe("Select COLUMN_NAME From information_schema.columns Where TABLE_NAME = 'TransOFF' And "
               "COLUMN_NAME = 'OFF_CVC'"));
  const auto collation = l.Valor(
      "Select COLLATION_NAME From information_schema.columns Where TABLE_NAME = 'TarjetaCaja' And "
      "COLUMN_NAME = "
      "'TRC_Empresa'");
  ASSERT_TRUE(collation && *collation != "NULL");
  for (const auto& [tabla, columna] : kColumnasConCollation)
    EXPECT_EQ(
        l.Valor(std::string("Select COLLATION_NAME From information_schema.columns Where TABLE_NAME = '") +
                tabla + "' And COLUMN_NAME = '" + columna + "'"),
        collation)
        << tabla << "." << columna;
}

TEST_F(CadenaCompleta, RestriccionesEIndices) {
  Lector l = Final();
  for (const char* d : {"DF_TransOFF_NroTarEnc",
                        "DF_Transaccion_NroTarEnc",
                        "DF_Parametros_DiaSinCierre",
                        "DF_Tarjeta_IngManual",
                        "DF_Tarjeta_IngPlan",
                        "DF_Tarjeta_Devolucion",
                        "DF_Tarjeta_Anulacion",
                        "DF_Tarjeta_TAR_CodAutorizNro",
                        "DF_Tarjeta_TAR_Propina",
                        "DF_Transaccion_TRA_MontoAdicional",
                        "DF_TransOFF_OFF_MontoAdicional",
                        "DF_Local_Loc_Propina",
                        "DF_Parametros_PAR_PorRetIVA",
                        "DF_Acreditada_ACR_RetIva",
                        "DF_Transaccion_TRA_Banco",
                        "DF_Tarjeta_TAR_Tipo",
                        "DF_Tarjeta_TAR_MontMIN",
                        "DF_Tarjeta_TAR_MontMAX",
                        "DF_Local_Loc_TipoIMP",
                        "DF_Cajas_Caj_TCPuerto",
                        "DF_Cajas_Caj_TCModelo",
                        "DF_Rango_RAN_Debito",
                        "DF_TarjetaCaja_TRC_WKey",
                        "DF_Transaccion_TRA_TipoCuenta",
                        "DF_TransOFF_OFF_TipoCuenta",
                        "DF_Transaccion_TRA_NumeroCuenta",
                        "DF_TransOFF_OFF_NumeroCuenta",
                        "DF_Transaccion_TRA_Debito",
                        "DF_TransOFF_OFF_Debito",
                        "DF_uTransaccion_UTA_TransUN",
                        "DF_uTransaccion_UTA_CodAutorizacion",
                        "DF_uTransaccion_UTA_NroVale",
                        "DF_Paramtros_PAR_ICGImp",
                        "DF_Paramtros_PAR_ICGServidor",
                        "DF_Paramtros_PAR_ICGBase",
                        "DF_Paramtros_PAR_ICGUsuario",
                        "DF_Paramtros_PAR_ICGClave",
                        "DF_Paramtros_PAR_ICGTipoImp",
                        "DF_uTransOFF_UOF_Estado",
                        "DF_uTransOFF_UOF_TransUN",
                        "DF_uTransOFF_UOF_CodAutorizacion",
                        "DF_uTransOFF_UOF_NroVale",
                        "DF_uTransOFF_UOF_MontoTotal",
                        "DF_uTransOFF_UOF_MontoEntregar",
                        "DF_uTransaccion_UTA_MontoTotal",
                        "DF_uTransaccion_UTA_MontoEntregar",
                        "DF_Acreditada_ACR_Enviado",
                        "DF_Acreditada_ACR_FecFactura",
                        "DF_Paramtros_PAR_CONExp",
                        "DF_Paramtros_PAR_CONApRE",
                        "DF_Paramtros_PAR_CONServRE",
                        "DF_uTarjta_UTA_Activa",
                        "DF_Tarjeta_TAR_IDConcentrador",
                        "DF_TarjetaCaja_TRC_CodComCierre",
                        "DF_TarjetaCaja_TRC_CodComercio",
                        "DF_TarjetaCaja_TRC_CodComDolar",
                        "DF_TarjetaCaja_TRC_CodTarjeta",
                        "DF_TransOFF_OFF_IDConcentrador",
                        "DF_TransOFF_OFF_CodTarjetaPlan",
                        "DF_TransOFF_OFF_IDTerminal",
                        "DF_TransOFF_OFF_CodComercio",
                        "DF_Transaccion_TRA_IDConcentrador",
                        "DF_Transaccion_TRA_CodTarjetaPlan",
                        "DF_Transaccion_TRA_IDTerminal",
                        "DF_Transaccion_TRA_CodComercio"})
    EXPECT_TRUE(l.Existe(std::string("Select name From sysobjects Where xtype = 'D' And name = '") + d + "'"))
        << d;
  for (const char* pk : {"PK_TarjetaCaja", "PK_TarjetaBanco", "PK_TipoCambio", "PK_TarjetaRubro",
                         "PK_Concentrador", "PK_TarjetaPlan", "PK_TarjetaCajaPlan"})
    EXPECT_TRUE(
        l.Existe(std::string("Select name From sysobjects Where xtype = 'PK' And name = '") + pk + "'"))
        << pk;
  const std::pair<const char*, const char*> indices[] = {{"Transaccion", "IX_Transaccion_Caja"},
                                                         {"Transaccion", "IX_Transaccion_ECT"},
                                                         {"TransOFF", "IX_TransOFF_ECT"},
                                                         {"Transaccion", "IX_Transaccion_ECC"}};
  for (const auto& [tabla, indice] : indices)
    EXPECT_TRUE(l.Existe(std::string("SELECT * FROM Sysindexes Where name = '") + indice +
                         "' And Id=(Select id From Sysobjects Where name='" + tabla + "')"))
        << indice;
  // PK_TipoCambio is the one nonclustered key; the others are clustered (indid 1).
  EXPECT_EQ(l.Valor("Select indid From sysindexes Where name = 'PK_TarjetaCaja'"), "1");
  EXPECT_NE(l.Valor("Select indid From sysindexes Where name = 'PK_TipoCambio'"), "1");
}

// The key of TarjetaCaja after 3.1.0: the card code left it, the concentrator and terminal came in.
TEST_F(CadenaCompleta, TarjetaCajaReclaveada) {
  Lector l = Final();
  auto& s = l.Servidor();
  const std::string ins =
      "INSERT INTO TarjetaCaja (TRC_Empresa,TRC_IDConcentrador,TRC_Caja,TRC_IDTerminal,TRC_CodTarjeta,"
      "TRC_CodComercio,TRC_CodComDolar) VALUES ";
  // Same company, cash desk and card as an existing row, another terminal: the old key refused this.
  EXPECT_NO_THROW(s.Ejecutar(ins + "('000001',1,'001','T0010002',1,'x','y')"));
  try {
    s.Ejecutar(ins + "('000001',1,'001','T0010001',7,'x','y')");
    ADD_FAILURE() << "duplicate of the new key accepted";
  } catch (const simulado::ErrorSql& e) {
    EXPECT_EQ(e.numero, 2627);
    EXPECT_NE(e.descripcion.find("PK_TarjetaCaja"), std::string::npos) << e.descripcion;
  }
  // Defaults added by 3.1.0: a row giving only the key takes '' , '' , 0 and ''.
  s.Ejecutar(
      "INSERT INTO TarjetaCaja (TRC_Empresa,TRC_IDConcentrador,TRC_Caja,TRC_IDTerminal) VALUES "
      "('000009',3,'009','T9')");
  EXPECT_EQ(
      l.Filas("Select TRC_CodComercio, TRC_CodComDolar, TRC_CodTarjeta, TRC_CodComCierre, TRC_WKey From "
              "TarjetaCaja Where TRC_Empresa = '000009'"),
      (std::vector<std::vector<std::string>>{{"", "", "0", "", ""}}));
  EXPECT_EQ(
      l.Ordenadas("Select TRC_Empresa, TRC_Caja, TRC_CodTarjeta, TRC_IDConcentrador From TarjetaCaja Where "
                  "TRC_Empresa = '000001' And TRC_IdTerminal <> 'T0010002'"),
      (std::vector<std::vector<std::string>>{
          {"000001", "001", "1", "1"}, {"000001", "001", "2", "2"}, {"000001", "002", "4", "4"}}));
}

// Data the steps fill: concentrators from the cards as they were before 'Lider', plans copied from
// TarjetaCaja before it had a concentrator, the ranges of card 1, the permissions.
TEST_F(CadenaCompleta, DatosFinales) {
  Lector l = Final();
  using Filas = std::vector<std::vector<std::string>>;
  EXPECT_EQ(l.Ordenadas("Select CON_IDConcentrador, CON_Concentrador From Concentrador"),
            (Filas{{"1", "VISA"},
                   {"2", "MasterCard"},
                   {"4", "OCA"},
                   {"7", "ITalcred"},
                   {"12", "Creditel"},
                   {"14", "PassCard"},
                   {"51", "Movistar"}}));
  EXPECT_EQ(
      l.Ordenadas("Select TAR_Cod, TAR_IDConcentrador, TAR_Propina, TAR_Tipo, TAR_MontMIN, TAR_MontMAX From "
                  "Tarjeta"),
      (Filas{{"1", "1", "1", "1", "0.00", "0.00"},
             {"2", "2", "1", "1", "0.00", "0.00"},
             {"4", "4", "1", "1", "0.00", "0.00"},
             {"7", "7", "0", "1", "0.00", "0.00"},
             {"12", "12", "0", "1", "0.00", "0.00"},
             {"14", "14", "0", "1", "0.00", "0.00"},
             {"15", "1", "0", "1", "0.00", "0.00"},
             {"51", "51", "0", "3", "100.00", "1000.00"}}));
  EXPECT_EQ(l.Ordenadas("Select TCP_Empresa, TCP_IDConcentrador, TCP_Caja, TCP_IDTerminal, TCP_CodTarjeta, "
                        "TCP_CodTarjetaPlan, TCP_CodComercio, TCP_CodComDolar From TarjetaCajaPlan"),
            (Filas{{"000001", "1", "001", "T0010001", "1", "0", "110000001", "110000901"},
                   {"000001", "2", "001", "T0010001", "2", "0", "220000001", "220000901"},
                   {"000001", "4", "002", "T0020001", "4", "0", "440000002", ""}}));
  EXPECT_EQ(
      l.Ordenadas("Select RAN_Largo, RAN_Desde, RAN_Hasta, RAN_Debito From Rangos Where RAN_CodTarjeta = 1"),
      (Filas{{"12", "50", "69", "1"},
             {"13", "50", "69", "1"},
             {"14", "50", "69", "1"},
             {"15", "50", "69", "1"},
             {"16", "4", "4", "0"},
             {"16", "50", "50", "1"},
             {"16", "51", "56", "0"},
             {"16", "57", "69", "1"},
             {"17", "50", "69", "1"},
             {"18", "50", "69", "1"},
             {"19", "50", "69", "1"}}));
  EXPECT_EQ(
      l.Ordenadas("Select RAN_CodTarjeta, RAN_Desde, RAN_Hasta, RAN_Largo, RAN_Debito From Rangos Where "
                  "RAN_CodTarjeta <> 1"),
      (Filas{{"2", "51", "55", "16", "0"},
             {"4", "589883", "589883", "16", "0"},
             {"7", "504338", "504338", "16", "0"},
             {"12", "601933", "601933", "16", "0"},
             {"14", "628026", "628026", "16", "0"},
             {"15", "50109", "50110", "16", "0"},
             {"51", "94", "95", "8", "0"}}));
  // 10030001 of 2.5.14 lives on as 10010900 with the description of 3.1.0.
  EXPECT_EQ(l.Filas("Select Seg_Descri From Seguridad Where Seg_Codigo = '10010900'"),
            (Filas{{"     Tarjeta Plan Venta"}}));
  EXPECT_FALSE(l.Existe("Select Seg_Codigo From Seguridad Where Seg_Codigo = '10030001'"));
  EXPECT_EQ(l.Filas("Select UTA_Cod, UTA_Desc From uTarjeta Where UTA_Cod = 3"), (Filas{{"3", "PRONTO"}}));
  // Concentrator columns of the transactions take the card code; off-line rows were numbered.
  EXPECT_FALSE(
      l.Existe("Select TRA_Transaccion From Transaccion Where TRA_IDConcentrador <> TRA_CodTarjeta"));
  EXPECT_FALSE(l.Existe("Select OFF_Transaccion From TransOFF Where OFF_IDConcentrador <> OFF_CodTarjeta"));
  EXPECT_EQ(l.Ordenadas("Select OFF_TransOff From TransOFF"), (Filas{{"1"}, {"2"}}));
  EXPECT_FALSE(l.Existe("Select ACR_IDAcredita From Acreditada Where ACR_FecFactura <> ACR_FecCobro"));
  EXPECT_EQ(l.Valor("Select ACR_FecFactura From Acreditada"), l.Valor("Select ACR_FecCobro From Acreditada"));
}

// A second click finds the database current: no question, no statement but the version read.
TEST_F(CadenaCompleta, SegundaCorridaNoPreguntaNada) {
  BaseDePrueba b(corrida_->archivoDespues);
  const Corrida c = b.Correr();
  EXPECT_TRUE(c.finalizado);
  EXPECT_FALSE(c.Pregunto());
  EXPECT_TRUE(c.etiquetas.empty());
  for (const auto& l : c.traza) EXPECT_EQ(l.rfind("E ", 0), std::string::npos) << l;
  EXPECT_EQ(c.archivoDespues, corrida_->archivoDespues);
}

}  // namespace
}  // namespace solvane::pruebas
