// The rehearsal: gate on the live database, copy it read-only into the simulated engine, run the chain there.
#include "Ensayo.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "Catalogo.h"
#include "Conexion.h"
#include "Proceso.h"
#include "motores/CopiaSimulada.h"

namespace solvane {

namespace {

using Reloj = std::chrono::steady_clock;

double Segundos(Reloj::time_point desde) {
  return std::chrono::duration<double>(Reloj::now() - desde).count();
}

std::string SinRetornos(const std::string& texto) {
  std::string r;
  for (char c : texto)
    if (c != '\r') r += c;
  return r;
}

// The boxes the real run would show, kept in order; the question is answered as told.
class Grabador : public Presentador {
 public:
  explicit Grabador(bool si) : si_(si) {}
  int Mostrar(const std::string&, const std::string& texto, int estilo) override {
    textos.push_back(
        SinRetornos(texto) +
        (estilo == kEstiloPregunta ? (si_ ? " [el ensayo responde Sí]" : " [el ensayo responde No]") : ""));
    if (estilo != kEstiloPregunta) return kRespuestaAceptar;
    return si_ ? kRespuestaSi : kRespuestaNo;
  }
  std::vector<std::string> textos;

 private:
  bool si_;
};

// The front end's progress, and each step's caption with the time it took.
class ProgresoEnsayo : public Progreso {
 public:
  explicit ProgresoEnsayo(Progreso& fuera) : fuera_(fuera) {}
  void Mostrar() override { fuera_.Mostrar(); }
  void Etiqueta(const std::string& texto) override {
    Cerrar();
    pasos.push_back({texto, 0});
    inicio_ = Reloj::now();
    fuera_.Etiqueta(texto);
  }
  void Descargar() override {
    Cerrar();
    fuera_.Descargar();
  }
  std::vector<PasoEnsayado> pasos;

 private:
  void Cerrar() {
    if (!pasos.empty() && pasos.back().segundos == 0) pasos.back().segundos = Segundos(inicio_);
  }
  Progreso& fuera_;
  Reloj::time_point inicio_;
};

class SinProgreso : public Progreso {
 public:
  void Mostrar() override {}
  void Etiqueta(const std::string&) override {}
  void Descargar() override {}
};

// What the chain did on the copy: the changes that went through, in order, and the last refusal.
struct Traza {
  std::vector<std::string> hechas;
  std::optional<ErrorBD> error;
  std::string sentencia;
  std::size_t hechasAntes = 0;  // changes made before the last refusal
};

// The copy's engine with the chain's statements and its last refusal noted.
class Vigia : public MotorBD {
 public:
  Vigia(std::unique_ptr<MotorBD> interior, std::shared_ptr<Traza> traza)
      : interior_(std::move(interior)), traza_(std::move(traza)) {}
  void Conectar() override { interior_->Conectar(); }
  void Desconectar() noexcept override { interior_->Desconectar(); }
  void Ejecutar(const std::string& sentencia) override {
    Mirar(sentencia, [&] { interior_->Ejecutar(sentencia); });
    traza_->hechas.push_back(sentencia);
  }
  PrimeraFila Consultar(const std::string& sentencia) override {
    PrimeraFila r;
    Mirar(sentencia, [&] { r = interior_->Consultar(sentencia); });
    return r;
  }
  void Comenzar() override { interior_->Comenzar(); }
  void Confirmar() override { interior_->Confirmar(); }
  void Deshacer() noexcept override { interior_->Deshacer(); }
  bool TransaccionAbierta() const override { return interior_->TransaccionAbierta(); }
  std::string NombreServidor() const override { return interior_->NombreServidor(); }

