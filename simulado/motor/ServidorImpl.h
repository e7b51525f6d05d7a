// The simulated server's inside, shared by the files that implement it: rows, sources and the state.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "Almacen.h"
#include "Servidor.h"
#include "Sintaxis.h"
#include "Valores.h"

namespace simulado {

using TR = DefRestriccion::T;

// Several errors raised together: the first number, both texts.
inline ErrorSql Doble(int numero, const std::string& texto, const std::string& siguiente) {
  return ErrorSql(numero, texto + " " + siguiente);
}

inline const char* const kNoRestriccion = "Could not create constraint or index. See previous errors.";

inline bool EsquemaPropio(const NombreObjeto& o) {
  return o.esquema.empty() || MismoNombre(o.esquema, "dbo");
}

inline std::string TextoNombre(const NombreObjeto& o) {
  return o.esquema.empty() ? o.nombre : o.esquema + "." + o.nombre;
}

// Calls `fn(inicio, fin)` for each line of a script (without its '\n').
template <typename F>
void CadaLinea(std::string_view script, F&& fn) {
  for (std::size_t pos = 0; pos <= script.size();) {
    std::size_t fin = script.find('\n', pos);
    if (fin == std::string_view::npos) fin = script.size();
    fn(pos, fin);
    pos = fin + 1;
  }
}

// The engine's own dumps open with this line and close with a check of what lies between.
inline constexpr std::string_view kCabecera = "-- Base de datos simulada ";
inline constexpr std::string_view kCierre = "-- Fin de la base simulada: ";

// The closing line of a dump whose content holds `lotes` GO lines and hashes to `suma`.
std::string LineaCierre(std::size_t lotes, std::uint64_t suma);
ErrorSql VolcadoIncompleto();
ErrorSql VolcadoDanado();
// Throws when a script that opens as one of our dumps does not end with its matching closing line.
void ComprobarVolcado(std::string_view script);

// A row as expressions read it.
struct Fila {
  virtual ~Fila() = default;
  virtual Valor Leer(int i) const = 0;
};
struct FilaTabla : Fila {
  const Tabla* t = nullptr;
  std::size_t f = 0;
  Valor Leer(int i) const override { return t->e.cols[static_cast<std::size_t>(i)]->Leer(f); }
};
struct FilaValores : Fila {
  const std::vector<Valor>* v = nullptr;
  Valor Leer(int i) const override { return (*v)[static_cast<std::size_t>(i)]; }
};
struct FilaVacia : Fila {
  Valor Leer(int) const override { return {}; }
};

// Something rows can be read from: a table, a view, a catalogue view, or nothing (SELECT 1).
struct Origen {
  std::string nombre;
  std::vector<std::string> nombres;
  std::vector<TipoCol> tipos;
  std::shared_ptr<Tabla> tabla;
  bool materializado = false;
  bool vacio = false;
  std::vector<std::vector<Valor>> filas;
  struct Parte {
    std::unique_ptr<Origen> origen;
    std::vector<const Expr*> items;
    std::vector<int> directas;  // column index for `*` items, -1 for an expression
    const Expr* donde = nullptr;
  };
  std::vector<Parte> partes;
  std::shared_ptr<Consulta> consulta;  // keeps a view's tree alive
};

struct Servidor::Impl {
  std::string base;
  std::string collation = "Modern_Spanish_CI_AS";
  std::vector<std::shared_ptr<Tabla>> tablas;
  std::vector<std::shared_ptr<Vista>> vistas;
  std::uint32_t semillaId = 0x25869641u;
  std::set<int> ids;
  // When each object was made (milliseconds since 1970), for the catalogue's create_date: strictly
  // increasing, so that listing objects by it gives back the order they were made in.
  std::map<int, std::int64_t> creados;
  std::int64_t ultimoCreado = 0;
  int nivel = 0;
  bool cargando = false;  // running a script: views are not checked against their tables
  static constexpr int kVistasAnidadas = 32;
  int vistasAbiertas = 0;  // views being expanded, one inside the other
  static constexpr int kExpansionesMaximas = 4096;
  int vistasExpandidas = 0;       // views expanded under the outermost one being opened
  bool listandoColumnas = false;  // building information_schema.columns, which opens the views
  std::vector<Deshacer> log;
  std::size_t visitas = 0;
  std::function<std::int64_t()> reloj = AhoraMs;
  const Servidor::Receptor* receptor = nullptr;  // the running batch's rows go here when set

  // ---- notes of committed work (Diario.cpp) ----

