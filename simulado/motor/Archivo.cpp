// The database file of the emulator: exclusive lock, load, atomic replace, leftovers of interrupted writes.
#include "Archivo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "Texto.h"

namespace simulado {

LlamadasArchivo& Llamadas() {
  static LlamadasArchivo tabla{
      [](const char* ruta, int banderas, mode_t modo) { return ::open(ruta, banderas, modo); },
      ::close,
      ::read,
      ::write,
      ::fsync,
      ::rename,
      ::unlink,
      ::fchmod,
      ::fchown,
      ::flock,
      [](int fd, struct stat* st) { return ::fstat(fd, st); },
      [](const char* ruta, struct stat* st) { return ::stat(ruta, st); },
      [](const char* ruta, struct stat* st) { return ::lstat(ruta, st); },
      ::lseek,
      ::mkostemp,
      [](const char* ruta, char* destino) { return ::realpath(ruta, destino); },
      ::opendir,
      ::readdir,
      ::closedir,
      ::ftruncate,
  };
  return tabla;
}

namespace {

// Every OS call of this file is made through the table of Llamadas() inside this helper: retried while
// interrupted, errno captured at once (0 on success; for calls returning a pointer a null with errno 0, such
// as the end of a folder, is no error).
template <class F>
auto Llamar(F&& f) {
  for (;;) {
    errno = 0;
    auto r = f();
    const int e = errno;
    bool fallo;
    if constexpr (std::is_pointer_v<decltype(r)>)
      fallo = r == nullptr;
    else
      fallo = r < 0;
    if (fallo && e == EINTR) continue;
    return std::pair{r, fallo ? e : 0};
  }
}

std::string Texto(int e) {
  return std::strerror(e);
}

// Throws ErrorArchivo "`que` `ruta`: <strerror>" when `e` holds an error.
void Exigir(int e, const std::string& que, const std::string& ruta) {
  if (e != 0) throw ErrorArchivo(e, que + " " + ruta + ": " + Texto(e));
}

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Cerrar(); }
  Descriptor(Descriptor&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& o) noexcept {
    if (this != &o) {
      Cerrar();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  int fd() const { return fd_; }
  bool Abierto() const { return fd_ >= 0; }
  // Closing a descriptor never reports: after close, even on EINTR or EIO, the number is gone.
  void Cerrar() noexcept {
    if (fd_ >= 0) Llamar([&] { return Llamadas().cerrar(std::exchange(fd_, -1)); });
  }

 private:
  int fd_ = -1;
};

class Carpeta {
 public:
  explicit Carpeta(DIR* d) : d_(d) {}
  ~Carpeta() {
    if (d_) Llamar([&] { return Llamadas().cerrarCarpeta(d_); });
  }
  Carpeta(const Carpeta&) = delete;
  Carpeta& operator=(const Carpeta&) = delete;
  DIR* get() const { return d_; }

 private:
  DIR* d_;
};

struct stat Estado(int fd, const std::string& ruta) {
  struct stat st {};
  Exigir(Llamar([&] { return Llamadas().estado(fd, &st); }).second, "No se puede examinar", ruta);
  return st;
}

std::string CarpetaDe(const std::string& ruta) {
  const auto barra = ruta.rfind('/');
  if (barra == std::string::npos) return ".";
  if (barra == 0) return "/";
  return ruta.substr(0, barra);
}

std::string NombreDe(const std::string& ruta) {
  const auto barra = ruta.rfind('/');
  return barra == std::string::npos ? ruta : ruta.substr(barra + 1);
}

// A temporary of ours beside `nombre`: "." + nombre + "." + six of the letters and digits mkstemp uses.
bool EsTemporal(const std::string& entrada, const std::string& nombre) {
  const std::string prefijo = "." + nombre + ".";
  if (entrada.size() != prefijo.size() + 6 || entrada.compare(0, prefijo.size(), prefijo) != 0) return false;
  for (std::size_t i = prefijo.size(); i < entrada.size(); ++i) {
    const char c = entrada[i];
    const bool valido = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!valido) return false;
  }
  return true;
}

// What the file looked like after our load or last write; anything else at the path is someone else's.
bool MismoArchivo(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Reads from the descriptor's position to the end, handing the bytes to `trozo`; returns their hash.
std::uint64_t LeerTodo(int fd, const std::string& ruta, const ArchivoBase::Trozos& trozo) {
  Fnv huella;
  std::vector<char> bloque(1 << 16);
  for (;;) {
    const auto [n, e] = Llamar([&] { return Llamadas().leer(fd, bloque.data(), bloque.size()); });
    Exigir(e, "No se puede leer la base de datos", ruta);
    if (n == 0) return huella.h;
    const std::string_view leido(bloque.data(), static_cast<std::size_t>(n));
    huella(leido);
    if (trozo) trozo(leido);
  }
}

void EscribirTodo(int fd, std::string_view contenido, const std::string& ruta) {
  std::size_t hecho = 0;
  while (hecho < contenido.size()) {
    const auto [n, e] =
        Llamar([&] { return Llamadas().escribir(fd, contenido.data() + hecho, contenido.size() - hecho); });
    Exigir(e, "No se puede escribir", ruta);
    hecho += static_cast<std::size_t>(n);
  }
}

// What a producer hands over, gathered into blocks of about 1 MiB before each write.
class Salida {
 public:
  Salida(int fd, const std::string& ruta) : fd_(fd), ruta_(ruta) { bloque_.reserve(kBloque); }
  void operator()(std::string_view s) {
    huella_(s);
    if (bloque_.size() + s.size() > kBloque) Vaciar();
    if (s.size() >= kBloque)
      EscribirTodo(fd_, s, ruta_);
    else
      bloque_.append(s);
  }
  void Vaciar() {
    EscribirTodo(fd_, bloque_, ruta_);
    bloque_.clear();
  }
  std::uint64_t Huella() const { return huella_.h; }

 private:
  static constexpr std::size_t kBloque = 1 << 20;
  int fd_;
  const std::string& ruta_;
  std::string bloque_;
  Fnv huella_;
};

[[noreturn]] void NoEsArchivo(const std::string& ruta, const struct stat& st) {
  const char* que = S_ISDIR(st.st_mode)    ? "una carpeta"
                    : S_ISFIFO(st.st_mode) ? "una tubería"
                    : S_ISSOCK(st.st_mode) ? "un socket"
                                           : "un dispositivo";
  throw ErrorArchivo(
      S_ISDIR(st.st_mode) ? EISDIR : EINVAL,
      "La base de datos " + ruta + " es " + que + ", no un archivo: indique el archivo .sql de la base");
}

[[noreturn]] void EnUso(const std::string& ruta) {
  throw ErrorArchivo(EWOULDBLOCK, "La base de datos " + ruta +
                                      " está en uso por otro programa (otra ejecución de Solvane o un "
                                      "servidor simulado); ciérrelo y vuelva a intentar");
}

// The journal's lines: its opening names the file it continues, each record opens with its length and
// hash, and a rewrite that folds the journal into the file leaves a last line naming the new file.
constexpr std::string_view kDiario = "-- Diario de la base simulada: continúa la base con huella ";
constexpr std::string_view kRegistro = "-- Confirmación: ";
constexpr std::string_view kConsolidado = "-- Consolidado en la base con huella ";

std::string Hex(std::uint64_t v) {
  char hex[24];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(v));
  return hex;
}

// The hash a line of the journal names after `prefijo`, when the line is that one.
std::optional<std::uint64_t> HuellaDe(std::string_view linea, std::string_view prefijo) {
  if (linea.substr(0, prefijo.size()) != prefijo || linea.size() != prefijo.size() + 16) return std::nullopt;
  std::uint64_t v = 0;
  const char* p = linea.data() + prefijo.size();
  const auto [fin, e] = std::from_chars(p, p + 16, v, 16);
  if (e != std::errc() || fin != p + 16) return std::nullopt;
  return v;
}

// "-- Confirmación: <largo> bytes, suma <16 hex>".
bool LeerCabecera(std::string_view linea, std::size_t& largo, std::uint64_t& suma) {
  if (linea.substr(0, kRegistro.size()) != kRegistro) return false;
  linea.remove_prefix(kRegistro.size());
  const auto [q, e] = std::from_chars(linea.data(), linea.data() + linea.size(), largo);
  if (e != std::errc()) return false;
  const auto h = HuellaDe(linea.substr(static_cast<std::size_t>(q - linea.data())), " bytes, suma ");
  if (h) suma = *h;
  return h.has_value();
}

std::string Cabecera(std::size_t largo, std::uint64_t suma) {
  return std::string(kRegistro) + std::to_string(largo) + " bytes, suma " + Hex(suma) + "\n";
}

}  // namespace

