// The registry, the dispatch layer's failures and the simulated control's answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "Comun.h"
#include "Contrato.h"
#include "ISOPagora.h"

namespace prueba::pruebas {
namespace {

using ::testing::HasSubstr;

template <class F>
ErrorControl Falla(F&& f) {
  try {
    f();
  } catch (const ErrorControl& e) {
    return e;
  }
  ADD_FAILURE() << "no hubo error";
  return ErrorControl(0, "");
}

// One value of each type, none of them the type's default, and the empty value.
const std::vector<Variante>& UnoDeCadaTipo() {
  static const std::vector<Variante> valores{Variante::Cadena("x"),
                                             Variante::Booleano(true),
                                             Variante::Entero(-2),
                                             Variante::Largo(70000),
                                             Variante::Byte(200),
                                             Variante::Doble(0.25),
                                             Variante()};
  return valores;
}

Variante DelTipo(int32_t tipo) {
  for (const Variante& v : UnoDeCadaTipo())
    if (v.Tipo() == tipo) return v;
  ADD_FAILURE() << "tipo desconocido " << tipo;
  return {};
}

std::vector<Variante> OtrosTipos(int32_t tipo) {
  std::vector<Variante> r;
  for (const Variante& v : UnoDeCadaTipo())
    if (v.Tipo() != tipo) r.push_back(v);
  return r;
}

TEST(Registro, EnvironmentComesFirstThenTheFileWithPathsFromItsFolder) {
  const auto carpeta = std::filesystem::temp_directory_path() / ("prueba_reg_" + std::to_string(getpid()));
  std::filesystem::create_directories(carpeta);
  std::ofstream(carpeta / kArchivoRegistro) << "# comentario\n\nPagora.ISOPagora = libuno.so\r\n"
                                               "Otra.Clase=/abs/libdos.so\nsin igual\n=huerfano\n";
  setenv(kVariableRegistro, " ; pagora.isopagora=/desde/entorno.so;", 1);
  const Registro r = Registro::DelEntorno(carpeta.string());
  unsetenv(kVariableRegistro);
  EXPECT_EQ(r.Buscar("PAGORA.ISOPAGORA"), "/desde/entorno.so");
  EXPECT_EQ(r.Buscar("otra.clase"), "/abs/libdos.so");
  EXPECT_EQ(r.Buscar("sin igual"), std::nullopt);
  EXPECT_EQ(r.Buscar(""), std::nullopt);

  const Registro solo_archivo = Registro::DelEntorno(carpeta.string());
  EXPECT_EQ(solo_archivo.Buscar("Pagora.ISOPagora"), (carpeta / "libuno.so").string());
  std::filesystem::remove_all(carpeta);
}

// Installed layout: bin/prueba with share/pagora/prueba.controles pointing into lib/; a file next to the
// program and the administrator's file come first, a missing file is skipped.
TEST(Registro, InstalledRegistrationsAfterTheProgramFolderInOrder) {
  const auto raiz = std::filesystem::temp_directory_path() / ("prueba_inst_" + std::to_string(getpid()));
  std::filesystem::create_directories(raiz / "bin");
  std::filesystem::create_directories(raiz / "etc");
  std::filesystem::create_directories(raiz / "share/pagora");
  std::ofstream(raiz / "share/pagora" / kArchivoRegistro)
      << "Pagora.ISOPagora=../../lib/pagora/libisopagora_simulado.so\nOtra.Clase=libotra.so\n";
  std::ofstream(raiz / "etc" / kArchivoRegistro) << "otra.clase=/opt/otra.so\n";
  const std::string bin = (raiz / "bin").string();
  const std::vector<std::string> otros = {(raiz / "sin-archivo" / kArchivoRegistro).string(),
                                          (raiz / "etc" / kArchivoRegistro).string(),
                                          bin + "/../share/pagora/" + kArchivoRegistro};
  const Registro r = Registro::DelEntorno(bin, otros);
  EXPECT_EQ(std::filesystem::weakly_canonical(r.Buscar("Pagora.ISOPagora").value_or("")),
            raiz / "lib/pagora/libisopagora_simulado.so");
  EXPECT_EQ(r.Buscar("Otra.Clase"), "/opt/otra.so");

  std::ofstream(raiz / "bin" / kArchivoRegistro) << "Pagora.ISOPagora=local.so\n";
  EXPECT_EQ(Registro::DelEntorno(bin, otros).Buscar("Pagora.ISOPagora"), (raiz / "bin/local.so").string());
  std::filesystem::remove_all(raiz);
}

TEST(Registro, CreationFailuresNameWhatIsMissing) {
  Registro r;
  r.Agregar(std::string("Sin.Entrada=") + BIBLIOTECA_SIN_ENTRADA +
            ";No.Existe=/nada/libnada.so;Otra.Clase=" + BIBLIOTECA_SIMULADA);

  ErrorControl e = Falla([&] { r.Crear("Pagora.ISOPagora"); });
  EXPECT_EQ(e.Numero(), kErrClaseNoRegistrada);
  EXPECT_THAT(e.what(), HasSubstr("\"Pagora.ISOPagora\" no está registrada"));

  e = Falla([&] { r.Crear("No.Existe"); });
  EXPECT_EQ(e.Numero(), kErrBiblioteca);
  EXPECT_THAT(e.what(), HasSubstr("/nada/libnada.so"));

  e = Falla([&] { r.Crear("Sin.Entrada"); });
  EXPECT_EQ(e.Numero(), kErrPuntoEntrada);
  EXPECT_THAT(e.what(), HasSubstr("PagoraCrearControl"));

  // The simulated library serves only its own class.
  e = Falla([&] { r.Crear("Otra.Clase"); });
  EXPECT_EQ(e.Numero(), kErrClaseNoDisponible);
}

TEST(Despacho, EveryMemberTakesItsOwnTypeAndRefusesEveryOther) {
  Grabacion g;
  auto c = RegistroSimulado().Crear(kProgId);
  for (const Miembro& m : Miembros()) {
    if (m.clase != Clase::kPropiedad) continue;
    const std::string id = NombrarDispid(m.dispid);
    if (m.acceso == Acceso::kEscritura) {
      c->Poner(m.dispid, DelTipo(m.tipo));
      EXPECT_EQ(c->Obtener(m.dispid), DelTipo(m.tipo)) << id;
      for (const Variante& v : OtrosTipos(m.tipo)) {
        ErrorControl e = Falla([&] { c->Poner(m.dispid, v); });
        EXPECT_EQ(e.Numero(), PAGORA_E_TIPO) << id;
        EXPECT_THAT(e.what(), HasSubstr(id));
      }
      EXPECT_EQ(c->Obtener(m.dispid), DelTipo(m.tipo)) << id << " cambió tras un valor rechazado";
    } else {
      EXPECT_EQ(c->Obtener(m.dispid).Tipo(), m.tipo) << id;
      EXPECT_EQ(Falla([&] { c->Poner(m.dispid, DelTipo(m.tipo)); }).Numero(), PAGORA_E_SOLO_LECTURA) << id;
    }
  }
  // The record shows the rejected calls too, with their error.
  const auto lineas = g.Todo();
  const auto rechazadas =
      std::count_if(lineas.begin(), lineas.end(), [](auto& l) { return !l.error.empty(); });
  EXPECT_GT(rechazadas, 100);
}

TEST(Despacho, UnknownMembersAndWrongKindsFailNamingTheDispid) {
  auto c = RegistroSimulado().Crear(kProgId);
  for (auto f : {+[](Control& x) { x.Poner(0x12345678, Variante::Largo(1)); },
                 +[](Control& x) { x.Obtener(0x12345678); }, +[](Control& x) { x.Llamar(0x12345678); }}) {
    ErrorControl e = Falla([&] { f(*c); });
    EXPECT_EQ(e.Numero(), PAGORA_E_MIEMBRO);
    EXPECT_THAT(e.what(), HasSubstr("0x12345678"));
  }
  EXPECT_EQ(Falla([&] { c->Llamar(dispid::Monto); }).Numero(), PAGORA_E_MIEMBRO);
  EXPECT_EQ(Falla([&] { c->Poner(dispid::Inicializar, Variante()); }).Numero(), PAGORA_E_MIEMBRO);
  ErrorControl e = Falla([&] { c->Llamar(dispid::RealizarConsulta); });
  EXPECT_THAT(e.what(), HasSubstr("0x60030127 (RealizarConsulta): el control no fue inicializado"));
}

TEST(Despacho, RecordEscapesTextAndNumbersEachInstance) {
  Grabacion g;
  auto a = RegistroSimulado().Crear(kProgId);
  auto b = RegistroSimulado().Crear(kProgId);
  b->Poner(dispid::TextoA, Variante::Cadena("a\tb\nc\\"));
  b->Poner(dispid::Monto, Variante::Doble(1234.56));
  a->Poner(dispid::ValorA, Variante::Entero(-3));
  const auto l = g.Todo();
  ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(l[0].clase, "crear");
  EXPECT_EQ(l[1].instancia, l[0].instancia + 1);
  EXPECT_EQ(l[2].valor, "a\\tb\\nc\\\\");
  EXPECT_EQ(l[3].tipo + " " + l[3].valor, "Double 1234.56");
  EXPECT_EQ(l[4].instancia, l[0].instancia);
  EXPECT_EQ(l[4].tipo + " " + l[4].valor, "Integer -3");
}

TEST(Despacho, RecordThatCannotBeOpenedFailsEveryCall) {
  setenv("PAGORA_SIMULADO_REGISTRO", "/nada/no/existe.txt", 1);
  auto c = RegistroSimulado().Crear(kProgId);
  unsetenv("PAGORA_SIMULADO_REGISTRO");
  EXPECT_THAT(Falla([&] { c->Poner(dispid::Caja, Variante::Cadena("1")); }).what(),
              HasSubstr("/nada/no/existe.txt"));
}

// A control that answers a get with a fixed value.
class Fijo : public Control {
 public:
  explicit Fijo(Variante v) : v_(std::move(v)) {}
  void Poner(int32_t, const Variante&) override {}
  Variante Obtener(int32_t) override { return v_; }
  Variante Llamar(int32_t) override { return v_; }

