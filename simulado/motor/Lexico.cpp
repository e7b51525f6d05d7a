// The T-SQL lexer of the simulated server: text to tokens, and the reserved words.
#include "Lexico.h"

#include <cstring>

#include "Texto.h"

namespace simulado {

namespace {

bool Letra(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '@' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool Cifra(char c) {
  return c >= '0' && c <= '9';
}

const char* const kReservadas[] = {"add",     "all",     "alter",        "and",       "as",
                                   "begin",   "by",      "check",        "clustered", "collate",
                                   "column",  "commit",  "constraint",   "create",    "dbcc",
                                   "default", "delete",  "drop",         "else",      "exec",
                                   "for",     "from",    "go",           "identity",  "identity_insert",
                                   "in",      "index",   "insert",       "into",      "is",
                                   "key",     "nocheck", "nonclustered", "not",       "null",
                                   "on",      "or",      "order",        "primary",   "rollback",
                                   "select",  "set",     "table",        "tran",      "transaction",
                                   "union",   "unique",  "update",       "values",    "view",
                                   "where",   "with"};

}  // namespace

[[noreturn]] void Sintaxis(const std::string& cerca) {
  throw ErrorSql(102, "Incorrect syntax near '" + cerca + "'.");
}

std::vector<Token> Tokens(std::string_view s) {
  std::vector<Token> r;
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (Blanco(c)) {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      while (i < s.size() && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      const std::size_t fin = s.find("*/", i + 2);
      if (fin == std::string_view::npos) throw ErrorSql(113, "Missing end comment mark '*/'.");
      i = fin + 2;
      continue;
    }
    Token t;
    t.pos = i;
    if (c == '[') {
      const std::size_t fin = s.find(']', i + 1);
      if (fin == std::string_view::npos)
        throw ErrorSql(105, "Unclosed quotation mark after the character string '" +
                                std::string(s.substr(i + 1)) + "'.");
      t.t = Token::T::Id;
      t.corchete = true;
      t.texto = std::string(s.substr(i + 1, fin - i - 1));
      // A name is written back into scripts as it is; a line break in it could end a batch there.
      if (t.texto.find_first_of("\r\n") != std::string::npos) Sintaxis(t.texto);
      i = fin + 1;
    } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'')) {
      if (c != '\'') ++i;
      ++i;
      std::string v;
      for (;;) {
        if (i >= s.size())
          throw ErrorSql(105, "Unclosed quotation mark after the character string '" + v + "'.");
        if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            v += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        v += s[i++];
      }
      t.t = Token::T::Cad;
      t.texto = v;
      t.valor = Valor::Texto(std::move(v));
    } else if (Cifra(c) || (c == '.' && i + 1 < s.size() && Cifra(s[i + 1]))) {
      std::size_t j = i;
      while (j < s.size() && Cifra(s[j])) ++j;
      bool punto = false;
      if (j < s.size() && s[j] == '.') {
        punto = true;
        ++j;
        while (j < s.size() && Cifra(s[j])) ++j;
      }
      if (j < s.size() && Letra(s[j])) Sintaxis(std::string(s.substr(i, j - i + 1)));
      t.t = Token::T::Num;
      t.texto = std::string(s.substr(i, j - i));
      std::int64_t n = 0;
      int escala = 0, cifras = 0;
      bool trasPunto = false;
      for (char d : t.texto) {
        if (d == '.') {
          trasPunto = true;
          continue;
        }
        // Leading zeros add nothing: "0.123456789012345678" is 18 digits, as the engine writes it.
        if ((cifras > 0 || d != '0') && ++cifras > 18)
          throw ErrorSql(1007,
                         "The number '" + t.texto +
                             "' is out of the range for numeric representation (maximum precision 38).");
        n = n * 10 + (d - '0');
        if (trasPunto) ++escala;
      }
      t.valor = (punto || n > 2147483647) ? Valor::Decimal(n, escala) : Valor::Entero(n);
      i = j;
    } else if (Letra(c)) {
      std::size_t j = i;
      while (j < s.size() && (Letra(s[j]) || Cifra(s[j]) || s[j] == '$')) ++j;
      t.t = Token::T::Id;
      t.texto = std::string(s.substr(i, j - i));
      i = j;
    } else {
      t.t = Token::T::Sim;
      const std::string_view dos = s.substr(i, 2);
      if (dos == "<>" || dos == "!=" || dos == "<=" || dos == ">=") {
        t.texto = std::string(dos);
        i += 2;
      } else if (std::strchr("(),.=<>*+-/;", c) != nullptr) {
        t.texto = std::string(1, c);
        ++i;
      } else {
        Sintaxis(std::string(1, c));
      }
    }
    t.fin = i;
    r.push_back(std::move(t));
  }
  Token fin;
  fin.pos = fin.fin = s.size();
  r.push_back(fin);
  return r;
}

bool Reservada(const std::string& s) {
  for (const char* r : kReservadas)
    if (MismoNombre(s, r)) return true;
  return false;
}

}  // namespace simulado
