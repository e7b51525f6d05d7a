// Fuzz target: arbitrary PIN pad bytes fed to every operation's receive path through a fake port.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "comun.hpp"

namespace {

// Every operation must come back by its own time-outs: the longest (IngresarPIN) waits six times.
constexpr auto kTopeVirtual = std::chrono::seconds(6 * 16);

// How often each operation succeeded and failed, to see that the inputs reach past the first wait.
long gExitos[9] = {};
long gCodigos[5] = {};

[[noreturn]] void Abortar(const char* que, int operacion) {
  std::fprintf(stderr, "fuzz_enlace: %s (operación %d)\n", que, operacion);
  std::abort();
}

// The first byte seeds the chunking (how much each poll receives, empty polls included) and
// whether the caller cancels; the rest is what the PIN pad sends, whatever the driver says.
void Probar(const std::uint8_t* datos, std::size_t largo) {
  if (largo == 0) return;
  const std::uint8_t semilla = datos[0];
  const std::string flujo(reinterpret_cast<const char*>(datos + 1), largo - 1);
  for (int operacion = 0; operacion < 9; ++operacion) {
    auto puerto = std::make_unique<prueba::PuertoFalso>();
    prueba::PuertoFalso& p = *puerto;
    std::minstd_rand trozos(semilla + 1u);
    for (std::size_t i = 0; i < flujo.size();) {
      const std::size_t n = std::min<std::size_t>(trozos() % 9, flujo.size() - i);
      p.entrada.push_back(flujo.substr(i, n));
      i += n;
    }
    auto reloj = std::make_shared<prueba::RelojFalso>(0);
    cTeclon t = teclon::Interno::Crear(std::move(puerto), reloj);
    int bombeos = 0;
    if (semilla & 0x80)
      t.FijarBombeo([&] {
        if (++bombeos == (semilla & 0x0F) + 1) t.Cancelar(true);
      });
    const auto inicio = reloj->ahora_;
    std::string texto;
    bool r = false;
    switch (operacion) {
      case 0:
        r = t.CargarPROMPT();
        break;
      case 1:
        r = t.LeerCHIP(texto);
        break;
      case 2:
        r = t.LeerBANDA(texto);
        break;
      case 3:
        r = t.IngresarPIN("4000123412341234", "CLAVE", "M1", "M2", texto);
        break;
      case 4:
        r = t.InicializarTECLON();
        break;
      case 5:
        r = t.TransferirClaveMaestra("0123456789ABCDEF");
        break;
      case 6:
        r = t.VerificarClaveMaestra(0);
        break;
      case 7:
        r = t.SelClaveMaestra(3);
        break;
      default:
        r = t.LeerBANDA(texto);
        break;
    }
    if (r) ++gExitos[operacion];
    if (t.CodError() >= tcError && t.CodError() <= tcTimeOut) ++gCodigos[t.CodError()];
    if (reloj->ahora_ - inicio > kTopeVirtual) Abortar("no volvió a tiempo", operacion);
    if (p.abierto) Abortar("dejó el puerto abierto", operacion);
    if (t.CodError() < tcError || t.CodError() > tcTimeOut) Abortar("código fuera de rango", operacion);
    if (r && operacion == 3 && texto.size() != 16) Abortar("bloque de PIN de largo erróneo", operacion);
    // The line is 7-bit: whatever the PIN pad sent, no byte with the 8th bit reaches the caller.
    for (const char c : texto)
      if ((static_cast<unsigned char>(c) & 0x80) != 0) Abortar("byte de 8 bits en la respuesta", operacion);
    if (r && operacion != 1 && t.CodError() != tcAprobado) Abortar("éxito sin tcAprobado", operacion);
    if (!r && t.MsgError().empty()) Abortar("fracaso sin mensaje", operacion);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
  Probar(datos, largo);
  return 0;
}

#ifndef TECLON_LIBFUZZER
// Without libFuzzer: a seeded generator that mixes noise with the pieces of a real exchange
// (acknowledgements, answer frames good and bad, echoes), run for a bounded count.
int main(int argc, char** argv) {
  const long cuenta = argc > 1 ? std::atol(argv[1]) : 2000;
  const unsigned semilla = argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 20261207u;
  std::mt19937 azar(semilla);
  const auto al = [&](unsigned n) { return static_cast<unsigned>(azar() % n); };
  const auto ruido = [&](unsigned n) {
    std::string s;
    for (unsigned i = 0, k = al(n); i < k; ++i) s.push_back(static_cast<char>(al(256)));
    return s;
  };
  const std::string piezas[] = {"\x06", "\x15", "\x04", "\x02", "\x03", "\x0e",
                                "\x0f", "\x1c", "81.",  "71.",  "04F"};
  for (long i = 0; i < cuenta; ++i) {
    std::string entrada(1, static_cast<char>(al(256)));
    for (unsigned j = 0, partes = 1 + al(12); j < partes; ++j) {
      switch (al(6)) {
        case 0:
          entrada += ruido(40);
          break;
        case 1:
          entrada += piezas[al(std::size(piezas))];
          break;
        case 2:
          entrada += prueba::A("81." + ruido(60) + "\x1c" + ruido(40) + "\x1c", al(3) == 0);
          break;
        case 3: {
          std::string campo;
          for (int k = 0; k < 21; ++k) campo.push_back(static_cast<char>(' ' + al(95)));
          entrada += prueba::A((al(4) ? "71." : ruido(3)) + campo, al(3) == 0);
          break;
        }
        case 4:
          entrada += prueba::B(al(2) ? "04F" + ruido(3) : "0200123456789ABCDEF", al(3) == 0);
          break;
        default:
          entrada += "\x06";
          break;
      }
    }
    Probar(reinterpret_cast<const std::uint8_t*>(entrada.data()), entrada.size());
  }
  std::printf("fuzz_enlace: %ld entradas sin fallas (semilla %u)\néxitos por operación:", cuenta, semilla);
  for (long e : gExitos) std::printf(" %ld", e);
  std::printf("\nCodError 0..4:");
  for (long c : gCodigos) std::printf(" %ld", c);
  std::printf("\n");
  return 0;
}
#endif
