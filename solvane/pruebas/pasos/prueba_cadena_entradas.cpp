// Entering the chain at each version: exactly the steps from there run, and the result is the full run's.
#include <gtest/gtest.h>

#include <algorithm>

#include "ArnesCadena.h"

namespace solvane::pruebas {
namespace {

struct Eslabon {
  int desde;
  const char* etiqueta;
};

// The chain from 2.5.7 on, as the driver walks it (2.5.8 and 2.5.12 have no step of their own).
const Eslabon kCadena[] = {
    {20507, "2.5.9"},  {20509, "2.5.10"}, {20510, "2.5.11"}, {20511, "2.5.14"}, {20514, "2.5.15"},
    {20515, "2.5.16"}, {20516, "3.0.0"},  {30000, "3.0.1"},  {30001, "3.0.2"},  {30002, "3.0.3"},
    {30003, "3.0.4"},  {30004, "3.0.5"},  {30005, "3.0.6"},  {30006, "3.0.7"},  {30007, "3.0.8"},
    {30008, "3.0.9"},  {30009, "3.1.0"},
};

std::vector<std::string> EtiquetasDesde(int version) {
  // A version with no step of its own enters at the step of the version before it.
  if (version == 20508) version = 20507;
  if (version == 20512) version = 20511;
  std::vector<std::string> r;
  bool dentro = false;
  for (const auto& e : kCadena) {
    dentro = dentro || e.desde == version;
    if (dentro) r.push_back(std::string("Actualizando Version a ") + e.etiqueta);
  }
  return r;
}

std::string Preparada(int version) {
  if (version == 20508) return ConVersion(DemoEn(20507), 20508);
  if (version == 20512) return ConVersion(DemoEn(20511), 20512);
  return DemoEn(static_cast<std::int16_t>(version));
}

class EntradaEnLaCadena : public ::testing::TestWithParam<int> {
 protected:
  static void SetUpTestSuite() { completa_ = new std::string(DemoEn(30100)); }
  static void TearDownTestSuite() { delete completa_; }
  static std::string* completa_;
};
std::string* EntradaEnLaCadena::completa_ = nullptr;

TEST_P(EntradaEnLaCadena, CorreLosPasosDesdeAhiYTerminaIgual) {
  const int version = GetParam();
  const std::string antes = Preparada(version);
  ASSERT_EQ(VersionGrabada(antes), std::to_string(version));
  BaseDePrueba b(antes);
  const Corrida c = b.Correr(ConTarjetaCaja());
  ASSERT_TRUE(c.finalizado) << c.Errores();
  EXPECT_TRUE(c.Pregunto());
  EXPECT_EQ(c.etiquetas, EtiquetasDesde(version));
  // Stopping and resuming anywhere gives the same database as the run in one go.
  EXPECT_EQ(SinNombresGenerados(c.archivoDespues), SinNombresGenerados(*completa_));
}

INSTANTIATE_TEST_SUITE_P(Versiones, EntradaEnLaCadena,
                         ::testing::Values(20508, 20512, 20516, 30000, 30001, 30002, 30003, 30004, 30005,
                                           30006, 30007, 30008, 30009),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return "v" + std::to_string(i.param);
                         });

// A program built at an intermediate version stops there and records it.
TEST(ProgramaIntermedio, SeDetieneEnSuVersion) {
  BaseDePrueba b(Preparada(30002));
  const Corrida c = b.Correr(ConTarjetaCaja(30006));
  ASSERT_TRUE(c.finalizado) << c.Errores();
  EXPECT_EQ(c.etiquetas,
            (std::vector<std::string>{"Actualizando Version a 3.0.3", "Actualizando Version a 3.0.4",
                                      "Actualizando Version a 3.0.5", "Actualizando Version a 3.0.6"}));
  EXPECT_EQ(VersionGrabada(c.archivoDespues), "30006");
  Lector l(c.archivoDespues);
  EXPECT_TRUE(
      l.Existe("Select COLUMN_NAME From information_schema.columns Where TABLE_NAME = 'Parametros' And "
               "COLUMN_NAME = 'PAR_ICGClave'"));
  EXPECT_FALSE(
      l.Existe("Select COLUMN_NAME From information_schema.columns Where TABLE_NAME = 'Parametros' And "
               "COLUMN_NAME = 'PAR_ICGTipoImp'"));
}

}  // namespace
}  // namespace solvane::pruebas
