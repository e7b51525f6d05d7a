// Storage of the simulated server: columns stored column-wise, tables, views and the undo log.
#include "Almacen.h"

namespace simulado {

Valor Columna::Leer(std::size_t f) const {
  if (nulo[f]) return {};
  if (Textual()) return Valor::Texto(std::string(Texto(f)));
  switch (tipo.tipo) {
    case Tipo::Decimal:
      return Valor::Decimal(num[f], tipo.escala);
    case Tipo::SmallDateTime:
      return Valor::Fecha(num[f], 0);
    case Tipo::DateTime:
      return Valor::Fecha(num[f], 3);
    default:
      return Valor::Entero(num[f]);
  }
}

namespace {

std::pair<std::uint32_t, std::uint32_t> Anexar(std::string& datos, std::string_view s) {
  const auto r =
      std::make_pair(static_cast<std::uint32_t>(datos.size()), static_cast<std::uint32_t>(s.size()));
  datos.append(s);
  return r;
}

}  // namespace

void Columna::PonerTexto(std::size_t f, std::string_view s) {
  auto& r = ref[f];
  if (s.size() <= r.second) {
    datos.replace(r.first, s.size(), s);
    basura += r.second - s.size();
    r.second = static_cast<std::uint32_t>(s.size());
    return;
  }
  basura += r.second;
  r = Anexar(datos, s);
  if (basura > 4096 && basura > datos.size() / 2) {
    std::string nuevos;
    nuevos.reserve(datos.size() - basura);
    for (auto& x : ref) x = Anexar(nuevos, std::string_view(datos).substr(x.first, x.second));
    datos.swap(nuevos);
    basura = 0;
  }
}

void Columna::Poner(std::size_t f, const Valor& v) {
  nulo[f] = v.Nulo() ? 1 : 0;
  if (Textual())
    PonerTexto(f, v.Nulo() ? std::string_view() : std::string_view(v.s));
  else
    num[f] = v.Nulo() ? 0 : v.n;
}

void Columna::Agregar(const Valor& v) {
  nulo.push_back(v.Nulo() ? 1 : 0);
  if (Textual())
    ref.push_back(Anexar(datos, v.Nulo() ? std::string_view() : std::string_view(v.s)));
  else
    num.push_back(v.Nulo() ? 0 : v.n);
}

void Columna::AgregarDe(const Columna& otra, std::size_t f) {
  nulo.push_back(otra.nulo[f]);
  if (Textual())
    ref.push_back(Anexar(datos, otra.Texto(f)));
  else
    num.push_back(otra.num[f]);
}

void Columna::CopiarDe(std::size_t destino, const Columna& otra, std::size_t f) {
  nulo[destino] = otra.nulo[f];
  if (Textual())
    PonerTexto(destino, otra.Texto(f));
  else
    num[destino] = otra.num[f];
}

void Columna::Truncar(std::size_t n) {
  Vectores([n](auto& v) { v.resize(n); });
}

void Columna::Reservar(std::size_t n) {
  Vectores([n](auto& v) { v.reserve(n); });
}

void Columna::Intercambiar(Columna& otra) {
  num.swap(otra.num);
  ref.swap(otra.ref);
  datos.swap(otra.datos);
  std::swap(basura, otra.basura);
  nulo.swap(otra.nulo);
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
