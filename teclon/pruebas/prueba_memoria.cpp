// Tests under a replaced global allocator: running out of memory anywhere, and what freed memory holds.
#include <gtest/gtest.h>
#include <malloc.h>
#include <string.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "comun.hpp"
#include "teclon/teclon.h"

namespace {

// Armed only on the test thread and only around the call under test, so gtest and the
// simulator's thread allocate normally.
thread_local long tFallarDesde = 0;  // 0: never; n: the n-th allocation and every later one fail
thread_local long tCuenta = 0;
thread_local const char* tSecreto = nullptr;  // text that no freed block may still hold
thread_local int tHallazgos = 0;

void* Reservar(std::size_t n) noexcept {
  if (tFallarDesde > 0 && ++tCuenta >= tFallarDesde) return nullptr;
  return std::malloc(n == 0 ? 1 : n);
}

void Liberar(void* p) noexcept {
  if (p == nullptr) return;
  if (tSecreto != nullptr) {
    const std::size_t largo = ::malloc_usable_size(p);
    if (::memmem(p, largo, tSecreto, std::strlen(tSecreto)) != nullptr) ++tHallazgos;
  }
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) {
  if (void* p = Reservar(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = Reservar(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return Reservar(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return Reservar(n);
}
void operator delete(void* p) noexcept {
  Liberar(p);
}
void operator delete[](void* p) noexcept {
  Liberar(p);
}
void operator delete(void* p, std::size_t) noexcept {
  Liberar(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  Liberar(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  Liberar(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Liberar(p);
}

using namespace prueba;
using teclon::sim::kACK;
using teclon::sim::kFS;

namespace {

// Runs f with every allocation from the n-th on failing; true when an exception got out of it.
template <class F>
bool SinMemoriaDesde(long n, F&& f) {
  bool escapo = false;
  tCuenta = 0;
  tFallarDesde = n;
  try {
    f();
  } catch (...) {
    escapo = true;
  }
  tFallarDesde = 0;
  return escapo;
}

// Runs f watching every block freed on this thread for secreto; returns how many still held it.
template <class F>
int BloquesConSecreto(const char* secreto, F&& f) {
  tHallazgos = 0;
  tSecreto = secreto;
  f();
  tSecreto = nullptr;
  return tHallazgos;
}

}  // namespace

// Memory running out at any point of an operation: nothing is thrown to the caller and the port is
// closed again. Every allocation from the n-th on fails, so the error path itself is short of memory.
TEST(SinMemoria, OperationsNeverThrowAndAlwaysClose) {
  // Arguments are built before memory runs short: only the driver's own allocations are failed.
  const std::string tarjeta = "4000123412341234", clave = "CLAVE DE TRABAJO", m1 = "UNO", m2 = "DOS";
  const std::string maestra = "00112233445566778899AABBCCDDEEFF";
  std::string texto;
  texto.reserve(256);
  const std::vector<std::function<bool(cTeclon&)>> operaciones = {
      [](cTeclon& t) { return t.CargarPROMPT(); },
      [&](cTeclon& t) { return t.LeerBANDA(texto); },
      [&](cTeclon& t) { return t.LeerCHIP(texto); },
      [&](cTeclon& t) { return t.IngresarPIN(tarjeta, clave, m1, m2, texto); },
      [](cTeclon& t) { return t.InicializarTECLON(); },
      [&](cTeclon& t) { return t.TransferirClaveMaestra(maestra); },
      [](cTeclon& t) { return t.VerificarClaveMaestra(3); },
      [](cTeclon& t) { return t.SelClaveMaestra(3); },
  };
  for (std::size_t i = 0; i < operaciones.size(); ++i) {
    int sinFalla = 0;
    for (long n = 1; n < 400 && sinFalla < 3; ++n) {
      auto puerto = std::make_unique<PuertoFalso>();
      PuertoFalso& p = *puerto;
      p.alEscribir = [&p](const std::string&) { p.entrada.push_back(kACK); };
      cTeclon t = teclon::Interno::Crear(std::move(puerto), std::make_shared<RelojFalso>(0));
      bool r = false;
      const bool escapo = SinMemoriaDesde(n, [&] { r = operaciones[i](t); });
      EXPECT_FALSE(escapo) << "operación " << i << ", falla desde la reserva " << n;
      EXPECT_FALSE(p.abierto) << "operación " << i << ", falla desde la reserva " << n;
      if (tCuenta < n) ++sinFalla;  // the operation needed fewer allocations: nothing failed
    }
    EXPECT_EQ(sinFalla, 3) << "operación " << i << " no terminó de recorrerse";
  }
}

// The C interface under the same shortage: creation gives null, calls return 0, nothing escapes.
TEST(SinMemoria, CInterfaceNeverThrows) {
  int sinFalla = 0;
  for (long n = 1; n < 200 && sinFalla < 3; ++n) {
    TeclonObjeto* h = nullptr;
    EXPECT_FALSE(SinMemoriaDesde(n, [&] { h = cTeclon_Crear(); })) << n;
    if (tCuenta < n) ++sinFalla;
    cTeclon_Destruir(h);
  }
  ASSERT_EQ(sinFalla, 3);

  TeclonObjeto* h = cTeclon_Crear();
  ASSERT_NE(h, nullptr);
  cTeclon_Puerto(h, 0);  // refused before any device is touched
  char banda[64];
  char pin[32];
  for (long n = 1; n < 60; ++n) {
    EXPECT_FALSE(SinMemoriaDesde(n, [&] {
      cTeclon_CargarPROMPT(h);
      cTeclon_LeerBANDA(h, banda, sizeof banda);
      cTeclon_IngresarPIN(h, "4000123412341234", "CLAVE DE TRABAJO", "M1", "M2", pin, sizeof pin);
      cTeclon_TransferirClaveMaestra(h, "00112233445566778899AABBCCDDEEFF");
      cTeclon_FijarBombeo(
          h, [](void*) {}, nullptr);
      cTeclon_MsgError(h);
    })) << n;
    EXPECT_EQ(cTeclon_CodError(h), tcError) << n;
  }
  cTeclon_Destruir(h);
}

// Card number, working key, track and PIN block pass through the C interface; no copy of them
// may be freed unwiped.
TEST(MemoriaLiberada, CInterfaceWipesCardKeyTrackAndPin) {
  Banco b;
  const char* kTarjeta = "4000999988887777";
  const char* kClave = "CLAVEDETRABAJO-0123456789";
  const std::string bloque = "8F3A5C21D0E4B796";
  const std::string pista = "B4000999988887777^SECRETO/PISTA^2912";
  TeclonObjeto* h = cTeclon_Crear();  // the bench points port 7 at its simulator
  ASSERT_NE(h, nullptr);
  cTeclon_Puerto(h, 7);

  const std::string pedido = std::string("A:Z62.") + kTarjeta + kFS + kClave + "0404NINGRESE PIN" + kFS + kFS;
  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(pedido, {{kACK}, {A("71.00000" + bloque), std::chrono::milliseconds(40)}});
  b.sim.Agregar("A:72", {{kACK}});
  char pin[17] = {};
  int r = 0;
  EXPECT_EQ(BloquesConSecreto(
                kTarjeta,
                [&] { r = cTeclon_IngresarPIN(h, kTarjeta, kClave, "INGRESE PIN", "", pin, sizeof pin); }),
            0);
  EXPECT_EQ(r, 1) << cTeclon_MsgError(h);
  EXPECT_EQ(std::string(pin), bloque);

  // The same run, watching the key.
  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(pedido, {{kACK}, {A("71.00000" + bloque), std::chrono::milliseconds(40)}});
  b.sim.Agregar("A:72", {{kACK}});
  EXPECT_EQ(BloquesConSecreto(
                kClave, [&] { r = cTeclon_IngresarPIN(h, kTarjeta, kClave, "INGRESE PIN", "", pin, 17); }),
            0);
  EXPECT_EQ(r, 1) << cTeclon_MsgError(h);

  // Track data, and a PIN block that does not fit in the caller's buffer.
  b.sim.Agregar("A:Q40", {{kACK}});
  b.sim.Agregar("A:Q1",
                {{kACK}, {A("81.4000999988887777=2912" + kFS + pista + kFS), std::chrono::milliseconds(40)}});
  b.sim.Agregar("A:Q3", {{kACK}});
  b.sim.Agregar("A:72", {{kACK}});
  char banda[128] = {};
  EXPECT_EQ(BloquesConSecreto("SECRETO/PISTA", [&] { r = cTeclon_LeerBANDA(h, banda, sizeof banda); }), 0);
  EXPECT_EQ(r, 1) << cTeclon_MsgError(h);
  EXPECT_NE(std::string(banda).find("SECRETO/PISTA"), std::string::npos);

  b.sim.Agregar("B:080", {{kACK}});
  b.sim.Agregar(pedido, {{kACK}, {A("71.00000" + bloque), std::chrono::milliseconds(40)}});
  b.sim.Agregar("A:72", {{kACK}});
  EXPECT_EQ(
      BloquesConSecreto(bloque.c_str(),
                        [&] { r = cTeclon_IngresarPIN(h, kTarjeta, kClave, "INGRESE PIN", "", pin, 8); }),
      0);
  EXPECT_EQ(r, 0);

  // The master key handed to the transfer.
  const char* kMaestra = "00112233445566778899AABBCCDDEEFF";
  const std::string trama = B(std::string("020") + kMaestra);
  b.sim.Agregar(std::string("B:020") + kMaestra, {{kACK + trama}});
  b.sim.Agregar("ACK", {{teclon::sim::kEOT}});
  EXPECT_EQ(BloquesConSecreto(kMaestra, [&] { r = cTeclon_TransferirClaveMaestra(h, kMaestra); }), 0);
  EXPECT_EQ(r, 1) << cTeclon_MsgError(h);
  cTeclon_Destruir(h);
}
