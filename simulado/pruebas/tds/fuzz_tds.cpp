// Fuzzing of the TDS reader: packet assembly and the decoding of every request kind. Under Clang it is a
// libFuzzer target; otherwise a seeded generator mutates valid messages for a given count of inputs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Arnes.h"
#include "motor/Servidor.h"
#include "tds/Login.h"
#include "tds/Lotes.h"
#include "tds/Paquetes.h"
#include "tds/Peticiones.h"

using namespace simulado::tds;

namespace {

// Feeds the bytes in cuts chosen by the first byte, and decodes every whole message as each kind.
void Probar(const std::uint8_t* datos, std::size_t largo) {
  if (largo == 0) return;
  const std::size_t trozo = 1 + datos[0] % 64;
  Ensamblador en(1 << 20);
  try {
    for (std::size_t i = 1; i < largo; i += trozo) en.Agregar(datos + i, std::min(trozo, largo - i));
  } catch (const ErrorProtocolo&) {
  }
  while (auto m = en.Siguiente()) {
    const bool enc = (m->estado & 0x04) == 0;
    try {
      LeerPrelogin(m->datos);
    } catch (const ErrorProtocolo&) {
    }
    try {
      LeerLogin7(m->datos);
    } catch (const ErrorProtocolo&) {
    }
    try {
      PartirLote(LeerLote(m->datos, enc));
    } catch (const ErrorProtocolo&) {
    } catch (const simulado::ErrorSql&) {  // a batch the parser refuses: the session answers it
    }
    try {
      LeerRpc(m->datos, enc);
    } catch (const ErrorProtocolo&) {
    }
    try {
      LeerTm(m->datos, enc);
    } catch (const ErrorProtocolo&) {
    }
  }
}

}  // namespace

#ifdef PAGORA_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
  Probar(datos, largo);
  return 0;
}
#else
namespace {
std::vector<std::uint8_t> EnPaquetes(std::uint8_t tipo, const std::vector<std::uint8_t>& d, std::size_t max) {
  std::vector<std::uint8_t> r = {7};
  for (std::size_t i = 0; i == 0 || i < d.size(); i += max) {
    const std::size_t n = std::min(max, d.size() - i);
    const bool fin = i + n >= d.size();
    r.insert(r.end(), {tipo, static_cast<std::uint8_t>(fin), static_cast<std::uint8_t>((n + 8) >> 8),
                       static_cast<std::uint8_t>(n + 8), 0, 0, 1, 0});
    r.insert(r.end(), d.begin() + static_cast<std::ptrdiff_t>(i),
             d.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const long cuenta = argc > 1 ? std::atol(argv[1]) : 2000;
  std::mt19937 azar(argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 1208u);
  auto lote = prueba_tds::Crudo::Encabezados();
  const auto texto = prueba_tds::Crudo::Utf16(
      "SET A ON; SELECT 'x;y' FROM [t]] ] -- c\n; IF @@TRANCOUNT > 0 COMMIT DECLARE @r int "
      "EXEC @r = sp_getapplock @Resource = N'a', 'Shared' SELECT @r, APPLOCK_MODE('public', "
      "'a', 'Session') SET LOCK_TIMEOUT -1 INSERT INTO t VALUES (1) USE x");
  lote.insert(lote.end(), texto.begin(), texto.end());
  auto rpc = prueba_tds::Crudo::Encabezados();
  rpc.insert(rpc.end(),
             {0xFF, 0xFF, 10,   0,    0,    0,    0,    0,    0xE7, 0xFF, 0xFF, 9, 4,    0xD0, 0, 0x34,
              0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 2,    0,    0,    0, 0x41, 0,    0, 0,
              0,    0,    0,    0x63, 0x10, 0,    0,    0,    9,    4,    0xD0, 0, 0x34, 0x10});
  auto tm = prueba_tds::Crudo::Encabezados();
  tm.insert(tm.end(), {7, 0, 0, 1, 0, 0});
  const std::vector<std::vector<std::uint8_t> > semillas = {
      EnPaquetes(kPrelogin, {0, 0, 6, 0, 1, 1, 0, 7, 0, 1, 0xFF, 9, 0, 0, 0, 0, 0, 0}, 4096),
      EnPaquetes(kLogin7, prueba_tds::Crudo::Login7("pagora", "clave", "PagoraDemo", 0x74000004), 50),
      EnPaquetes(kLote, lote, 30),
      EnPaquetes(kRpc, rpc, 4096),
      EnPaquetes(kGestorTransacciones, tm, 4096),
  };
  for (long i = 0; i < cuenta; ++i) {
    auto e = semillas[azar() % semillas.size()];
    const int cambios = 1 + static_cast<int>(azar() % 8);
    for (int k = 0; k < cambios; ++k) {
      const std::size_t p = azar() % e.size();
      switch (azar() % 4) {
        case 0:
          e[p] = static_cast<std::uint8_t>(azar());
          break;
        case 1:
          e[p] ^= static_cast<std::uint8_t>(1u << (azar() % 8));
          break;
        case 2:
          e.resize(p + 1);
          break;
        default:
          e.insert(e.begin() + static_cast<std::ptrdiff_t>(p),
                   static_cast<std::uint8_t>(azar() % 3 ? 0xFF : 0));
          break;
      }
    }
    Probar(e.data(), e.size());
  }
  std::printf("tds_fuzz: %ld entradas sin fallas\n", cuenta);
  return 0;
}
#endif
