// A refused statement anywhere in the chain leaves the database file exactly as it was.
#include <gtest/gtest.h>

#include <iostream>
#include <regex>

#include "ArnesCadena.h"

namespace solvane::pruebas {
namespace {

// The catalogue queries of the inspection helpers: their errors count as "not there" by contract,
// so a refusal there may let the run go on and finish.
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

// What the operator must be told when statement N of a step of the 3.x line is refused.
void EsperarMensajes3x(const Corrida& c, std::size_t n, const std::string& inyectada) {
  const std::string paso = PasoEnCurso(c);
  if (paso.rfind("3.", 0) != 0 || EsConsultaDeInspeccion(c.refusada)) return;
  const std::string fallo =
      "LA ACTUALIZACION DE BASE DE DATOS DEL SISTEMA NO SE HA PODIDO REALIZAR. EL SISTEMA NO PUEDE "
      "EJECUTARSE";
  if (c.refusada.rfind("UpDate Parametros Set PAR_Version", 0) == 0) {
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
  std::size_t terminadas = 0;  // the refused query was an inspection helper's and the run still ended well
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
      EXPECT_TRUE(c.archivoDespues == original)
          << "N=" << n << " (" << c.refusada << ") left the file changed";
      EXPECT_TRUE(c.Errores().find(inyectada) != std::string::npos || inspeccion)
          << "N=" << n << " (" << c.refusada << ") told: " << c.Errores();
      EXPECT_NE(VersionGrabada(c.archivoDespues), "30100");
      if (tipo == Falla::Simple) EsperarMensajes3x(c, n, inyectada);
    } else {
      ++r.terminadas;
      EXPECT_TRUE(inspeccion) << "N=" << n << " (" << c.refusada << ") refused, yet the run ended well";
      EXPECT_EQ(VersionGrabada(c.archivoDespues), "30100") << "N=" << n;
      if (SinNombresGenerados(c.archivoDespues) != limpio) r.distintas.push_back(c.refusada);
    }
  }
  return r;
}

TEST(FallasEnLaCadena, CadaSentenciaRefusadaDejaLaBaseComoEstaba) {
  std::size_t total = 0;
  const Resumen r = RecorrerFallas(Falla::Simple, total);
  std::cout << "[ fallas ] sentencias " << total << ", corridas fallidas " << r.fallidas
            << ", terminadas pese a la falla (consultas de inspeccion) " << r.terminadas
            << ", de ellas con otro resultado " << r.distintas.size() << ":\n";
  for (const auto& d : r.distintas) std::cout << "[ fallas ]   " << d << "\n";
  EXPECT_GT(total, 300u);
  EXPECT_EQ(r.fallidas + r.terminadas, total);
}

// The server itself rolls the transaction back with the error: nothing may run outside it afterwards.
TEST(FallasEnLaCadena, TransaccionAbortadaPorElServidor) {
  std::size_t total = 0;
  const Resumen r = RecorrerFallas(Falla::Condena, total);
  std::cout << "[ fallas ] (servidor deshace) sentencias " << total << ", corridas fallidas " << r.fallidas
            << ", terminadas " << r.terminadas << "\n";
  EXPECT_EQ(r.fallidas + r.terminadas, total);
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
