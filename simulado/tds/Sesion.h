// One client connection from PRELOGIN to its end: login, requests, results, transactions, cancels.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "motor/Servidor.h"
#include "tds/Base.h"
#include "tds/Login.h"
#include "tds/Paquetes.h"

namespace simulado::tds {

class ContextoTls;
class SesionTls;

struct Ajustes {
  std::string usuario = "pagora";
  std::string clave;
  std::string servidor = "solvane-servidor";                   // the name clients are told in messages
  std::chrono::milliseconds ocioso = std::chrono::hours(8);    // an idle connection is dropped after it
  std::chrono::milliseconds plazo = std::chrono::seconds(30);  // for the rest of a message begun
  std::chrono::milliseconds esperaBloqueo =
      std::chrono::hours(1);  // a statement waiting for another's transaction
  ModoCifrado cifrado = ModoCifrado::No;
  std::shared_ptr<const ContextoTls> tls;  // the certificate; without one nothing is encrypted
};

using Registro = std::function<void(const std::string&)>;

class Sesion {
 public:
  Sesion(Base& base, const Ajustes& ajustes, Descriptor sock, int parada, std::uint16_t spid,
         std::string direccion, Registro registro);
  // Serves the connection until the client leaves, misbehaves or the server stops; never throws. An open
  // transaction is rolled back before it returns.
  void Atender();

 private:
  bool Entrar();
  void Peticion(Mensaje& m);
  void Texto(const std::string& texto, bool rpc);
  void Procedimiento(const Bytes& datos);
  void Transaccion(const Bytes& datos);
  void Variable(const std::string& nombre);
  bool TomarBase();
  void EjecutarMotor(const std::string& texto);
  void CambioTransaccion(int antes, bool confirmo);
  void ErrorSentencia(int numero, const std::string& texto);
  void CerrarSentencia(std::uint16_t estado, std::uint64_t filas);
  void SoltarHecho(bool mas);
  void Vaciar(bool forzar);
  void Final(std::uint8_t token = kDone);
  std::uint16_t EnTransaccion();

  Base& base_;
  const Ajustes& aj_;
  Canal canal_;
  std::uint16_t spid_;
  std::string direccion_;
  Registro registro_;
  std::string usuario_;
  std::string cifrado_ = "sin cifrar";  // for the log
  SesionTls* tls_ = nullptr;            // the channel's transport while the whole session is encrypted
  std::uint32_t version_ = 0x74000004;
  Escritor e_{0x74000004};
  std::uint64_t descriptor_ = 0;
  std::uint64_t siguienteDescriptor_ = 0;
  // The DONE of the last statement is held back until it is known whether more tokens follow.
  struct Hecho {
    std::uint8_t token;
    std::uint16_t estado;
    std::uint64_t filas;
  };
  std::optional<Hecho> hecho_;
  bool rpc_ = false;
  bool detenido_ = false;
  bool cortado_ =
      false;  // an error that ends the batch (conversion errors): the statements after it do not run  //
              // cancelled, client gone or server stopping: the rest of the request is skipped
};

}  // namespace simulado::tds
