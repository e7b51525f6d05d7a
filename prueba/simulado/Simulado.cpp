// Simulado.cpp: the bundled simulated transaction control, exported through the C entry point.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>

#include "Contrato.h"
#include "Variante.h"

namespace prueba {
namespace {

// Environment variables read when an instance is created.
constexpr const char* kVarRegistro = "PAGORA_SIMULADO_REGISTRO";         // file that records every call
constexpr const char* kVarTope = "PAGORA_SIMULADO_TOPE";                 // highest amount approved
constexpr const char* kVarSinConexion = "PAGORA_SIMULADO_SIN_CONEXION";  // "1": host unreachable
constexpr double kTopePorDefecto = 10000.0;

constexpr const char* kTarjetaLeida = "4580552701005852";
constexpr const char* kVencimientoLeido = "1212";
constexpr const char* kCedulaLeida = "12345672";

int siguiente_instancia = 0;  // instances are numbered in creation order, from 1

std::string Escapar(const std::string& s) {
  std::string r;
  for (char c : s) {
    switch (c) {
      case '\\':
        r += "\\\\";
        break;
      case '\t':
        r += "\\t";
        break;
      case '\n':
        r += "\\n";
        break;
      case '\r':
        r += "\\r";
        break;
      default:
        r += c;
    }
  }
  return r;
}

std::string Hex(int32_t v) {
  std::array<char, 16> b{};
  std::snprintf(b.data(), b.size(), "0x%08X", static_cast<uint32_t>(v));
  return b.data();
}

std::string Importe(double v) {
  std::array<char, 48> b{};
  std::snprintf(b.data(), b.size(), "%.2f", v);
  return b.data();
}

std::string FechaDentroDe(int dias) {
  const std::time_t t =
      std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() + std::chrono::hours(24 * dias));
  std::tm tm{};
  localtime_r(&t, &tm);
  std::array<char, 16> b{};
  std::strftime(b.data(), b.size(), "%d/%m/%Y", &tm);
  return b.data();
}

Variante PorDefecto(int32_t tipo) {
  switch (tipo) {
    case PAGORA_CADENA:
      return Variante::Cadena("");
    case PAGORA_BOOLEANO:
      return Variante::Booleano(false);
    case PAGORA_ENTERO:
      return Variante::Entero(0);
    case PAGORA_LARGO:
      return Variante::Largo(0);
    case PAGORA_BYTE:
      return Variante::Byte(0);
    case PAGORA_DOBLE:
      return Variante::Doble(0);
    default:
      return {};
  }
}

struct Falla {
  int32_t codigo;
  std::string texto;
};

// One control instance. Keeps every property written; each method sets the read properties to its own
// outcome. Sales and voids up to the limit are approved; a close reports what was approved since the
// last one and opens the next batch.
class Simulado {
 public:
  Simulado() : numero_(++siguiente_instancia) {
    if (const char* t = std::getenv(kVarTope)) {
      double v = 0;
      auto r = std::from_chars(t, t + std::strlen(t), v);
      if (r.ec == std::errc() && *r.ptr == '\0') tope_ = v;
    }
    if (const char* s = std::getenv(kVarSinConexion)) sin_conexion_ = std::strcmp(s, "1") == 0;
    if (const char* ruta = std::getenv(kVarRegistro); ruta && *ruta) {
      fd_ = ::open(ruta, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (fd_ < 0)
        error_registro_ = std::string("no se pudo abrir el registro ") + ruta + ": " + std::strerror(errno);
    }
    Anotar("crear\t-\t-\t" + std::string(kProgIdSimulado));
  }
  ~Simulado() {
    Anotar("liberar\t-\t-\t");
    if (fd_ >= 0) ::close(fd_);
  }
  Simulado(const Simulado&) = delete;
  Simulado& operator=(const Simulado&) = delete;

  static constexpr const char* kProgIdSimulado = "Pagora.ISOPagora";

  int32_t Poner(int32_t id, const PagoraVariante& c) {
    auto v = Variante::DeC(c);
    const auto m = BuscarMiembro(id);
    Falla f = Admitir(m, Clase::kPropiedad);
    if (f.codigo == PAGORA_OK && m->acceso == Acceso::kLectura)
      f = {PAGORA_E_SOLO_LECTURA, "la propiedad es de solo lectura"};
    else if (f.codigo == PAGORA_OK && (!v || v->Tipo() != m->tipo))
      f = {PAGORA_E_TIPO, "se esperaba " + std::string(NombreTipo(m->tipo)) + " y se recibió " +
                              std::string(v ? NombreTipo(v->Tipo()) : "un tipo desconocido")};
    if (f.codigo == PAGORA_OK) valores_[id] = *v;
    return Registrar("poner", id, v.value_or(Variante()), f);
  }

  int32_t Obtener(int32_t id, PagoraVariante& salida) {
    const Falla f = Admitir(BuscarMiembro(id), Clase::kPropiedad);
    const Variante v = f.codigo == PAGORA_OK ? Valor(id) : Variante();
    return Devolver(Registrar("leer", id, v, f), v, salida);
  }

  int32_t Llamar(int32_t id, PagoraVariante& salida) {
    Falla f = Admitir(BuscarMiembro(id), Clase::kMetodo);
    Variante v;
    if (f.codigo == PAGORA_OK && id != dispid::Inicializar && id != dispid::Configurar && !inicializado_)
      f = {PAGORA_E_FALLA, "el control no fue inicializado"};
    else if (f.codigo == PAGORA_OK)
      v = Ejecutar(id, f);
    return Devolver(Registrar("llamar", id, v, f), v, salida);
  }

  const char* UltimoError() const { return ultimo_error_.c_str(); }

 private:
  // The checks every call starts with: a record that cannot be written fails everything, then the
  // member must exist and be of the kind called.
  Falla Admitir(const std::optional<Miembro>& m, Clase clase) const {
    if (!error_registro_.empty()) return {PAGORA_E_FALLA, error_registro_};
    if (!m || m->clase != clase)
      return {PAGORA_E_MIEMBRO, clase == Clase::kMetodo ? "el control no tiene ese método"
                                                        : "el control no tiene esa propiedad"};
    return {PAGORA_OK, {}};
  }
  Variante Valor(int32_t id) const {
    if (auto i = valores_.find(id); i != valores_.end()) return i->second;
    return PorDefecto(BuscarMiembro(id)->tipo);
  }
  std::string Cadena(int32_t id) const { return Valor(id).Texto(); }
  void Fijar(int32_t id, const std::string& v) { valores_[id] = Variante::Cadena(v); }
  void Fijar(int32_t id, int32_t v) { valores_[id] = Variante::Largo(v); }
  void Fijar(int32_t id, bool v) { valores_[id] = Variante::Booleano(v); }

  Variante Ejecutar(int32_t id, Falla& f) {
    if (id == dispid::Inicializar) {
      if (Cadena(dispid::Empresa).empty() || Cadena(dispid::Local).empty() || Cadena(dispid::Caja).empty())
        f = {PAGORA_E_FALLA, "faltan Empresa, Local o Caja"};
      else
        inicializado_ = true;
      return {};
    }
    if (id == dispid::Configurar) return {};
    Limpiar();
    if (id == dispid::RealizarConsulta) return Transaccion(), Variante();
    if (id == dispid::ProcesarCierre) return Cierre(), Variante();
    if (id == dispid::ProcesarTarjeta) {
      if (sin_conexion_) return Rechazar(kSinConexion), Variante::Booleano(false);
      return Transaccion(), Variante::Booleano(true);
    }
    return Variante::Booleano(ConfirmarDocumento(id == dispid::ConfirmarServicio));
  }

  static constexpr const char* kSinConexion = "Sin comunicación con el servidor";

  // The outcome of the previous call is not left behind.
  void Limpiar() {
    for (int32_t id :
         {dispid::CodAutorizacion, dispid::MensajeRespuesta, dispid::InfCierre, dispid::IdTerminal,
          dispid::CodComercio, dispid::DocPronto, dispid::DocVence, dispid::TextoG})
      Fijar(id, std::string());
    Fijar(dispid::Aprobada, false);
    Fijar(dispid::NroVale, int32_t{0});
  }

  void Rechazar(const std::string& mensaje) {
    Fijar(dispid::Aprobada, false);
    Fijar(dispid::MensajeRespuesta, mensaje);
  }

  void Transaccion() {
    if (sin_conexion_) return Rechazar(kSinConexion);
    const int32_t tipo = *Valor(dispid::TipoOperacion).Si<int32_t>();
    if (tipo == 3) return Cierre();
    if (tipo != 0 && tipo != 1 && tipo != 4)
      return Rechazar("Tipo de operación no válido: " + std::to_string(tipo));
    if (Cadena(dispid::NumeroTarjeta).empty()) Fijar(dispid::NumeroTarjeta, std::string(kTarjetaLeida));
    if (Cadena(dispid::Vencimiento).empty()) Fijar(dispid::Vencimiento, std::string(kVencimientoLeido));
    Fijar(dispid::IdTerminal, std::string("90000001"));
    Fijar(dispid::CodComercio, std::string("7654321"));
    if (tipo == 4) {
      Fijar(dispid::Aprobada, true);
      Fijar(dispid::MensajeRespuesta, std::string("Tarjeta habilitada"));
      return;
    }
    const double monto = *Valor(dispid::Monto).Si<double>();
    if (!(monto > 0)) return Rechazar("Monto inválido");
    if (monto > tope_) return Rechazar("Monto superior al tope autorizado (" + Importe(tope_) + ")");
    if (tipo == 1 && Cadena(dispid::NroDocOriginal).find_first_not_of(" \t") == std::string::npos)
      return Rechazar("Falta el documento original");

    std::array<char, 8> codigo{};
    std::snprintf(codigo.data(), codigo.size(), "%06d",
                  100000 + (++secuencia_ * 7919 + numero_ * 31) % 900000);
    autorizacion_ = codigo.data();
    (tipo == 0 ? ventas_ : anulaciones_).Sumar(monto);
    pendiente_ = true;
    vale_ = 5000 + secuencia_;
    Fijar(dispid::Aprobada, true);
    Fijar(dispid::CodAutorizacion, autorizacion_);
    Fijar(dispid::Lote, lote_);
    Fijar(dispid::MensajeRespuesta, std::string("Aprobada"));
    if (Cadena(dispid::NroCI).empty()) Fijar(dispid::NroCI, std::string(kCedulaLeida));
    Fijar(dispid::NroVale, vale_);
    Fijar(dispid::DocVence, FechaDentroDe(30));
    Fijar(dispid::DocPronto, std::string("1"));
    Fijar(dispid::TextoG, std::string("SIMULADO"));
  }

  void Cierre() {
    if (sin_conexion_) return Rechazar(kSinConexion);
    Fijar(dispid::Aprobada, true);
    Fijar(dispid::Lote, lote_);
    Fijar(dispid::InfCierre, "Ventas " + std::to_string(ventas_.cantidad) + " por " + Importe(ventas_.total) +
                                 ", anulaciones " + std::to_string(anulaciones_.cantidad) + " por " +
                                 Importe(anulaciones_.total));
    Fijar(dispid::MensajeRespuesta, std::string("Cierre realizado"));
    ++lote_;
    ventas_ = {};
    anulaciones_ = {};
    pendiente_ = false;
  }

  bool ConfirmarDocumento(bool servicio) {
    if (sin_conexion_) return Rechazar(kSinConexion), false;
    if (Cadena(dispid::NroDocumento).empty()) return Rechazar("Nro. de documento no informado"), false;
    if (!pendiente_) return Rechazar("No hay transacción pendiente de confirmar"), false;
    pendiente_ = false;
    Fijar(dispid::Aprobada, true);
    Fijar(dispid::CodAutorizacion, autorizacion_);
    Fijar(dispid::Lote, lote_);
    if (servicio) Fijar(dispid::NroVale, vale_);
    Fijar(dispid::MensajeRespuesta, std::string("Documento confirmado"));
    return true;
  }

  int32_t Registrar(const char* clase, int32_t id, const Variante& v, const Falla& f) {
    std::string linea = std::string(clase) + "\t" + Hex(id) + "\t" + std::string(NombreTipo(v.Tipo())) +
                        "\t" + Escapar(v.Texto());
    if (f.codigo != PAGORA_OK) linea += "\tERROR " + Hex(f.codigo);
    Anotar(linea);
    ultimo_error_ = f.texto;
    return f.codigo;
  }

  void Anotar(const std::string& linea) {
    if (fd_ < 0) return;
    const std::string completa = std::to_string(numero_) + "\t" + linea + "\n";
    // One write per line with O_APPEND keeps lines whole when several instances share the file.
    if (::write(fd_, completa.data(), completa.size()) != static_cast<ssize_t>(completa.size()))
      error_registro_ = std::string("no se pudo escribir el registro: ") + std::strerror(errno);
  }

  int32_t Devolver(int32_t codigo, const Variante& v, PagoraVariante& salida) {
    if (codigo != PAGORA_OK) return codigo;
    devuelto_ = v;
    salida = devuelto_.AC();
    return PAGORA_OK;
  }

  struct Total {
    int cantidad = 0;
    double total = 0;
    void Sumar(double monto) { ++cantidad, total += monto; }
  };

  int numero_;
  double tope_ = kTopePorDefecto;
  bool sin_conexion_ = false;
  int fd_ = -1;
  std::string error_registro_;
  std::map<int32_t, Variante> valores_;
  std::string ultimo_error_;
  Variante devuelto_;
  bool inicializado_ = false;
  bool pendiente_ = false;
  int secuencia_ = 0;
  int32_t lote_ = 1;
  int32_t vale_ = 0;
  std::string autorizacion_;
  Total ventas_, anulaciones_;
};

struct Instancia {
  PagoraControl control;  // first member: the C pointer converts back to the instance
  std::unique_ptr<Simulado> simulado;
};

Simulado& De(PagoraControl* c) {
  return *reinterpret_cast<Instancia*>(c)->simulado;
}

// No exception may cross the C boundary: one that escapes a call becomes a plain failure.
template <class F>
int32_t Seguro(F&& f) {
  try {
    return f();
  } catch (...) {
    return PAGORA_E_FALLA;
  }
}

const PagoraControlTabla kTabla{
    PAGORA_CONTROL_ABI,
    [](PagoraControl* c, int32_t id, const PagoraVariante* v) {
      return Seguro([&] { return v ? De(c).Poner(id, *v) : PAGORA_E_TIPO; });
    },
    [](PagoraControl* c, int32_t id, PagoraVariante* v) {
      return Seguro([&] { return v ? De(c).Obtener(id, *v) : PAGORA_E_FALLA; });
    },
    [](PagoraControl* c, int32_t id, PagoraVariante* v) {
      return Seguro([&] { return v ? De(c).Llamar(id, *v) : PAGORA_E_FALLA; });
    },
    [](PagoraControl* c) { return De(c).UltimoError(); },
    [](PagoraControl* c) { delete reinterpret_cast<Instancia*>(c); },
};

}  // namespace
}  // namespace prueba

extern "C" __attribute__((visibility("default"))) PagoraControl* PagoraCrearControl(const char* progid,
                                                                                    int32_t abi) {
  using prueba::Simulado;
  if (abi != PAGORA_CONTROL_ABI || !progid || strcasecmp(progid, Simulado::kProgIdSimulado) != 0)
    return nullptr;
  try {
    return &(new prueba::Instancia{{&prueba::kTabla}, std::make_unique<Simulado>()})->control;
  } catch (...) {
    return nullptr;  // nothing may cross the C boundary
  }
}
