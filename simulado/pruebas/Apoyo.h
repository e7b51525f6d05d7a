// Small helpers shared by the simulated server's tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "motor/Servidor.h"

namespace apoyo {

// A file's bytes ("" when it cannot be read), and a file made to hold exactly `t`.
inline std::string Leer(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void Poner(const std::filesystem::path& p, const std::string& t) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << t;
}

// The error `correr` is refused with; number 0 and no text when it runs.
template <typename F>
simulado::ErrorSql ErrorAl(F&& correr) {
  try {
    correr();
  } catch (const simulado::ErrorSql& e) {
    return e;
  }
  return simulado::ErrorSql(0, "");
}

inline simulado::ErrorSql ErrorDe(simulado::Servidor& s, const std::string& sql) {
  return ErrorAl([&] { s.Ejecutar(sql); });
}

inline simulado::ErrorSql ErrorDeScript(simulado::Servidor& s, const std::string& script) {
  return ErrorAl([&] { s.EjecutarScript(script); });
}

// The error number a statement is refused with, 0 when it runs.
inline int NumeroDe(simulado::Servidor& s, const std::string& sql) {
  return ErrorDe(s, sql).numero;
}

struct Caso {
  std::string sql;
  int numero;  // 0: it runs
};

// Runs the statements in order, each checked for the number it is refused with; a failure names it.
inline void ComprobarNumeros(simulado::Servidor& s, const std::vector<Caso>& casos) {
  for (const auto& c : casos) EXPECT_EQ(NumeroDe(s, c.sql), c.numero) << c.sql;
}

}  // namespace apoyo
