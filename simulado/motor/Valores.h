// Column types and typed values of the simulated server: conversion, comparison, arithmetic, printing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Servidor.h"
#include "Texto.h"

namespace simulado {

struct TipoCol {
  Tipo tipo = Tipo::Int;
  int largo = 0;         // char, varchar
  int precision = 0;     // decimal
  int escala = 0;        // decimal
  bool numeric = false;  // declared numeric: the same as decimal, but named so in the catalogue
  bool operator==(const TipoCol&) const = default;
};

bool EsTexto(Tipo t);
bool EsEntero(Tipo t);
bool EsFecha(Tipo t);
std::string NombreTipo(Tipo t);                 // "varchar"
std::string DeclaracionTipo(const TipoCol& t);  // "varchar(30)", "decimal(8,2)"
std::string NombreTipo(const TipoCol& t);       // "numeric" for a numeric column

// A value while a statement works with it. Fecha holds milliseconds since 1970-01-01;
// its `escala` is 0 for smalldatetime and 3 for datetime (how it prints).
struct Valor {
  enum class Clase : std::uint8_t { Nulo, Entero, Decimal, Texto, Fecha };
  Clase clase = Clase::Nulo;
  int escala = 0;
  std::int64_t n = 0;
  std::string s;

  bool Nulo() const { return clase == Clase::Nulo; }
  static Valor Entero(std::int64_t v) { return Numerico(Clase::Entero, v, 0); }
  static Valor Decimal(std::int64_t v, int escala) { return Numerico(Clase::Decimal, v, escala); }
  static Valor Fecha(std::int64_t ms, int escala) { return Numerico(Clase::Fecha, ms, escala); }
  static Valor Texto(std::string v) {
    Valor r;
    r.clase = Clase::Texto;
    r.s = std::move(v);
    return r;
  }

 private:
  static Valor Numerico(Clase clase, std::int64_t n, int escala) {
    Valor r;
    r.clase = clase;
    r.n = n;
    r.escala = escala;
    return r;
  }
};

// Errors that SQL Server treats as conversion failures (they also end the open transaction).
bool EsErrorConversion(int numero);

// The value as it must be stored in a column of type t (char padded, decimals rescaled, dates
// rounded); throws 245, 8114, 8115, 8152, 241 as SQL Server does.
Valor Convertir(Valor v, const TipoCol& t);

// Three-way comparison with SQL Server's implicit conversions (text against a number converts the
// text); strings compare without regard to case and ignoring trailing blanks. Neither may be NULL.
int Comparar(const Valor& a, const Valor& b);

// Arithmetic: op is one of + - * /.
Valor Operar(char op, const Valor& a, const Valor& b);
Valor Negar(const Valor& a);

// The text SQL Server prints for the value (NULL is the caller's business).
std::string Imprimir(const Valor& v);
// A literal that reads back as the same value ('x' quoted, numbers bare, NULL), also from a script:
// a text holding a line that reads as GO is written as two pieces joined with +.
std::string Literal(const Valor& v);
// A script line that ends a batch: GO in any case, blanks around.
bool EsSeparador(std::string_view linea);

// Case folding and trailing-blank trimming of the default case-insensitive collation.
std::string ClaveTexto(std::string_view s);

std::int64_t AhoraMs();

}  // namespace simulado