  // What rollbacks leave behind and a dump may not hold, per table with an identity column.
  struct EstadoIdentidad {
    bool insercion = false, generado = false;
    std::int64_t actual = 0;
    bool operator==(const EstadoIdentidad&) const = default;
  };
  using Identidades = std::map<std::string, EstadoIdentidad>;  // by the table's name in lower case
  bool anotando = false;
  std::string notas;
  bool notasEsquema = false;
  std::optional<Identidades> confirmadas;  // as a replay has them after the last commit; none: unknown
  Identidades esperadas;                   // as a replay has them after the last noted statement
  std::vector<int> idsTomados;             // by the statement running
  std::vector<std::int64_t> horasTomadas;
  bool reproduciendo = false;
  std::deque<int> idsPorUsar;
  std::deque<std::int64_t> horasPorUsar;

  Identidades IdentidadesAhora() const;
  std::int64_t Hora();
  // Around one statement: what goes before its note, and the note once it has succeeded.
  std::string AntesDeAnotar();
  void Anotado(const Sentencia& s, const std::string& antes);

  // ---- names and objects (Objetos.cpp) ----

  int NuevoId();
  std::shared_ptr<Tabla> BuscarTabla(const NombreObjeto& o) const;
  std::shared_ptr<Vista> BuscarVista(const NombreObjeto& o) const;
  bool NombreUsado(std::string_view nombre) const;
  std::shared_ptr<Tabla> TablaOError(const NombreObjeto& o) const;
  std::string NombreCompleto(const Tabla& t) const { return base + ".dbo." + t.nombre; }

  // ---- undo log and unique keys (Claves.cpp) ----

  void AnotarEsquema(const std::shared_ptr<Tabla>& t);
  void AnotarObjetos();
  void AnotarFilas(const std::shared_ptr<Tabla>& t);
  void DeshacerHasta(std::size_t marca);

  std::vector<const std::vector<std::string>*> ColumnasUnicas(const Tabla& t,
                                                              std::vector<std::string>* nombres) const;
  // A key as the unique indexes compare it (NULLs equal, texts by the collation), for callers that
  // group rows by key.
  static std::string Clave(const Tabla& t, const std::vector<std::string>& cols,
                           const std::function<Valor(int)>& leer);
  static std::string ValoresClave(const Tabla& t, const std::vector<std::string>& cols,
                                  const std::function<Valor(int)>& leer);
  std::string MensajeDuplicado(const Tabla& t, const std::string& nombre, const std::string& valores) const;
  int NumeroDuplicado(const Tabla& t, const std::string& nombre) const;
  void AsegurarClaves(Tabla& t);

  // The unique keys of a table ready for one statement's inserts: the key sets are built first and
  // stay put while the statement runs.
  struct Grupo {
    std::string nombre;
    std::vector<std::string> columnas;
    std::vector<int> indices;
    IndiceUnico* indice = nullptr;
  };
  std::vector<Grupo> Grupos(Tabla& t);
  void AnotarClaves(Tabla& t, std::vector<Grupo>& grupos, const std::vector<Valor>& fila,
                    std::vector<std::string>& claves);
  void ComprobarUnicidad(const Tabla& t, const std::vector<std::string>& cols, const std::string& indice);

  // ---- sources of rows (Origenes.cpp) ----

  Origen Catalogo(const NombreObjeto& o);
  // The sys.* views a real server answers (CatalogoSys.cpp); nothing when `vista` is not one of them.
  std::optional<Origen> CatalogoSys(const std::string& vista);
  std::int64_t Creado(int id) const;
  void Estampar(int id);
  static Origen OrigenDe(const std::shared_ptr<Tabla>& t);
  Origen AbrirOrigen(const NombreObjeto& o);
  void ArmarUnion(Origen& r, Consulta& c, const std::string& vista);
  static Origen Vacio();
  bool Recorrer(const Origen& o, const std::function<bool(const Fila&)>& fn);

  // ---- expressions and queries (Consultas.cpp) ----

  void Ligar(Expr& e, const Origen& o);
  static bool TieneColumnas(const Expr& e);
  static const Expr* PrimeraColumna(const Expr& e);
  void SinColumnas(const Expr& e);
  Valor Evaluar(const Expr& e, const Fila& f);
  const std::vector<Valor>& ValoresSubconsulta(const Expr& e);
  int Cumple(const Expr& e, const Fila& f);
  static TipoCol TipoDe(const Expr& e, const Origen& o);
  void Proyectar(Nucleo& n, const Origen& o, std::vector<const Expr*>& items, std::vector<int>& directas,
                 std::vector<std::string>& nombres, std::vector<TipoCol>& tipos);
  void Consultar(Consulta& c, std::size_t maxFilas, std::vector<std::string>* nombres,
                 const std::function<bool(std::vector<Valor>&)>& fn,
                 std::vector<TipoCol>* tiposSalida = nullptr);

