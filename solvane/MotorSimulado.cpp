// The simulated engine: script file in, whole state out on the outermost commit.
#include "MotorSimulado.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "Conexion.h"

namespace solvane {

namespace {

// Every OS call of this file goes through here: on failure the errno is captured at once.
void Comprobar(bool bien, const char* que, const std::string& archivo) {
  if (bien) return;
  const int e = errno;
  throw ErrorBD(e, std::string(que) + " " + archivo + ": " + std::strerror(e));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd() const { return fd_; }
  int Soltar() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

ErrorBD Traducir(const simulado::ErrorSql& e) {
  return ErrorBD(e.numero, e.descripcion);
}

}  // namespace

void EscribirAtomico(const std::string& archivo, const std::string& contenido) {
  const std::string carpeta = CarpetaDe(archivo);
  std::string oculto = ".";
  oculto += std::filesystem::path(archivo).filename().string();
  oculto += ".XXXXXX";
  std::string plantilla = ResolverRuta(carpeta, oculto);
  std::vector<char> nombre(plantilla.begin(), plantilla.end());
  nombre.push_back('\0');
  Descriptor fd(::mkstemp(nombre.data()));
  Comprobar(fd.fd() >= 0, "No se puede crear el temporal de", archivo);
  const std::string temporal(nombre.data());
  try {
    struct stat st {};
    if (::stat(archivo.c_str(), &st) == 0)
      Comprobar(::fchmod(fd.fd(), st.st_mode & 07777) == 0, "fchmod", temporal);
    std::size_t hecho = 0;
    while (hecho < contenido.size()) {
      const ssize_t n = ::write(fd.fd(), contenido.data() + hecho, contenido.size() - hecho);
      if (n < 0 && errno == EINTR) continue;
      Comprobar(n > 0, "No se puede escribir", temporal);
      hecho += static_cast<std::size_t>(n);
    }
    Comprobar(::fsync(fd.fd()) == 0, "fsync", temporal);
    Comprobar(::close(fd.Soltar()) == 0, "close", temporal);
    Comprobar(::rename(temporal.c_str(), archivo.c_str()) == 0, "No se puede reemplazar", archivo);
  } catch (...) {
    ::unlink(temporal.c_str());
    throw;
  }
  // The rename itself must reach the disk too.
  Descriptor dir(::open(carpeta.c_str(), O_RDONLY | O_DIRECTORY));
  if (dir.fd() >= 0) ::fsync(dir.fd());
}

MotorSimulado::MotorSimulado(std::string archivo) : archivo_(std::move(archivo)) {}

MotorSimulado::~MotorSimulado() {
  Desconectar();
}

simulado::Servidor& MotorSimulado::Conectado() {
  if (!servidor_) throw ErrorBD(3704, "Operation is not allowed when the object is closed.");
  return *servidor_;
}

void MotorSimulado::Conectar() {
  Desconectar();
  std::ifstream f(archivo_, std::ios::binary);
  Comprobar(static_cast<bool>(f), "No se puede leer la base de datos", archivo_);
  std::ostringstream texto;
  texto << f.rdbuf();
  Comprobar(!f.bad(), "Error de lectura de la base de datos", archivo_);
  auto servidor = std::make_unique<simulado::Servidor>(std::filesystem::path(archivo_).stem().string());
  try {
    servidor->EjecutarScript(texto.str());
  } catch (const simulado::ErrorSql& e) {
    throw ErrorBD(e.numero, "Base de datos " + archivo_ + ": " + e.descripcion);
  }
  servidor_ = std::move(servidor);
}

void MotorSimulado::Desconectar() noexcept {
  Deshacer();
  servidor_.reset();
}

void MotorSimulado::Ejecutar(const std::string& sentencia) {
  try {
    Conectado().Ejecutar(sentencia);
  } catch (const simulado::ErrorSql& e) {
    throw Traducir(e);
  }
}

PrimeraFila MotorSimulado::Consultar(const std::string& sentencia) {
  try {
    auto r = Conectado().Ejecutar(sentencia, 1);
    PrimeraFila p;
    p.Columnas = std::move(r.columnas);
    if (!r.filas.empty()) p.Fila = std::move(r.filas.front());
    return p;
  } catch (const simulado::ErrorSql& e) {
    throw Traducir(e);
  }
}

void MotorSimulado::Comenzar() {
  Ejecutar("BEGIN TRANSACTION");
}

// The file is written before the server commits: if the write fails, the transaction is undone and
// the caller told, so memory and file never disagree.
void MotorSimulado::Confirmar() {
  auto& s = Conectado();
  if (s.NivelTransaccion() == 0)
    throw ErrorBD(3902, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  try {
    EscribirAtomico(archivo_, s.Script());
  } catch (...) {
    Deshacer();
    throw;
  }
  Ejecutar("COMMIT TRANSACTION");
}

void MotorSimulado::Deshacer() noexcept {
  if (!servidor_) return;
  try {
    if (servidor_->NivelTransaccion() > 0) servidor_->Ejecutar("ROLLBACK TRANSACTION");
  } catch (...) {
  }
}

bool MotorSimulado::TransaccionAbierta() const {
  return servidor_ && servidor_->NivelTransaccion() > 0;
}

std::string MotorSimulado::NombreServidor() const {
  return "SQL Server simulado (" + archivo_ + ")";
}

}  // namespace solvane
