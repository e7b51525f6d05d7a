// The T-SQL lexer of the simulated server: tokens, reserved words and the syntax error.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Sintaxis.h"

namespace simulado {

struct Token {
  enum class T { Id, Num, Cad, Sim, Fin };
  T t = T::Fin;
  std::string texto;
  bool corchete = false;
  Valor valor;  // Num, Cad
  std::size_t pos = 0, fin = 0;
};

// Error 102 near `cerca`.
[[noreturn]] void Sintaxis(const std::string& cerca);

// The tokens of a text, closed by one Fin token; what cannot be read (an unclosed comment or quote, a
// stray character) raises its error.
std::vector<Token> Tokens(std::string_view s);

// Whether a word is reserved, so that a name spelled like it needs brackets.
bool Reservada(const std::string& s);

}  // namespace simulado
