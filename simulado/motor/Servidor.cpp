// The simulated server: one statement dispatched to its kind, batches, scripts and the public face.
#include "Servidor.h"

#include "Errores.h"
#include "ServidorImpl.h"

namespace simulado {

Resultado Servidor::Impl::Una(Sentencia& s, std::size_t maxFilas) {
  switch (s.k) {
    case Sentencia::K::Begin:
      ++nivel;
      return {};
    case Sentencia::K::Commit:
      if (nivel == 0) throw SinTransaccion(true);
      if (--nivel == 0) log.clear();
      return {};
    case Sentencia::K::Rollback:
      if (nivel == 0) throw SinTransaccion(false);
      DeshacerHasta(0);
      nivel = 0;
      return {};
    default:
      break;
  }
  const std::size_t marca = log.size();
  Resultado r;
  try {
    switch (s.k) {
      case Sentencia::K::CrearTabla:
        r = CrearTabla(s);
        break;
      case Sentencia::K::CrearIndice:
        r = CrearIndice(s);
        break;
      case Sentencia::K::CrearVista:
        r = CrearVista(s);
        break;
      case Sentencia::K::EliminarTabla:
      case Sentencia::K::EliminarVista:
        r = EliminarObjeto(s);
        break;
      case Sentencia::K::AgregarATabla:
        r = AgregarATabla(s);
        break;
      case Sentencia::K::AlterarColumna:
        r = AlterarColumna(s);
        break;
      case Sentencia::K::EliminarDeTabla:
        r = EliminarDeTabla(s);
        break;
      case Sentencia::K::Insertar:
        r = Insertar(s);
        break;
      case Sentencia::K::Actualizar:
        r = Actualizar(s);
        break;
      case Sentencia::K::Borrar:
        r = Borrar(s);
        break;
      case Sentencia::K::Seleccionar:
        r = Seleccionar(s, maxFilas);
        break;
      case Sentencia::K::IdentityInsert:
      case Sentencia::K::Reseed:
        r = Identidad(s);
        break;
      default:
        break;
    }
  } catch (const ErrorSql& e) {
    // A conversion failure ends the whole transaction; other errors only their statement.
    if (EsErrorConversion(e.numero) && nivel > 0) {
      DeshacerHasta(0);
      nivel = 0;
    } else {
      DeshacerHasta(marca);
    }
    if (nivel == 0) log.clear();
    throw;
  }
  if (nivel == 0) log.clear();
  return r;
}

Servidor::Servidor(std::string nombreBase) : impl_(std::make_unique<Impl>()) {
  impl_->base = std::move(nombreBase);
}

Servidor::~Servidor() = default;

Resultado Servidor::Ejecutar(std::string_view sentencia, std::size_t maxFilas) {
  auto lote = AnalizarLote(sentencia);
  Resultado r;
  for (auto& s : lote) r = impl_->Una(s, maxFilas);
  return r;
}

void Servidor::EjecutarLote(std::string_view lote, const Receptor& receptor) {
  auto sentencias = AnalizarLote(lote);
  struct Atado {
    const Receptor*& r;
    Atado(const Receptor*& x, const Receptor& y) : r(x) { r = &y; }
    ~Atado() { r = nullptr; }
  } atado(impl_->receptor, receptor);
  for (auto& s : sentencias) {
    bool seguir = true;
    try {
      if (receptor.antes) {
        using K = Sentencia::K;
        receptor.antes(s.k == K::Seleccionar ? Clase::Consulta
                       : s.k == K::Begin     ? Clase::Begin
                       : s.k == K::Commit    ? Clase::Commit
                       : s.k == K::Rollback  ? Clase::Rollback
                                             : Clase::Cambio);
      }
      Resultado r = impl_->Una(s, std::numeric_limits<std::size_t>::max());
      r.contadas = s.k == Sentencia::K::Seleccionar || s.k == Sentencia::K::Insertar ||
                   s.k == Sentencia::K::Actualizar || s.k == Sentencia::K::Borrar;
      if (receptor.fin) seguir = receptor.fin(&r, nullptr);
    } catch (const ErrorSql& e) {
      seguir = receptor.fin ? receptor.fin(nullptr, &e) : false;
    }
    if (!seguir) break;
  }
}

void Servidor::EjecutarScript(std::string_view script) {
  struct Cargando {
    bool& b;
    explicit Cargando(bool& x) : b(x) { b = true; }
    ~Cargando() { b = false; }
  } cargando(impl_->cargando);
  ComprobarVolcado(script);
  std::size_t inicio = 0;
  auto correr = [&](std::size_t fin) {
    const std::string_view lote = script.substr(inicio, fin - inicio);
    if (!Recortar(lote, kBlancosSql).empty()) Ejecutar(lote);
  };
  CadaLinea(script, [&](std::size_t pos, std::size_t fin) {
    if (EsSeparador(script.substr(pos, fin - pos))) {
      correr(pos);
      inicio = fin + 1;
    }
  });
  if (inicio < script.size()) correr(script.size());
  // The key sets built while loading are dropped: most tables are only read afterwards.
  for (auto& t : impl_->tablas) {
    t->claves.clear();
    t->clavesValidas = false;
  }
}

std::string Servidor::Script() const {
  return impl_->Volcar();
}

int Servidor::NivelTransaccion() const {
  return impl_->nivel;
}

const std::string& Servidor::NombreBase() const {
  return impl_->base;
}

std::size_t Servidor::FilasVisitadas() const {
  return impl_->visitas;
}

void Servidor::Reloj(std::function<std::int64_t()> reloj) {
  impl_->reloj = std::move(reloj);
}

}  // namespace simulado
