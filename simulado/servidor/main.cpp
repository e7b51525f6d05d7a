// solvane-servidor: serves a simulated database file over TDS, the wire protocol of SQL Server.
#include <arpa/inet.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "motor/Archivo.h"
#include "tds/Cifrado.h"
#include "tds/Escucha.h"

namespace {

const char* const kAyuda =
    "Uso: solvane-servidor --archivo BASE.sql [--puerto N] [--escuchar DIRECCION] [--usuario U]\n"
    "                      [--max-sesiones N] [--diario MB] [--plazo-escritura SEGUNDOS]\n"
    "                      [--cifrado no|admitido|requerido]\n"
    "                      [--certificado CERT.pem --clave-certificado CLAVE.pem]\n"
    "     solvane-servidor --help | --version\n"
    "\n"
    "Sirve la base simulada BASE.sql por TDS (el protocolo de SQL Server) a clientes como tsql, el\n"
    "driver ODBC de FreeTDS o DB-Library. La base se llama como el archivo sin su extensión.\n"
    "\n"
    "  --archivo BASE.sql     base a servir; se bloquea mientras el servidor corre y cada confirmación\n"
    "                         la reescribe de forma atómica (salvo con --diario)\n"
    "  --puerto N             puerto TCP (por omisión 1433; 0 elige uno libre)\n"
    "  --escuchar DIRECCION   dirección IPv4 donde escuchar (por omisión 127.0.0.1)\n"
    "  --usuario U            usuario admitido (por omisión pagora)\n"
    "  --max-sesiones N       sesiones simultáneas (por omisión 64)\n"
    "  --diario MB            cada confirmación se asegura en el diario BASE.sql.diario (lo que cuesta\n"
    "                         lo que cambia) y el archivo se reescribe entero solo cuando el diario\n"
    "                         pasaría de MB megabytes, tras un cambio de esquema y al detenerse\n"
    "  --plazo-escritura S    se cierra la sesión de un cliente que no lee nada de su respuesta en S\n"
    "                         segundos, y se deshace su transacción (por omisión 60)\n"
    "  --cifrado MODO         TLS dentro de PRELOGIN, como SQL Server: «admitido» (por omisión) cifra lo\n"
    "                         que pide el cliente (sólo el login, o toda la sesión); «requerido» cifra\n"
    "                         toda la sesión y rechaza a quien no cifra; «no» no cifra nunca. Fuera de\n"
    "                         127.0.0.0/8 el servidor sólo arranca con «requerido»\n"
    "  --certificado CERT.pem, --clave-certificado CLAVE.pem\n"
    "                         certificado (con sus intermedios) y clave sin frase, en PEM; sin ellos se\n"
    "                         genera un certificado autofirmado para esta corrida\n"
    "\n"
    "La clave del usuario se toma de la variable de entorno PAGORA_SERVIDOR_CLAVE (nunca de la línea de\n"
    "órdenes). La primera línea de la salida es «Escuchando en DIRECCION:PUERTO»; la segunda, el modo de\n"
    "cifrado y la huella SHA-256 del certificado; después, una línea por sesión abierta o cerrada.\n"
    "SIGINT o SIGTERM: deja de aceptar, deshace las transacciones abiertas y termina con estado 0.\n"
    "\n"
    "Estado de salida: 0 detenido con una señal, 1 error al iniciar, 2 error de uso.\n";

simulado::tds::Escucha* gEscucha = nullptr;

void AlSenal(int) {
  if (gEscucha) gEscucha->Parar();
}

int Uso(const std::string& msg) {
  std::cerr << "solvane-servidor: " << msg << "\nPruebe «solvane-servidor --help».\n";
  return 2;
}

// Only the loopback network keeps a password that crosses it on this machine.
bool Local(const std::string& direccion) {
  in_addr a{};
  return ::inet_pton(AF_INET, direccion.c_str(), &a) != 1 || (ntohl(a.s_addr) >> 24) == 127;
}

bool Numero(const std::string& s, int minimo, int maximo, int& v) {
  try {
    std::size_t n = 0;
    const long x = std::stol(s, &n);
    if (n != s.size() || x < minimo || x > maximo) return false;
    v = static_cast<int>(x);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string archivo, direccion = "127.0.0.1", usuario = "pagora", cifrado = "admitido", certificado,
                       claveCertificado;
  int puerto = 1433, maxSesiones = 64, plazoEscritura = 60, diarioMb = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kAyuda;
      return 0;
    }
    if (a == "--version") {
      std::cout << "solvane-servidor " PAGORA_VERSION "\n";
      return 0;
    }
    if (i + 1 >= argc) return Uso("falta el valor de " + a);
    const std::string v = argv[++i];
    if (a == "--archivo") {
      archivo = v;
    } else if (a == "--puerto") {
      if (!Numero(v, 0, 65535, puerto)) return Uso("puerto inválido: " + v);
    } else if (a == "--escuchar") {
      direccion = v;
    } else if (a == "--usuario") {
      if (v.empty()) return Uso("el usuario no puede ser vacío");
      usuario = v;
    } else if (a == "--max-sesiones") {
      if (!Numero(v, 1, 1024, maxSesiones)) return Uso("cantidad de sesiones inválida: " + v);
    } else if (a == "--diario") {
      if (!Numero(v, 1, 65536, diarioMb)) return Uso("tamaño de diario inválido: " + v);
    } else if (a == "--plazo-escritura") {
      if (!Numero(v, 1, 86400, plazoEscritura)) return Uso("plazo de escritura inválido: " + v);
    } else if (a == "--cifrado") {
      if (v != "no" && v != "admitido" && v != "requerido") return Uso("modo de cifrado inválido: " + v);
      cifrado = v;
    } else if (a == "--certificado") {
      certificado = v;
    } else if (a == "--clave-certificado") {
      claveCertificado = v;
    } else {
      return Uso("opción desconocida: " + a);
    }
  }
  if (archivo.empty()) return Uso("falta --archivo");
  if (certificado.empty() != claveCertificado.empty())
    return Uso("--certificado y --clave-certificado van juntos");
  if (cifrado == "no" && !certificado.empty()) return Uso("--certificado sobra con --cifrado no");
  if (!Local(direccion) && cifrado != "requerido")
    return Uso(
        "escuchar en " + direccion +
        " exige --cifrado requerido: fuera de esta máquina, ninguna clave debe cruzar la red sin cifrar");
  const char* clave = std::getenv("PAGORA_SERVIDOR_CLAVE");
  if (!clave || !*clave) {
    std::cerr << "solvane-servidor: falta la clave: defina la variable de entorno PAGORA_SERVIDOR_CLAVE\n";
    return 1;
  }
  simulado::tds::Ajustes aj;
  aj.usuario = usuario;
  aj.clave = clave;
  aj.plazoEscritura = std::chrono::seconds(plazoEscritura);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0 && host[0]) aj.servidor = host;
  aj.cifrado = cifrado == "no"          ? simulado::tds::ModoCifrado::No
               : cifrado == "requerido" ? simulado::tds::ModoCifrado::Requerido
                                        : simulado::tds::ModoCifrado::Admitido;

  std::mutex salida;
  auto registro = [&salida](const std::string& linea) {
    std::lock_guard lk(salida);
    std::cout << linea << std::endl;
  };
  try {
    simulado::tds::Base base(archivo, std::chrono::milliseconds(500), std::uint64_t(diarioMb) << 20);
    for (const auto& aviso : base.Avisos()) std::cerr << "solvane-servidor: " << aviso << "\n";
    // Test-only: refuse the N-th statement, to drive a client through every failure point.
    if (const char* n = std::getenv("PAGORA_SERVIDOR_RECHAZAR"); n && *n)
      base.RechazarSentencia(std::strtoull(n, nullptr, 10));
    std::string lineaCifrado = "Cifrado no: se rechaza a los clientes que lo exigen";
    if (aj.cifrado != simulado::tds::ModoCifrado::No) {
      if (!certificado.empty()) {
        aj.tls = simulado::tds::ContextoTls::DeArchivos(certificado, claveCertificado);
      } else {
        // A certificate for the names clients may use to reach this address.
        std::vector<std::string> nombres;
        if (host[0]) nombres.emplace_back(host);
        nombres.insert(nombres.end(), {"localhost", "127.0.0.1"});
        if (direccion != "127.0.0.1" && direccion != "0.0.0.0") nombres.push_back(direccion);
        aj.tls = simulado::tds::ContextoTls::Autofirmado(nombres);
      }
      lineaCifrado = "Cifrado " + cifrado + ": certificado " +
                     (certificado.empty() ? std::string("autofirmado de esta corrida") : certificado) + " (" +
                     aj.tls->Descripcion() + "), huella SHA-256 " + aj.tls->Huella();
    }
    simulado::tds::Escucha escucha(base, aj, direccion, puerto, maxSesiones, registro);
    gEscucha = &escucha;
    struct sigaction sa {};
    sa.sa_handler = AlSenal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    registro("Escuchando en " + escucha.Direccion());
    registro(lineaCifrado);
    escucha.Correr();
    gEscucha = nullptr;
    if (const std::string e = base.Consolidar(); !e.empty())
      std::cerr << "solvane-servidor: el diario no se pudo incluir en la base (se aplicará al volver a "
                   "iniciar): "
                << e << "\n";
    registro("Servidor detenido");
  } catch (const simulado::ErrorArchivo& e) {
    std::cerr << "solvane-servidor: " << e.descripcion << "\n";
    return 1;
  } catch (const simulado::ErrorSql& e) {
    std::cerr << "solvane-servidor: la base " << archivo << " no se pudo cargar: " << e.numero << " "
              << e.descripcion << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "solvane-servidor: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
