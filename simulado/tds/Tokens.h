// TDS byte layouts: a bounded reader for what clients send, a writer for tokens, and text conversions.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace simulado {
struct Valor;
}

namespace simulado::tds {

// Bytes from a client that do not follow the protocol: the session answers or closes, nothing else.
class ErrorProtocolo : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Bytes = std::vector<std::uint8_t>;

// Reads little-endian fields from a received message; every read is checked against its end.
class Lector {
 public:
  Lector(const std::uint8_t* datos, std::size_t largo) : p_(datos), n_(largo) {}
  explicit Lector(const Bytes& b) : Lector(b.data(), b.size()) {}
  std::uint8_t U8();
  std::uint16_t U16();
  std::uint16_t U16be();
  std::uint32_t U32();
  std::uint64_t U64();
  // `caracteres` UTF-16LE units, returned as UTF-8.
  std::string Texto(std::size_t caracteres);
  const std::uint8_t* Tomar(std::size_t n);
  void Saltar(std::size_t n) { Tomar(n); }
  std::size_t Pos() const { return i_; }
  std::size_t Quedan() const { return n_ - i_; }
  void Ir(std::size_t pos);

 private:
  const std::uint8_t* p_;
  std::size_t n_;
  std::size_t i_ = 0;
};

// UTF-16LE to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16AUtf8(const std::uint8_t* p, std::size_t caracteres);
void Utf8AUtf16(std::string_view s, Bytes& salida);
std::size_t LargoUtf16(std::string_view s);  // in UTF-16 units
// UTF-8 to Windows-1252, the code page of the collation the server announces; what it cannot hold is '?'.
std::string Utf8ACp1252(std::string_view s);
// Windows-1252 bytes (what clients send in varchar parameters) to UTF-8.
std::string Cp1252AUtf8(const std::uint8_t* p, std::size_t n);

// The wire type of a result column.
struct ColumnaTds {
  enum class Tipo : std::uint8_t {
    Bit,
    TinyInt,
    SmallInt,
    Int,
    BigInt,
    Decimal,
    Numeric,
    Real,
    Float,
    SmallDateTime,
    DateTime,
    Char,
    VarChar,
    NChar,
    NVarChar
  };
  Tipo tipo = Tipo::Int;
  int largo = 0;  // Char, VarChar: bytes; NChar, NVarChar: characters
  int precision = 18, escala = 0;
  bool nulos = true;
  std::string nombre;
};

// Token bytes of one response, appended in order.
class Escritor {
 public:
  explicit Escritor(std::uint32_t version) : version_(version) {}
  Bytes& Datos() { return b_; }
  std::uint32_t Version() const { return version_; }
  bool Desde72() const { return version_ >= 0x72090002; }

  void U8(std::uint8_t v) { b_.push_back(v); }
  void U16(std::uint16_t v);
  void U32(std::uint32_t v);
  void U64(std::uint64_t v);
  void BVarchar(std::string_view utf8);
  void UsVarchar(std::string_view utf8);

  void LoginAck(std::string_view programa, std::uint32_t versionSql);
  void EnvCambio(std::uint8_t tipo, std::string_view nuevo, std::string_view viejo);
  void EnvCambioBytes(std::uint8_t tipo, const Bytes& nuevo, const Bytes& viejo);
  // ERROR for class 11 and above, INFO below.
  void Mensaje(std::int32_t numero, std::uint8_t clase, std::string_view texto, std::string_view servidor,
               std::int32_t linea = 1, std::uint8_t estado = 1);
  void Metadatos(const std::vector<ColumnaTds>& cols);
  // One row of printed values (as the emulator prints them); NBCROW from 7.3B on. Throws ErrorValor
  // when a value does not fit its declared column; nothing of the row is written then.
  void Fila(const std::vector<ColumnaTds>& cols, const std::vector<std::optional<std::string>>& valores);
  // The same from the emulator's typed values, without printing them first.
  void Fila(const std::vector<ColumnaTds>& cols, const std::vector<simulado::Valor>& valores);
  void Hecho(std::uint8_t token, std::uint16_t estado, std::uint16_t orden, std::uint64_t filas);
  void Retorno(std::int32_t estado);
  // RETURNVALUE of an int output parameter (the handle of sp_prepare), by its place among the parameters.
  void Salida(std::uint16_t orden, std::string_view nombre, std::optional<std::int32_t> valor);

 private:
  void Valor(const ColumnaTds& c, const std::string& v);
  void ValorTipado(const ColumnaTds& c, const simulado::Valor& v);
  void Fila(const std::vector<ColumnaTds>& cols, std::size_t n,
            const std::function<bool(std::size_t)>& presente, const std::function<void(std::size_t)>& poner);
  std::uint32_t version_;
  Bytes b_;
};

// A value that does not fit the column it is sent in: SQL Server's number and text for it.
class ErrorValor : public std::runtime_error {
 public:
  ErrorValor(int n, const std::string& t) : std::runtime_error(t), numero(n) {}
  int numero;
};

constexpr std::uint8_t kDone = 0xFD, kDoneProc = 0xFE, kDoneEnProc = 0xFF;
constexpr std::uint16_t kMas = 0x0001, kErrorHecho = 0x0002, kEnTransaccion = 0x0004, kCuenta = 0x0010,
                        kAtencion = 0x0020;

}  // namespace simulado::tds
