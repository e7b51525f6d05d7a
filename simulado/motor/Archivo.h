// The emulator's database file: held under an exclusive lock while open, replaced atomically on commit.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace simulado {

// A failure of the file itself (not of a statement): the operating system's errno (0 when the fault is
// ours, such as a file changed behind our back) and a Spanish description naming the file.
class ErrorArchivo : public std::runtime_error {
 public:
  ErrorArchivo(int codigo, std::string texto)
      : std::runtime_error(texto), errno_(codigo), descripcion(std::move(texto)) {}
  int errno_;
  std::string descripcion;
};

// The operating system calls of ArchivoBase, all made through this table so that a test can make any
// one of them fail. Replaced only while no ArchivoBase is in use on another thread.
struct LlamadasArchivo {
  int (*abrir)(const char* ruta, int banderas, mode_t modo);
  int (*cerrar)(int fd);
  ssize_t (*leer)(int fd, void* destino, size_t n);
  ssize_t (*escribir)(int fd, const void* origen, size_t n);
  int (*sincronizar)(int fd);
  int (*renombrar)(const char* desde, const char* hacia);
  int (*borrar)(const char* ruta);
  int (*cambiarModo)(int fd, mode_t modo);
  int (*cambiarDueno)(int fd, uid_t dueno, gid_t grupo);
  int (*bloquear)(int fd, int operacion);
  int (*estado)(int fd, struct stat* st);
  int (*estadoRuta)(const char* ruta, struct stat* st);
  int (*estadoEnlace)(const char* ruta, struct stat* st);
  off_t (*posicionar)(int fd, off_t desplazamiento, int desde);
  int (*crearTemporal)(char* plantilla, int banderas);
  char* (*rutaReal)(const char* ruta, char* destino);
  DIR* (*abrirCarpeta)(const char* ruta);
  dirent* (*leerCarpeta)(DIR* d);
  int (*cerrarCarpeta)(DIR* d);
  int (*truncar)(int fd, off_t largo);
};

// The table in force; starts with the system's own functions.
LlamadasArchivo& Llamadas();

// One database file, from load to close. Opening takes an exclusive lock on the file and keeps it until
// the object is destroyed, also across the renames of Escribir, so two programs (two runs of Solvane, a
// run and solvane-servidor) never work on one file at once; a program that finds it held waits up to
// `espera` and is then refused with "en uso". Opening refuses what is not a regular file and removes the
// temporaries of our own pattern that an interrupted write left beside it (only while we hold the lock).
class ArchivoBase {
 public:
  // Bytes handed over in pieces, in order.
  using Trozos = std::function<void(std::string_view)>;

  static std::unique_ptr<ArchivoBase> Abrir(const std::string& ruta,
                                            std::chrono::milliseconds espera = std::chrono::seconds(5));
  // The same, but the file's bytes go to `leer` as they are read instead of being kept (Contenido() is
  // then empty): a large file is loaded without a copy of its text. What `leer` throws ends the opening.
  static std::unique_ptr<ArchivoBase> Abrir(const std::string& ruta, std::chrono::milliseconds espera,
                                            const Trozos& leer);
  // The same, also reading the journal beside the file (its name + ".diario") when there is one that
  // continues this very file: `registro` gets each of its records in order, after the file. A torn last
  // record (a commit never acknowledged) is cut off; a journal already folded into the file by its last
  // rewrite is removed; one that continues another file is set aside as <journal>.descartado; a record
  // damaged before the end refuses the opening. Avisos() tells what was done. Without `registro`, a
  // journal with records refuses the opening: they would be lost.
  static std::unique_ptr<ArchivoBase> Abrir(const std::string& ruta, std::chrono::milliseconds espera,
                                            const Trozos& leer, const Trozos& registro);
  ~ArchivoBase();
  ArchivoBase(const ArchivoBase&) = delete;
  ArchivoBase& operator=(const ArchivoBase&) = delete;

  // The bytes read when the file was opened.
  const std::string& Contenido() const;
  const std::string& Ruta() const;
  // A 64-bit FNV-1a of the bytes the file held when opened or last written: what names this version of it.
  std::uint64_t Huella() const;

  // Replaces the file by `contenido`: temporary file in the same folder, fsync, rename, fsync of the
  // folder; the file's mode and owner are kept. Refused (nothing written) when the file is read-only or
  // when it is no longer the file that was opened or last written (changed by someone else meanwhile).
  // On any failure the file is as before and no temporary is left. Throws ErrorArchivo.
  void Escribir(const std::string& contenido);
  // The same with the new content produced in pieces: `producir` hands them to the function it is given,
  // and they go to the temporary file as they come. The journal, if any, is folded in: marked as such
  // before the rename and removed after it.
  void Escribir(const std::function<void(const Trozos&)>& producir);

  // Appends one record to the journal (created, naming this file's Huella(), when there is none) and
  // makes it durable before returning. Refused like Escribir when the file is read-only or was replaced
  // (only its status is compared here: the bytes are compared at the next Escribir). On failure the
  // journal is cut back to what it held; when even that fails DiarioSano() turns false and only Escribir
  // may follow. Throws ErrorArchivo.
  void Anotar(std::string_view registro);
  bool DiarioSano() const;
  // Bytes of the journal (0 when there is none) and its path.
  std::uint64_t BytesDiario() const;
  std::string RutaDiario() const;
  // What the opening did with a journal it found, one sentence each, in Spanish.
  const std::vector<std::string>& Avisos() const;

 private:
  struct Impl;
  explicit ArchivoBase(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace simulado
