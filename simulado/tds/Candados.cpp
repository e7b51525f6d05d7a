// Application locks: grants, waits with deadlines, deadlock victims, releases at the end of their owner.
#include "tds/Candados.h"

#include <set>

#include "motor/Texto.h"

namespace simulado::tds {

namespace {

// The modes held by another that a request for `modo` cannot be granted beside (SQL Server's lock
// compatibility).
std::uint8_t Choca(std::uint8_t modo) {
  using C = Candados;
  switch (modo) {
    case C::kIntencionCompartida:
      return C::kExclusivo;
    case C::kCompartido:
      return C::kIntencionExclusiva | C::kExclusivo;
    case C::kActualizar:
      return C::kActualizar | C::kIntencionExclusiva | C::kExclusivo;
    case C::kIntencionExclusiva:
      return C::kCompartido | C::kActualizar | C::kExclusivo;
    default:
      return 0xFF;
  }
}

}  // namespace

std::optional<Candados::Modo> Candados::LeerModo(std::string_view n) {
  static constexpr std::pair<const char*, Modo> kModos[] = {{"Shared", kCompartido},
                                                            {"Update", kActualizar},
                                                            {"IntentShared", kIntencionCompartida},
                                                            {"IntentExclusive", kIntencionExclusiva},
                                                            {"Exclusive", kExclusivo}};
  for (const auto& [nombre, modo] : kModos)
    if (MismoNombre(n, nombre)) return modo;
  return std::nullopt;
}

std::optional<Candados::Dueno> Candados::LeerDueno(std::string_view n) {
  if (MismoNombre(n, "Transaction")) return Dueno::Transaccion;
  if (MismoNombre(n, "Session")) return Dueno::Sesion;
  return std::nullopt;
}

bool Candados::Compatible(const std::string& recurso, std::uint16_t sesion, std::uint8_t modo) const {
  const auto it = recursos_.find(recurso);
  if (it == recursos_.end()) return true;
  for (const Tenencia& t : it->second)
    if (t.sesion != sesion && (t.modos & Choca(modo))) return false;
  return true;
}

// Whether `sesion`, waiting for `modo` on `recurso`, waits (through those it waits for, and whom they wait
// for) on itself.
bool Candados::Bloqueo(std::uint16_t sesion, const std::string& recurso, std::uint8_t modo) const {
  std::set<std::uint16_t> vistas;
  std::vector<std::pair<std::string, std::uint8_t>> pendientes = {{recurso, modo}};
  while (!pendientes.empty()) {
    const auto [r, m] = pendientes.back();
    pendientes.pop_back();
    const auto it = recursos_.find(r);
    if (it == recursos_.end()) continue;
    for (const Tenencia& t : it->second) {
      if (!(t.modos & Choca(m))) continue;
      if (t.sesion == sesion) return true;
      if (!vistas.insert(t.sesion).second) continue;
      if (const auto e = esperas_.find(t.sesion); e != esperas_.end())
        pendientes.emplace_back(e->second.recurso, e->second.modo);
    }
  }
  return false;
}

int Candados::Tomar(std::uint16_t sesion, const std::string& recurso, Modo modo, Dueno dueno,
                    std::chrono::milliseconds plazo, const std::function<bool()>& seguir) {
  using reloj = std::chrono::steady_clock;
  const auto limite = reloj::now() + plazo;
  std::unique_lock lk(m_);
  bool espero = false;
  auto fin = [&](int r) {
    esperas_.erase(sesion);
    cambio_.notify_all();
    return r;
  };
  for (;;) {
    if (Compatible(recurso, sesion, modo)) {
      auto& v = recursos_[recurso];
      bool tenia = false;
      for (Tenencia& t : v) {
        if (t.sesion != sesion || t.dueno != dueno) continue;
        t.modos |= modo;
        ++t.referencias;
        tenia = true;
      }
      if (!tenia) v.push_back(Tenencia{sesion, dueno, modo, 1});
      return fin(espero ? 1 : 0);
    }
    if (reloj::now() >= limite) return fin(-1);
    esperas_[sesion] = Espera{recurso, modo};
    if (Bloqueo(sesion, recurso, modo)) return fin(-3);
    espero = true;
    lk.unlock();
    const bool sigue = seguir();
    lk.lock();
    if (!sigue) return fin(-2);
    cambio_.wait_for(lk, std::min<reloj::duration>(std::chrono::milliseconds(50), limite - reloj::now()));
  }
}

bool Candados::Soltar(std::uint16_t sesion, const std::string& recurso, Dueno dueno) {
  std::lock_guard lk(m_);
  const auto it = recursos_.find(recurso);
  if (it == recursos_.end()) return false;
  auto& v = it->second;
  for (auto t = v.begin(); t != v.end(); ++t) {
    if (t->sesion != sesion || t->dueno != dueno) continue;
    if (--t->referencias == 0) v.erase(t);
    if (v.empty()) recursos_.erase(it);
    cambio_.notify_all();
    return true;
  }
  return false;
}

std::string Candados::ModoDe(std::uint16_t sesion, const std::string& recurso, Dueno dueno) const {
  std::lock_guard lk(m_);
  std::uint8_t m = 0;
  if (const auto it = recursos_.find(recurso); it != recursos_.end())
    for (const Tenencia& t : it->second)
      if (t.sesion == sesion && t.dueno == dueno) m = t.modos;
  if (m & kExclusivo) return "Exclusive";
  if ((m & kActualizar) && (m & kIntencionExclusiva)) return "UpdateIntentExclusive";
  if ((m & kCompartido) && (m & kIntencionExclusiva)) return "SharedIntentExclusive";
  if (m & kActualizar) return "Update";
  if (m & kIntencionExclusiva) return "IntentExclusive";
  if (m & kCompartido) return "Shared";
  if (m & kIntencionCompartida) return "IntentShared";
  return "NoLock";
}

bool Candados::SePuede(std::uint16_t sesion, const std::string& recurso, Modo modo) const {
  std::lock_guard lk(m_);
  return Compatible(recurso, sesion, modo);
}

void Candados::SoltarTodos(std::uint16_t sesion, std::optional<Dueno> solo) {
  std::lock_guard lk(m_);
  for (auto it = recursos_.begin(); it != recursos_.end();) {
    std::erase_if(it->second,
                  [&](const Tenencia& t) { return t.sesion == sesion && (!solo || t.dueno == *solo); });
    it = it->second.empty() ? recursos_.erase(it) : std::next(it);
  }
  esperas_.erase(sesion);
  cambio_.notify_all();
}

std::size_t Candados::Cuantos(std::uint16_t sesion) const {
  std::lock_guard lk(m_);
  std::size_t n = 0;
  for (const auto& [r, v] : recursos_)
    for (const Tenencia& t : v) n += t.sesion == sesion ? 1 : 0;
  return n;
}

}  // namespace simulado::tds
