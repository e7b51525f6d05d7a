// Storage of the simulated server: columns stored column-wise, tables, views and the undo log.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Sintaxis.h"
#include "Valores.h"

namespace simulado {

// One column and its values; a column object is never changed in type: ALTER COLUMN builds a new
// one, so the undo log can keep the old object alive and put it back.
//
// Values are kept as a record format keeps them, in one fixed-size cell a row: numbers, dates and bits as
// little-endian integers of the fewest bytes the column's values need (1, 2, 4 or 8; smalldatetime in
// minutes); texts of a few bytes inline behind their length byte, longer ones as an offset into one buffer
// per column (each there behind its length). char(n) is kept without its padding and padded when read.
// NULLs are a bit map, made at the first NULL. The cell width only grows, when a value needs it: the
// column is then rewritten once. Everything that depends on the type is in Codificacion() and the
// readers and writers beside it in Almacen.cpp.
struct Columna {
  std::string nombre;
  TipoCol tipo;
  bool nulos = true;
  std::string collation;
  bool identidad = false;
  std::int64_t semilla = 1, incremento = 1, actual = 0;
  bool generado = false;  // the identity has handed out a value since its seed

  bool Textual() const { return EsTexto(tipo.tipo); }
  std::size_t Filas() const { return filas_; }
  bool Nulo(std::size_t f) const {
    return !mapaNulos_.empty() && ((mapaNulos_[f / 64] >> (f % 64)) & 1u) != 0;
  }
  Valor Leer(std::size_t f) const;
  // The stored value of a non-NULL row without making a Valor: a text (char without its padding), or a
  // number (a decimal's unscaled digits, a date's milliseconds).
  std::string_view Texto(std::size_t f) const;
  std::int64_t Entero(std::size_t f) const;
  // `v` must already be converted to the column's type.
  void Poner(std::size_t f, const Valor& v);
  void Agregar(const Valor& v);
  // The other column has the same type.
  void AgregarDe(const Columna& otra, std::size_t f);
  void CopiarDe(std::size_t destino, const Columna& otra, std::size_t f);
  void Truncar(std::size_t n);
  void Reservar(std::size_t n);
  void Intercambiar(Columna& otra);  // values only
  // Gives back what growing left unused (after a load).
  void Ajustar();
  // Bytes held for the values (for the benchmarks' accounting).
  std::size_t Bytes() const;
  // An empty column with the same definition.
  std::shared_ptr<Columna> Vacia() const;

 private:
  void PonerNulo(std::size_t f, bool nulo);
  void PonerEntero(std::size_t f, std::int64_t n);
  void PonerTexto(std::size_t f, std::string_view s);
  void Crecer();  // one more row, its cell zero
  void Recodificar(unsigned ancho, std::int64_t paso, bool largo);
  std::size_t AnotarLargo(std::string_view s);

  std::vector<std::uint8_t> celdas_;
  unsigned ancho_ = 1;          // bytes per row in celdas_
  std::int64_t paso_ = 1;       // numbers: what one unit of the stored integer is worth
  bool largo_ = false;          // texts: cells are 4-byte offsets into datos_
  std::string datos_;           // long texts, each behind its length (LEB128)
  std::size_t basura_ = 0;      // bytes of datos_ no cell points to any more
  std::size_t bytesTexto_ = 0;  // total length of the stored texts, to choose between inline and offsets
  std::vector<std::uint64_t> mapaNulos_;
  std::size_t filas_ = 0;
  bool iniciada_ = false;  // paso_ set from the type
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

// The rows of a table by the values of one unique key: open addressing over cells that hold a row
// number and 32 bits of its key's hash, 8 bytes a cell at most 70 % full. What a key is and how two are
// compared is the caller's (Claves.cpp): `igual(fila)` says whether row `fila` holds the key sought.
class IndiceUnico {
 public:
  void Reservar(std::size_t filas);
  template <typename Igual>
  bool Contiene(std::uint32_t hash, Igual&& igual) const {
    if (celdas_.empty()) return false;
    const std::size_t mascara = celdas_.size() - 1;
    for (std::size_t i = hash & mascara;; i = (i + 1) & mascara) {
      const std::uint64_t c = celdas_[i];
      if (c == 0) return false;
      if (static_cast<std::uint32_t>(c >> 32) == hash &&
          igual(static_cast<std::size_t>((c & 0xFFFFFFFFu) - 1)))
        return true;
    }
  }
  // Row `fila` (below 2^32 - 1) with a key of this hash; the caller has checked it is not there yet.
  void Agregar(std::uint32_t hash, std::size_t fila);

 private:
  std::vector<std::uint64_t> celdas_;
  std::size_t cuenta_ = 0;
};

struct Tabla {
  std::string nombre;
  int id = 0;
  Esquema e;
  std::size_t filas = 0;
  bool identityInsert = false;
  // Keys of the unique constraints and indexes, built on demand and dropped on any change they
  // cannot follow cheaply (appending rows keeps them up to date).
  std::map<std::string, IndiceUnico> claves;
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
