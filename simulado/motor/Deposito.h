// A database in its file: the emulator loaded from the file and its journal, and made durable again.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Archivo.h"
#include "Servidor.h"

namespace simulado {

// Opening locks the file and loads it with its journal (ArchivoBase::Abrir), streaming: the file's text is
// never held whole. Two ways to make a commit durable: the whole state written to the file (what each
// commit of Solvane's embedded engine does), or the commit's notes appended to the journal, the file
// rewritten only now and then (what a server does, one commit after another).
class Deposito {
 public:
  // Throws ErrorArchivo for the file or the journal, ErrorSql for a content that does not load (a journal
  // that does not apply says so and names it). `maximoDiario`: the size past which the journal is folded
  // into the file; 0 keeps no journal (every commit writes the whole file).
  Deposito(const std::string& ruta, std::chrono::milliseconds espera, const std::string& nombreBase,
           std::uint64_t maximoDiario = 0);

  Servidor& Motor() { return *motor_; }
  const Servidor& Motor() const { return *motor_; }
  const ArchivoBase& Archivo() const { return *archivo_; }
  // What the opening did with the journal it found (ArchivoBase::Avisos).
  const std::vector<std::string>& Avisos() const { return archivo_->Avisos(); }

  // The whole present state written to the file, the dump streamed to it; the journal folded in.
  void Grabar();
  // The open transaction made durable before its outermost COMMIT runs: its notes appended to the
  // journal, unless the journal would pass its maximum, the transaction changed the schema (a migration:
  // the file is rewritten, as its replay would cost what it did), or the journal is unusable; then the
  // whole file is written. Without a journal, always the whole file. Throws ErrorArchivo.
  void Confirmar();

 private:
  std::unique_ptr<Servidor> motor_;
  std::unique_ptr<ArchivoBase> archivo_;
  std::uint64_t maximo_;
};

}  // namespace simulado
