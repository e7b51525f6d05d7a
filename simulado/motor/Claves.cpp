// The simulated server's undo log and its unique keys.
#include "ServidorImpl.h"

#include <optional>

namespace simulado {

void Servidor::Impl::AnotarEsquema(const std::shared_ptr<Tabla>& t) {
  Deshacer d;
  d.k = Deshacer::K::Esquema;
  d.tabla = t;
  d.esquema = t->e;
  log.push_back(std::move(d));
}

void Servidor::Impl::AnotarObjetos() {
  Deshacer d;
  d.k = Deshacer::K::Objetos;
  d.tablas = tablas;
  d.vistas = vistas;
  log.push_back(std::move(d));
}

void Servidor::Impl::AnotarFilas(const std::shared_ptr<Tabla>& t) {
  Deshacer d;
  d.k = Deshacer::K::Truncar;
  d.tabla = t;
  d.filas = t->filas;
  log.push_back(std::move(d));
}

void Servidor::Impl::DeshacerHasta(std::size_t marca) {
  while (log.size() > marca) {
    Deshacer& d = log.back();
    switch (d.k) {
      case Deshacer::K::Esquema:
        d.tabla->e = std::move(d.esquema);
        d.tabla->clavesValidas = false;
        break;
      case Deshacer::K::Objetos:
        tablas = std::move(d.tablas);
        vistas = std::move(d.vistas);
        break;
      case Deshacer::K::Truncar:
        for (auto& c : d.tabla->e.cols) c->Truncar(d.filas);
        d.tabla->filas = d.filas;
        d.tabla->clavesValidas = false;
        break;
      case Deshacer::K::Celdas:
        for (std::size_t i = 0; i < d.posiciones.size(); ++i) d.col->CopiarDe(d.posiciones[i], *d.viejos, i);
        if (d.tabla) d.tabla->clavesValidas = false;
        break;
      case Deshacer::K::Borrado: {
        const std::size_t total = d.tabla->filas + d.posiciones.size();
        for (auto& [col, quitados] : d.borrados) {
          auto nueva = col->Vacia();
          nueva->Reservar(total);
          std::size_t k = 0, j = 0;
          for (std::size_t f = 0; f < total; ++f) {
            if (k < d.posiciones.size() && d.posiciones[k] == f)
              nueva->AgregarDe(*quitados, k++);
            else
              nueva->AgregarDe(*col, j++);
          }
          col->Intercambiar(*nueva);
        }
        d.tabla->filas = total;
        d.tabla->clavesValidas = false;
        break;
      }
    }
    log.pop_back();
  }
}

std::vector<const std::vector<std::string>*> Servidor::Impl::ColumnasUnicas(
    const Tabla& t, std::vector<std::string>* nombres) const {
  std::vector<const std::vector<std::string>*> r;
  auto agregar = [&](const auto& x) {
    r.push_back(&x.columnas);
    if (nombres) nombres->push_back(x.nombre);
  };
  for (const auto& x : t.e.restr)
    if (x.tipo != TR::DF) agregar(x);
  for (const auto& x : t.e.indices)
    if (x.unico) agregar(x);
  return r;
}

namespace {

// One column's part of a key: NULLs equal each other (a unique key holds one), texts as the collation
// compares them.
void AgregarAClave(std::string& k, const Valor& v) {
  if (v.Nulo())
    k += '\x01';
  else if (v.clase == Valor::Clase::Texto)
    k += ClaveTexto(v.s);
  else
    k += Imprimir(v);
  k += '\0';
}

// FNV-1a, folded to 32 bits.
std::uint32_t Hash(std::string_view k) {
  Fnv f;
  f(k);
  return static_cast<std::uint32_t>(f.h ^ (f.h >> 32));
}

// The key of stored row `f` over the columns `indices`.
void ClaveFila(const Tabla& t, const std::vector<int>& indices, std::size_t f, std::string& k) {
  k.clear();
  for (const int i : indices) AgregarAClave(k, t.e.cols[static_cast<std::size_t>(i)]->Leer(f));
}

std::vector<int> Indices(const Tabla& t, const std::vector<std::string>& cols) {
  std::vector<int> r;
  r.reserve(cols.size());
  for (const auto& c : cols) r.push_back(t.Columna(c));
  return r;
}

// Fills `indice` with the rows of `t`; returns the first row whose key an earlier row already holds.
std::optional<std::size_t> Llenar(const Tabla& t, const std::vector<int>& indices, IndiceUnico& indice) {
  indice.Reservar(t.filas);
  std::string k, otra;
  for (std::size_t f = 0; f < t.filas; ++f) {
    ClaveFila(t, indices, f, k);
    const std::uint32_t h = Hash(k);
    if (indice.Contiene(h, [&](std::size_t g) {
          ClaveFila(t, indices, g, otra);
          return otra == k;
        }))
      return f;
    indice.Agregar(h, f);
  }
  return std::nullopt;
}

}  // namespace

std::string Servidor::Impl::Clave(const Tabla& t, const std::vector<std::string>& cols,
                                  const std::function<Valor(int)>& leer) {
  std::string k;
  for (const auto& c : cols) AgregarAClave(k, leer(t.Columna(c)));
  return k;
}

std::string Servidor::Impl::ValoresClave(const Tabla& t, const std::vector<std::string>& cols,
                                         const std::function<Valor(int)>& leer) {
  std::string r;
  for (const auto& c : cols) {
    const Valor v = leer(t.Columna(c));
    if (!r.empty()) r += ", ";
    r += v.Nulo() ? "<NULL>" : Imprimir(v);
  }
  return r;
}

std::string Servidor::Impl::MensajeDuplicado(const Tabla& t, const std::string& nombre,
                                             const std::string& valores) const {
  for (const auto& x : t.e.restr)
    if (x.tipo != TR::DF && MismoNombre(x.nombre, nombre))
      return std::string("Violation of ") + (x.tipo == TR::PK ? "PRIMARY KEY" : "UNIQUE KEY") +
             " constraint '" + x.nombre + "'. Cannot insert duplicate key in object 'dbo." + t.nombre +
             "'. The duplicate key value is (" + valores + ").";
  return "Cannot insert duplicate key row in object 'dbo." + t.nombre + "' with unique index '" + nombre +
         "'. The duplicate key value is (" + valores + ").";
}

int Servidor::Impl::NumeroDuplicado(const Tabla& t, const std::string& nombre) const {
  for (const auto& x : t.e.restr)
    if (x.tipo != TR::DF && MismoNombre(x.nombre, nombre)) return 2627;
  return 2601;
}

// Builds the key indexes from the rows; a duplicate raises the error of an insert or update.
void Servidor::Impl::AsegurarClaves(Tabla& t) {
  if (t.clavesValidas) return;
  t.claves.clear();
  std::vector<std::string> nombres;
  const auto grupos = ColumnasUnicas(t, &nombres);
  for (std::size_t g = 0; g < grupos.size(); ++g) {
    if (const auto f = Llenar(t, Indices(t, *grupos[g]), t.claves[Minusculas(nombres[g])])) {
      auto leer = [&](int i) { return t.e.cols[static_cast<std::size_t>(i)]->Leer(*f); };
      t.claves.clear();
      throw ErrorSql(NumeroDuplicado(t, nombres[g]),
                     MensajeDuplicado(t, nombres[g], ValoresClave(t, *grupos[g], leer)));
    }
  }
  t.clavesValidas = true;
}

std::vector<Servidor::Impl::Grupo> Servidor::Impl::Grupos(Tabla& t) {
  AsegurarClaves(t);
  std::vector<std::string> nombres;
  const auto cols = ColumnasUnicas(t, &nombres);
  std::vector<Grupo> r(cols.size());
  for (std::size_t g = 0; g < cols.size(); ++g) {
    r[g].nombre = nombres[g];
    r[g].columnas = *cols[g];
    r[g].indices = Indices(t, *cols[g]);
    r[g].indice = &t.claves[Minusculas(nombres[g])];
  }
  return r;
}

// Checks a new row (to be row number t.filas) against every unique key and records its keys.
void Servidor::Impl::AnotarClaves(Tabla& t, std::vector<Grupo>& grupos, const std::vector<Valor>& fila,
                                  std::vector<std::string>& claves) {
  claves.resize(grupos.size() + 1);
  std::string& otra = claves.back();
  for (std::size_t g = 0; g < grupos.size(); ++g) {
    std::string& k = claves[g];
    k.clear();
    for (int i : grupos[g].indices) AgregarAClave(k, fila[static_cast<std::size_t>(i)]);
    if (grupos[g].indice->Contiene(Hash(k), [&](std::size_t f) {
          ClaveFila(t, grupos[g].indices, f, otra);
          return otra == k;
        })) {
      auto leer = [&](int i) { return fila[static_cast<std::size_t>(i)]; };
      throw ErrorSql(NumeroDuplicado(t, grupos[g].nombre),
                     MensajeDuplicado(t, grupos[g].nombre, ValoresClave(t, grupos[g].columnas, leer)));
    }
  }
  for (std::size_t g = 0; g < grupos.size(); ++g) grupos[g].indice->Agregar(Hash(claves[g]), t.filas);
}

// Creating a unique index over the existing rows: 1505 on a duplicate.
void Servidor::Impl::ComprobarUnicidad(const Tabla& t, const std::vector<std::string>& cols,
                                       const std::string& indice) {
  IndiceUnico vistos;
  if (const auto f = Llenar(t, Indices(t, cols), vistos)) {
    auto leer = [&](int i) { return t.e.cols[static_cast<std::size_t>(i)]->Leer(*f); };
    throw Doble(1505,
                "The CREATE UNIQUE INDEX statement terminated because a duplicate key was found for the "
                "object name 'dbo." +
                    t.nombre + "' and the index name '" + indice + "'. The duplicate key value is (" +
                    ValoresClave(t, cols, leer) + ").",
                kNoRestriccion);
  }
}

}  // namespace simulado
