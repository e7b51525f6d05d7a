// The rehearsal in process: the version gate, a copy cut short at every read, a table gone while copying,
// and its options on the command line. The live database is only ever read.
#include <gtest/gtest.h>

#include <sstream>

#include "Apoyo.h"
#include "frentes/Consola.h"
#include "nucleo/Ensayo.h"
#include "pasos/ArnesCadena.h"

namespace solvane::pruebas {
namespace {

// The live engine, watched: the rehearsal must never change anything through it. Its `fallarEn`-th whole
// read is cut short as a lost connection would, after `filasAntes` rows; `alLeerFilas` runs on the inner
// engine before the first read of a table's rows (someone else's change while the copy is made); the
// `estropear`-th row of all tables' rows comes with values no column holds (a driver that garbles them).
class Vivo : public MotorBD {
 public:
  static ErrorBD Perdida() {
    return ErrorBD(20047, "Se perdió la conexión con el servidor: DBPROCESS is dead or not enabled");
  }
  struct Visto {  // outlives the engine, which the connection's end destroys
    std::vector<std::string> cambios;
    std::size_t lecturas = 0, filas = 0;
  };
  Vivo(std::unique_ptr<MotorBD> interior, std::shared_ptr<Visto> visto)
      : visto_(std::move(visto)), interior_(std::move(interior)) {}
  void Conectar() override { interior_->Conectar(); }
  void Desconectar() noexcept override { interior_->Desconectar(); }
  void Ejecutar(const std::string& s) override {
    visto_->cambios.push_back(s);
    interior_->Ejecutar(s);
  }
  PrimeraFila Consultar(const std::string& s) override { return interior_->Consultar(s); }
  std::vector<std::string> Recorrer(const std::string& s, const LectorFilas& fila) override {
    if (s.rfind("SELECT [", 0) == 0 && !alLeerFilas.empty()) {
      interior_->Ejecutar(alLeerFilas);
      alLeerFilas.clear();
    }
    const bool cortar = ++visto_->lecturas == fallarEn;
    std::size_t vistas = 0;
    const bool filas = s.rfind("SELECT [", 0) == 0;
    auto columnas = interior_->Recorrer(s, [&](const std::vector<ValorCampo>& f) {
      if (cortar && vistas == filasAntes) throw Perdida();
      ++vistas;
      if (filas && ++visto_->filas == estropear)
        return fila(std::vector<ValorCampo>(f.size(), std::string(9000, '9')));
      return fila(f);
    });
    if (cortar) throw Perdida();  // fewer rows than that: the connection goes at the end of the set
    return columnas;
  }
  void Comenzar() override { visto_->cambios.push_back("BEGIN"); }
  void Confirmar() override { visto_->cambios.push_back("COMMIT"); }
  void Deshacer() noexcept override {}
  bool TransaccionAbierta() const override { return false; }
  std::string NombreServidor() const override { return interior_->NombreServidor(); }

  std::size_t fallarEn = 0, filasAntes = 0, estropear = 0;
  std::string alLeerFilas;

