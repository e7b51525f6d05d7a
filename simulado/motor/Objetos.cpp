// The simulated server's names and objects: ids, lookups and the one name space of objects.
#include "ServidorImpl.h"

#include <algorithm>

namespace simulado {

int Servidor::Impl::NuevoId() {
  for (;;) {
    semillaId = semillaId * 1103515245u + 12345u;
    const int id = static_cast<int>((semillaId >> 1) & 0x7FFFFFFF);
    if (id > 1000 && ids.insert(id).second) {
      // A datetime tells 3.33 ms apart: 10 ms between objects keeps their order after rounding.
      ultimoCreado = std::max(reloj(), ultimoCreado + 10);
      creados[id] = ultimoCreado;
      return id;
    }
  }
}

std::int64_t Servidor::Impl::Creado(int id) const {
  const auto i = creados.find(id);
  return i == creados.end() ? 0 : i->second;
}

std::shared_ptr<Tabla> Servidor::Impl::BuscarTabla(const NombreObjeto& o) const {
  if (!EsquemaPropio(o)) return nullptr;
  for (const auto& t : tablas)
    if (MismoNombre(t->nombre, o.nombre)) return t;
  return nullptr;
}

std::shared_ptr<Vista> Servidor::Impl::BuscarVista(const NombreObjeto& o) const {
  if (!EsquemaPropio(o)) return nullptr;
  for (const auto& v : vistas)
    if (MismoNombre(v->nombre, o.nombre)) return v;
  return nullptr;
}

// Tables, views and constraints share one name space.
bool Servidor::Impl::NombreUsado(std::string_view nombre) const {
  for (const auto& t : tablas) {
    if (MismoNombre(t->nombre, nombre)) return true;
    for (const auto& r : t->e.restr)
      if (MismoNombre(r.nombre, nombre)) return true;
  }
  for (const auto& v : vistas)
    if (MismoNombre(v->nombre, nombre)) return true;
  return false;
}

std::shared_ptr<Tabla> Servidor::Impl::TablaOError(const NombreObjeto& o) const {
  auto t = BuscarTabla(o);
  if (!t) {
    if (BuscarVista(o))
      throw ErrorSql(4406, "Update or insert of view or function '" + TextoNombre(o) +
                               "' failed because it contains a derived or constant field.");
    throw ErrorSql(208, "Invalid object name '" + TextoNombre(o) + "'.");
  }
  return t;
}

}  // namespace simulado
