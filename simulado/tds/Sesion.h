// One client connection from PRELOGIN to its end: login, requests, results, transactions, cancels.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "motor/Servidor.h"
#include "tds/Base.h"
#include "tds/Login.h"
#include "tds/Paquetes.h"
#include "tds/Peticiones.h"

namespace simulado::tds {

struct Pieza;
struct Columna;
struct Argumento;
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
  std::chrono::milliseconds plazoEscritura =
      std::chrono::seconds(60);  // a client that takes nothing of its reply for this long is dropped
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
  void Sentencia(const Pieza& p);
  void Opcion(const Pieza& p);
  void Seleccion(const Pieza& p);
  bool ValorDeSesion(const Columna& c, ColumnaTds& col, std::optional<std::string>& v);
  void Declarar(const Pieza& p);
  void Exec(const Pieza& p);
  // sp_getapplock / sp_releaseapplock with their arguments (name or place, value as text; none for NULL);
  // the return status, errors answered.
  struct ArgumentoProc {
    std::string nombre;
    std::optional<std::string> valor;
  };
  std::optional<int> Candado(const std::string& proc, const std::vector<ArgumentoProc>& argumentos);
  void SoltarCandadosDeTransaccion();
  std::optional<std::string> ValorDe(const Argumento& a) const;
  void Reiniciar(bool conservarTransaccion);
  void Procedimiento(const Bytes& datos);
  bool Preparados(const std::string& nombre, const Rpc& r, std::optional<std::int32_t>& manija);
  bool ConParametros(const std::string& proc, const std::string& sentencia, const ParametroRpc* declaraciones,
                     const std::vector<ParametroRpc>& valores, std::size_t desde);
  void FinalProcedimiento(int estado, const ParametroRpc* salida, std::optional<std::int32_t> manija);
  void Transaccion(const Bytes& datos);
  bool TomarBase();
  void EjecutarMotor(const std::string& texto);
  void CambioTransaccion(int antes, bool confirmo);
  void ErrorSentencia(int numero, const std::string& texto);
  void CerrarSentencia(std::uint16_t estado, std::uint64_t filas, std::uint16_t orden = 0);
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
    std::uint16_t orden = 0;  // CurCmd: the kind of statement (jTDS takes no row count from a SELECT's)
  };
  std::optional<Hecho> hecho_;
  bool rpc_ = false;
  // Cancelled, client gone or server stopping: the rest of the request is skipped.
  bool detenido_ = false;
  // An error that ends the batch (conversion errors, any error under XACT_ABORT): the statements after it
  // do not run.
  bool cortado_ = false;

  // What the SET statements change, kept per session as SQL Server keeps it (RESETCONNECTION clears it).
  struct Opciones {
    bool sinCuenta = false;    // NOCOUNT: DONE tokens carry no row count
    bool abortar = false;      // XACT_ABORT: any error rolls the transaction back and ends the batch
    bool implicitas = false;   // IMPLICIT_TRANSACTIONS: a statement at @@TRANCOUNT 0 begins one
    bool soloFormato = false;  // FMTONLY: a SELECT sends its columns and no rows, nothing else runs
    bool sinEjecutar = false;  // NOEXEC, PARSEONLY: statements are checked and not run
    std::optional<std::chrono::milliseconds> esperaBloqueo;  // LOCK_TIMEOUT; none is -1, the server's
    long tamanoTexto = 2147483647;                           // TEXTSIZE, for @@TEXTSIZE
  } op_;
  // Variables DECLAREd in the batch running (names in upper case); they end with it.
  struct Variable {
    bool entera = true;
    std::optional<std::string> valor;
  };
  std::map<std::string, Variable> variables_;
  // Statements prepared by sp_prepare / sp_prepexec, by handle; their bytes are bounded.
  struct Preparada {
    std::string sentencia, declaraciones;
  };
  std::map<std::int32_t, Preparada> preparadas_;
  std::int32_t siguienteManija_ = 1;
  std::size_t bytesPreparados_ = 0;
  std::uint64_t filasUltima_ = 0;  // @@ROWCOUNT
  int errorUltimo_ = 0;            // @@ERROR
  int numeroError_ = 0;            // of the ERROR token of the statement running
};

}  // namespace simulado::tds
