// Storage of the simulated server: columns stored column-wise, tables, views and the undo log.
#include "Almacen.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "Texto.h"

namespace simulado {

namespace {

static_assert(std::endian::native == std::endian::little, "cells are read and written as native integers");

// Texts up to this many bytes (their length byte included) may stay inline in the cell.
constexpr unsigned kInlineMaximo = 32;
constexpr std::uint32_t kSinTexto = 0xFFFFFFFFu;  // a long-text cell holding "" (or NULL)

unsigned AnchoPara(std::int64_t q) {
  if (q >= INT8_MIN && q <= INT8_MAX) return 1;
  if (q >= INT16_MIN && q <= INT16_MAX) return 2;
  if (q >= INT32_MIN && q <= INT32_MAX) return 4;
  return 8;
}

std::size_t Caracteres(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// LEB128: 7 bits a byte, the high bit set on all but the last.
void EscribirLargo(std::string& d, std::size_t n) {
  do {
    const auto b = static_cast<char>((n & 0x7F) | (n > 0x7F ? 0x80 : 0));
    d += b;
    n >>= 7;
  } while (n != 0);
}

std::size_t TamLargo(std::size_t n) {
  std::size_t r = 1;
  while (n > 0x7F) {
    n >>= 7;
    ++r;
  }
  return r;
}

// The text at `off` of a long-text buffer and the bytes its entry takes.
std::string_view LeerEntrada(const std::string& d, std::uint32_t off, std::size_t* total = nullptr) {
  if (off == kSinTexto) {
    if (total) *total = 0;
    return {};
  }
  std::size_t n = 0, i = off;
  for (int desplazado = 0;; desplazado += 7) {
    const auto b = static_cast<unsigned char>(d[i++]);
    n |= static_cast<std::size_t>(b & 0x7F) << desplazado;
    if ((b & 0x80) == 0) break;
  }
  if (total) *total = i - off + n;
  return std::string_view(d).substr(i, n);
}

}  // namespace

// How a type is stored: the step of its numbers (smalldatetime counts whole minutes). A new type adds its
// case here, and in Leer if its values are not integers or texts.
namespace {
std::int64_t PasoDe(const TipoCol& t) {
  return t.tipo == Tipo::SmallDateTime ? 60000 : 1;
}
}  // namespace

std::int64_t Columna::Entero(std::size_t f) const {
  const std::uint8_t* p = celdas_.data() + f * ancho_;
  std::int64_t q;
  switch (ancho_) {
    case 1:
      q = static_cast<std::int64_t>(*p) - ((*p & 0x80) != 0 ? 256 : 0);  // the byte's sign extended
      break;
    case 2: {
      std::int16_t v;
      std::memcpy(&v, p, 2);
      q = v;
      break;
    }
    case 4: {
      std::int32_t v;
      std::memcpy(&v, p, 4);
      q = v;
      break;
    }
    default:
      std::memcpy(&q, p, 8);
  }
  return q * paso_;
}

std::string_view Columna::Texto(std::size_t f) const {
  const std::uint8_t* p = celdas_.data() + f * ancho_;
  if (!largo_) return {reinterpret_cast<const char*>(p + 1), p[0]};
  std::uint32_t off;
  std::memcpy(&off, p, 4);
  return LeerEntrada(datos_, off);
}

Valor Columna::Leer(std::size_t f) const {
  if (Nulo(f)) return {};
  if (Textual()) {
    std::string s(Texto(f));
    if (tipo.tipo == Tipo::Char) {
      const std::size_t n = Caracteres(s), largo = static_cast<std::size_t>(tipo.largo);
      if (n < largo) s.append(largo - n, ' ');
    }
    return Valor::Texto(std::move(s));
  }
  const std::int64_t n = Entero(f);
  switch (tipo.tipo) {
    case Tipo::Decimal:
      return Valor::Decimal(n, tipo.escala);
    case Tipo::SmallDateTime:
      return Valor::Fecha(n, 0);
    case Tipo::DateTime:
      return Valor::Fecha(n, 3);
    default:
      return Valor::Entero(n);
  }
}

void Columna::Recodificar(unsigned ancho, std::int64_t paso, bool largo) {
  Columna nueva;
  nueva.tipo = tipo;
  nueva.ancho_ = ancho;
  nueva.paso_ = paso;
  nueva.largo_ = largo;
  nueva.iniciada_ = true;
  nueva.celdas_.reserve(std::max(celdas_.capacity() / ancho_, filas_) * ancho);
  for (std::size_t f = 0; f < filas_; ++f) {
    nueva.Crecer();
    if (Textual())
      nueva.PonerTexto(f, Texto(f));
    else
      nueva.PonerEntero(f, Entero(f));
  }
  nueva.mapaNulos_ = std::move(mapaNulos_);
  Intercambiar(nueva);
}

void Columna::Crecer() {
  if (filas_ == 0 && !iniciada_) {
    ancho_ = 1;
    paso_ = Textual() ? 1 : PasoDe(tipo);
    largo_ = false;
    iniciada_ = true;
  }
  celdas_.resize(celdas_.size() + ancho_, 0);
  if (largo_) std::memcpy(celdas_.data() + filas_ * ancho_, &kSinTexto, 4);
  ++filas_;
  if (!mapaNulos_.empty() && mapaNulos_.size() * 64 < filas_) mapaNulos_.push_back(0);
}

void Columna::PonerNulo(std::size_t f, bool nulo) {
  if (!nulo && mapaNulos_.empty()) return;
  if (mapaNulos_.empty()) mapaNulos_.assign((filas_ + 63) / 64, 0);
  const std::uint64_t bit = std::uint64_t{1} << (f % 64);
  if (nulo)
    mapaNulos_[f / 64] |= bit;
  else
    mapaNulos_[f / 64] &= ~bit;
}

void Columna::PonerEntero(std::size_t f, std::int64_t n) {
  if (n % paso_ != 0) Recodificar(8, 1, false);
  const std::int64_t q = n / paso_;
  if (const unsigned a = AnchoPara(q); a > ancho_) Recodificar(a, paso_, false);
  std::memcpy(celdas_.data() + f * ancho_, &q, ancho_);
}

std::size_t Columna::AnotarLargo(std::string_view s) {
  if (s.empty()) return kSinTexto;
  if (datos_.size() + s.size() + 8 > kSinTexto)
    throw std::length_error("the texts of column " + nombre + " pass 4 GiB");
  const std::size_t off = datos_.size();
  EscribirLargo(datos_, s.size());
  datos_.append(s);
  return off;
}

void Columna::PonerTexto(std::size_t f, std::string_view s) {
  if (!largo_ && s.size() + 1 > ancho_) {
    const std::size_t necesario = s.size() + 1;
    const std::size_t corto = filas_ * necesario;
    const std::size_t largo = filas_ * 5 + bytesTexto_ + s.size();
    if (necesario <= kInlineMaximo && corto <= largo)
      Recodificar(static_cast<unsigned>(necesario), 1, false);
    else
      Recodificar(4, 1, true);
  }
  std::uint8_t* p = celdas_.data() + f * ancho_;
  if (!largo_) {
    bytesTexto_ = bytesTexto_ - p[0] + s.size();
    p[0] = static_cast<std::uint8_t>(s.size());
    if (!s.empty()) std::memcpy(p + 1, s.data(), s.size());  // an empty view may hold no pointer at all
    std::memset(p + 1 + s.size(), 0, ancho_ - 1 - s.size());
    return;
  }
  std::uint32_t off;
  std::memcpy(&off, p, 4);
  std::size_t total = 0;
  const std::string_view viejo = LeerEntrada(datos_, off, &total);
  bytesTexto_ = bytesTexto_ - viejo.size() + s.size();
  if (!s.empty() && s.size() <= viejo.size()) {
    std::string entrada;
    EscribirLargo(entrada, s.size());
    entrada.append(s);
    datos_.replace(off, entrada.size(), entrada);
    basura_ += total - entrada.size();
    return;
  }
  basura_ += total;
  const auto nuevo = static_cast<std::uint32_t>(AnotarLargo(s));
  std::memcpy(celdas_.data() + f * ancho_, &nuevo, 4);
  if (basura_ > 4096 && basura_ > datos_.size() / 2) Recodificar(4, 1, true);
}

void Columna::Poner(std::size_t f, const Valor& v) {
  PonerNulo(f, v.Nulo());
  if (Textual()) {
    std::string_view s = v.Nulo() ? std::string_view() : std::string_view(v.s);
    if (tipo.tipo == Tipo::Char) s = RecortarFinal(s, " ");
    PonerTexto(f, s);
  } else {
    PonerEntero(f, v.Nulo() ? 0 : v.n);
  }
}

void Columna::Agregar(const Valor& v) {
  Crecer();
  Poner(filas_ - 1, v);
}

void Columna::AgregarDe(const Columna& otra, std::size_t f) {
  Crecer();
  CopiarDe(filas_ - 1, otra, f);
}

void Columna::CopiarDe(std::size_t destino, const Columna& otra, std::size_t f) {
  PonerNulo(destino, otra.Nulo(f));
  if (Textual())
    PonerTexto(destino, otra.Texto(f));
  else
    PonerEntero(destino, otra.Entero(f));
}

void Columna::Truncar(std::size_t n) {
  if (n >= filas_) return;
  if (n == 0) {
    Columna vacia;
    vacia.tipo = tipo;
    Intercambiar(vacia);
    return;
  }
  for (std::size_t f = n; Textual() && f < filas_; ++f) {
    const std::string_view s = Texto(f);
    bytesTexto_ -= s.size();
    if (largo_ && !s.empty()) basura_ += s.size() + TamLargo(s.size());
  }
  celdas_.resize(n * ancho_);
  filas_ = n;
  if (!mapaNulos_.empty()) {
    mapaNulos_.resize((n + 63) / 64);
    if (n % 64) mapaNulos_.back() &= (std::uint64_t{1} << (n % 64)) - 1;
  }
}

void Columna::Reservar(std::size_t n) {
  celdas_.reserve(n * ancho_);
}

void Columna::Intercambiar(Columna& otra) {
  celdas_.swap(otra.celdas_);
  std::swap(ancho_, otra.ancho_);
  std::swap(paso_, otra.paso_);
  std::swap(largo_, otra.largo_);
  datos_.swap(otra.datos_);
  std::swap(basura_, otra.basura_);
  std::swap(bytesTexto_, otra.bytesTexto_);
  mapaNulos_.swap(otra.mapaNulos_);
  std::swap(filas_, otra.filas_);
  std::swap(iniciada_, otra.iniciada_);
}

void Columna::Ajustar() {
  if (largo_ && basura_ > 0) Recodificar(4, 1, true);
  celdas_.shrink_to_fit();
  datos_.shrink_to_fit();
  mapaNulos_.shrink_to_fit();
}

std::shared_ptr<Columna> Columna::Vacia() const {
  auto c = std::make_shared<Columna>();
  c->nombre = nombre;
  c->tipo = tipo;
  c->nulos = nulos;
  c->collation = collation;
  c->identidad = identidad;
  c->semilla = semilla;
  c->incremento = incremento;
  c->actual = actual;
  c->generado = generado;
  return c;
}

std::size_t Columna::Bytes() const {
  return celdas_.capacity() + datos_.capacity() + mapaNulos_.capacity() * 8;
}

void IndiceUnico::Reservar(std::size_t filas) {
  std::size_t n = 16;
  while (n * 7 < filas * 10) n *= 2;
  if (n <= celdas_.size()) return;
  std::vector<std::uint64_t> viejas(n, 0);
  viejas.swap(celdas_);
  cuenta_ = 0;
  for (const std::uint64_t c : viejas)
    if (c != 0) Agregar(static_cast<std::uint32_t>(c >> 32), static_cast<std::size_t>((c & 0xFFFFFFFFu) - 1));
}

void IndiceUnico::Agregar(std::uint32_t hash, std::size_t fila) {
  if ((cuenta_ + 1) * 10 > celdas_.size() * 7) Reservar(std::max<std::size_t>(cuenta_ * 2, 16));
  if (fila >= 0xFFFFFFFFu) throw std::length_error("a table with 2^32 rows or more");
  const std::size_t mascara = celdas_.size() - 1;
  std::size_t i = hash & mascara;
  while (celdas_[i] != 0) i = (i + 1) & mascara;
  celdas_[i] = (static_cast<std::uint64_t>(hash) << 32) | (fila + 1);
  ++cuenta_;
}

int Tabla::Columna(std::string_view buscado) const {
  for (std::size_t i = 0; i < e.cols.size(); ++i)
    if (MismoNombre(e.cols[i]->nombre, buscado)) return static_cast<int>(i);
  return -1;
}

const Restriccion* Tabla::Defecto(std::string_view columna) const {
  for (const auto& r : e.restr)
    if (r.tipo == DefRestriccion::T::DF && MismoNombre(r.para, columna)) return &r;
  return nullptr;
}

const Restriccion* Tabla::ClavePrimaria() const {
  for (const auto& r : e.restr)
    if (r.tipo == DefRestriccion::T::PK) return &r;
  return nullptr;
}

}  // namespace simulado
