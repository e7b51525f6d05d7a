// Statement trees of the simulated server and the parser that builds them from T-SQL text.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Valores.h"

namespace simulado {

struct Consulta;

struct Expr {
  enum class K {
    Literal,
    Columna,
    Menos,
    Binaria,
    Getdate,
    BaseActual,
    Subconsulta,
    Comparacion,
    En,
    Y,
    O,
    No,
    EsNulo
  };
  K k = K::Literal;
  Valor valor;              // Literal
  std::string calificador;  // Columna: "Transaccion" in Transaccion.TRA_Monto
  std::string nombre;       // Columna
  std::string op;           // Binaria: + - * /; Comparacion: = <> < > <= >=
  std::vector<std::unique_ptr<Expr>> hijos;
  std::shared_ptr<Consulta> sub;  // Subconsulta
  bool negado = false;            // NOT IN, IS NOT NULL
  int indice = -1;                // Columna, once bound to a source
  int altura = 1;                 // levels below and including this node, subqueries counted
  // Subconsulta, En: the values of the sub-select. It cannot see the outer row, so one run serves
  // the whole statement.
  mutable std::shared_ptr<std::vector<Valor>> resultado;
};
using PExpr = std::unique_ptr<Expr>;

struct NombreObjeto {
  std::string esquema;  // "dbo", "information_schema" or empty
  std::string nombre;
};

struct ItemSel {
  PExpr expr;
  std::string alias;
  bool estrella = false;
};

struct Nucleo {
  std::vector<ItemSel> items;
  bool contar = false;  // SELECT COUNT(*)
  std::optional<NombreObjeto> desde;
  PExpr donde;
};

// Parenthesised selects joined by UNION ALL, flattened.
struct Consulta {
  std::vector<Nucleo> partes;
  int altura = 0;  // the tallest expression in it
};

// How deep statements may nest (parentheses, operators, NOT, subqueries): deeper ones are refused
// with 191, so that neither the parser nor the evaluator can run out of stack.
constexpr int kAnidamientoMaximo = 128;

struct DefRestriccion {
  enum class T { PK, UQ, DF };
  T tipo = T::PK;
  std::string nombre;  // empty: the server names it
  bool agrupado = false;
  bool agrupadoDicho = false;
  int relleno = 0;
  std::vector<std::string> columnas;
  PExpr defecto;  // DF
  std::string textoDefecto;
  std::string para;  // DF ... FOR col
};

struct DefColumna {
  std::string nombre;
  TipoCol tipo;
  std::optional<bool> nulos;
  std::string collate;
  bool identidad = false;
  std::int64_t semilla = 1, incremento = 1;
  std::optional<DefRestriccion> defecto;
  std::optional<DefRestriccion> clave;  // inline PRIMARY KEY / UNIQUE
};

struct Sentencia {
  enum class K {
    Begin,
    Commit,
    Rollback,
    CrearTabla,
    CrearIndice,
    CrearVista,
    EliminarTabla,
    EliminarVista,
    AgregarATabla,
    AlterarColumna,
    EliminarDeTabla,
    Insertar,
    Actualizar,
    Borrar,
    Seleccionar,
    IdentityInsert,
    Reseed
  };
  K k = K::Seleccionar;
  NombreObjeto objeto;
  std::vector<DefColumna> columnas;
  std::vector<DefRestriccion> restricciones;
  std::string nombreIndice;
  bool unico = false, agrupado = false;
  std::vector<std::string> listaCols;  // index columns, INSERT column list
  int relleno = 0;
  std::string texto;  // CREATE VIEW: the whole statement
  std::shared_ptr<Consulta> consulta;
  std::vector<std::string> eliminarColumnas, eliminarRestricciones;
  std::vector<std::vector<PExpr>> valores;
  std::vector<std::pair<std::string, PExpr>> asignaciones;
  PExpr donde;
  bool activar = false;
  std::int64_t reseed = 0;
  std::string_view fuente;  // the statement's text in its batch (valid while the batch text is)
  // INSERT read by the fast path: its rows' literal values one after another, `porFila` a row (the
  // first row's count; `irregular` when another row has a different one).
  bool rapida = false;
  std::vector<Valor> literales;
  std::size_t porFila = 0;
  bool irregular = false;
};

// Parses a batch (one or more statements); a form the server does not know raises 102.
std::vector<Sentencia> AnalizarLote(std::string_view texto);
// Where each statement of a batch begins and ends in its text, from the same parse as AnalizarLote: a
// server that answers each statement in turn cuts the batch there. Raises what AnalizarLote raises.
std::vector<std::pair<std::size_t, std::size_t>> ExtensionesLote(std::string_view texto);
// Parses one scalar expression (defaults kept as text).
PExpr AnalizarExpresion(std::string_view texto);
// A name as a script writes it: bare when it reads back as the same identifier, else in brackets.
std::string NombreEnScript(const std::string& nombre);
// The canonical text of a literal-only expression such as a default: "(0)", "('')", "(getdate())".
std::string TextoExpresion(const Expr& e);

}  // namespace simulado