 private:
  template <typename F>
  void Mirar(const std::string& sentencia, F&& hacer) {
    try {
      hacer();
    } catch (const ErrorBD& e) {
      traza_->error = e;
      traza_->sentencia = sentencia;
      traza_->hechasAntes = traza_->hechas.size();
      throw;
    }
  }
  std::unique_ptr<MotorBD> interior_;
  std::shared_ptr<Traza> traza_;
};

// The refusals that come from the rows themselves.
bool DeDatos(long numero) {
  switch (numero) {
    case 2627:
    case 2601:
    case 1505:
    case 515:
    case 8152:
    case 245:
    case 8114:
    case 8115:
      return true;
    default:
      return false;
  }
}

// The rows at fault, read with the copy as it stood just before the refused statement: the chain has rolled
// the copy back, so the changes that went through before it are made again, then undone.
std::vector<std::string> Culpables(const CopiaSimulada& copia, const Traza& traza, std::string& aviso) {
  std::vector<std::string> r;
  auto motor = copia.Motor();
  try {
    motor->Conectar();
    motor->Comenzar();
    for (std::size_t i = 0; i < traza.hechasAntes; ++i) motor->Ejecutar(traza.hechas[i]);
    r = copia.FilasCulpables(traza.sentencia, traza.error->Numero, kMaximoCulpables);
  } catch (const ErrorBD& e) {
    aviso = "no se pudieron buscar las filas culpables: " + std::to_string(e.Numero) + " " + e.Descripcion;
  }
  motor->Desconectar();
  return r;
}

void Correr(cBaseDatos& bd, cMensajes& mensajes, Progreso& progreso, const Bombeo& bombeo,
            const OpcionesEnsayo& opciones, const VersionPrograma& versionPrograma, InformeEnsayo& inf) {
  if (LocalizarConexion(bd, mensajes).empty() || !bd.Conectar()) {
    inf.problema = "no se pudo conectar con la base de datos";
    return;
  }
  MotorBD& vivo = *bd.MotorActual();
  inf.servidor = OcultarClaves(vivo.NombreServidor());
  inf.versionPrograma = versionPrograma.Codigo();

  // The gate, as the real run would pass it; only reads.
  auto puerta = std::make_shared<Grabador>(false);
  cMensajes msjPuerta;
  msjPuerta.Titulo(mensajes.Titulo());
  msjPuerta.FijarPresentador(puerta);
  SinProgreso nada;
  cActualiza gate(bd, msjPuerta, nada, Bombeo([] {}), inf.versionPrograma);
  bool bActSistema = false;
  std::string sVersionBD;
  bool alDia = false;
  try {
    alDia = gate.VersionActual(bActSistema, sVersionBD);
  } catch (const ErrorBD& e) {
    inf.mensajes.push_back("Error Act BD - " + OcultarClaves(e.Descripcion));
    inf.fin = InformeEnsayo::Fin::Fallaria;
    return;
  }
  inf.versionBD = gate.iVersionBD();
  if (alDia || bActSistema) {
    gate.ActualizaVersion();  // current: nothing; newer: only its message, nothing asked or changed
    inf.mensajes = puerta->textos;
    if (alDia) inf.mensajes.push_back(kTextoFinalizado);
    inf.fin = alDia ? InformeEnsayo::Fin::AlDia : InformeEnsayo::Fin::Fallaria;
    return;
  }

  // The copy, read only.
  const auto t0 = Reloj::now();
  progreso.Mostrar();
  progreso.Etiqueta("Leyendo la estructura de la base de datos");
  bombeo();
  Catalogo cat = LeerCatalogo(vivo);
  inf.base = cat.base.nombre;
  inf.noCopiados = cat.noCopiados;
  inf.avisos = cat.avisos;
  inf.tablas = cat.base.tablas.size();
  inf.vistas = cat.base.vistas.size();
  CopiaSimulada copia(cat.base);
  inf.filas = CopiarFilas(vivo, cat.base, copia, [&](const std::string& tabla, std::size_t filas) {
    if (filas == 0) progreso.Etiqueta("Copiando " + tabla);
    bombeo();
  });
  inf.segundosCopia = Segundos(t0);
  CerrarBaseDatos(bd);
  progreso.Descargar();
  if (!opciones.copia.empty()) copia.Grabar(opciones.copia);

  // The chain on the copy, exactly as the real run would go.
  auto traza = std::make_shared<Traza>();
  auto grabador = std::make_shared<Grabador>(true);
  cMensajes msjCadena;
  msjCadena.Titulo(mensajes.Titulo());
  msjCadena.FijarPresentador(grabador);
  cBaseDatos enCopia;
  enCopia.Mensajes(&msjCadena);
  enCopia.Motor(std::make_unique<Vigia>(copia.Motor(), traza));
  if (!opciones.registro.empty()) enCopia.Registro(opciones.registro);
  ProgresoEnsayo pasos(progreso);
  const bool ok =
      enCopia.Conectar() && ActualizarConectada(enCopia, msjCadena, pasos, bombeo, versionPrograma);
  CerrarBaseDatos(enCopia);
  inf.pasos = pasos.pasos;
  inf.mensajes = grabador->textos;
  inf.fin = ok ? InformeEnsayo::Fin::Completaria : InformeEnsayo::Fin::Fallaria;
  if (!ok && traza->error) {
    inf.numeroError = traza->error->Numero;
    inf.textoError = traza->error->Descripcion;
    inf.sentencia = traza->sentencia;
    if (DeDatos(traza->error->Numero)) {
      std::string aviso;
      inf.culpables = Culpables(copia, *traza, aviso);
      if (!aviso.empty()) inf.avisos.push_back(aviso);
    }
  }
}

std::string ConDecimales(double segundos) {
  char t[32];
  std::snprintf(t, sizeof t, "%.2f", segundos);
  std::string r = t;
  for (char& c : r)
    if (c == '.') c = ',';
  return r + " s";
}

std::string Cuenta(std::size_t n, const char* cosa) {
  return std::to_string(n) + " " + cosa + (n == 1 ? "" : "s");
}

}  // namespace

InformeEnsayo Ensayar(cBaseDatos& bd, cMensajes& mensajes, Progreso& progreso, const OpcionesEnsayo& opciones,
                      const VersionPrograma& versionPrograma) {
  InformeEnsayo inf;
  const Bombeo bombeo = opciones.bombeo ? opciones.bombeo : Bombeo([] {});
  try {
    Correr(bd, mensajes, progreso, bombeo, opciones, versionPrograma, inf);
  } catch (const ErrorBD& e) {
    inf.fin = InformeEnsayo::Fin::SinEnsayo;
    inf.problema = std::to_string(e.Numero) + " " + OcultarClaves(e.Descripcion);
  } catch (const std::exception& e) {
    inf.fin = InformeEnsayo::Fin::SinEnsayo;
    inf.problema = OcultarClaves(e.what());
  }
  CerrarBaseDatos(bd);
  return inf;
}

std::string TextoInforme(const InformeEnsayo& i) {
  using Fin = InformeEnsayo::Fin;
  std::string r = "ENSAYO de la actualización";
  if (!i.base.empty()) r += " sobre una copia de la base " + i.base;
  if (!i.servidor.empty()) r += " (" + i.servidor + ")";
  r += "\n";
  if (i.fin != Fin::SinEnsayo && i.fin != Fin::AlDia && !i.base.empty())
    r += "Copia: " + Cuenta(i.tablas, "tabla") + ", " + Cuenta(i.vistas, "vista") + " y " +
         Cuenta(i.filas, "fila") + ", en " + ConDecimales(i.segundosCopia) + ".\n";
  if (!i.noCopiados.empty()) {
    r += "No copiado (el ensayo no dice nada de ello):\n";
    for (const auto& n : i.noCopiados) r += "  - " + n + "\n";
  }
  if (!i.avisos.empty()) {
    r += "Avisos:\n";
    for (const auto& a : i.avisos) r += "  - " + a + "\n";
  }
  if (!i.pasos.empty()) {
    r += "Pasos que ejecutaría (tiempo en la copia):\n";
    for (const auto& p : i.pasos) r += "  " + p.leyenda + "  " + ConDecimales(p.segundos) + "\n";
  }
  const std::string de = "de " + TextoDeCodigo(i.versionBD) + " a " + TextoDeCodigo(i.versionPrograma);
  switch (i.fin) {
    case Fin::AlDia:
      r += "Resultado: la base ya está en la versión " + TextoDeCodigo(i.versionBD) +
           "; la actualización no tiene nada que hacer.\n";
      break;
    case Fin::Completaria:
      r += "Resultado: la actualización " + de + " TERMINARÍA BIEN.\n";
      break;
    case Fin::Fallaria:
      r += "Resultado: la actualización " + de + " FALLARÍA";
      if (i.numeroError && !i.pasos.empty()) r += " en el paso «" + i.pasos.back().leyenda + "»";
      r += ".\n";
      if (i.numeroError) {
        r += "  Error " + std::to_string(*i.numeroError) + ": " + i.textoError + "\n";
        r += "  Sentencia: " + i.sentencia + "\n";
      }
      break;
    case Fin::SinEnsayo:
      r += "Resultado: no se pudo hacer el ensayo: " + i.problema + ".\n";
      break;
  }
  if (!i.culpables.empty()) {
    r += "Filas que lo causan (hasta " + std::to_string(kMaximoCulpables) + "):\n";
    for (const auto& c : i.culpables) r += "  " + c + "\n";
  }
  if (!i.mensajes.empty()) {
    r += "Mensajes que vería el operador:\n";
    for (const auto& m : i.mensajes) {
      r += "  ";
      for (char c : m) r += c == '\n' ? std::string("\n    ") : std::string(1, c);
      r += "\n";
    }
  }
  r += "La base de datos real no se modificó.\n";
  return r;
}

int EstadoEnsayo(const InformeEnsayo& i) {
  return i.fin == InformeEnsayo::Fin::AlDia || i.fin == InformeEnsayo::Fin::Completaria ? 0 : 1;
}

}  // namespace solvane
