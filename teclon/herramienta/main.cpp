// teclon: command-line tool for technicians to exercise a PIN pad through libteclon.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "secretos.hpp"
#include "teclon/cTeclon.hpp"

namespace {

const char* const kAyuda =
    "Uso: teclon [--puerto N | --dispositivo RUTA] ORDEN [ARGUMENTOS]\n"
    "     teclon --version | --ayuda\n"
    "Prueba un PIN pad conectado a un puerto serie.\n\n"
    "Puerto:\n"
    "  --puerto N           puerto número N (por omisión 1): el dispositivo de la variable\n"
    "                       TECLON_PUERTO_<N> o, si no está, /dev/ttyS<N-1>\n"
    "  --dispositivo RUTA   usar directamente ese dispositivo (por ejemplo el de teclon-simulador)\n\n"
    "Órdenes:\n"
    "  prompt                   carga el texto de reposo del PIN pad\n"
    "  banda                    lee la banda magnética y muestra las pistas\n"
    "  chip                     prueba el lector de chip\n"
    "  pin [MSJ1 [MSJ2]]        pide el PIN con los mensajes dados; lee de la entrada estándar el\n"
    "                           número de tarjeta y la clave de trabajo, en ese orden, una línea\n"
    "                           cada uno (muestra solo el largo del bloque)\n"
    "  inicializar              inicializa el PIN pad\n"
    "  transferir-clave         carga en la posición 0 la clave maestra, leída de la entrada estándar\n"
    "  verificar-clave POS      verifica si hay clave maestra en POS\n"
    "  seleccionar-clave POS    selecciona la clave maestra de POS\n\n"
    "El número de tarjeta y las claves no se aceptan como argumentos: cualquier usuario de la\n"
    "máquina los vería con ps y quedarían en el historial. Se leen de la entrada estándar; en una\n"
    "terminal se piden sin mostrarlos. Por ejemplo, desde un archivo que solo lee su dueño:\n"
    "  teclon --dispositivo /dev/pts/3 pin \"INGRESE PIN\" < secretos.txt\n\n"
    "Ctrl-C cancela la lectura de banda o de chip en curso, o la de un secreto.\n"
    "Sale con 0 si la operación se aprobó, con 1 en otro caso y con 2 ante un error de uso\n"
    "(también un secreto dado como argumento o que falta en la entrada).\n";

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
  return 2;
}

// The refusal of a secret on the command line: it says why and how to give it instead.
int SecretoEnArgumentos(const char* que, const char* orden) {
  std::cerr << "teclon: " << que
            << " no se acepta como argumento (cualquier usuario lo vería con ps y quedaría en el "
               "historial).\nSe lee de la entrada estándar, una línea cada secreto; por ejemplo:\n  teclon "
            << orden << " < archivo-protegido\n(use --ayuda)\n";
  return 2;
}

// Fills secretos from standard input; false (with the exit status in salida) after telling why not.
bool Secretos(const std::vector<std::string_view>& nombres, std::vector<teclon::TextoSeguro>& secretos,
              int& salida) {
  try {
    secretos = herramienta::LeerSecretos(STDIN_FILENO, nombres, gInterrumpido, AlInterrumpir);
    return true;
  } catch (const herramienta::ErrorEntrada& e) {
    std::cerr << "teclon: " << e.what() << " (" << e.Numero() << ")\n";
    salida = e.Numero() == EINTR ? 1 : 2;
  } catch (const std::exception& e) {
    std::cerr << "teclon: " << e.what() << "\n";
    salida = 2;
  }
  return false;
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
    } else if (a == "--version") {
      std::cout << "teclon " << TECLON_VERSION_PAQUETE << "\n";
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

  // A card number or key among the arguments is refused before anything else happens: arguments are
  // visible to every user of the machine (ps, /proc) and stay in the shell's history.
  if (orden == "pin" &&
      (resto.size() > 2 || std::any_of(resto.begin(), resto.end(),
                                       [](const std::string& a) { return herramienta::PareceSecreto(a); })))
    return SecretoEnArgumentos("El número de tarjeta o la clave de trabajo", "pin [MSJ1 [MSJ2]]");
  if (orden == "transferir-clave" && !resto.empty())
    return SecretoEnArgumentos("La clave maestra", "transferir-clave");

  // Ctrl-C must interrupt a blocked read of standard input, so the handler does not restart calls.
  struct sigaction accion {};
  accion.sa_handler = AlInterrumpir;
  sigemptyset(&accion.sa_mask);
  if (sigaction(SIGINT, &accion, nullptr) < 0) {
    std::cerr << "teclon: no se puede atender Ctrl-C (" << errno << " " << std::strerror(errno) << ")\n";
    return 2;
  }
  int salida = 0;
  std::vector<teclon::TextoSeguro> secretos;
  if (orden == "pin" && !Secretos({"Número de tarjeta", "Clave de trabajo"}, secretos, salida)) return salida;
  if (orden == "transferir-clave" && !Secretos({"Clave maestra"}, secretos, salida)) return salida;

  cTeclon teclon;
  teclon.Puerto(puerto);
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
  } else if (orden == "pin") {
    std::string tarjeta(secretos[0].Vista()), clave(secretos[1].Vista()), pin;
    resultado = teclon.IngresarPIN(tarjeta, clave, !resto.empty() ? resto[0] : "",
                                   resto.size() > 1 ? resto[1] : "", pin);
    largoPin = pin.size();
    mostrarPin = true;
    for (std::string* s : {&tarjeta, &clave, &pin}) teclon::Borrar(*s);
  } else if (orden == "inicializar" && resto.empty()) {
    resultado = teclon.InicializarTECLON();
  } else if (orden == "transferir-clave") {
    std::string clave(secretos[0].Vista());
    resultado = teclon.TransferirClaveMaestra(clave);
    teclon::Borrar(clave);
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
