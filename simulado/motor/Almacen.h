// Storage of the simulated server: columns stored column-wise, tables, views and the undo log.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "Sintaxis.h"
#include "Valores.h"

namespace simulado {

// One column and its values; a column object is never changed in type: ALTER COLUMN builds a new
// one, so the undo log can keep the old object alive and put it back.
struct Columna {
  std::string nombre;
  TipoCol tipo;
  bool nulos = true;
  std::string collation;
  bool identidad = false;
  std::int64_t semilla = 1, incremento = 1, actual = 0;
  bool generado = false;  // the identity has handed out a value since its seed

  // Numbers, dates and bits in `num`; texts as (start, length) into one buffer per column, which
  // keeps a table of short or empty texts small. A text that grows is appended; `basura` counts
  // the bytes left behind, and the buffer is rewritten when they pass half of it.
  std::vector<std::int64_t> num;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ref;
  std::string datos;
  std::size_t basura = 0;
  std::vector<std::uint8_t> nulo;

  bool Textual() const { return EsTexto(tipo.tipo); }
  std::size_t Filas() const { return nulo.size(); }
  Valor Leer(std::size_t f) const;
  std::string_view Texto(std::size_t f) const {
    return std::string_view(datos).substr(ref[f].first, ref[f].second);
  }
  // `v` must already be converted to the column's type.
  void Poner(std::size_t f, const Valor& v);
  void Agregar(const Valor& v);
  void AgregarDe(const Columna& otra, std::size_t f);
  void CopiarDe(std::size_t destino, const Columna& otra, std::size_t f);
  void Truncar(std::size_t n);
  void Reservar(std::size_t n);
  void Intercambiar(Columna& otra);  // values only
  void PonerTexto(std::size_t f, std::string_view s);
  // An empty column with the same definition.
  std::shared_ptr<Columna> Vacia() const;

 private:
  // Calls `fn` on each vector that holds one entry a row: the NULL flags and this type's values.
  template <typename F>
  void Vectores(F&& fn) {
    fn(nulo);
    if (Textual())
      fn(ref);
    else
      fn(num);
  }
};

struct Restriccion {
  DefRestriccion::T tipo = DefRestriccion::T::PK;
  std::string nombre;
  int id = 0;
  std::vector<std::string> columnas;  // PK, UQ
  bool agrupado = false;
  int relleno = 0;
  std::string textoDefecto;  // DF, e.g. "(0)"
  std::string para;          // DF: the column
  int indid = 0;             // PK, UQ: its index row
};

struct Indice {
  std::string nombre;
  std::vector<std::string> columnas;
  bool unico = false, agrupado = false;
  int relleno = 0;
  int indid = 0;
};

struct Esquema {
  std::vector<std::shared_ptr<Columna>> cols;
  std::vector<Restriccion> restr;
  std::vector<Indice> indices;
};

struct Tabla {
  std::string nombre;
  int id = 0;
  Esquema e;
  std::size_t filas = 0;
  bool identityInsert = false;
  // Keys of the unique constraints and indexes, built on demand and dropped on any change they
  // cannot follow cheaply (appending rows keeps them up to date).
  std::map<std::string, std::unordered_set<std::string>> claves;
  bool clavesValidas = false;

  int Columna(std::string_view nombre) const;  // -1 when missing
  const Restriccion* Defecto(std::string_view columna) const;
  const Restriccion* ClavePrimaria() const;
};

struct Vista {
  std::string nombre;
  int id = 0;
  std::string texto;
};

// One entry of the undo log; applied in reverse order it puts the state back.
struct Deshacer {
  enum class K { Esquema, Objetos, Truncar, Celdas, Borrado };
  K k = K::Truncar;
  std::shared_ptr<Tabla> tabla;
  Esquema esquema;                             // Esquema: the table's previous definition
  std::vector<std::shared_ptr<Tabla>> tablas;  // Objetos
  std::vector<std::shared_ptr<Vista>> vistas;  // Objetos
  std::size_t filas = 0;                       // Truncar
  std::shared_ptr<Columna> col;                // Celdas
  std::vector<std::size_t> posiciones;         // Celdas, Borrado (ascending for Borrado)
  std::shared_ptr<Columna> viejos;             // Celdas: old values, one per position
  std::vector<std::pair<std::shared_ptr<Columna>, std::shared_ptr<Columna>>> borrados;  // Borrado
};

}  // namespace simulado
