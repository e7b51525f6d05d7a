// SQL Server's application locks (sp_getapplock): named resources held in five modes by a session or by its
// transaction, shared by every session of the server.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simulado::tds {

class Candados {
 public:
  // Shared, Update, IntentShared, IntentExclusive, Exclusive: bits, since a holder that asked for several
  // holds their union until it lets the lock go.
  enum Modo : std::uint8_t {
    kCompartido = 1,
    kActualizar = 2,
    kIntencionCompartida = 4,
    kIntencionExclusiva = 8,
    kExclusivo = 16
  };
  enum class Dueno : std::uint8_t { Transaccion, Sesion };

  // The names sp_getapplock takes, in any letter case; nothing for any other word.
  static std::optional<Modo> LeerModo(std::string_view nombre);
  static std::optional<Dueno> LeerDueno(std::string_view nombre);

  // What sp_getapplock returns: 0 granted at once, 1 granted after waiting, -1 not granted within `plazo`
  // (0 does not wait), -2 `seguir` said no while waiting (a cancel, the client gone), -3 chosen as the
  // victim of a deadlock among application locks. A session never waits for itself.
  int Tomar(std::uint16_t sesion, const std::string& recurso, Modo modo, Dueno dueno,
            std::chrono::milliseconds plazo, const std::function<bool()>& seguir);
  // One reference fewer (the lock goes with the last); false when the session does not hold it.
  bool Soltar(std::uint16_t sesion, const std::string& recurso, Dueno dueno);
  // APPLOCK_MODE: "NoLock", "Shared", ..., "SharedIntentExclusive", "UpdateIntentExclusive".
  std::string ModoDe(std::uint16_t sesion, const std::string& recurso, Dueno dueno) const;
  // APPLOCK_TEST: whether `modo` could be granted now.
  bool SePuede(std::uint16_t sesion, const std::string& recurso, Modo modo) const;
  // The end of a transaction (only its locks) or of a session (all of them).
  void SoltarTodos(std::uint16_t sesion, std::optional<Dueno> solo = std::nullopt);
  // Resources a session holds.
  std::size_t Cuantos(std::uint16_t sesion) const;

 private:
  struct Tenencia {
    std::uint16_t sesion;
    Dueno dueno;
    std::uint8_t modos;  // union of the modes asked for
    int referencias;
  };
  bool Compatible(const std::string& recurso, std::uint16_t sesion, std::uint8_t modo) const;
  bool Bloqueo(std::uint16_t sesion, const std::string& recurso, std::uint8_t modo) const;

  mutable std::mutex m_;
  std::condition_variable cambio_;
  std::map<std::string, std::vector<Tenencia>> recursos_;
  struct Espera {
    std::string recurso;
    std::uint8_t modo;
  };
  std::map<std::uint16_t, Espera> esperas_;  // what each waiting session asks for
};

}  // namespace simulado::tds
