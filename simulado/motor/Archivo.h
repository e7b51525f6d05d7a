// The emulator's database file: held under an exclusive lock while open, replaced atomically on commit.
#pragma once

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

namespace simulado {

// A failure of the file itself (not of a statement): the operating system's errno (0 when the fault is
// ours, such as a file changed behind our back) and a Spanish description naming the file.
class ErrorArchivo : public std::runtime_error {
 public:
  ErrorArchivo(int codigo, std::string texto) : std::runtime_error(texto), errno_(codigo), descripcion(std::move(texto)) {}
  int errno_;
  std::string descripcion;
};

// One database file, from load to close. Opening takes an exclusive lock on the file and keeps it until
// the object is destroyed, also across the renames of Escribir, so two programs (two runs of Solvane, a
// run and solvane-servidor) never work on one file at once; a program that finds it held waits up to
// `espera` and is then refused with "en uso". Opening refuses what is not a regular file and removes the
// temporaries of our own pattern that an interrupted write left beside it (only while we hold the lock).
class ArchivoBase {
 public:
  static std::unique_ptr<ArchivoBase> Abrir(const std::string& ruta,
                                            std::chrono::milliseconds espera = std::chrono::seconds(5));
  ~ArchivoBase();
  ArchivoBase(const ArchivoBase&) = delete;
  ArchivoBase& operator=(const ArchivoBase&) = delete;

  // The bytes read when the file was opened.
  const std::string& Contenido() const;
  const std::string& Ruta() const;

  // Replaces the file by `contenido`: temporary file in the same folder, fsync, rename, fsync of the
  // folder; the file's mode and owner are kept. Refused (nothing written) when the file is read-only or
  // when it is no longer the file that was opened or last written (changed by someone else meanwhile).
  // On any failure the file is as before and no temporary is left. Throws ErrorArchivo.
  void Escribir(const std::string& contenido);

 private:
  struct Impl;
  explicit ArchivoBase(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace simulado
