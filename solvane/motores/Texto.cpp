// Letter case and trimming of the short ASCII texts Solvane handles.
#include "Texto.h"

#include <algorithm>
#include <cctype>

namespace solvane {

namespace {

char Minuscula(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

std::string Minusculas(std::string texto) {
  std::transform(texto.begin(), texto.end(), texto.begin(), Minuscula);
  return texto;
}

bool IgualSinCaso(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Minuscula(x) == Minuscula(y); });
}

std::string Recortar(std::string_view texto, std::string_view blancos) {
  const auto ini = texto.find_first_not_of(blancos);
  if (ini == std::string_view::npos) return {};
  return std::string(texto.substr(ini, texto.find_last_not_of(blancos) - ini + 1));
}

std::string Corchetes(std::string_view nombre) {
  std::string r = "[";
  for (char c : nombre) r += c == ']' ? std::string("]]") : std::string(1, c);
  return r + "]";
}

}  // namespace solvane
