// A refused statement anywhere in the chain leaves the database file exactly as it was.
#include <gtest/gtest.h>

#include <iostream>
#include <regex>

#include "ArnesCadena.h"

namespace solvane::pruebas {
namespace {

// The queries of the inspection helpers, counted apart: a refusal there must fail the run as any other
// does, not read as "not there" and let the run finish without the change it guarded.
bool EsConsultaDeInspeccion(const std::string& s) {
  static const std::regex campo(R"(^Select \S+ From \S+$)");
  return std::regex_match(s, campo) || s.rfind("Select Name From sysobjects  Where Xtype", 0) == 0 ||
         s.rfind("SELECT * FROM Sysindexes Where", 0) == 0;
}

// The caption of the step that was running when the run stopped ("" before the chain began).
std::string PasoEnCurso(const Corrida& c) {
  std::string paso;
  for (const auto& l : c.traza)
    if (l.rfind("-- Actualizando Version a ", 0) == 0) paso = l.substr(26);
  return paso;
}

// What the operator must be told when statement N is refused, inspection queries included.
void EsperarMensajes(const Corrida& c, std::size_t n, const std::string& inyectada) {
  const std::string paso = PasoEnCurso(c);
  const std::string fallo =
      "LA ACTUALIZACION DE BASE DE DATOS DEL SISTEMA NO SE HA PODIDO REALIZAR. EL SISTEMA NO PUEDE "
      "EJECUTARSE";
  if (paso.empty()) {
    // The version probe: an unreadable version is not taken for an old one, so nothing is asked.
    EXPECT_EQ(c.Errores(), "Error Act BD - " + inyectada) << "N=" << n;
    EXPECT_FALSE(c.Pregunto()) << "N=" << n;
  } else if (paso.rfind("2.", 0) == 0) {
    EXPECT_EQ(c.Errores(),
              "ERROR de Actualización a Version " + paso + " \r\n50000 " + inyectada + " | " + fallo)
        << "N=" << n << " (" << c.refusada << ")";
    EXPECT_EQ(c.descargado, 1) << "N=" << n;
  } else if (c.refusada.rfind("UpDate Parametros Set PAR_Version", 0) == 0) {
    EXPECT_EQ(c.Errores(), "ERROR de Actualización : 50000 " + inyectada + " | " + fallo) << "N=" << n;
  } else if (paso == "3.1.0") {
    EXPECT_EQ(c.Errores(), "ERROR de Actualización a Version 3.1.0 \r\n50000 " + inyectada + " | " + fallo)
        << "N=" << n;
    EXPECT_EQ(c.descargado, 1) << "N=" << n;
  } else {
    // The 3.0 steps let the error through: the progress window stays up, the driver says nothing.
    EXPECT_EQ(c.Errores(), "Error Act BD - " + inyectada) << "N=" << n << " in " << paso;
    EXPECT_EQ(c.descargado, 0) << "N=" << n;
  }
}

struct Resumen {
  std::size_t fallidas = 0;
  std::size_t deInspeccion = 0;        // of those, the refused statement was an inspection query
  std::size_t terminadas = 0;          // the run ended well although a statement was refused
  std::vector<std::string> distintas;  // of those, the ones whose database differs from the clean run's
};

// Runs the whole chain once per statement, refusing statement N, for every N.
Resumen RecorrerFallas(Falla tipo, std::size_t& total) {
  const std::string original = ScriptDemo();
  std::string limpio;
  OpcionesCorrida limpia;
  limpia.despues.push_back(FilasTarjetaCaja());
  {
    BaseDePrueba b(original);
    const Corrida c = b.Correr(limpia);
    EXPECT_TRUE(c.finalizado) << c.Errores();
    total = c.contadas;
    limpio = SinNombresGenerados(c.archivoDespues);
  }
  Resumen r;
  for (std::size_t n = 1; n <= total; ++n) {
    BaseDePrueba b(original);
    OpcionesCorrida op = limpia;
    op.fallarEn = n;
    op.tipo = tipo;
    const Corrida c = b.Correr(op);
    const std::string inyectada = "Falla inyectada en la sentencia " + std::to_string(n);
    const bool inspeccion = EsConsultaDeInspeccion(c.refusada);
    EXPECT_FALSE(c.refusada.empty()) << "N=" << n;
    if (!c.finalizado) {
      ++r.fallidas;
      if (inspeccion) ++r.deInspeccion;
      EXPECT_TRUE(c.archivoDespues == original)
          << "N=" << n << " (" << c.refusada << ") left the file changed";
      EXPECT_TRUE(c.Errores().find(inyectada) != std::string::npos)
          << "N=" << n << " (" << c.refusada << ") told: " << c.Errores();
      EXPECT_NE(VersionGrabada(c.archivoDespues), "30100");
      if (tipo == Falla::Simple) EsperarMensajes(c, n, inyectada);
    } else {
      ++r.terminadas;
      ADD_FAILURE() << "N=" << n << " (" << c.refusada << ") refused, yet the run ended well";
      if (SinNombresGenerados(c.archivoDespues) != limpio) r.distintas.push_back(c.refusada);
    }
  }
  return r;
}

// Inspection queries included: a guard that could not be answered must not skip its change.
TEST(FallasEnLaCadena, CadaSentenciaRefusadaDejaLaBaseComoEstaba) {
  std::size_t total = 0;
  const Resumen r = RecorrerFallas(Falla::Simple, total);
  std::cout << "[ fallas ] sentencias " << total << ", corridas fallidas " << r.fallidas
            << " (consultas de inspeccion " << r.deInspeccion << "), terminadas pese a la falla "
            << r.terminadas << ", de ellas con otro resultado " << r.distintas.size() << ":\n";
  for (const auto& d : r.distintas) std::cout << "[ fallas ]   " << d << "\n";
  EXPECT_GT(total, 300u);
  EXPECT_GT(r.deInspeccion, 100u);
  EXPECT_EQ(r.fallidas, total);
  EXPECT_EQ(r.terminadas, 0u);
}

// The server itself rolls the transaction back with the error: nothing may run outside it afterwards.
TEST(FallasEnLaCadena, TransaccionAbortadaPorElServidor) {
  std::size_t total = 0;
  const Resumen r = RecorrerFallas(Falla::Condena, total);
  std::cout << "[ fallas ] (servidor deshace) sentencias " << total << ", corridas fallidas " << r.fallidas
            << ", terminadas " << r.terminadas << "\n";
  EXPECT_EQ(r.fallidas, total);
  EXPECT_EQ(r.terminadas, 0u);
}

TEST(FallasEnLaCadena, ConfirmacionFinalRefusada) {
  const std::string original = ScriptDemo();
  BaseDePrueba b(original);
  OpcionesCorrida op;
  op.fallarConfirmar = true;
  const Corrida c = b.Correr(op);
  EXPECT_FALSE(c.finalizado);
  EXPECT_NE(c.Errores().find("Error Act BD - Falla inyectada al confirmar"), std::string::npos)
      << c.Errores();
  EXPECT_TRUE(c.archivoDespues == original);
}

}  // namespace
}  // namespace solvane::pruebas
