// The simulated server's names and objects: ids, lookups and the one name space of objects.
#include "ServidorImpl.h"

#include <algorithm>

namespace simulado {

// A replay hands out the ids its notes recorded, in order.
int Servidor::Impl::NuevoId() {
  if (reproduciendo) {
    if (idsPorUsar.empty())
      throw ErrorSql(kErrorDiario,
                     "Las notas del diario no se pueden aplicar a la base: la sentencia toma "
                     "más identificadores que al anotarse.");
    const int id = idsPorUsar.front();
    idsPorUsar.pop_front();
    ids.insert(id);
    Estampar(id);
    return id;
  }
  for (;;) {
    semillaId = semillaId * 1103515245u + 12345u;
    const int id = static_cast<int>((semillaId >> 1) & 0x7FFFFFFF);
    if (id > 1000 && ids.insert(id).second) {
      if (anotando) idsTomados.push_back(id);
      Estampar(id);
      return id;
    }
  }
}

// Creation times live only in memory (a file does not keep them), so a replay stamps its own.
// A datetime tells 3.33 ms apart: 10 ms between objects keeps their order after rounding.
void Servidor::Impl::Estampar(int id) {
  ultimoCreado = std::max(reloj(), ultimoCreado + 10);
  creados[id] = ultimoCreado;
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
