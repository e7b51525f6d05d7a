// Text handling shared by the engine and the wire: blanks, case folding of names, GO lines, collation keys.
#include <gtest/gtest.h>

#include <string>

#include "Apoyo.h"
#include "motor/Servidor.h"
#include "motor/Texto.h"
#include "motor/Valores.h"

namespace {

using namespace simulado;

// Each caller trims its own set of blanks and nothing else.
TEST(Texto, RecortaSoloLosBlancosDeSuConjunto) {
  const struct {
    std::string texto, blancos, ambos, final;
  } casos[] = {
      {" \t12 \t", " \t", "12", " \t12"},
      {"\r12\n", " \t", "\r12\n", "\r12\n"},
      {"\r\n x \r\n", std::string(kBlancosSql), "x", "\r\n x"},
      {"abc   ", " ", "abc", "abc"},
      {"abc\t ", " ", "abc\t", "abc\t"},
      {"   ", " ", "", ""},
      {"", " \t", "", ""},
      {std::string("a\0 ", 3), " ", std::string("a\0", 2), std::string("a\0", 2)},
  };
  for (const auto& c : casos) {
    EXPECT_EQ(Recortar(c.texto, c.blancos), c.ambos) << '[' << c.texto << ']';
    EXPECT_EQ(RecortarFinal(c.texto, c.blancos), c.final) << '[' << c.texto << ']';
  }
  EXPECT_EQ(Recortar(" \t7\t "), "7") << "a value's blanks by default";
  for (char c : std::string(" \t\r\n")) EXPECT_TRUE(Blanco(c)) << int{c};
  for (char c : std::string("\v\fa\0", 4)) EXPECT_FALSE(Blanco(c)) << int{c};
}

// Names fold ASCII letters only: the bytes of "É" (C3 89) and of other UTF-8 letters stay as they are.
TEST(Texto, NombresDoblanSoloLetrasAscii) {
  EXPECT_EQ(Minusculas("AbZ_@9[`{"), "abz_@9[`{");
  EXPECT_EQ(Mayusculas("aBz_@9[`{"), "ABZ_@9[`{");
  EXPECT_EQ(Minusculas("ÉÑ"), "ÉÑ");
  EXPECT_EQ(Mayusculas("éñ"), "éñ");
  const struct {
    const char *a, *b;
    bool igual;
  } casos[] = {
      {"TarjetaCaja", "tarjetacaja", true},
      {"dbo", "DBO", true},
      {"a", "a ", false},
      {"Año", "AÑO", false},
      {"@", "`", false},
      {"[", "{", false},
  };
  for (const auto& c : casos) EXPECT_EQ(MismoNombre(c.a, c.b), c.igual) << c.a << " / " << c.b;
}

// A line ends a batch when it holds GO in any case and blanks; a carriage return only where CRLF puts it.
TEST(Texto, LineaSeparadoraDeLotes) {
  const struct {
    std::string linea;
    bool separa;
  } casos[] = {
      {"GO", true},    {"go", true},      {" \tGo \t", true}, {"GO\r", true},  {"GO \r \t", true},
      {"\rGO", false}, {"GO;", false},    {"G O", false},     {"GOTO", false}, {"--GO", false},
      {"", false},     {"\nGO\n", false}, {"GO\v", false},
  };
  for (const auto& c : casos) EXPECT_EQ(EsSeparador(c.linea), c.separa) << '[' << c.linea << ']';
}

// Keys compare as the case-insensitive collation does: trailing spaces go, a trailing tab stays, Latin-1
// capitals fold in UTF-8 (× and ß are not capitals).
TEST(Texto, ClaveDeLaIntercalacion) {
  const struct {
    std::string a, b;
    bool igual;
  } casos[] = {
      {"abc   ", "ABC", true}, {"abc\t", "abc", false}, {" abc", "abc", false}, {"ÁÉÍÓÚÑÜ", "áéíóúñü", true},
      {"×", "÷", false},       {"ß", "ÿ", false},       {"ÀÞ", "àþ", true},     {"", "   ", true},
  };
  for (const auto& c : casos) EXPECT_EQ(ClaveTexto(c.a) == ClaveTexto(c.b), c.igual) << c.a << " / " << c.b;
}

// COMMIT and ROLLBACK without a transaction carry SQL Server's numbers and texts.
TEST(Texto, ConfirmarODeshacerSinTransaccion) {
  Servidor s;
  const ErrorSql commit = apoyo::ErrorDe(s, "COMMIT TRANSACTION");
  const ErrorSql rollback = apoyo::ErrorDe(s, "rollback tran");
  EXPECT_EQ(commit.numero, 3902);
  EXPECT_EQ(commit.descripcion, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  EXPECT_EQ(rollback.numero, 3903);
  EXPECT_EQ(rollback.descripcion, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
}

}  // namespace