struct ArchivoBase::Impl {
  std::string ruta;          // as given, for the messages
  std::string real;          // symbolic links resolved: the file that is replaced, not the link
  Descriptor bloqueo;        // open on the file the path names, holding the exclusive lock
  struct stat visto {};      // the file after our load or last write
  std::uint64_t huella = 0;  // of the bytes it held then
  std::string contenido;
  // The journal: open while it exists, holding `bytesDiario` valid bytes.
  std::string diario;  // beside `real`
  Descriptor diarioFd;
  std::uint64_t bytesDiario = 0;
  bool diarioSano = true;
  std::vector<std::string> avisos;

  void QuitarTemporales() noexcept;
  void ComprobarIgual() const;
  void LeerDiario(const ArchivoBase::Trozos& registro);
  void Exigible(const struct stat& actual) const;
  bool CortarDiario() noexcept;
  void AnotarEn(int fd, std::string_view bytes);
};

// Only while we hold the lock: a writer of this file must hold it too, so any temporary of our pattern
// is a leftover of a killed run. One still locked by somebody (who does not follow our protocol) stays.
void ArchivoBase::Impl::QuitarTemporales() noexcept {
  const std::string carpeta = CarpetaDe(real);
  const std::string nombre = NombreDe(real);
  const auto [d, e] = Llamar([&] { return Llamadas().abrirCarpeta(carpeta.c_str()); });
  if (e != 0) return;
  Carpeta dir(d);
  for (;;) {
    const auto [entrada, error] = Llamar([&] { return Llamadas().leerCarpeta(dir.get()); });
    if (!entrada || error != 0) return;
    const std::string n = entrada->d_name;
    if (!EsTemporal(n, nombre)) continue;
    const std::string sobra = carpeta + "/" + n;
    Descriptor t(Llamar([&] {
                   return Llamadas().abrir(sobra.c_str(),
                                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0);
                 }).first);
    if (!t.Abierto()) continue;
    struct stat st {};
    if (Llamar([&] { return Llamadas().estado(t.fd(), &st); }).second != 0 || !S_ISREG(st.st_mode)) continue;
    if (Llamar([&] { return Llamadas().bloquear(t.fd(), LOCK_EX | LOCK_NB); }).second != 0) continue;
    Llamar([&] { return Llamadas().borrar(sobra.c_str()); });
  }
}