  Resultado Seleccionar(Sentencia& s, std::size_t maxFilas);
  static TipoResultado TipoDeResultado(const TipoCol& t);

  // ---- changes to rows (Filas.cpp) ----

  std::int64_t SiguienteIdentidad(Columna& c);
  Resultado Insertar(Sentencia& s);
  // The rows of an INSERT, `destino.size()` values a row one after another, into `t`: defaults,
  // identities, NULL and key checks. The values are used up.
  Resultado InsertarValores(const std::shared_ptr<Tabla>& t, const std::vector<int>& destino,
                            std::vector<Valor>& valores);
  bool EnClave(const Tabla& t, const std::string& col) const;
  Resultado Actualizar(Sentencia& s);
  Resultado Borrar(Sentencia& s);

  // ---- schema statements (Esquema.cpp) ----

  std::string NombreDefecto(const Tabla& t, const std::string& col);
  std::string NombreClave(const Tabla& t, TR tipo);
  std::shared_ptr<Columna> NuevaColumna(const DefColumna& d, const std::string& tabla);
  // A table or view about to be made: 2760 outside dbo, 2714 on a name in use.
  void ComprobarNombreNuevo(const NombreObjeto& o) const;
  void ComprobarNombreRestriccion(const std::string& nombre, std::set<std::string>& nuevos);
  int SiguienteIndid(const Tabla& t, bool agrupado) const;
  const std::string* IndiceAgrupado(const Tabla& t) const;
  bool IndiceExiste(const Tabla& t, const std::string& nombre) const;
  void AgregarClave(Tabla& t, const DefRestriccion& d, std::string nombre);
  Valor ValorDefecto(const std::string& texto, const TipoCol& tipo);
  void AgregarDefecto(Tabla& t, const DefRestriccion& d, std::string nombre);
  Resultado CrearTabla(Sentencia& s);
  std::shared_ptr<Tabla> TablaAlterada(const NombreObjeto& o);
  Resultado AgregarATabla(Sentencia& s);
  std::string Dependientes(const Tabla& t, const Columna& c, const DefColumna* nueva, bool nulos) const;
  Resultado AlterarColumna(Sentencia& s);
  Resultado EliminarDeTabla(Sentencia& s);
  Resultado CrearIndice(Sentencia& s);
  Resultado CrearVista(Sentencia& s);
  static bool Nombra(const Consulta& c, const std::string& nombre);
  static bool Nombra(const Expr& e, const std::string& nombre);
  Resultado EliminarObjeto(Sentencia& s);
  Resultado Identidad(Sentencia& s);

  // ---- the fast path for the rows of a dump (RutaRapida.cpp) ----

  bool rutaRapida = true;
  std::size_t rapidas = 0;
  // A batch holding one INSERT ... VALUES of literals (and, around it, the statements the dump writes
  // beside its rows) read without tokens or trees; nothing when the batch is anything else.
  std::optional<std::vector<Sentencia>> AnalizarRapido(std::string_view lote);
  std::vector<Sentencia> Analizar(std::string_view lote);

  // ---- one statement to its kind (Servidor.cpp) ----

  Resultado Una(Sentencia& s, std::size_t maxFilas);

  // ---- rows loaded from another database, and the rows a failed statement trips on (Copia.cpp) ----

  void CargarFila(Tabla& t, std::vector<Grupo>& grupos, std::vector<Valor>& fila,
                  std::vector<std::string>& claves);
  std::string DescribirFila(const Tabla& t, std::size_t f) const;
  std::vector<std::string> Repetidas(const Tabla& t, const std::vector<std::string>& cols,
                                     std::size_t maximo);
  std::vector<std::string> NoConvierten(const Tabla& t, const DefColumna& nueva, std::size_t maximo);
  std::vector<std::string> ChocanAlActualizar(Sentencia& s, std::size_t maximo);

  // ---- dump (Volcado.cpp) ----

  static std::string Corchetes(const std::string& n) { return "[" + n + "]"; }
  std::string DefinicionColumna(const Tabla& t, const Columna& c) const;
  static std::string ListaCorchetes(const std::vector<std::string>& cols);
  void Volcar(const std::function<void(std::string_view)>& destino) const;
};

}  // namespace simulado
