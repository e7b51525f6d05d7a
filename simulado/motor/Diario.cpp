// The simulated server's notes of committed work: each change statement with what it drew, and their replay.
#include <charconv>

#include "ServidorImpl.h"

namespace simulado {

namespace {

bool EsCambioDeEsquema(Sentencia::K k) {
  using K = Sentencia::K;
  return k == K::CrearTabla || k == K::CrearIndice || k == K::CrearVista || k == K::EliminarTabla ||
         k == K::EliminarVista || k == K::AgregarATabla || k == K::AlterarColumna || k == K::EliminarDeTabla;
}

[[noreturn]] void NoSeAplican(const std::string& por) {
  throw ErrorSql(kErrorDiario, "Las notas del diario no se pueden aplicar a la base: " + por + ".");
}

std::int64_t Numero(std::string_view s) {
  std::int64_t v = 0;
  const auto [fin, e] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (e != std::errc() || fin != s.data() + s.size())
    NoSeAplican("un número ilegible («" + std::string(s) + "»)");
  return v;
}

// The next blank-separated word of `s`, which loses it.
std::string_view Palabra(std::string_view& s) {
  const std::size_t fin = std::min(s.find(' '), s.size());
  const std::string_view r = s.substr(0, fin);
  s.remove_prefix(std::min(fin + 1, s.size()));
  return r;
}

}  // namespace

Servidor::Impl::Identidades Servidor::Impl::IdentidadesAhora() const {
  Identidades r;
  for (const auto& t : tablas)
    for (const auto& c : t->e.cols)
      if (c->identidad) r[Minusculas(t->nombre)] = {t->identityInsert, c->generado, c->actual};
  return r;
}

std::int64_t Servidor::Impl::Hora() {
  if (reproduciendo) {
    if (horasPorUsar.empty()) NoSeAplican("la sentencia lee la hora más veces que al anotarse");
    const std::int64_t h = horasPorUsar.front();
    horasPorUsar.pop_front();
    return h;
  }
  const std::int64_t h = reloj();
  if (anotando) horasTomadas.push_back(h);
  return h;
}

// The identity state the statement starts from, where a replay would not have it: after a rollback or a
// failed statement (identities are not given back), or for every table at the first note after a dump.
std::string Servidor::Impl::AntesDeAnotar() {
  const bool todas = notas.empty() && !confirmadas;
  if (notas.empty()) esperadas = confirmadas.value_or(Identidades{});
  std::string r;
  for (const auto& t : tablas)
    for (const auto& c : t->e.cols) {
      if (!c->identidad) continue;
      const EstadoIdentidad x{t->identityInsert, c->generado, c->actual};
      const auto e = esperadas.find(Minusculas(t->nombre));
      if (todas || e == esperadas.end() || !(e->second == x))
        r += "D " + std::to_string(x.insercion) + " " + std::to_string(x.generado) + " " +
             std::to_string(x.actual) + " " + t->nombre + "\n";
    }
  idsTomados.clear();
  horasTomadas.clear();
  return r;
}

void Servidor::Impl::Anotado(const Sentencia& s, const std::string& antes) {
  notas += antes;
  for (const int id : idsTomados) notas += "I " + std::to_string(id) + "\n";
  for (const std::int64_t h : horasTomadas) notas += "R " + std::to_string(h) + "\n";
  notas += "S " + std::to_string(s.fuente.size()) + "\n";
  notas += s.fuente;
  notas += '\n';
  esperadas = IdentidadesAhora();
  notasEsquema = notasEsquema || EsCambioDeEsquema(s.k);
}

void Servidor::Anotar(bool si, bool trasVolcado) {
  auto& d = *impl_;
  d.anotando = si;
  d.notas.clear();
  d.notasEsquema = false;
  if (trasVolcado)
    d.confirmadas.reset();
  else
    d.confirmadas = d.IdentidadesAhora();
}

const std::string& Servidor::Notas() const {
  return impl_->notas;
}

bool Servidor::NotasConEsquema() const {
  return impl_->notasEsquema;
}

// Each statement runs on its own, as the transaction it belonged to did not fail: at level 0 the undo
// log is dropped after each one. A statement that fails, or that draws from the clock or the ids more or
// less than it did, means the notes belong to another state.
void Servidor::Reproducir(std::string_view notas) {
  auto& d = *impl_;
  struct Reproduciendo {
    Impl& d;
    const bool anotaba;
    explicit Reproduciendo(Impl& x) : d(x), anotaba(x.anotando) {
      d.reproduciendo = true;
      d.anotando = false;
    }
    ~Reproduciendo() {
      d.reproduciendo = false;
      d.anotando = anotaba;
      d.idsPorUsar.clear();
      d.horasPorUsar.clear();
    }
  } reproduciendo(d);
  while (!notas.empty()) {
    const std::size_t nl = notas.find('\n');
    if (nl == std::string_view::npos) NoSeAplican("una línea sin terminar");
    std::string_view linea = notas.substr(0, nl);
    notas.remove_prefix(nl + 1);
    const std::string_view clase = Palabra(linea);
    if (clase == "I") {
      d.idsPorUsar.push_back(static_cast<int>(Numero(linea)));
    } else if (clase == "R") {
      d.horasPorUsar.push_back(Numero(linea));
    } else if (clase == "D") {
      const bool insercion = Numero(Palabra(linea)) != 0, generado = Numero(Palabra(linea)) != 0;
      const std::int64_t actual = Numero(Palabra(linea));
      const auto t = d.BuscarTabla({{}, std::string(linea)});
      if (!t) NoSeAplican("no existe la tabla " + std::string(linea));
      t->identityInsert = insercion;
      for (auto& c : t->e.cols)
        if (c->identidad) {
          c->generado = generado;
          c->actual = actual;
        }
    } else if (clase == "S") {
      const auto largo = static_cast<std::size_t>(Numero(linea));
      if (notas.size() < largo + 1 || notas[largo] != '\n') NoSeAplican("una sentencia cortada");
      Ejecutar(notas.substr(0, largo));
      notas.remove_prefix(largo + 1);
      if (!d.idsPorUsar.empty() || !d.horasPorUsar.empty())
        NoSeAplican("la sentencia tomó menos valores que al anotarse");
    } else {
      NoSeAplican("una línea desconocida");
    }
  }
}

}  // namespace simulado
