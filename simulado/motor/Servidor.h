// An in-process emulator of SQL Server for the statement forms the updater sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace simulado {

struct Valor;

// A refused statement: SQL Server's error number and message text.
class ErrorSql : public std::runtime_error {
 public:
  ErrorSql(int n, std::string texto) : std::runtime_error(texto), numero(n), descripcion(std::move(texto)) {}
  int numero;
  std::string descripcion;
};

// The types a column can be declared with.
enum class Tipo : std::uint8_t {
  Bit,
  TinyInt,
  SmallInt,
  Int,
  Decimal,
  Char,
  VarChar,
  SmallDateTime,
  DateTime
};

// The declared type of a result column: what a client on the wire needs to decode its values.
struct TipoResultado {
  using Clase = Tipo;
  Clase clase = Clase::Int;
  int largo = 0;      // char, varchar
  int precision = 0;  // decimal
  int escala = 0;     // decimal
  bool nulos = true;
};

// The refusal of a script that says it is the engine's dump but is cut short or altered.
constexpr int kErrorVolcado = 50000;
// Notes of committed work (a journal's) that do not apply to the state they are replayed on.
constexpr int kErrorDiario = 50001;

struct Resultado {
  std::vector<std::string> columnas;
  std::vector<TipoResultado> tipos;                            // one per column of a SELECT
  std::vector<std::vector<std::optional<std::string>>> filas;  // values as SQL Server prints them
  long filasAfectadas = 0;
  bool contadas = false;  // SELECT, INSERT, UPDATE, DELETE: filasAfectadas means something
};

class Servidor {
 public:
  explicit Servidor(std::string nombreBase = "Pagora");
  ~Servidor();
  Servidor(const Servidor&) = delete;
  Servidor& operator=(const Servidor&) = delete;

  // Runs one statement: DDL, DML, SELECT, or BEGIN/COMMIT/ROLLBACK TRANSACTION.
  // At most `maxFilas` rows are produced (a probe asks for one and must not scan the table).
  Resultado Ejecutar(std::string_view sentencia,
                     std::size_t maxFilas = std::numeric_limits<std::size_t>::max());
  // Runs a batch one statement at a time, for a server that answers each statement in turn. `columnas`
  // gets a SELECT's columns and types before its rows; `fila` each row as it is produced (false stops
  // the scan: the client cancelled); `fin` each statement's outcome, its result without the rows or its
  // error, and returns whether the batch goes on. A batch that does not parse runs nothing (ErrorSql).
  // `antes` is told each statement's kind before it runs; an ErrorSql it throws is that statement's error
  // (a server writes its file before an outermost COMMIT and refuses the COMMIT if it cannot).
  enum class Clase : std::uint8_t { Consulta, Cambio, Begin, Commit, Rollback };
  struct Receptor {
    std::function<void(Clase)> antes;
    std::function<void(const Resultado&)> columnas;
    std::function<bool(const std::vector<std::optional<std::string>>&)> fila;
    // When set, rows come here as typed values instead of to `fila` as text (a server on the wire encodes
    // them without printing and parsing each value).
    std::function<bool(const std::vector<Valor>&)> valores;
    std::function<bool(const Resultado*, const ErrorSql*)> fin;
  };
  void EjecutarLote(std::string_view lote, const Receptor& receptor);
  // Runs a script: statements separated by lines holding only GO, "--" comments allowed. A script
  // that opens with the engine's dump header must end with the dump's closing check (kErrorVolcado).
  void EjecutarScript(std::string_view script);
  // A script that arrives in pieces (a file as it is read), each batch run as its GO line comes in: what
  // EjecutarScript does on the whole text, except that a dump found cut short or altered at its end leaves
  // the server empty rather than untouched (its batches have run by then). Only one at a time.
  class Carga {
   public:
    explicit Carga(Servidor& s);
    ~Carga();
    Carga(const Carga&) = delete;
    Carga& operator=(const Carga&) = delete;
    void Agregar(std::string_view trozo);
    // The end of the script: throws what EjecutarScript would have thrown.
    void Terminar();

   private:
    friend class Servidor;
    struct Estado;
    Carga(Servidor& s, bool comprobar);
    std::unique_ptr<Estado> e_;
  };
  // The whole state as a script that EjecutarScript turns back into the same state;
  // the same state always gives the same bytes.
  std::string Script() const;
  // The same script in pieces, as it is produced (for a file written as it comes).
  void Script(const std::function<void(std::string_view)>& destino) const;
  int NivelTransaccion() const;
  const std::string& NombreBase() const;

  // Notes of committed work, for a journal. While on, each change statement that succeeds inside a
  // transaction is noted with what it drew from the clock and from the sequence of object ids, and with
  // the identity state it started from (which rollbacks do not undo), so that replaying the notes on the
  // state before gives exactly the state after. Turning it on takes the present state as the one a replay
  // starts from; with `trasVolcado`, a load of its dump instead (the first note then restores the identity
  // state a dump does not hold). Work outside a transaction is not noted.
  void Anotar(bool si, bool trasVolcado = false);
  // The notes of the open transaction so far, "" when none: what a journal keeps of its commit.
  const std::string& Notas() const;
  // Whether the open transaction changed a table's definition or the set of tables and views.
  bool NotasConEsquema() const;
  // Replays notes made on this same state; throws ErrorSql when they do not apply.
  void Reproducir(std::string_view notas);

  // ---- a copy of another database, made straight into this one ----

  // The collation of text columns declared without COLLATE; Modern_Spanish_CI_AS until set.
  void Collation(std::string nombre);
  const std::string& Collation() const;
  // Appends rows to a table without a statement's text, as a copy of another database does: each row holds
  // the values as text (as SQL Server prints them; nullopt for NULL) in the table's column order. They are
  // converted to the columns' types with an INSERT's checks (NULLs, keys, lengths); identity values are taken
  // as given. All the rows of one call go in or none do. Throws ErrorSql.
  void CargarFilas(std::string_view tabla, const std::vector<std::vector<std::optional<std::string>>>& filas);
  // A table's identity as the other database reports it: the last value handed out, or none yet.
  void FijarIdentidad(std::string_view tabla, std::optional<std::int64_t> ultimo);
  // For a statement refused with `numero` over this data (a key held twice, a NULL, a value too long or
  // that does not convert), up to `maximo` lines naming the rows or key values at fault, read from the
  // tables as they stand; empty when the statement is not of a kind whose rows can be told.
  std::vector<std::string> FilasCulpables(std::string_view sentencia, int numero, std::size_t maximo);

  // Rows read from base tables since the server started (tests check that probes stop early).
  std::size_t FilasVisitadas() const;
  // Source of GETDATE(), milliseconds since 1970-01-01 (tests fix it).
  void Reloj(std::function<std::int64_t()> reloj);
  // The fast path for INSERT ... VALUES of literals (on unless told): off, every statement takes the
  // general parser, for tests that compare the two.
  void RutaRapida(bool si);
  // INSERT statements the fast path has read (tests check that it is taken).
  std::size_t SentenciasRapidas() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace simulado