 private:
  Variante v_;
};

TEST(Despacho, BooleanAnswersConvertLikeTheFormExpects) {
  auto Aprobada = [](Variante v) { return ISOPagora(std::make_unique<Fijo>(std::move(v))).Aprobada(); };
  EXPECT_TRUE(Aprobada(Variante::Booleano(true)));
  EXPECT_TRUE(Aprobada(Variante::Largo(-1)));
  EXPECT_TRUE(Aprobada(Variante::Cadena(" TRUE ")));
  EXPECT_FALSE(Aprobada(Variante::Cadena("0")));
  EXPECT_FALSE(Aprobada(Variante()));
  // Spaces and tabs around the text are blanks; any other control character makes it no Boolean.
  EXPECT_FALSE(Aprobada(Variante::Cadena("\t False \t")));
  for (const char* texto : {"true\r", "\ntrue", "\vtrue"})
    EXPECT_THROW(Aprobada(Variante::Cadena(texto)), ErrorControl) << texto;
  ErrorControl e = Falla([&] { Aprobada(Variante::Cadena("quizás")); });
  EXPECT_EQ(e.Numero(), PAGORA_E_TIPO);
  EXPECT_THAT(e.what(), HasSubstr("0x680300FB (Aprobada)"));
  EXPECT_THROW(ISOPagora(std::make_unique<Fijo>(Variante::Cadena(""))).ProcesarTarjeta(), ErrorControl);
  EXPECT_EQ(ISOPagora(std::make_unique<Fijo>(Variante::Doble(0.1))).Lote(), "0.1");
  EXPECT_EQ(ISOPagora(std::make_unique<Fijo>(Variante::Booleano(false))).Lote(), "False");
}

class Simulado : public ::testing::Test {
 protected:
  void SetUp() override {
    c.Empresa("VELMOR");
    c.Local("000001");
    c.Caja("001");
    c.Inicializar();
  }
  void Vender(double monto, int32_t tipo = 0) {
    c.TipoOperacion(tipo);
    c.Monto(monto);
    c.NroDocOriginal(tipo == 1 ? "55" : "");
  }
  ISOPagora c{RegistroSimulado().Crear(kProgId)};
};

TEST_F(Simulado, ApprovesUpToTheLimitAndClosesWhatItApproved) {
  Vender(10000);
  EXPECT_TRUE(c.ProcesarTarjeta());
  EXPECT_TRUE(c.Aprobada());
  const std::string codigo = c.CodAutorizacion();
  EXPECT_EQ(codigo.size(), 6u);
  EXPECT_EQ(codigo.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(c.Lote(), "1");
  EXPECT_FALSE(c.IdTerminal().empty());
  EXPECT_FALSE(c.CodComercio().empty());

  Vender(10000.01);
  EXPECT_TRUE(c.ProcesarTarjeta());
  EXPECT_FALSE(c.Aprobada());
  EXPECT_THAT(c.MensajeRespuesta(), HasSubstr("tope"));
  EXPECT_EQ(c.CodAutorizacion(), "");

  Vender(25.5, 1);
  c.RealizarConsulta();
  EXPECT_TRUE(c.Aprobada());
  EXPECT_NE(c.CodAutorizacion(), codigo);

  c.ProcesarCierre();
  EXPECT_TRUE(c.Aprobada());
  EXPECT_EQ(c.Lote(), "1");
  EXPECT_EQ(c.InfCierre(), "Ventas 1 por 10000.00, anulaciones 1 por 25.50");
  c.ProcesarCierre();
  EXPECT_EQ(c.Lote(), "2");
  EXPECT_EQ(c.InfCierre(), "Ventas 0 por 0.00, anulaciones 0 por 0.00");
}

TEST_F(Simulado, ConfirmsOnlyAnApprovedDocument) {
  c.NroDocumento("123");
  EXPECT_FALSE(c.Confirmar());
  EXPECT_THAT(c.MensajeRespuesta(), HasSubstr("pendiente"));
  Vender(10);
  c.RealizarConsulta();
  const std::string codigo = c.CodAutorizacion();
  c.NroDocumento("");
  EXPECT_FALSE(c.ConfirmarServicio());
  c.NroDocumento("123");
  EXPECT_TRUE(c.ConfirmarServicio());
  EXPECT_EQ(c.CodAutorizacion(), codigo);
  EXPECT_NE(c.NroVale(), "0");
  EXPECT_FALSE(c.Confirmar());  // already confirmed
}

TEST(SimuladoConfigurado, LimitAndLostConnectionComeFromTheEnvironment) {
  setenv("PAGORA_SIMULADO_TOPE", "50", 1);
  setenv("PAGORA_SIMULADO_SIN_CONEXION", "1", 1);
  ISOPagora sin_conexion(RegistroSimulado().Crear(kProgId));
  unsetenv("PAGORA_SIMULADO_SIN_CONEXION");
  ISOPagora con_tope(RegistroSimulado().Crear(kProgId));
  unsetenv("PAGORA_SIMULADO_TOPE");
  for (ISOPagora* c : {&sin_conexion, &con_tope}) {
    c->Empresa("E");
    c->Local("L");
    c->Caja("C");
    c->Inicializar();
    c->TipoOperacion(0);
    c->Monto(50.01);
  }
  EXPECT_FALSE(sin_conexion.ProcesarTarjeta());
  EXPECT_THAT(sin_conexion.MensajeRespuesta(), HasSubstr("Sin comunicación"));
  EXPECT_TRUE(con_tope.ProcesarTarjeta());
  EXPECT_FALSE(con_tope.Aprobada());
  con_tope.Monto(50);
  EXPECT_TRUE(con_tope.ProcesarTarjeta());
  EXPECT_TRUE(con_tope.Aprobada());
}

}  // namespace
}  // namespace prueba::pruebas
