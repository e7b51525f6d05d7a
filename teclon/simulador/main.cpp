// teclon-simulador: plays a PIN pad on a new pseudo-terminal until interrupted.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "simulador.hpp"

namespace {

const char* const kAyuda =
    "Uso: teclon-simulador [opciones]\n"
    "Simula un PIN pad en un seudoterminal nuevo. Escribe en la primera línea la ruta del\n"
    "dispositivo (para teclon --dispositivo o TECLON_PUERTO_<N>) y atiende hasta Ctrl-C.\n\n"
    "Opciones:\n"
    "  --responder MODO     ack (normal, por omisión), nak, eot, silencio o lrc-malo\n"
    "                       (lrc-malo: respuestas con el byte de control equivocado)\n"
    "  --pista2 TEXTO       pista 2 de la tarjeta que se pasa\n"
    "  --pista1 TEXTO       pista 1 de la tarjeta que se pasa\n"
    "  --pin BLOQUE         bloque de PIN de 16 caracteres que devuelve\n"
    "  --demora-pasada MS   espera antes de pasar la tarjeta (por omisión 300)\n"
    "  --demora-pin MS      espera antes de devolver el PIN (por omisión 300)\n"
    "  --sin-ritmo          sin la pausa de 1200 baudios entre caracteres\n"
    "  --version            nombre y versión del programa\n"
    "  --ayuda, --help      esta ayuda\n";

int Error(const std::string& texto) {
  std::cerr << "teclon-simulador: " << texto << "\n(use --ayuda)\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  teclon::sim::OpcionesModelo o;
  bool ritmo = true;
  using Modo = teclon::sim::OpcionesModelo::Modo;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto valor = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--ayuda" || a == "--help" || a == "-h") {
      std::cout << kAyuda;
      return 0;
    } else if (a == "--version") {
      std::cout << "teclon-simulador " << TECLON_VERSION_PAQUETE << "\n";
      return 0;
    } else if (a == "--sin-ritmo") {
      ritmo = false;
    } else if (a == "--responder") {
      const char* v = valor();
      if (!v) return Error("falta el modo de --responder");
      const std::string m = v;
      if (m == "ack")
        o.modo = Modo::Normal;
      else if (m == "nak")
        o.modo = Modo::Nak;
      else if (m == "eot")
        o.modo = Modo::Eot;
      else if (m == "silencio")
        o.modo = Modo::Silencio;
      else if (m == "lrc-malo")
        o.modo = Modo::LrcMalo;
      else
        return Error("modo desconocido: " + m);
    } else if (a == "--pista2" || a == "--pista1" || a == "--pin") {
      const char* v = valor();
      if (!v) return Error("falta el valor de " + a);
      (a == "--pista2" ? o.pista2 : a == "--pista1" ? o.pista1 : o.bloquePin) = v;
    } else if (a == "--demora-pasada" || a == "--demora-pin") {
      const char* v = valor();
      if (!v) return Error("falta el valor de " + a);
      char* fin = nullptr;
      const long ms = std::strtol(v, &fin, 10);
      if (*fin != '\0' || ms < 0) return Error("demora inválida: " + std::string(v));
      (a == "--demora-pasada" ? o.demoraPasada : o.demoraPin) = std::chrono::milliseconds(ms);
    } else {
      return Error("opción desconocida: " + a);
    }
  }
  if (o.bloquePin.size() != 16) return Error("el bloque de PIN debe tener 16 caracteres");

  // Signals are taken synchronously, so the simulator thread is never interrupted mid-write.
  sigset_t senales;
  sigemptyset(&senales);
  sigaddset(&senales, SIGINT);
  sigaddset(&senales, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &senales, nullptr);
  try {
    teclon::sim::Simulador simulador(ritmo);
    simulador.FijarManejador(teclon::sim::CrearModelo(o));
    simulador.FijarAnulacion(true);
    std::cout << simulador.Dispositivo() << std::endl;
    int recibida = 0;
    sigwait(&senales, &recibida);
  } catch (const std::exception& e) {
    std::cerr << "teclon-simulador: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
