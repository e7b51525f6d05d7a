// The T-SQL parser of the simulated server: a recursive descent over the lexer's tokens.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Lexico.h"
#include "Sintaxis.h"

namespace simulado {

class Analizador {
 public:
  explicit Analizador(std::string_view texto) : src_(texto), t_(Tokens(texto)) {}

  std::vector<Sentencia> Lote();
  std::vector<std::pair<std::size_t, std::size_t>> Extensiones();
  PExpr SoloExpresion();

 private:
  std::string_view src_;
  std::vector<Token> t_;
  std::size_t i_ = 0;
  int nivel_ = 0;   // recursion depth of the parser itself
  int altura_ = 0;  // the tallest expression of the query being read

  [[noreturn]] static void Anidado() {
    throw ErrorSql(191,
                   "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
                   "into smaller queries.");
  }

  // Held by each parsing function that recurses; it refuses the level past the limit.
  struct Nivel {
    int& n;
    explicit Nivel(int& x) : n(x) {
      if (++n > kAnidamientoMaximo) {
        --n;
        Anidado();
      }
    }
    ~Nivel() { --n; }
    Nivel(const Nivel&) = delete;
    Nivel& operator=(const Nivel&) = delete;
  };

  // Sets a finished node's height from its children; operator chains are built without recursion,
  // so it is the height, not the parser's depth, that keeps the evaluator's recursion bounded.
  PExpr Medido(PExpr e) {
    int a = 0;
    for (const auto& h : e->hijos) a = std::max(a, h->altura);
    if (e->sub) a = std::max(a, e->sub->altura);
    e->altura = a + 1;
    if (e->altura > kAnidamientoMaximo) Anidado();
    altura_ = std::max(altura_, e->altura);
    return e;
  }

  const Token& Ver(std::size_t k = 0) const { return t_[std::min(i_ + k, t_.size() - 1)]; }
  bool Es(const char* palabra, std::size_t k = 0) const {
    const Token& t = Ver(k);
    return t.t == Token::T::Id && !t.corchete && MismoNombre(t.texto, palabra);
  }
  bool EsSim(const char* s, std::size_t k = 0) const {
    const Token& t = Ver(k);
    return t.t == Token::T::Sim && t.texto == s;
  }
  bool Acepta(const char* palabra) {
    if (!Es(palabra)) return false;
    ++i_;
    return true;
  }
  bool AceptaSim(const char* s) {
    if (!EsSim(s)) return false;
    ++i_;
    return true;
  }
  void Espera(const char* palabra) {
    if (!Acepta(palabra)) Error();
  }
  void EsperaSim(const char* s) {
    if (!AceptaSim(s)) Error();
  }
  [[noreturn]] void Error() const {
    const Token& t = Ver();
    if (t.t == Token::T::Fin) Sintaxis(i_ > 0 ? t_[i_ - 1].texto : std::string());
    Sintaxis(t.t == Token::T::Cad ? t.texto : std::string(src_.substr(t.pos, t.fin - t.pos)));
  }

  std::string Identificador();
  NombreObjeto Objeto();
  std::int64_t Entero();
  Sentencia UnaSentencia();
  void Crear(Sentencia& s, std::size_t inicio);
  std::string TextoSinSeparadores(std::size_t desde, std::size_t hasta) const;
  static bool TieneSeparador(std::string_view s);
  void EnGrupo();
  int Relleno();
  std::vector<std::string> ListaColumnas();
  TipoCol TipoColumna();
  DefColumna Columna();
  DefRestriccion ClaveSinColumnas(std::string nombre);
  DefRestriccion Restriccion(bool conDefecto);
  void Alterar(Sentencia& s);
  void Insertar(Sentencia& s);
  std::shared_ptr<Consulta> ConsultaCompleta();
  void Termino(Consulta& c);
  Nucleo UnNucleo();

  PExpr Nodo(Expr::K k) {
    auto e = std::make_unique<Expr>();
    e->k = k;
    return e;
  }

  PExpr Cadena(const char* palabra, Expr::K k, PExpr (Analizador::*operando)());
  PExpr Condicion();
  PExpr CondicionY();
  PExpr CondicionNo();
  static bool TextoLiteral(const Expr& e);
  PExpr Operacion(PExpr a, PExpr (Analizador::*operando)());
  PExpr Suma();
  PExpr Producto();
  PExpr Unario();
  PExpr Primario();
};

}  // namespace simulado
