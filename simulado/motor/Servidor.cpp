// The simulated server: one statement dispatched to its kind, batches, scripts and the public face.
#include "Servidor.h"

#include <exception>
#include <optional>

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
      if (--nivel == 0) {
        log.clear();
        if (!notas.empty()) confirmadas = esperadas;
        notas.clear();
        notasEsquema = false;
      }
      return {};
    case Sentencia::K::Rollback:
      if (nivel == 0) throw SinTransaccion(false);
      DeshacerHasta(0);
      nivel = 0;
      notas.clear();
      notasEsquema = false;
      return {};
    default:
      break;
  }
  const bool anotar = anotando && nivel > 0 && s.k != Sentencia::K::Seleccionar;
  const std::string antes = anotar ? AntesDeAnotar() : std::string();
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
    if (nivel == 0) {
      log.clear();
      notas.clear();
      notasEsquema = false;
    }
    throw;
  }
  if (anotar) Anotado(s, antes);
  if (nivel == 0) log.clear();
  return r;
}

Servidor::Servidor(std::string nombreBase) : impl_(std::make_unique<Impl>()) {
  impl_->base = std::move(nombreBase);
}

Servidor::~Servidor() = default;

Resultado Servidor::Ejecutar(std::string_view sentencia, std::size_t maxFilas) {
  auto lote = impl_->Analizar(sentencia);
  Resultado r;
  for (auto& s : lote) r = impl_->Una(s, maxFilas);
  return r;
}

void Servidor::EjecutarLote(std::string_view lote, const Receptor& receptor) {
  auto sentencias = impl_->Analizar(lote);
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

struct Servidor::Carga::Estado {
  Servidor& s;
  bool comprobar;
  bool volcado = false;
  bool primera = true;
  std::string buf;      // from the start of the batch being gathered
  std::size_t pos = 0;  // in buf: the start of the first line not yet seen
  Fnv suma, sumaAntes;  // of the lines seen; of those before the last one
  std::size_t lotes = 0, lotesAntes = 0;
  bool ultimaEsCierre = false;  // the last line seen opens as a closing line
  std::string ultima;           // that line, when it does
  std::exception_ptr error;     // a dump's failed batch, reported once its check has passed

  Estado(Servidor& x, bool c) : s(x), comprobar(c) { s.impl_->cargando = true; }
  ~Estado() {
    if (s.impl_) s.impl_->cargando = false;
  }

  void Correr(std::size_t fin) {
    const std::string_view lote = std::string_view(buf).substr(0, fin);
    if (error || Recortar(lote, kBlancosSql).empty()) return;
    try {
      s.Ejecutar(lote);
    } catch (...) {
      if (!volcado) throw;
      error = std::current_exception();
    }
  }

  // One line, [pos, fin) of buf, without its '\n'; `conSalto` when the '\n' is there.
  void Linea(std::size_t fin, bool conSalto) {
    const std::string_view linea = std::string_view(buf).substr(pos, fin - pos);
    if (primera) {
      primera = false;
      volcado = comprobar && linea.substr(0, kCabecera.size()) == kCabecera;
    }
    sumaAntes = suma;
    lotesAntes = lotes;
    suma(std::string_view(buf).substr(pos, fin - pos + (conSalto ? 1 : 0)));
    ultimaEsCierre = linea.substr(0, kCierre.size()) == kCierre;
    if (ultimaEsCierre) ultima = linea;
    const std::size_t siguiente = fin + 1;
    if (EsSeparador(linea)) {
      ++lotes;
      Correr(pos);
      buf.erase(0, std::min(siguiente, buf.size()));
      pos = 0;
      return;
    }
    pos = siguiente;
  }
};

Servidor::Carga::Carga(Servidor& s) : Carga(s, true) {}

Servidor::Carga::Carga(Servidor& s, bool comprobar) : e_(std::make_unique<Estado>(s, comprobar)) {}

Servidor::Carga::~Carga() = default;

void Servidor::Carga::Agregar(std::string_view trozo) {
  auto& e = *e_;
  const std::size_t desde = e.buf.size();
  e.buf.append(trozo);
  for (std::size_t nl = e.buf.find('\n', std::max(desde, e.pos)); nl != std::string::npos;
       nl = e.buf.find('\n', e.pos))
    e.Linea(nl, true);
}

void Servidor::Carga::Terminar() {
  auto& e = *e_;
  const bool conSalto = e.pos == e.buf.size() && !e.primera;
  if (e.pos < e.buf.size()) e.Linea(e.buf.size(), false);
  if (!e.buf.empty()) e.Correr(e.buf.size());
  e.buf.clear();
  auto& impl = e.s.impl_;
  if (e.volcado) {
    std::optional<ErrorSql> fallo;
    if (!conSalto || !e.ultimaEsCierre)
      fallo = VolcadoIncompleto();
    else if (e.ultima + "\n" != LineaCierre(e.lotesAntes, e.sumaAntes.h))
      fallo = VolcadoDanado();
    if (fallo) {
      // Nothing of a refused dump stays: the server is as new.
      auto nuevo = std::make_unique<Impl>();
      nuevo->base = impl->base;
      nuevo->reloj = impl->reloj;
      impl = std::move(nuevo);
      throw *fallo;
    }
    if (e.error) std::rethrow_exception(e.error);
  }
  // The key indexes built while loading are dropped: most tables are only read afterwards.
  for (auto& t : impl->tablas) {
    t->claves.clear();
    t->clavesValidas = false;
    for (auto& c : t->e.cols) c->Ajustar();
  }
}

void Servidor::EjecutarScript(std::string_view script) {
  ComprobarVolcado(script);
  Carga carga(*this, false);
  carga.Agregar(script);
  carga.Terminar();
}

std::string Servidor::Script() const {
  std::string r;
  impl_->Volcar([&](std::string_view s) { r.append(s); });
  return r;
}

void Servidor::Script(const std::function<void(std::string_view)>& destino) const {
  impl_->Volcar(destino);
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

void Servidor::RutaRapida(bool si) {
  impl_->rutaRapida = si;
}

std::size_t Servidor::SentenciasRapidas() const {
  return impl_->rapidas;
}

}  // namespace simulado
