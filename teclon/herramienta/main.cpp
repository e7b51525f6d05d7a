// teclon: command-line tool for technicians to exercise a PIN pad through libteclon.
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "teclon/cTeclon.hpp"

namespace {

const char* const kAyuda =
    "Uso: teclon [--puerto N | --dispositivo RUTA] ORDEN [ARGUMENTOS]\n"
    "Prueba un PIN pad conectado a un puerto serie.\n\n"
    "Puerto:\n"
    "  --puerto N           puerto número N (por omisión 1): el dispositivo de la variable\n"
    "                       TECLON_PUERTO_<N> o, si no está, /dev/ttyS<N-1>\n"
    "  --dispositivo RUTA   usar directamente ese dispositivo (por ejemplo el de teclon-simulador)\n\n"
    "Órdenes:\n"
    "  prompt                           carga el texto de reposo del PIN pad\n"
    "  banda                            lee la banda magnética y muestra las pistas\n"
    "  chip                             prueba el lector de chip\n"
    "  pin TARJETA CLAVE [MSJ1 [MSJ2]]  pide el PIN (muestra solo el largo del bloque)\n"
    "  inicializar                      inicializa el PIN pad\n"
    "  transferir-clave CLAVE           carga la clave maestra en la posición 0\n"
    "  verificar-clave POS              verifica si hay clave maestra en POS\n"
    "  seleccionar-clave POS            selecciona la clave maestra de POS\n\n"
    "Ctrl-C cancela la lectura de banda o de chip en curso.\n"
    "Sale con 0 si la operación se aprobó y con 1 en otro caso.\n";

volatile std::sig_atomic_t gInterrumpido = 0;

void AlInterrumpir(int) {
  gInterrumpido = 1;
}

const char* NombreCodigo(short codigo) {
  switch (codigo) {
    case tcError:
      return "tcError";
    case tcAprobado:
      return "tcAprobado";
    case tcNOAprobado:
      return "tcNOAprobado";
    case tcCancel:
      return "tcCancel";
    case tcTimeOut:
      return "tcTimeOut";
    default:
      return "?";
  }
}

int Uso(const std::string& problema) {
  std::cerr << "teclon: " << problema << "\n(use --ayuda)\n";
  return 1;
}

bool Posicion(const std::string& texto, short& pos) {
  char* fin = nullptr;
  const long v = std::strtol(texto.c_str(), &fin, 10);
  if (texto.empty() || *fin != '\0' || v < -32768 || v > 32767) return false;
  pos = static_cast<short>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  short puerto = 1;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--ayuda" || a == "--help" || a == "-h") {
      std::cout << kAyuda;
      return 0;
    } else if (a == "--puerto") {
      if (i + 1 >= args.size() || !Posicion(args[i + 1], puerto)) return Uso("--puerto necesita un número");
      ++i;
    } else if (a == "--dispositivo") {
      if (i + 1 >= args.size()) return Uso("--dispositivo necesita una ruta");
      // The library maps port numbers to devices through the environment.
      ::setenv("TECLON_PUERTO_1", args[++i].c_str(), 1);
      puerto = 1;
    } else {
      break;
    }
  }
  if (i >= args.size()) return Uso("falta la orden");
  const std::string orden = args[i];
  const std::vector<std::string> resto(args.begin() + static_cast<long>(i) + 1, args.end());

  cTeclon teclon;
  teclon.Puerto(puerto);
  struct sigaction accion {};
  accion.sa_handler = AlInterrumpir;
  sigemptyset(&accion.sa_mask);
  sigaction(SIGINT, &accion, nullptr);
  teclon.FijarBombeo([&teclon] {
    if (gInterrumpido) teclon.Cancelar(true);
  });

  bool resultado = false;
  std::string banda;
  bool mostrarBanda = false;
  std::size_t largoPin = 0;
  bool mostrarPin = false;
  short pos = 0;
  if (orden == "prompt" && resto.empty()) {
    resultado = teclon.CargarPROMPT();
  } else if (orden == "banda" && resto.empty()) {
    resultado = teclon.LeerBANDA(banda);
    mostrarBanda = true;
  } else if (orden == "chip" && resto.empty()) {
    resultado = teclon.LeerCHIP(banda);
  } else if (orden == "pin" && resto.size() >= 2 && resto.size() <= 4) {
    std::string pin;
    resultado = teclon.IngresarPIN(resto[0], resto[1], resto.size() > 2 ? resto[2] : "",
                                   resto.size() > 3 ? resto[3] : "", pin);
    largoPin = pin.size();
    mostrarPin = true;
    teclon::Borrar(pin);
  } else if (orden == "inicializar" && resto.empty()) {
    resultado = teclon.InicializarTECLON();
  } else if (orden == "transferir-clave" && resto.size() == 1) {
    resultado = teclon.TransferirClaveMaestra(resto[0]);
  } else if (orden == "verificar-clave" && resto.size() == 1) {
    if (!Posicion(resto[0], pos)) return Uso("posición inválida: " + resto[0]);
    resultado = teclon.VerificarClaveMaestra(pos);
  } else if (orden == "seleccionar-clave" && resto.size() == 1) {
    if (!Posicion(resto[0], pos)) return Uso("posición inválida: " + resto[0]);
    resultado = teclon.SelClaveMaestra(pos);
  } else {
    return Uso("orden o argumentos inválidos: " + orden);
  }

  std::cout << "Resultado: " << (resultado ? "Verdadero" : "Falso") << "\n";
  std::cout << "CodError: " << teclon.CodError() << " (" << NombreCodigo(teclon.CodError()) << ")\n";
  std::cout << "MsgError: " << teclon.MsgError() << "\n";
  if (mostrarBanda) {
    std::cout << "Banda:\n";
    std::string linea;
    for (char c : banda) {
      if (c == '\r') {
        std::cout << "  " << linea << "\n";
        linea.clear();
      } else {
        linea.push_back(c);
      }
    }
    if (!linea.empty()) std::cout << "  " << linea << "\n";
    teclon::Borrar(linea);
  }
  if (mostrarPin) std::cout << "Bloque de PIN: " << largoPin << " caracteres\n";
  teclon::Borrar(banda);
  return resultado ? 0 : 1;
}
