// Edge cases of the steps to 3.0.0 through 3.1.0 on databases prepared for each.
#include <gtest/gtest.h>

#include <map>

#include "ArnesCadena.h"

namespace solvane::pruebas {
namespace {

using Filas = std::vector<std::vector<std::string>>;

// The prepared databases are built by the chain itself; each is made once for the whole file.
const std::string& DemoCacheada(std::int16_t version) {
  static std::map<std::int16_t, std::string> cache;
  auto it = cache.find(version);
  if (it == cache.end()) it = cache.emplace(version, DemoEn(version)).first;
  return it->second;
}

// `script` with `sentencias` applied: what a shop's database may hold beyond what the chain made.
std::string Con(const std::string& script, const std::vector<std::string>& sentencias) {
  simulado::Servidor s;
  s.EjecutarScript(script);
  for (const auto& x : sentencias) s.Ejecutar(x);
  return s.Script();
}

std::vector<std::string> Ejecutadas(const Corrida& c) {
  std::vector<std::string> r;
  for (const auto& l : c.traza)
    if (l.rfind("E ", 0) == 0) r.push_back(l.substr(2));
  return r;
}

bool Contiene(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

const char* const kRangos16 =
    "Select RAN_Desde, RAN_Hasta, RAN_Debito From Rangos Where RAN_CodTarjeta = 1 And RAN_Largo = 16";

const char* const kUpdate5056 =
    "UpDate Rangos Set RAN_Desde = 51, RAN_Hasta = 56 WHERE RAN_CodTarjeta = 1 And RAN_Desde =50 And "
    "RAN_Debito=0 "
    "And RAN_Largo=16";
const char* const kDelete50 =
    "DELETE FROM Rangos WHERE RAN_CodTarjeta = 1 And RAN_Desde =50 And RAN_Debito=0 And RAN_Largo=16";
const char* const kInsert5156 =
    "Insert Into Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo,RAN_Debito) Values(1,51,56,16,0)";

struct CasoBloqueC {
  const char* nombre;
  std::vector<std::string> preparacion;
  const char* esperada;  // the one statement of 22 that must run, or nullptr for none
};

class RangosTarjeta1Largo16 : public ::testing::TestWithParam<CasoBloqueC> {};

// Whatever card 1 held for length 16, it ends with 50 debit, 51..56 not debit, 57..69 debit, and
// its other ranges (4..4 here) untouched.
TEST_P(RangosTarjeta1Largo16, QuedanLosTresTramos) {
  const auto& caso = GetParam();
  BaseDePrueba b(Con(DemoCacheada(30004), caso.preparacion));
  OpcionesCorrida op;
  op.version = 30005;
  const Corrida c = b.Correr(op);
  ASSERT_TRUE(c.finalizado) << c.Errores();
  const auto e = Ejecutadas(c);
  for (const char* s : {kUpdate5056, kDelete50, kInsert5156})
    EXPECT_EQ(Contiene(e, s), caso.esperada && std::string(caso.esperada) == s) << s;
  Lector l(c.archivoDespues);
  EXPECT_EQ(l.Ordenadas(kRangos16),
            (Filas{{"4", "4", "0"}, {"50", "50", "1"}, {"51", "56", "0"}, {"57", "69", "1"}}));
}

const char* const kSacarViejo = "DELETE FROM Rangos WHERE RAN_CodTarjeta = 1 And RAN_Desde = 50";
const char* const kPonerNuevo =
    "INSERT INTO Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo) VALUES (1,51,56,16)";

INSTANTIATE_TEST_SUITE_P(
    Casos, RangosTarjeta1Largo16,
    ::testing::Values(
        CasoBloqueC{"ViejoSoloSeReescribe", {}, kUpdate5056},
        CasoBloqueC{"ViejoYNuevoSeBorraElViejo", {kPonerNuevo}, kDelete50},
        CasoBloqueC{"NingunoSeInserta", {kSacarViejo}, kInsert5156},
        CasoBloqueC{"SoloNuevoNadaCambia", {kSacarViejo, kPonerNuevo}, nullptr},
        // A debit 50..50 already there (debit column added by hand) is not what 22 rewrites.
        CasoBloqueC{
            "DebitoYaPresenteNoSeToca",
            {"ALTER TABLE Rangos ADD RAN_Debito TINYINT NOT NULL CONSTRAINT DF_Rango_RAN_Debito DEFAULT 0",
             "INSERT INTO Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo,RAN_Debito) VALUES "
             "(1,50,50,16,1)"},
            kUpdate5056}),
    [](const ::testing::TestParamInfo<CasoBloqueC>& i) { return std::string(i.param.nombre); });

// OFF_CVC is widened by 3.0.0 and then dropped by 3.0.3, in that order.
TEST(Pasos3_0, OffCvcSeEnsanchaYLuegoSeQuita) {
  BaseDePrueba b(DemoCacheada(20516));
  const Corrida c = b.Correr(ConTarjetaCaja(30003));
  ASSERT_TRUE(c.finalizado) << c.Errores();
  const auto e = Ejecutadas(c);
  const auto ensancha =
      std::find(e.begin(), e.end(), "ALTER TABLE TransOFF ALTER COLUMN OFF_CVC VarChar(16)");
  const auto quita = std::find(e.begin(), e.end(), "ALTER TABLE TransOFF DROP Column OFF_CVC");
  ASSERT_NE(ensancha, e.end());
  ASSERT_NE(quita, e.end());
  EXPECT_LT(ensancha, quita);
  Lector l(c.archivoDespues);
  EXPECT_FALSE(
      l.Existe("Select COLUMN_NAME From information_schema.columns Where TABLE_NAME = 'TransOFF' And "
               "COLUMN_NAME = 'OFF_CVC'"));
  // Propina only for the cards that had it before the column existed.
  EXPECT_EQ(l.Ordenadas("Select TAR_Cod From Tarjeta Where TAR_Propina = 1"), (Filas{{"1"}, {"2"}, {"4"}}));
}

// A refused statement of a 3.0 step passes up to the operator's command: "Error Act BD - ", no step
// message, no driver message, the progress window left up, and nothing saved.
void EsperarFallaDePaso30(const Corrida& c, const std::string& original, const std::string& descripcion) {
  EXPECT_FALSE(c.finalizado);
  EXPECT_TRUE(c.archivoDespues == original);
  ASSERT_EQ(c.Errores(), "Error Act BD - " + descripcion);
  EXPECT_EQ(c.descargado, 0);
  for (const auto& l : c.traza) EXPECT_NE(l, "COMMIT");
}

TEST(Pasos3_0, TipoProductoNuloHaceFallarElPaso305) {
  const std::string original = Con(
      DemoCacheada(30004),
      {"ALTER TABLE uTransaccion ALTER COLUMN UTA_TipoProducto tinyint NULL",
       "INSERT INTO uTransaccion "
       "(UTA_Empresa,UTA_Transaccion,UTA_Referencia,UTA_Local,UTA_Caja,UTA_Operacion,"
       "UTA_Monto,UTA_Moneda,UTA_Puntos,UTA_TipoProducto,UTA_CodTarjeta,UTA_NroTarjeta,UTA_Fecha,UTA_Hora,"
       "UTA_NroDocumento,UTA_Ticket,UTA_Terminal,UTA_SaldoTarjeta,UTA_TransPuntos,UTA_NroDocOriginal,"
       "UTA_IDAcredita,UTA_Enviado,UTA_Estado) VALUES ('000001',1,0,'000001','001','C',10.00,'P',1,NULL,1,"
       "'4509790112684851','2026-11-02 10:15:00','10:15:32','',1,'T1',0,0,'',0,0,'N')"});
  BaseDePrueba b(original);
  const Corrida c = b.Correr();
  EsperarFallaDePaso30(c, original,
                       "Cannot insert the value NULL into column 'UTA_TipoProducto', table "
                       "'base.dbo.uTransaccion'; column does not allow nulls. UPDATE fails.");
  EXPECT_EQ(c.etiquetas.back(), "Actualizando Version a 3.0.5");
}

TEST(Pasos3_0, FechaDeCobroNulaHaceFallarElPaso309) {
  const std::string original =
      Con(DemoCacheada(30008),
          {"ALTER TABLE Acreditada ALTER COLUMN ACR_FecCobro smalldatetime NULL",
           "INSERT INTO Acreditada (ACR_Empresa,ACR_CodTarjeta,ACR_IDAcredita,ACR_Puntos,"
           "ACR_Factura,ACR_FecCobro,ACR_Hora) VALUES ('000001',4,2,10,'A0012346',NULL,'18:00:00')"});
  BaseDePrueba b(original);
  const Corrida c = b.Correr();
  EsperarFallaDePaso30(c, original,
                       "Cannot insert the value NULL into column 'ACR_FecFactura', table "
                       "'base.dbo.Acreditada'; column does not allow nulls. UPDATE fails.");
  EXPECT_EQ(c.etiquetas, (std::vector<std::string>{"Actualizando Version a 3.0.9"}));
}

// A permission table holding an old code and its new one cannot take the renumbering.
TEST(Pasos3_0, CodigoNuevoYViejoJuntosHacenFallarElPaso305) {
  const std::string original = Con(
      DemoCacheada(30004),
      {"Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values ('20010000','Viejo',1,1)",
       "Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values ('20110000','Nuevo',1,1)"});
  BaseDePrueba b(original);
  const Corrida c = b.Correr();
  EXPECT_FALSE(c.finalizado);
  EXPECT_TRUE(c.archivoDespues == original);
  EXPECT_EQ(c.Errores().rfind("Error Act BD - Violation of PRIMARY KEY constraint 'PK_Seguridad'", 0), 0u)
      << c.Errores();
}

TEST(Pasos3_0, PermisosRenumerados) {
  const std::map<std::string, std::string> cambios = {
      {"20010000", "20110000"}, {"20010500", "20110500"}, {"20011000", "20111000"}, {"20011500", "20111500"},
      {"20012000", "20112000"}, {"10020000", "10010100"}, {"10011500", "10010200"}, {"10012000", "10010700"},
      {"10030000", "10010800"}, {"30010000", "30110000"}, {"30010500", "30110500"}, {"30020000", "30120000"},
      {"30020500", "30120500"}};
  std::vector<std::string> prep;
  prep.reserve(cambios.size() + 3);
  for (const auto& [viejo, nuevo] : cambios)
    prep.push_back("Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values ('" + viejo +
                   "','P" + viejo + "',1,1)");
  for (const char* c : {"10011100", "10011200", "10099999"})
    prep.push_back(
        std::string("Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values ('") + c +
        "','Antes',1,1)");
  BaseDePrueba b(Con(DemoCacheada(30004), prep));
  OpcionesCorrida op;
  op.version = 30005;
  const Corrida c = b.Correr(op);
  ASSERT_TRUE(c.finalizado) << c.Errores();
  Lector l(c.archivoDespues);
  for (const auto& [viejo, nuevo] : cambios) {
    EXPECT_FALSE(l.Existe("Select Seg_Codigo From Seguridad Where Seg_Codigo = '" + viejo + "'")) << viejo;
    EXPECT_EQ(l.Valor("Select Seg_Descri From Seguridad Where Seg_Codigo = '" + nuevo + "'"), "P" + viejo)
        << nuevo;
  }
  // 10030001 of 2.5.14 moves too.
  EXPECT_EQ(l.Valor("Select Seg_Descri From Seguridad Where Seg_Codigo = '10010900'"), "     Tarjeta Tipo");
  EXPECT_EQ(l.Valor("Select Seg_Descri From Seguridad Where Seg_Codigo = '10011100'"),
            "     Tarjetas Servicios");
  EXPECT_EQ(l.Valor("Select Seg_Descri From Seguridad Where Seg_Codigo = '10011200'"),
            "     Tarjetas Consulta");
  EXPECT_EQ(l.Valor("Select Seg_Descri From Seguridad Where Seg_Codigo = '10099999'"), "Antes");
}

// Seeds never overwrite: any range of card 12, a card 51 or 15, a uTarjeta 3 already there stay as they are.
TEST(Pasos3_0, SemillasRespetanLoExistente) {
  const std::string original =
      Con(DemoCacheada(20516),
          {"INSERT INTO Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo) VALUES (12,1,1,19)",
           "INSERT INTO Tarjeta (TAR_Cod,TAR_Desc,TAR_Orden,TAR_Control,TAR_CI,TAR_CVC) VALUES "
           "(51,'Propia51','x',1,1,1)",
           "INSERT INTO Tarjeta (TAR_Cod,TAR_Desc,TAR_Orden,TAR_Control,TAR_CI,TAR_CVC) VALUES "
           "(15,'Propia15','x',1,1,1)",
           Lector(DemoCacheada(20516)).Existe("Select Uta_Cod From uTarjeta Where Uta_Cod = 3")
               ? "UpDate uTarjeta Set Uta_Desc = 'OTRO' Where Uta_Cod = 3"
               : "Insert Into uTarjeta (Uta_Cod,Uta_Desc) Values (3,'OTRO')"});
  BaseDePrueba b(original);
  const Corrida c = b.Correr(ConTarjetaCaja());
  ASSERT_TRUE(c.finalizado) << c.Errores();
  Lector l(c.archivoDespues);
  EXPECT_EQ(l.Filas("Select RAN_Desde, RAN_Hasta, RAN_Largo From Rangos Where RAN_CodTarjeta = 12"),
            (Filas{{"1", "1", "19"}}));
  EXPECT_EQ(
      l.Ordenadas("Select TAR_Desc, TAR_Tipo, TAR_MontMAX, TAR_IDConcentrador From Tarjeta Where TAR_Cod In "
                  "(15, 51)"),
      (Filas{{"Propia15", "1", "0.00", "15"}, {"Propia51", "1", "0.00", "51"}}));
  EXPECT_EQ(l.Filas("Select UTA_Desc From uTarjeta Where UTA_Cod = 3"), (Filas{{"OTRO"}}));
  EXPECT_EQ(l.Valor("Select CON_Concentrador From Concentrador Where CON_IDConcentrador = 15"), "Propia15");
}

// A second pass over the migrated database from 2.5.16: only the widenings, the type of
// UTA_TipoProducto, the permission updates and the two descriptions run, and nothing changes.
TEST(Pasos3_0, SegundaPasadaNoCambiaNada) {
  const std::string final = DemoCacheada(30100);
  BaseDePrueba b(ConVersion(final, 20516));
  const Corrida c = b.Correr();
  ASSERT_TRUE(c.finalizado) << c.Errores();
  const auto e = Ejecutadas(c);
  std::vector<std::string> esperadas = {
      "ALTER TABLE TransOFF ALTER COLUMN OFF_TrackI VarChar(180)",
      "ALTER TABLE TransOFF ALTER COLUMN OFF_TrackII VarChar(100)",
      "ALTER TABLE TransOFF ALTER COLUMN OFF_Venc VarChar(16)",
      "ALTER TABLE TransOFF ALTER COLUMN OFF_Titular VarChar(100)",
      "ALTER TABLE Transaccion ALTER COLUMN TRA_Titular VarChar(100)",
      "ALTER TABLE Transaccion ALTER COLUMN TRA_Venc VarChar(16)",
      "ALTER TABLE uTransaccion ALTER COLUMN UTA_TipoProducto int NOT NULL"};
  const auto desde =
      std::find(e.begin(), e.end(), "UpDate Seguridad Set Seg_Codigo='20110000' Where Seg_Codigo='20010000'");
  ASSERT_NE(desde, e.end());
  const std::vector<std::string> antesDePermisos(e.begin(), desde);
  EXPECT_EQ(antesDePermisos, esperadas);
  EXPECT_EQ(e.end() - desde, 16 + 2 + 1);
  EXPECT_EQ(e.back(), "UpDate Parametros Set PAR_Version = 30100");
  EXPECT_EQ(c.archivoDespues, final);
}

// 3.1.0 again: only the two permission descriptions are set (and set back when someone changed them).
TEST(Paso3_1_0, SegundaPasadaSoloLasDosDescripciones) {
  const std::string final = DemoCacheada(30100);
  BaseDePrueba b(Con(ConVersion(final, 30009),
                     {"UpDate Seguridad Set Seg_Descri = 'Cambiada' Where Seg_Codigo = '10010900'"}));
  const Corrida c = b.Correr();
  ASSERT_TRUE(c.finalizado) << c.Errores();
  EXPECT_EQ(Ejecutadas(c),
            (std::vector<std::string>{
                "UpDate Seguridad Set Seg_Descri='     Tarjeta Plan Venta' Where Seg_Codigo = '10010900'",
                "UpDate Seguridad Set Seg_Descri='     Tarjeta Comision' Where Seg_Codigo = '10010800'",
                "UpDate Parametros Set PAR_Version = 30100"}));
  EXPECT_EQ(c.archivoDespues, final);
}

// Without TarjetaCaja there is no collation to copy: the clause is empty (two blanks before NOT NULL),
// the copy into TarjetaCajaPlan fails, and the step reports it with its own message.
TEST(Paso3_1_0, SinTarjetaCajaLaClausulaQuedaVaciaYElPasoFalla) {
  const std::string original = Con(DemoCacheada(30009), {"DROP TABLE TarjetaCaja"});
  BaseDePrueba b(original);
  const Corrida c = b.Correr();
  EXPECT_FALSE(c.finalizado);
  EXPECT_TRUE(c.archivoDespues == original);
  const auto e = Ejecutadas(c);
  ASSERT_GE(e.size(), 4u);
  EXPECT_EQ(
      e[2],
      "CREATE TABLE [Concentrador] ( [CON_IDConcentrador] [smallint] NOT NULL ,[CON_Concentrador] [varchar] "
      "(30)  NOT NULL ,CONSTRAINT [PK_Concentrador] PRIMARY KEY  CLUSTERED ([CON_IdConcentrador]) WITH  "
      "FILLFACTOR = 90  ON [PRIMARY]) ON [PRIMARY]");
  const auto plan = std::find_if(e.begin(), e.end(), [](const std::string& x) {
    return x.rfind("CREATE TABLE [TarjetaCajaPlan]", 0) == 0;
  });
  ASSERT_NE(plan, e.end());
  EXPECT_NE(plan->find("[TCP_Caja] [char] (3)   NOT NULL ,[TCP_IDConcentrador]"), std::string::npos) << *plan;
  EXPECT_EQ(e.back().rfind("INSERT INTO TarjetaCajaPlan", 0), 0u) << e.back();
  ASSERT_EQ(c.mensajes.size(), 3u);  // the question, the step's message, the driver's
  EXPECT_EQ(c.mensajes[1].texto,
            "ERROR de Actualización a Version 3.1.0 \r\n208 Invalid object name 'TarjetaCaja'.");
  EXPECT_EQ(c.mensajes[1].estilo, kEstiloStop);
  EXPECT_EQ(c.mensajes[2].texto,
            "LA ACTUALIZACION DE BASE DE DATOS DEL SISTEMA NO SE HA PODIDO REALIZAR. EL SISTEMA NO PUEDE "
            "EJECUTARSE");
  EXPECT_EQ(c.descargado, 1);
}

// Something other than the database failing inside a step (here the pump): 3.1.0 reports it with
// number 0 and the chain is cancelled; a 3.0 step lets it through. Nothing is saved either way.
TEST(Paso3_1_0, ErrorAjenoALaBaseTambienSeInforma) {
  for (const int desde : {30008, 30009}) {
    const std::string original = DemoCacheada(static_cast<std::int16_t>(desde));
    BaseDePrueba b(original);
    OpcionesCorrida op;
    op.fallarBombeoEn = 1;
    const Corrida c = b.Correr(op);
    EXPECT_FALSE(c.finalizado);
    EXPECT_TRUE(c.archivoDespues == original);
    if (desde == 30009)
      EXPECT_EQ(
          c.Errores(),
          "ERROR de Actualización a Version 3.1.0 \r\n0 Falla del bombeo | LA ACTUALIZACION DE BASE DE DATOS "
          "DEL SISTEMA NO SE HA PODIDO REALIZAR. EL SISTEMA NO PUEDE EJECUTARSE");
    else
      EXPECT_EQ(c.Errores(), "Error Act BD - Falla del bombeo");
  }
}

}  // namespace
}  // namespace solvane::pruebas