void ArchivoBase::Impl::ComprobarIgual() const {
  struct stat ahora {};
  const int e = Llamar([&] { return Llamadas().estadoRuta(real.c_str(), &ahora); }).second;
  if (e != 0 && e != ENOENT) Exigir(e, "No se puede examinar", ruta);
  // Timestamps move in coarse steps, so an edit in place of the same size can keep them: the bytes decide.
  bool igual = e == 0 && MismoArchivo(ahora, visto);
  if (igual) {
    Exigir(Llamar([&] { return Llamadas().posicionar(bloqueo.fd(), 0, SEEK_SET); }).second,
           "No se puede leer", ruta);
    igual = LeerTodo(bloqueo.fd(), ruta, nullptr) == huella;
  }
  if (!igual)
    throw ErrorArchivo(
        0, "La base de datos " + ruta + " cambió desde que este programa la leyó o grabó" +
               " (otro programa la modificó o reemplazó): no se graba para no perder esos cambios");
}

void ArchivoBase::Impl::Exigible(const struct stat& actual) const {
  if ((actual.st_mode & 0222) == 0)
    throw ErrorArchivo(EACCES, "La base de datos " + ruta +
                                   " es de solo lectura (no tiene permiso de escritura): no se graba");
}

// Reads the whole journal (it is kept small: its owner folds it into the file past a size), applies it
// when it continues this file, and keeps it open for the next records.
void ArchivoBase::Impl::LeerDiario(const ArchivoBase::Trozos& registro) {
  const std::string nombre = ruta + ".diario";
  struct stat st {};
  const int e = Llamar([&] { return Llamadas().estadoRuta(diario.c_str(), &st); }).second;
  if (e == ENOENT) return;
  Exigir(e, "No se puede examinar el diario de la base", ruta);
  if (!S_ISREG(st.st_mode))
    throw ErrorArchivo(EINVAL, "El diario " + nombre + " de la base no es un archivo: quítelo");
  const auto [fd, e2] = Llamar([&] {
    return Llamadas().abrir(diario.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0);
  });
  Exigir(e2, "No se puede abrir el diario de la base", ruta);
  Descriptor d(fd);
  std::string texto;
  LeerTodo(d.fd(), nombre, [&](std::string_view x) { texto.append(x); });

  auto quitar = [&](std::string aviso) {
    d.Cerrar();
    Exigir(Llamar([&] { return Llamadas().borrar(diario.c_str()); }).second, "No se puede quitar el diario",
           nombre);
    avisos.push_back(std::move(aviso));
  };
  auto apartar = [&](const std::string& por) {
    d.Cerrar();
    const std::string aparte = diario + ".descartado";
    Exigir(Llamar([&] { return Llamadas().renombrar(diario.c_str(), aparte.c_str()); }).second,
           "No se puede apartar el diario", nombre);
    avisos.push_back("El diario " + nombre + " " + por + ": no se aplicó y quedó guardado como " + nombre +
                     ".descartado.");
  };

  const std::size_t nl = texto.find('\n');
  const auto base =
      nl == std::string::npos ? std::nullopt : HuellaDe(std::string_view(texto).substr(0, nl), kDiario);
  if (!base) {
    const std::size_t n = std::min(texto.size(), kDiario.size());
    if (texto.size() <= kDiario.size() + 17 && texto.compare(0, n, kDiario.substr(0, n)) == 0)
      return quitar("El diario " + nombre +
                    " quedó a medio crear (ninguna confirmación llegó a darse por hecha): se quitó.");
    return apartar("no es un diario de la base simulada");
  }
  // The records, up to the first one that is not whole.
  std::vector<std::string_view> registros;
  std::optional<std::uint64_t> consolidado;
  std::size_t pos = nl + 1, valido = pos;
  bool cortado = false, danado = false;
  while (pos < texto.size()) {
    const std::size_t fin = texto.find('\n', pos);
    if (fin == std::string::npos) {
      cortado = true;
      break;
    }
    const std::string_view linea = std::string_view(texto).substr(pos, fin - pos);
    if (const auto h = HuellaDe(linea, kConsolidado)) {
      consolidado = *h;
      pos = valido = fin + 1;
      continue;
    }
    std::size_t largo = 0;
    std::uint64_t suma = 0;
    const bool leido = LeerCabecera(linea, largo, suma);
    if (!leido) {
      danado = true;
      break;
    }
    if (texto.size() - (fin + 1) < largo + 1) {
      cortado = true;
      break;
    }
    const std::string_view carga = std::string_view(texto).substr(fin + 1, largo);
    Fnv f;
    f(carga);
    if (texto[fin + 1 + largo] != '\n' || f.h != suma) {
      if (fin + 2 + largo == texto.size())
        cortado = true;
      else
        danado = true;
      break;
    }
    registros.push_back(carga);
    pos = valido = fin + 2 + largo;
  }
  if (*base != huella) {
    if (consolidado == huella)
      return quitar(
          "El diario " + nombre +
          " ya estaba incluido en la base (se grabó entera y se cortó antes de quitarlo): se quitó.");
    return apartar(
        "no corresponde a esta versión de la base (la base fue reemplazada o restaurada después de "
        "escribirlo)");
  }
  if (danado)
    throw ErrorArchivo(0, "El diario " + nombre + " está dañado después de su confirmación " +
                              std::to_string(registros.size()) +
                              " (no es un corte al final): no se abre la base para no perder confirmaciones. "
                              "Guarde una copia del diario y de la base antes de quitarlo");
  if (!registros.empty() && !registro)
    throw ErrorArchivo(0,
                       "La base de datos " + ruta + " tiene un diario (" + nombre +
                           ") con confirmaciones que este programa no aplica: no se abre para no perderlas");
  for (const auto r : registros) registro(r);
  diarioFd = std::move(d);
  bytesDiario = valido;
  if (cortado) {
    avisos.push_back("El diario " + nombre + " terminaba en una confirmación incompleta (" +
                     std::to_string(texto.size() - valido) +
                     " bytes), que nunca se dio por hecha: se descartó.");
    if (!CortarDiario()) diarioSano = false;
  } else if (Llamar([&] {
               return Llamadas().posicionar(diarioFd.fd(), static_cast<off_t>(valido), SEEK_SET);
             }).second != 0) {
    diarioSano = false;
  }
}

