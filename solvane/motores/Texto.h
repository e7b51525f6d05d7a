// Letter case and trimming of the short ASCII texts Solvane handles: settings, names, collations.
#pragma once

#include <string>
#include <string_view>

namespace solvane {

// What each kind of text counts as blank at its ends. The sets differ on purpose: a collation name keeps a
// tab that the server would keep, a line of the connection file drops the CR of a CRLF file, and a
// connection string's pieces may come with the line break of a value pasted across lines.
inline constexpr std::string_view kEspacios = " ";
inline constexpr std::string_view kBlancosLinea = " \t\r";
inline constexpr std::string_view kBlancosCadena = " \t\r\n";

std::string Minusculas(std::string texto);

// Equal but for the letter case of ASCII letters.
bool IgualSinCaso(std::string_view a, std::string_view b);

// `texto` without the characters of `blancos` at either end.
std::string Recortar(std::string_view texto, std::string_view blancos);

// A name quoted for T-SQL: in brackets, a closing bracket inside it doubled.
std::string Corchetes(std::string_view nombre);

}  // namespace solvane