 private:
  std::shared_ptr<Visto> visto_;
  std::unique_ptr<MotorBD> interior_;
};

struct Ensayo {
  explicit Ensayo(const std::string& script) : b(script) {}
  InformeEnsayo Correr(const std::function<void(Vivo&)>& preparar = {}) {
    cBaseDatos bd;
    bd.ArchivoExplicito((b.Archivo().parent_path() / "PagoraCliente.conexion").string());
    auto visto = std::make_shared<Vivo::Visto>();
    bd.Envoltorio([&](std::unique_ptr<MotorBD> interior) {
      auto v = std::make_unique<Vivo>(std::move(interior), visto);
      if (preparar) preparar(*v);
      return v;
    });
    cMensajes mensajes;
    mensajes.FijarPresentador(grabador);
    bd.Mensajes(&mensajes);
    ProgresoGrabado progreso;
    OpcionesEnsayo o;
    o.copia = (carpeta / "copia.sql").string();
    o.registro = (carpeta / "registro.sql").string();
    auto r = Ensayar(bd, mensajes, progreso, o);
    cambios = visto->cambios;
    lecturas = visto->lecturas;
    filas = visto->filas;
    return r;
  }
  bool DejoArchivos() const {
    return std::filesystem::exists(carpeta / "copia.sql") ||
           std::filesystem::exists(carpeta / "registro.sql");
  }
  BaseDePrueba b;
  Carpeta carpeta{"ensayo"};
  std::shared_ptr<Grabador> grabador = std::make_shared<Grabador>();
  std::vector<std::string> cambios;
  std::size_t lecturas = 0, filas = 0;
};

// A database that is current, newer than the program or without a version row is not copied; what the
// real run would show is in the report.
TEST(EnsayoNucleo, LaPuertaDeVersionSeDecideSinCopiar) {
  const struct {
    std::string nombre, script;
    InformeEnsayo::Fin fin;
    std::string mensaje;
  } casos[] = {
      {"al día", ConVersion(ScriptDemo(), 30100), InformeEnsayo::Fin::AlDia, kTextoFinalizado},
      {"más nueva", ConVersion(ScriptDemo(), 30200), InformeEnsayo::Fin::Fallaria, "DEBE ACTUALIZAR"},
      {"sin fila de versión", Con(ScriptDemo(), {"DELETE FROM Parametros"}), InformeEnsayo::Fin::Fallaria,
       "la tabla Parametros no tiene filas"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.nombre);
    Ensayo e(c.script);
    const InformeEnsayo r = e.Correr();
    EXPECT_EQ(r.fin, c.fin);
    EXPECT_EQ(EstadoEnsayo(r), c.fin == InformeEnsayo::Fin::AlDia ? 0 : 1);
    ASSERT_FALSE(r.mensajes.empty());
    EXPECT_NE(r.mensajes.back().find(c.mensaje), std::string::npos) << r.mensajes.back();
    EXPECT_EQ(e.lecturas, 0u) << "copió una base que no lo necesitaba";
    EXPECT_FALSE(e.DejoArchivos());
    EXPECT_TRUE(e.cambios.empty());
    EXPECT_TRUE(e.b.Contenido() == c.script);
    EXPECT_NE(TextoInforme(r).find("La base de datos real no se modificó."), std::string::npos);
  }
}

// The connection lost at every read of the copy, before its first row and after it: each run ends as a
// rehearsal that could not be made, names why, writes neither the copy nor the record, and changes nothing.
TEST(EnsayoNucleo, UnaCopiaCortadaEnCualquierLecturaNoDejaNada) {
  const std::string script = ScriptDemo();
  std::size_t n = 1, cortadas = 0;
  for (; n < 60; ++n) {
    SCOPED_TRACE("lectura " + std::to_string(n));
    bool completa = false;
    for (std::size_t filas : {0u, 1u}) {
      Ensayo e(script);
      const InformeEnsayo r = e.Correr([&](Vivo& v) {
        v.fallarEn = n;
        v.filasAntes = filas;
      });
      completa = r.fin == InformeEnsayo::Fin::Completaria;
      if (completa) {
        EXPECT_LT(e.lecturas, n);
        break;
      }
      ++cortadas;
      EXPECT_EQ(r.fin, InformeEnsayo::Fin::SinEnsayo);
      EXPECT_EQ(EstadoEnsayo(r), 1);
      EXPECT_NE(r.problema.find("Se perdió la conexión"), std::string::npos) << r.problema;
      EXPECT_FALSE(e.DejoArchivos());
      EXPECT_TRUE(e.cambios.empty());
      EXPECT_TRUE(e.b.Contenido() == script);
    }
    if (completa) break;
  }
  EXPECT_LT(n, 60u) << "el ensayo nunca terminó";
  EXPECT_GT(cortadas, 20u);
}

TEST(EnsayoNucleo, UnaTablaQueDesapareceAlCopiarSeNombra) {
  Ensayo e(ScriptDemo());
  const InformeEnsayo r = e.Correr([](Vivo& v) { v.alLeerFilas = "DROP TABLE Rangos"; });
  EXPECT_EQ(r.fin, InformeEnsayo::Fin::SinEnsayo);
  EXPECT_NE(r.problema.find("208 No se pudieron copiar las filas de Rangos: Invalid object name"),
            std::string::npos)
      << r.problema;
  EXPECT_FALSE(e.DejoArchivos());
  EXPECT_TRUE(e.cambios.empty());
}

// A row the copy refuses, at the first row, in the middle and at the last: the rehearsal ends there as one
// that could not be made, names the table, reads no further than the batches in hand, and leaves nothing.
TEST(EnsayoNucleo, UnaFilaQueLaCopiaRechazaDetieneLaCopia) {
  const std::string script = ScriptDemo();
  std::size_t total = 0;
  {
    Ensayo e(script);
    ASSERT_EQ(e.Correr().fin, InformeEnsayo::Fin::Completaria);
    total = e.filas;
  }
  ASSERT_GT(total, 2u);
  for (const std::size_t n : {std::size_t{1}, total / 2, total}) {
    SCOPED_TRACE("fila " + std::to_string(n));
    Ensayo e(script);
    const InformeEnsayo r = e.Correr([&](Vivo& v) { v.estropear = n; });
    EXPECT_EQ(r.fin, InformeEnsayo::Fin::SinEnsayo);
    EXPECT_EQ(EstadoEnsayo(r), 1);
    EXPECT_NE(r.problema.find("No se pudieron copiar las filas de "), std::string::npos) << r.problema;
    EXPECT_FALSE(e.DejoArchivos());
    EXPECT_TRUE(e.cambios.empty());
    EXPECT_TRUE(e.b.Contenido() == script);
  }
}

TEST(EnsayoNucleo, OpcionesDelEnsayo) {
  EXPECT_FALSE(PideConsola({"--ensayar"}));
  EXPECT_FALSE(PideConsola({"--ensayar", "--conexion", "x.conexion"}));
  EXPECT_TRUE(PideConsola({"--ensayar", "--copia", "c.sql"}));
  for (const std::vector<std::string>& malas : {std::vector<std::string>{"--consola", "--ensayar", "--si"},
                                                {"--consola", "--ensayar", "--probar-conexion"},
                                                {"--consola", "--copia", "c.sql"},
                                                {"--ensayar", "--copia", "c.sql"},
                                                {"--consola", "--ensayar", "--copia"}}) {
    std::istringstream entrada;
    std::ostringstream salida, errores;
    cBaseDatos bd;
    cMensajes mensajes;
    EXPECT_EQ(PrincipalConsola(malas, entrada, salida, errores, bd, mensajes), 2) << malas.back();
    EXPECT_NE(errores.str().find("solvane: "), std::string::npos);
  }
}

}  // namespace
}  // namespace solvane::pruebas