// Back to the last whole record, durably; false when the journal may hold more.
bool ArchivoBase::Impl::CortarDiario() noexcept {
  const auto largo = static_cast<off_t>(bytesDiario);
  return Llamar([&] { return Llamadas().truncar(diarioFd.fd(), largo); }).second == 0 &&
         Llamar([&] { return Llamadas().sincronizar(diarioFd.fd()); }).second == 0 &&
         Llamar([&] { return Llamadas().posicionar(diarioFd.fd(), largo, SEEK_SET); }).second == 0;
}

void ArchivoBase::Impl::AnotarEn(int fd, std::string_view bytes) {
  const std::string nombre = ruta + ".diario";
  EscribirTodo(fd, bytes, nombre);
  Exigir(Llamar([&] { return Llamadas().sincronizar(fd); }).second, "No se puede asegurar en disco", nombre);
}

void ArchivoBase::Anotar(std::string_view registro) {
  auto& d = *impl_;
  if (!d.diarioSano)
    throw ErrorArchivo(EIO, "El diario de la base de datos " + d.ruta +
                                " quedó en un estado incierto tras un fallo: la base debe grabarse entera");
  const struct stat actual = Estado(d.bloqueo.fd(), d.ruta);
  d.Exigible(actual);
  struct stat ahora {};
  const int e = Llamar([&] { return Llamadas().estadoRuta(d.real.c_str(), &ahora); }).second;
  if (e != 0 && e != ENOENT) Exigir(e, "No se puede examinar", d.ruta);
  if (e != 0 || !MismoArchivo(ahora, d.visto)) d.ComprobarIgual();
  Fnv f;
  f(registro);
  std::string bytes = Cabecera(registro.size(), f.h);
  bytes.append(registro);
  bytes += '\n';
  if (d.diarioFd.Abierto()) {
    try {
      d.AnotarEn(d.diarioFd.fd(), bytes);
    } catch (...) {
      if (!d.CortarDiario()) d.diarioSano = false;
      throw;
    }
    d.bytesDiario += bytes.size();
    return;
  }
  // A new journal: its name must be on disk, like its bytes, before the record counts as made.
  const auto [fd, e2] = Llamar([&] {
    return Llamadas().abrir(d.diario.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                            0600);
  });
  Exigir(e2, "No se puede crear el diario de la base", d.ruta);
  Descriptor nuevo(fd);
  const std::string cabecera = std::string(kDiario) + Hex(d.huella) + "\n";
  try {
    const struct stat t = Estado(nuevo.fd(), d.diario);
    if (t.st_uid != actual.st_uid || t.st_gid != actual.st_gid)
      Exigir(Llamar([&] { return Llamadas().cambiarDueno(nuevo.fd(), actual.st_uid, actual.st_gid); }).second,
             "No se puede dar el dueño de la base de datos a su diario", d.ruta);
    Exigir(Llamar([&] { return Llamadas().cambiarModo(nuevo.fd(), actual.st_mode & 07777); }).second,
           "No se puede dar el modo de la base de datos a su diario", d.ruta);
    d.AnotarEn(nuevo.fd(), cabecera + bytes);
    const std::string carpeta = CarpetaDe(d.real);
    const auto [dfd, e3] =
        Llamar([&] { return Llamadas().abrir(carpeta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    Exigir(e3, "No se puede abrir la carpeta de", d.ruta);
    Descriptor dir(dfd);
    Exigir(Llamar([&] { return Llamadas().sincronizar(dir.fd()); }).second,
           "No se puede asegurar en disco la carpeta de", d.ruta);
  } catch (...) {
    if (Llamar([&] { return Llamadas().borrar(d.diario.c_str()); }).second != 0) d.diarioSano = false;
    throw;
  }
  d.diarioFd = std::move(nuevo);
  d.bytesDiario = cabecera.size() + bytes.size();
}

bool ArchivoBase::DiarioSano() const {
  return impl_->diarioSano;
}

std::uint64_t ArchivoBase::BytesDiario() const {
  return impl_->diarioFd.Abierto() ? impl_->bytesDiario : 0;
}

std::string ArchivoBase::RutaDiario() const {
  return impl_->ruta + ".diario";
}

const std::vector<std::string>& ArchivoBase::Avisos() const {
  return impl_->avisos;
}

ArchivoBase::ArchivoBase(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ArchivoBase::~ArchivoBase() = default;

const std::string& ArchivoBase::Contenido() const {
  return impl_->contenido;
}

const std::string& ArchivoBase::Ruta() const {
  return impl_->ruta;
}

std::uint64_t ArchivoBase::Huella() const {
  return impl_->huella;
}

std::unique_ptr<ArchivoBase> ArchivoBase::Abrir(const std::string& ruta, std::chrono::milliseconds espera) {
  std::string contenido;
  auto r = Abrir(ruta, espera, [&](std::string_view s) { contenido.append(s); });
  r->impl_->contenido = std::move(contenido);
  return r;
}

// Waits for the lock with short sleeps (the holder may be a whole run of Solvane) until `espera` ends.
// After getting it, the path must still name the locked file: a writer that held it may have renamed a
// new file over the path meanwhile, and that one is locked (by it) in its turn.
std::unique_ptr<ArchivoBase> ArchivoBase::Abrir(const std::string& ruta, std::chrono::milliseconds espera,
                                                const Trozos& leer) {
  return Abrir(ruta, espera, leer, nullptr);
}

std::unique_ptr<ArchivoBase> ArchivoBase::Abrir(const std::string& ruta, std::chrono::milliseconds espera,
                                                const Trozos& leer, const Trozos& registro) {
  if (ruta.empty()) throw ErrorArchivo(ENOENT, "No se indicó el archivo de la base de datos");
  auto impl = std::make_unique<Impl>();
  impl->ruta = ruta;
  impl->real = ruta;
  struct stat st {};
  if (const int e = Llamar([&] { return Llamadas().estadoEnlace(ruta.c_str(), &st); }).second; e != 0) {
    // A journal alone cannot rebuild anything: it holds only what changed since the file was written.
    struct stat d {};
    if (e == ENOENT &&
        Llamar([&] { return Llamadas().estadoRuta((ruta + ".diario").c_str(), &d); }).second == 0)
      throw ErrorArchivo(e, "No se encuentra la base de datos " + ruta + ", pero sí su diario " + ruta +
                                ".diario, que solo guarda los cambios posteriores a la última grabación del "
                                "archivo: restaure la base desde una copia (el diario se aplicará si es el "
                                "suyo) o quite el diario");
    Exigir(e, "No se encuentra la base de datos", ruta);
  }
  if (S_ISLNK(st.st_mode)) {
    const auto [r, e] = Llamar([&] { return Llamadas().rutaReal(ruta.c_str(), nullptr); });
    Exigir(e, "No se encuentra la base de datos", ruta);
    impl->real = r;
    std::free(r);
  }
  const auto limite = std::chrono::steady_clock::now() + espera;
  for (;;) {
    // Stat before open: opening a device or a fifo may block or act on it.
    Exigir(Llamar([&] { return Llamadas().estadoRuta(impl->real.c_str(), &st); }).second,
           "No se encuentra la base de datos", ruta);
    if (!S_ISREG(st.st_mode)) NoEsArchivo(ruta, st);
    const auto [fd, e] = Llamar([&] {
      return Llamadas().abrir(impl->real.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0);
    });
    Exigir(e, "No se puede abrir la base de datos", ruta);
    Descriptor d(fd);
    if (const struct stat abierto = Estado(d.fd(), ruta); !S_ISREG(abierto.st_mode))
      NoEsArchivo(ruta, abierto);
    for (;;) {
      const int b = Llamar([&] { return Llamadas().bloquear(d.fd(), LOCK_EX | LOCK_NB); }).second;
      if (b == 0) break;
      if (b != EWOULDBLOCK) Exigir(b, "No se puede bloquear la base de datos", ruta);
      if (std::chrono::steady_clock::now() >= limite) EnUso(ruta);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const struct stat nuestro = Estado(d.fd(), ruta);
    struct stat ahora {};
    const int e2 = Llamar([&] { return Llamadas().estadoRuta(impl->real.c_str(), &ahora); }).second;
    if (e2 != 0 && e2 != ENOENT) Exigir(e2, "No se puede examinar", ruta);
    if (e2 == 0 && ahora.st_dev == nuestro.st_dev && ahora.st_ino == nuestro.st_ino) {
      impl->bloqueo = std::move(d);
      break;
    }
    if (std::chrono::steady_clock::now() >= limite) EnUso(ruta);
  }
  impl->huella = LeerTodo(impl->bloqueo.fd(), ruta, leer);
  impl->visto = Estado(impl->bloqueo.fd(), ruta);
  impl->QuitarTemporales();
  impl->diario = impl->real + ".diario";
  impl->LeerDiario(registro);
  return std::unique_ptr<ArchivoBase>(new ArchivoBase(std::move(impl)));
}

// The new file is locked before it is renamed over the path, and the lock on the old one let go only
// after, so there is never a moment when the path names a file nobody holds. A file without any write
// bit is refused even for root (who would pass any permission check). An owner or group that cannot be
// given to the new file refuses the write: replacing the file would take it away from its owner.
void ArchivoBase::Escribir(const std::string& contenido) {
  Escribir([&](const Trozos& salida) { salida(contenido); });
}

void ArchivoBase::Escribir(const std::function<void(const Trozos&)>& producir) {
  auto& d = *impl_;
  const struct stat actual = Estado(d.bloqueo.fd(), d.ruta);
  d.Exigible(actual);
  std::string plantilla = CarpetaDe(d.real) + "/." + NombreDe(d.real) + ".XXXXXX";
  const auto [fd, e] = Llamar([&] { return Llamadas().crearTemporal(plantilla.data(), O_CLOEXEC); });
  Exigir(e, "No se puede crear el archivo temporal junto a", d.ruta);
  Descriptor nuevo(fd);
  const std::string& temporal = plantilla;
  std::uint64_t huella = 0;
  try {
    Exigir(Llamar([&] { return Llamadas().bloquear(nuevo.fd(), LOCK_EX | LOCK_NB); }).second,
           "No se puede bloquear", temporal);
    const struct stat t = Estado(nuevo.fd(), temporal);
    if (t.st_uid != actual.st_uid || t.st_gid != actual.st_gid) {
      const int c =
          Llamar([&] { return Llamadas().cambiarDueno(nuevo.fd(), actual.st_uid, actual.st_gid); }).second;
      if (c != 0)
        throw ErrorArchivo(c, "No se puede conservar el dueño y el grupo de la base de datos " + d.ruta +
                                  " al grabarla (" + Texto(c) +
                                  "): grábela con el usuario dueño del archivo");
    }
    Exigir(Llamar([&] { return Llamadas().cambiarModo(nuevo.fd(), actual.st_mode & 07777); }).second,
           "No se puede dar el modo de la base de datos a", temporal);
    Salida salida(nuevo.fd(), temporal);
    producir([&](std::string_view s) { salida(s); });
    salida.Vaciar();
    huella = salida.Huella();
    Exigir(Llamar([&] { return Llamadas().sincronizar(nuevo.fd()); }).second, "No se puede asegurar en disco",
           temporal);
    // The journal is marked as folded into the new file before the rename: if the run ends before the
    // journal is removed, the next opening knows it for a leftover. Best effort: unmarked, it is set aside.
    if (d.diarioFd.Abierto() && (d.diarioSano || d.CortarDiario())) try {
        d.AnotarEn(d.diarioFd.fd(), std::string(kConsolidado) + Hex(huella) + "\n");
      } catch (const ErrorArchivo&) {
        d.diarioSano = d.CortarDiario();
      }
    d.ComprobarIgual();
    Exigir(Llamar([&] { return Llamadas().renombrar(temporal.c_str(), d.real.c_str()); }).second,
           "No se puede reemplazar la base de datos", d.ruta);
  } catch (...) {
    Llamar([&] { return Llamadas().borrar(temporal.c_str()); });
    throw;
  }
  d.bloqueo = std::move(nuevo);
  d.huella = huella;
  if (d.diarioFd.Abierto() || !d.diarioSano) {
    Llamar([&] { return Llamadas().borrar(d.diario.c_str()); });
    d.diarioFd.Cerrar();
    d.bytesDiario = 0;
    d.diarioSano = true;
  }
  // Should this fail, the next write finds the file "changed" and refuses: nothing is lost.
  if (Llamar([&] { return Llamadas().estado(d.bloqueo.fd(), &d.visto); }).second != 0) d.visto = {};
  // The rename must reach the disk too. Its failure is not reported: the file already holds the new
  // state, and a caller told otherwise would undo in memory what the file keeps.
  const std::string carpeta = CarpetaDe(d.real);
  Descriptor dir(
      Llamar([&] { return Llamadas().abrir(carpeta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); }).first);
  if (dir.Abierto()) Llamar([&] { return Llamadas().sincronizar(dir.fd()); });
}

}  // namespace simulado
