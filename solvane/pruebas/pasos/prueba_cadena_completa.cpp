// The whole chain on the demo database: statement record, final schema and data, a second run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "ArnesCadena.h"

namespace solvane::pruebas {
namespace {

const std::string kRegistroEsperado = std::string(DATOS_PRUEBA) + "/cadena_demo_0_a_30100.txt";

// One full run from version 0, shared by the tests of this file (it is the slow part).
class CadenaCompleta : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = new BaseDePrueba(ScriptDemo());
    corrida_ = new Corrida(base_->Correr(ConTarjetaCaja()));
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
    Escribir(grabar, todo);
  }
  const auto esperado = Lineas(kRegistroEsperado);
  const std::size_t n = std::min(esperado.size(), traza.size());
  for (std::size_t i = 0; i < n; ++i)
    ASSERT_EQ(traza[i], esperado[i]) << "primera diferencia en la linea " << i + 1 << " del registro";
  EXPECT_EQ(traza.size(), esperado.size());
}

// The schema the 3.0 and 3.1 steps leave, kept as data: one object per line (see the file's header).
TEST_F(CadenaCompleta, EsquemaFinal) {
  Lector l = Final();
  const auto collation = l.Valor(
      "Select COLLATION_NAME From information_schema.columns Where TABLE_NAME = 'TarjetaCaja' And "
      "COLUMN_NAME = "
      "'TRC_Empresa'");
  ASSERT_TRUE(collation && *collation != "NULL");
  std::size_t objetos = 0;
  for (const auto& linea : Lineas(std::string(DATOS_PRUEBA) + "/esquema_3x.txt")) {
    std::istringstream in(linea);
    std::string tipo, a, b;
    in >> tipo >> a >> b;
    if (tipo.empty() || tipo[0] == '#') continue;
    ++objetos;
    const std::string donde = "Where TABLE_NAME = '" + a + "' And COLUMN_NAME = '" + b + "'";
    if (tipo == "C") {
      std::vector<std::string> esperado(3);
      in >> esperado[0] >> esperado[1] >> esperado[2];
      EXPECT_EQ(
          l.Filas("Select DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, IS_NULLABLE From information_schema.columns " +
                  donde),
          (std::vector<std::vector<std::string>>{esperado}))
          << linea;
    } else if (tipo == "K") {
      EXPECT_EQ(l.Valor("Select COLLATION_NAME From information_schema.columns " + donde), collation)
          << linea;
    } else if (tipo == "D" || tipo == "PK") {
      EXPECT_TRUE(l.Existe("Select name From sysobjects Where xtype = '" + tipo + "' And name = '" + a + "'"))
          << linea;
    } else if (tipo == "IX") {
      EXPECT_TRUE(l.Existe("SELECT * FROM Sysindexes Where name = '" + b +
                           "' And Id=(Select id From Sysobjects Where name='" + a + "')"))
          << linea;
    } else {
      ADD_FAILURE() << "unknown line: " << linea;
    }
  }
  EXPECT_GT(objetos, 200u);
  EXPECT_FALSE(
      l.Existe("Select COLUMN_NAME From information_schema.columns Where TABLE_NAME = 'TransOFF' And "
               "COLUMN_NAME = 'OFF_CVC'"));
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
