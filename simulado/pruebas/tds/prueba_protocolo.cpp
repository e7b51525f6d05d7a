// The wire layer on its own (values, login, packets, batches) and the program against malformed input.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "Arnes.h"
#include "motor/Valores.h"
#include "tds/Login.h"
#include "tds/Lotes.h"
#include "tds/Paquetes.h"
#include "tds/Peticiones.h"
#include "tds/Tokens.h"

using namespace simulado::tds;
using prueba_tds::Crudo;
using prueba_tds::ServidorPrueba;
using prueba_tds::TieneError;

namespace {
Bytes ValorEnFila(const ColumnaTds& c, const std::optional<std::string>& v,
                  std::uint32_t version = 0x72090002) {
  Escritor e(version);
  e.Fila({c}, {v});
  return Bytes(e.Datos().begin() + 1, e.Datos().end());
}
ColumnaTds Col(ColumnaTds::Tipo t, int largo = 0, int precision = 18, int escala = 0) {
  ColumnaTds c;
  c.tipo = t;
  c.largo = largo;
  c.precision = precision;
  c.escala = escala;
  return c;
}
}  // namespace

// Exact bytes of values, including the layouts every client decoded, rounding and the limits of each type.
TEST(Protocolo, ValoresEnBytesExactos) {
  using T = ColumnaTds::Tipo;
  struct Caso {
    ColumnaTds col;
    std::optional<std::string> valor;
    Bytes esperado;
  } casos[] = {
      {Col(T::Decimal, 0, 9, 2), "-123.45", {0x05, 0x00, 0x39, 0x30, 0x00, 0x00}},
      {Col(T::Numeric, 0, 38, 4),
       "12345.6789",
       {0x11, 0x01, 0x15, 0xCD, 0x5B, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {Col(T::Decimal, 0, 9, 2), "1.005", {0x05, 0x01, 0x65, 0x00, 0x00, 0x00}},
      {Col(T::Decimal, 0, 9, 2), "-0.00", {0x05, 0x01, 0, 0, 0, 0}},
      {Col(T::DateTime), "2023-03-17 13:30:15.500", {0x08, 0xC8, 0xAF, 0x00, 0x00, 0x4A, 0x8B, 0xDE, 0x00}},
      {Col(T::DateTime), "1753-01-01 00:00:00.003", {0x08, 0x46, 0x2E, 0xFF, 0xFF, 0x01, 0, 0, 0}},
      {Col(T::SmallDateTime), "1900-01-02 00:01:00", {0x04, 0x01, 0x00, 0x01, 0x00}},
      {Col(T::Int), "-2", {0x04, 0xFE, 0xFF, 0xFF, 0xFF}},
      {Col(T::TinyInt), "255", {0x01, 0xFF}},
      {Col(T::Bit), "1", {0x01, 0x01}},
      {Col(T::Char, 3), "é", {0x03, 0x00, 0xE9, 0x20, 0x20}},
      {Col(T::VarChar, 10), "€ñ", {0x02, 0x00, 0x80, 0xF1}},
      {Col(T::NVarChar, 10), "ñ", {0x02, 0x00, 0xF1, 0x00}},
      {Col(T::VarChar, 10), std::nullopt, {0xFF, 0xFF}},
      {Col(T::Int), std::nullopt, {0x00}},
      {Col(T::BigInt), "-2", {0x08, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {Col(T::Float), "0.5", {0x08, 0, 0, 0, 0, 0, 0, 0xE0, 0x3F}},
      {Col(T::Real), "-2", {0x04, 0, 0, 0, 0xC0}},
      {Col(T::NChar, 2), "a", {0x04, 0x00, 0x61, 0x00, 0x20, 0x00}},
  };
  for (const auto& c : casos) EXPECT_EQ(ValorEnFila(c.col, c.valor), c.esperado) << c.valor.value_or("NULL");
  // From 7.3B a row is an NBCROW: a null bitmap and only the values present.
  EXPECT_EQ(ValorEnFila(Col(T::Int), std::nullopt, 0x74000004), Bytes({0x01}));
  struct Malo {
    ColumnaTds col;
    std::string valor;
    int numero;
  } malos[] = {
      {Col(T::Int), "2147483648", 8115},
      {Col(T::SmallInt), "40000", 8115},
      {Col(T::Decimal, 0, 3, 1), "100.0", 8115},
      {Col(T::VarChar, 2), "abc", 8152},
      {Col(T::Int), "x", 245},
      {Col(T::DateTime), "ayer", 241},
  };
  for (const auto& m : malos) {
    Escritor e(0x72090002);
    e.U8(0x42);
    try {
      e.Fila({m.col}, {m.valor});
      ADD_FAILURE() << m.valor << " debía ser rechazado";
    } catch (const ErrorValor& x) {
      EXPECT_EQ(x.numero, m.numero) << m.valor;
    }
    EXPECT_EQ(e.Datos(), Bytes({0x42})) << "nada de la fila queda escrito";
  }
}

// The emulator's typed values give the same bytes as their printed text, rounding and limits included.
TEST(Protocolo, ValoresTipadosComoSuTexto) {
  using T = ColumnaTds::Tipo;
  using simulado::Valor;
  const std::int64_t dia = 86400000;
  struct Caso {
    ColumnaTds col;
    Valor valor;
  } casos[] = {
      {Col(T::Decimal, 0, 9, 2), Valor::Decimal(-12345, 2)},
      {Col(T::Decimal, 0, 9, 2), Valor::Decimal(1005, 3)},
      {Col(T::Decimal, 0, 9, 2), Valor::Decimal(-1005, 3)},
      {Col(T::Decimal, 0, 18, 4), Valor::Entero(-7)},
      {Col(T::Decimal, 0, 3, 1), Valor::Decimal(1000, 1)},
      {Col(T::Int), Valor::Entero(INT32_MIN)},
      {Col(T::Int), Valor::Entero(2147483648LL)},
      {Col(T::TinyInt), Valor::Entero(-1)},
      {Col(T::DateTime), Valor::Fecha(-80000LL * dia + 3, 3)},
      {Col(T::DateTime), Valor::Fecha(19433LL * dia + 48615500, 3)},
      {Col(T::SmallDateTime), Valor::Fecha(-25567LL * dia - 60000, 0)},
      {Col(T::VarChar, 4), Valor::Texto("añil")},
      {Col(T::Int), Valor::Texto("12")},
  };
  for (const auto& c : casos) {
    Escritor texto(0x72090002), tipado(0x72090002);
    int errorTexto = 0, errorTipado = 0;
    try {
      texto.Fila({c.col}, {std::optional<std::string>(simulado::Imprimir(c.valor))});
    } catch (const ErrorValor& x) {
      errorTexto = x.numero;
    }
    try {
      tipado.Fila({c.col}, std::vector<Valor>{c.valor});
    } catch (const ErrorValor& x) {
      errorTipado = x.numero;
    }
    EXPECT_EQ(tipado.Datos(), texto.Datos()) << simulado::Imprimir(c.valor);
    EXPECT_EQ(errorTipado, errorTexto) << simulado::Imprimir(c.valor);
  }
}

// COLMETADATA of every wire type: the nullable form of the fixed-size ones with their size, decimals with
// their storage length, precision and scale, texts with their byte length and the collation.
TEST(Protocolo, MetadatosDeCadaTipo) {
  using T = ColumnaTds::Tipo;
  const Bytes kCol = {0x09, 0x04, 0xD0, 0x00, 0x34};
  auto conCol = [&](Bytes b) {
    b.insert(b.end(), kCol.begin(), kCol.end());
    return b;
  };
  const struct {
    ColumnaTds col;
    Bytes tipo;
  } casos[] = {
      {Col(T::Bit), {0x68, 1}},
      {Col(T::TinyInt), {0x26, 1}},
      {Col(T::SmallInt), {0x26, 2}},
      {Col(T::Int), {0x26, 4}},
      {Col(T::BigInt), {0x26, 8}},
      {Col(T::Real), {0x6D, 4}},
      {Col(T::Float), {0x6D, 8}},
      {Col(T::SmallDateTime), {0x6F, 4}},
      {Col(T::DateTime), {0x6F, 8}},
      {Col(T::Decimal, 0, 9, 2), {0x6A, 5, 9, 2}},
      {Col(T::Numeric, 0, 38, 4), {0x6C, 17, 38, 4}},
      {Col(T::Decimal, 0, 19, 0), {0x6A, 9, 19, 0}},
      {Col(T::Char, 3), conCol({0xAF, 3, 0})},
      {Col(T::VarChar, 9000), conCol({0xA7, 0x40, 0x1F})},
      {Col(T::NChar, 2), conCol({0xEF, 4, 0})},
      {Col(T::NVarChar, 0), conCol({0xE7, 2, 0})},
  };
  for (const auto& c : casos) {
    for (const std::uint32_t version : {0x71000001u, 0x74000004u}) {
      Escritor e(version);
      ColumnaTds col = c.col;
      col.nombre = "x";
      e.Metadatos({col});
      // Token, count, user type (USHORT before 7.2, ULONG after), flags, TYPE_INFO, name.
      Bytes esperado = {0x81, 1, 0, 0, 0};
      if (version >= 0x72090002) esperado.insert(esperado.end(), {0, 0});
      esperado.insert(esperado.end(), {1, 0});
      esperado.insert(esperado.end(), c.tipo.begin(), c.tipo.end());
      esperado.insert(esperado.end(), {1, 'x', 0});
      EXPECT_EQ(e.Datos(), esperado) << static_cast<int>(c.col.tipo) << " en " << std::hex << version;
    }
  }
}

// Every parameter type the drivers send becomes the literal of its exact value, and is walked over by its
// own length, so the parameter after it is read where it starts; one byte short is refused, never read
// past; a type this server does not read stops the reading with SQL Server's 8009 text.
TEST(Protocolo, RpcParametrosComoLiteralesExactos) {
  auto texto = [](const std::string& s) {
    const Bytes u = Crudo::Utf16(s);
    Bytes b = {0, 0, 0xE7, 0x00, 0x10, 0x09, 0x04, 0xD0, 0x00, 0x34, static_cast<std::uint8_t>(u.size()), 0};
    b.insert(b.end(), u.begin(), u.end());
    return b;
  };
  const Bytes kCol = {0x09, 0x04, 0xD0, 0x00, 0x34};
  const struct {
    Bytes tipoYValor;
    const char* literal;
  } casos[] = {
      {{0x30, 7}, "7"},
      {{0x34, 0xFE, 0xFF}, "-2"},
      {{0x38, 7, 0, 0, 0}, "7"},
      {{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, "9223372036854775807"},
      {{0x26, 4, 4, 0x00, 0x00, 0x00, 0x80}, "-2147483648"},
      {{0x26, 4, 0}, "NULL"},
      {{0x68, 1, 1, 1}, "1"},
      {{0x6D, 8, 8, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, "1.5"},
      {{0x6D, 4, 4, 0xCD, 0xCC, 0xCC, 0x3D}, "0.1"},
      {{0x6A, 5, 9, 2, 5, 0, 0xE2, 0x04, 0, 0}, "-12.50"},
      {{0x6C, 17, 38, 4, 17, 1, 0x15, 0xCD, 0x5B, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "12345.6789"},
      {{0x6E, 8, 8, 0, 0, 0, 0, 0x50, 0xC3, 0, 0}, "5.0000"},
      {{0x6F, 8, 8, 0xC8, 0xAF, 0x00, 0x00, 0x4A, 0x8B, 0xDE, 0x00}, "'2023-03-17 13:30:15.500'"},
      {{0x6F, 4, 4, 0x01, 0x00, 0x01, 0x00}, "'1900-01-02 00:01:00'"},
      {{0x28, 3, 0x23, 0x45, 0x0B}, "'2023-03-17'"},
      {{0x2A, 7, 8, 0xF0, 0x0D, 0x19, 0x31, 0x71, 0x23, 0x45, 0x0B}, "'2023-03-17 13:30:15.503'"},
      {{0x24, 16, 16, 0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD,
        0xEE, 0xFF},
       "'00112233-4455-6677-8899-AABBCCDDEEFF'"},
      {{0xA7, 10, 0, 0x09, 0x04, 0xD0, 0x00, 0x34, 4, 0, 'i', '\'', 0x80, 0xF1}, "'i''€ñ'"},
      {{0xE7, 0xFF, 0xFF, 0x09, 0x04, 0xD0, 0x00, 0x34, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        2,    0,    0,    0,    0xF1, 0,    2,    0,    0,    0,    'a',  0,    0,    0,    0,    0},
       "N'ña'"},
      {{0x63, 0, 0, 0, 0, 0x09, 0x04, 0xD0, 0x00, 0x34, 2, 0, 0, 0, 'x', 0}, "N'x'"},
      {{0x63, 0, 0, 0, 0, 0x09, 0x04, 0xD0, 0x00, 0x34, 0xFF, 0xFF, 0xFF, 0xFF}, "NULL"},
      {{0xA5, 8, 0, 2, 0, 0x0A, 0xFF}, "0x0AFF"},
  };
  const Bytes despues = texto("N'x'");
  for (const auto& c : casos) {
    Bytes d = {0xFF, 0xFF, 10, 0, 0, 0};
    const Bytes sentencia = texto("SELECT 1");
    d.insert(d.end(), sentencia.begin(), sentencia.end());
    const std::size_t antes = d.size();
    d.insert(d.end(), {0, 0});
    d.insert(d.end(), c.tipoYValor.begin(), c.tipoYValor.end());
    d.insert(d.end(), despues.begin(), despues.end());
    const Rpc r = LeerRpc(d, false);
    ASSERT_EQ(r.parametros.size(), 3u) << c.literal;
    EXPECT_EQ(r.parametros[0].texto, "SELECT 1");
    EXPECT_EQ(r.parametros[1].literal, c.literal);
    EXPECT_EQ(r.parametros[2].texto, "N'x'") << c.literal;
    for (std::size_t n = antes + 1; n < antes + 2 + c.tipoYValor.size(); ++n)
      EXPECT_THROW(LeerRpc(Bytes(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(n)), false),
                   ErrorProtocolo)
          << c.literal << " cortado en " << n;
  }
  Bytes xml = {0xFF, 0xFF, 10, 0, 0, 0, 2, '@', 0, 'x', 0, 0, 0xF1, 0};
  const Rpc r = LeerRpc(xml, false);
  EXPECT_TRUE(r.parametros.empty());
  ASSERT_TRUE(r.desconocido);
  EXPECT_NE(r.desconocido->find("Parameter 1 (\"@x\"): Data type 0xF1 is unknown."), std::string::npos)
      << *r.desconocido;
  // Parameter names are replaced as whole words outside strings, quoted names and comments.
  EXPECT_EQ(Sustituir("SELECT @P1, @p10, '@P1', [@P1] -- @P1\n/* @P1 */ @P1x, @P1",
                      {{"@P1", "N'a''b'"}, {"@P10", "7"}}),
            "SELECT N'a''b', 7, '@P1', [@P1] -- @P1\n/* @P1 */ @P1x, N'a''b'");
  EXPECT_EQ(Declarados("@P0 int, @p1 decimal(9, 2) OUTPUT,@x nvarchar(max)"),
            (std::vector<std::string>{"@P0", "@P1", "@X"}));
}

// A transaction-manager COMMIT or ROLLBACK with no transaction open is refused with the engine's error;
// after a BEGIN through the same requests each ends it (ENVCHANGE 8 begins, 9 commits, 10 rolls back).
TEST(Protocolo, GestorDeTransaccionesSinTransaccion) {
  ServidorPrueba s;
  Crudo c(s.puerto);
  ASSERT_FALSE(c.Entrar().empty());
  auto pedido = [&](std::uint8_t tipo) {
    Bytes d = Crudo::Encabezados();
    d.insert(d.end(), {tipo, 0});
    if (tipo == 5) d.push_back(0);  // isolation level
    d.insert(d.end(), {0, 0});      // no name; flags
    c.Paquete(kGestorTransacciones, d);
    return c.Respuesta();
  };
  auto contiene = [](const Bytes& r, const std::string& texto) {
    const Bytes u = Crudo::Utf16(texto);
    return std::search(r.begin(), r.end(), u.begin(), u.end()) != r.end();
  };
  auto cambio = [](const Bytes& r, std::uint8_t tipo) {
    const Bytes b = {0xE3, 11, 0, tipo, static_cast<std::uint8_t>(tipo == 8 ? 8 : 0)};
    return std::search(r.begin(), r.end(), b.begin(), b.end()) != r.end();
  };
  const Bytes commit = pedido(7), rollback = pedido(8);
  EXPECT_TRUE(TieneError(commit, 3902));
  EXPECT_TRUE(contiene(commit, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."));
  EXPECT_TRUE(TieneError(rollback, 3903));
  EXPECT_TRUE(contiene(rollback, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."));
  EXPECT_FALSE(cambio(commit, 9) || cambio(rollback, 10));
  for (const std::uint8_t fin : {std::uint8_t{7}, std::uint8_t{8}}) {
    EXPECT_TRUE(cambio(pedido(5), 8)) << "BEGIN";
    const Bytes r = pedido(fin);
    EXPECT_TRUE(cambio(r, static_cast<std::uint8_t>(fin + 2))) << int{fin};
    EXPECT_FALSE(TieneError(r, 3902) || TieneError(r, 3903)) << int{fin};
  }
}

// LOGIN7 decodes names and the scrambled password; every cut of it is refused cleanly, never read past.
TEST(Protocolo, Login7DecodificaYRechazaCadaRecorte) {
  const auto l7 = Crudo::Login7("pagora", "pw-ñ", "PagoraDemo", 0x74000004);
  const Bytes b(l7.begin(), l7.end());
  const Login7 l = LeerLogin7(b);
  EXPECT_EQ(l.usuario, "pagora");
  EXPECT_EQ(l.clave, "pw-\xC3\xB1");
  EXPECT_EQ(l.base, "PagoraDemo");
  EXPECT_EQ(VersionAcordada(l.version), 0x74000004u);
  EXPECT_EQ(VersionAcordada(0x730B0003), 0x730B0003u);
  EXPECT_EQ(VersionAcordada(0x75000000), 0x74000004u);
  EXPECT_EQ(VersionAcordada(0x70000000), 0u);
  for (std::size_t n = 0; n < b.size(); ++n) {
    Bytes corto(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_THROW(LeerLogin7(corto), ErrorProtocolo) << n;
  }
  EXPECT_TRUE(IgualesTiempoConstante("abc", "abc"));
  EXPECT_FALSE(IgualesTiempoConstante("abc", "abd"));
  EXPECT_FALSE(IgualesTiempoConstante("abc", "abcd"));
  EXPECT_FALSE(IgualesTiempoConstante("", "a"));
}

// Messages come whole whatever way the bytes are cut; headers that lie end the connection.
TEST(Protocolo, EnsambladorReuneMensajesYRechazaEncabezadosFalsos) {
  Bytes flujo;
  auto paquete = [&](std::uint8_t tipo, std::uint8_t estado, const Bytes& d) {
    const std::size_t n = d.size() + 8;
    flujo.insert(flujo.end(),
                 {tipo, estado, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n), 0, 0, 1, 0});
    flujo.insert(flujo.end(), d.begin(), d.end());
  };
  paquete(kLote, 0, {1, 2, 3});
  paquete(kLote, 1, {4});
  paquete(kAtencionPaquete, 1, {});
  paquete(kRpc, 3, {9});
  for (std::size_t trozo : {1u, 2u, 7u, 8u, 9u, 100u}) {
    Ensamblador en;
    for (std::size_t i = 0; i < flujo.size(); i += trozo)
      en.Agregar(flujo.data() + i, std::min(trozo, flujo.size() - i));
    auto a = en.Siguiente(), b = en.Siguiente(), c = en.Siguiente();
    ASSERT_TRUE(a && b && c) << trozo;
    EXPECT_EQ(a->datos, Bytes({1, 2, 3, 4}));
    EXPECT_EQ(b->tipo, kAtencionPaquete);
    EXPECT_TRUE(c->ignorar);
    EXPECT_FALSE(en.Siguiente());
    EXPECT_FALSE(en.AMedias());
  }
  const Bytes malos[] = {
      {kLote, 1, 0, 7, 0, 0, 0, 0},                                // length under the header
      {0x55, 1, 0, 8, 0, 0, 0, 0},                                 // unknown type
      {kLote, 0, 0, 9, 0, 0, 0, 0, 1, kRpc, 1, 0, 8, 0, 0, 0, 0},  // type changes inside a message
  };
  for (const auto& m : malos) {
    Ensamblador en;
    EXPECT_THROW(en.Agregar(m.data(), m.size()), ErrorProtocolo);
  }
  Ensamblador chico(8);
  const Bytes grande = {kLote, 0, 0, 20, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_THROW(chico.Agregar(grande.data(), grande.size()), ErrorProtocolo);
}

// A packet begun and never finished is dropped after the deadline instead of holding the session.
TEST(Protocolo, PaqueteAMediasVenceSuPlazo) {
  int par[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, par), 0);
  int parada[2];
  ASSERT_EQ(::pipe(parada), 0);
  Canal c{Descriptor(par[0]), parada[0], 51};
  const std::uint8_t medio[] = {kLote, 1, 0, 40, 0, 0, 1, 0, 1, 2};
  ASSERT_EQ(::write(par[1], medio, sizeof medio), static_cast<ssize_t>(sizeof medio));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_THROW(c.Leer(std::chrono::seconds(30), std::chrono::milliseconds(300)), ErrorProtocolo);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  ::close(par[1]);
  ::close(parada[0]);
  ::close(parada[1]);
}

// Statements end where their shape ends, with or without semicolons or line breaks; what is inside strings,
// quoted names and comments is never taken for a statement.
TEST(Protocolo, LotesSePartenFueraDeTextosYComentarios) {
  using K = Pieza::K;
  struct Caso {
    const char* texto;
    std::vector<K> clases;
  } casos[] = {
      {"SET ARITHABORT ON;SET TEXTSIZE 2147483647;", {K::Set, K::Set}},
      {"SET NOCOUNT ON INSERT INTO Q VALUES (1) SELECT 1", {K::Set, K::Motor, K::Motor}},
      {"SET ANSI_NULLS, QUOTED_IDENTIFIER ON\r\nSET TRANSACTION ISOLATION LEVEL READ COMMITTED SELECT @@spid",
       {K::Set, K::Set, K::Variable}},
      {"SELECT 'a;b' -- x;y\n; /* ; SET NOCOUNT ON */ SELECT 1", {K::Motor, K::Motor}},
      {"IF @@TRANCOUNT > 0 COMMIT BEGIN TRANSACTION", {K::SiTrancount, K::Motor}},
      {"if @@trancount > 0 rollback tran", {K::SiTrancount}},
      {"use [PagoraDemo]", {K::Use}},
      {"SELECT @@TRANCOUNT;select db_name()", {K::Variable, K::Variable}},
      {"exec sys.sp_who; sp_datatype_info_100 12,3", {K::Exec, K::Exec}},
      {"SET IDENTITY_INSERT T ON", {K::Motor}},
      {"UPDATE [a;b] SET x = 'it''s;' SET LOCK_TIMEOUT -1", {K::Motor, K::Set}},
      {"UPDATE T SET NOCOUNT = 1", {K::Motor}},
      {" ; -- nada\n ; ", {}},
      {"use\f[PagoraDemo]\v", {K::Use}},
      {"\vSELECT\r\n@@spid\f", {K::Variable}},
      {"Exec\tsp_quien", {K::Exec}},
      {"DECLARE @r int, @s nvarchar(10) = N'x' EXEC @r = sp_getapplock @Resource = N'a', @LockMode = "
       "Exclusive "
       "SELECT @r AS r",
       {K::Declarar, K::Exec, K::Variable}},
      {"SELECT 1 SET NOCOUNT ON /* sin cerrar", {K::Motor}},  // refused whole (113): nothing runs
  };
  for (const auto& c : casos) {
    std::vector<K> k;
    try {
      for (const auto& p : PartirLote(c.texto)) k.push_back(p.k);
    } catch (const simulado::ErrorSql&) {
      k = {K::Motor};
    }
    EXPECT_EQ(k, c.clases) << c.texto;
  }
  EXPECT_EQ(PartirLote("USE [Pagora]]Demo]")[0].nombre, "Pagora]Demo");
  EXPECT_EQ(PartirLote("select @@ServerName")[0].columnas[0].nombre, "@@SERVERNAME");
  EXPECT_EQ(PartirLote("select @@versión")[0].columnas[0].nombre, "@@VERSIóN") << "only ASCII letters change";
  const auto exec = PartirLote("EXEC @r = sp_getapplock @Resource = N'Pagora', 'Shared', @LockTimeout = -5");
  ASSERT_EQ(exec[0].argumentos.size(), 3u);
  EXPECT_EQ(exec[0].destino, "@R");
  EXPECT_EQ(exec[0].argumentos[0].nombre, "@Resource");
  EXPECT_EQ(exec[0].argumentos[1].valor, "Shared");
  EXPECT_EQ(exec[0].argumentos[2].valor, "-5");
  EXPECT_EQ(PartirLote("SET NOCOUNT ON\nINSERT INTO Q VALUES (2)")[1].texto, "INSERT INTO Q VALUES (2)");
}

// Each batch shape as SQL Server answers it: the statements after a SET or a session-level form run, each
// with its own DONE (MORE on all but the last), and the table shows what ran.
TEST(Protocolo, CadaSentenciaDelLoteConSuRespuesta) {
  ServidorPrueba s;
  {
    Crudo c(s.puerto);
    c.Entrar();
    c.Lote("CREATE TABLE Q (n int)");
    ASSERT_EQ(prueba_tds::Resumen(c.Respuesta()), "D0/0");
  }
  struct Caso {
    const char* lote;
    const char* respuesta;
    const char* filas;  // SELECT n FROM Q afterwards
  } casos[] = {
      // SET options last as long as the session: the SELECT after it is not counted either.
      {"SET NOCOUNT ON\nINSERT INTO Q VALUES (2)", "D1/0 D0/0", "M F[2] D0/0"},
      {"SET ANSI_NULLS ON\r\nINSERT INTO Q VALUES (3)", "D1/0 D10/1", "M F[2] F[3] D10/2"},
      {"SET NOCOUNT ON INSERT INTO Q VALUES (4) DELETE FROM Q WHERE n < 4", "D1/0 D1/0 D0/0", "M F[4] D0/0"},
      {"SET XACT_ABORT ON\nBEGIN TRANSACTION\nINSERT INTO Q VALUES (5)\nCOMMIT", "D1/0 C8 D5/0 D15/1 C9 D0/0",
       "M F[4] F[5] D10/2"},
      {"SELECT 1\nSET TEXTSIZE 2147483647", "M F[1] D11/1 D0/0", nullptr},
      {"SELECT @@TRANCOUNT\nSELECT 2", "M F[0] D11/1 M F[2] D10/1", nullptr},
      {"SELECT 1\nIF @@TRANCOUNT > 0 COMMIT TRANSACTION", "M F[1] D11/1 D0/0", nullptr},
      {"SELECT 1\nUSE PagoraDemo", "M F[1] D11/1 C1 I5701 D0/0", nullptr},
      {"SELECT @@MAX_PRECISION AS p, DB_NAME() d, @@LOCK_TIMEOUT", "M F[38,PagoraDemo,-1] D10/1", nullptr},
      {"SET XACT_ABORT ON BEGIN TRAN INSERT INTO Q VALUES (6) INSERT INTO NoExiste VALUES (1) "
       "INSERT INTO Q VALUES (7)",
       "D1/0 C8 D5/0 D15/1 E208 C10 D2/0", "M F[4] F[5] D10/2"},
      {"SET IMPLICIT_TRANSACTIONS ON INSERT INTO Q VALUES (8) SELECT @@TRANCOUNT IF @@TRANCOUNT > 0 ROLLBACK "
       "SET IMPLICIT_TRANSACTIONS OFF",
       "D1/0 C8 D15/1 M F[1] D15/1 C10 D1/0 D0/0", "M F[4] F[5] D10/2"},
      {"DECLARE @r int\nEXEC @r = sp_datatype_info_100 12\nSELECT @r AS r, @@ROWCOUNT",
       "D1/0 R0 P1/0 M F[0,0] D10/1", nullptr},
      {"SET NOCOUNT ON\nINSERT INTO Q VALUES (9)\nSELEC 1", "E102 D2/0", "M F[4] F[5] D10/2"},
      {"SET ROWCOUNT 5 INSERT INTO Q VALUES (10)", "E40517 D3/0 D10/1", "M F[4] F[5] F[10] D10/3"},
      {"SET FMTONLY ON SELECT n FROM Q INSERT INTO Q VALUES (11) SET FMTONLY OFF", "D1/0 M D1/0 D1/0 D0/0",
       "M F[4] F[5] F[10] D10/3"},
      {"INSERT INTO Q VALUES (12) -- SET NOCOUNT ON\n/* USE x */ SELECT 'SET X ON'",
       "D11/1 M F[SET X ON] D10/1", "M F[4] F[5] F[10] F[12] D10/4"},
      {"SELECT @nada", "E137 D2/0", nullptr},
  };
  for (const auto& k : casos) {
    Crudo c(s.puerto);
    ASSERT_FALSE(c.Entrar().empty());
    c.Lote(k.lote);
    EXPECT_EQ(prueba_tds::Resumen(c.Respuesta()), k.respuesta) << k.lote;
    if (!k.filas) continue;
    c.Lote("SELECT n FROM Q");
    EXPECT_EQ(prueba_tds::Resumen(c.Respuesta()), k.filas) << k.lote;
  }
}

// RPC: sp_executesql by number and by name runs its statement; any other procedure is refused with 2812;
// an abandoned message gets DONE with the error bit; a cancel while idle gets its acknowledgement.
TEST(Protocolo, RpcIgnorarYAtencionSobreElPrograma) {
  ServidorPrueba s;
  Crudo c(s.puerto);
  ASSERT_FALSE(c.Entrar().empty());
  auto rpc = [&](const Bytes& proc) {
    Bytes d = Crudo::Encabezados();
    d.insert(d.end(), proc.begin(), proc.end());
    const auto texto = Crudo::Utf16("SELECT PAR_Frecuencia FROM Parametros");
    d.insert(d.end(), {0, 0, 10});
    const auto nombre = Crudo::Utf16("@statement");
    d.insert(d.end(), nombre.begin(), nombre.end());
    d.insert(d.end(), {0, 0xE7, static_cast<std::uint8_t>(texto.size()), 0, 0x09, 0x04, 0xD0, 0x00, 0x34,
                       static_cast<std::uint8_t>(texto.size()), 0});
    d.insert(d.end(), texto.begin(), texto.end());
    c.Paquete(kRpc, d);
    return c.Respuesta();
  };
  Bytes porNombre = {13, 0};
  const auto nombre = Crudo::Utf16("sp_executesql");
  porNombre.insert(porNombre.end(), nombre.begin(), nombre.end());
  for (const Bytes& proc : {Bytes{0xFF, 0xFF, 10, 0}, porNombre}) {
    const auto r = rpc(proc);
    const Bytes quince = {0x02, 15, 0};
    EXPECT_NE(std::search(r.begin(), r.end(), quince.begin(), quince.end()), r.end());
    ASSERT_GE(r.size(), 18u);
    EXPECT_EQ(r[r.size() - 13], 0xFE) << "termina en DONEPROC";
    EXPECT_EQ(r[r.size() - 18], 0x79) << "con RETURNSTATUS";
  }
  EXPECT_TRUE(TieneError(rpc({0xFF, 0xFF, 1, 0}), 2812)) << "sp_cursor";
  c.Paquete(kLote, Crudo::Encabezados(), 0x03);
  const auto ignorado = c.Respuesta();
  ASSERT_EQ(ignorado.size(), 13u);
  EXPECT_EQ(ignorado[0], 0xFD);
  EXPECT_EQ(ignorado[1], 0x02);
  c.Paquete(kAtencionPaquete, {});
  const auto ack = c.Respuesta();
  ASSERT_EQ(ack.size(), 13u);
  EXPECT_EQ(ack[1], 0x20);
  c.Lote("SELECT PAR_LA FROM Parametros");
  const auto r = c.Respuesta();
  const std::string la = "LA-MVD-01";
  EXPECT_NE(std::search(r.begin(), r.end(), la.begin(), la.end()), r.end()) << "la sesión sigue";
}

// The prepared-statement procedures on the wire: sp_prepexec returns its handle as a RETURNVALUE after the
// results, sp_execute runs it again with other values, sp_unprepare drops it (then 8179); a parameter of a
// type the server does not read is answered with 8009 and DONEPROC, and the session goes on.
TEST(Protocolo, RpcPreparadasConManijaYTiposDesconocidos) {
  ServidorPrueba s;
  Crudo c(s.puerto);
  ASSERT_FALSE(c.Entrar().empty());
  c.Lote("CREATE TABLE R (n int, t varchar(10))");
  ASSERT_EQ(prueba_tds::Resumen(c.Respuesta()), "D0/0");
  auto param = [](const std::string& nombre, std::uint8_t estado, Bytes valor) {
    Bytes b = {static_cast<std::uint8_t>(nombre.size())};
    const Bytes u = Crudo::Utf16(nombre);
    b.insert(b.end(), u.begin(), u.end());
    b.push_back(estado);
    b.insert(b.end(), valor.begin(), valor.end());
    return b;
  };
  auto ntext = [](const std::string& t) {
    const Bytes u = Crudo::Utf16(t);
    Bytes b = {0x63, 0, 0, 0, 0, 0x09, 0x04, 0xD0, 0x00, 0x34};
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(u.size() >> (8 * k)));
    b.insert(b.end(), u.begin(), u.end());
    return b;
  };
  auto entero = [](std::int32_t v) {
    Bytes b = {0x26, 4, 4};
    for (int k = 0; k < 4; ++k)
      b.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * k)));
    return b;
  };
  auto rpc = [&](std::uint8_t numero, const std::vector<Bytes>& parametros) {
    Bytes d = Crudo::Encabezados();
    d.insert(d.end(), {0xFF, 0xFF, numero, 0, 0, 0});
    for (const auto& p : parametros) d.insert(d.end(), p.begin(), p.end());
    c.Paquete(kRpc, d);
    return prueba_tds::Resumen(c.Respuesta());
  };
  const Bytes manijaNula = {0x26, 4, 0};
  EXPECT_EQ(rpc(13, {param("", 1, manijaNula), param("", 0, ntext("@P1 int,@P2 varchar(10)")),
                     param("", 0, ntext("INSERT INTO R VALUES (@P1, @P2)")), param("", 0, entero(7)),
                     param("", 0, ntext("it's"))}),
            "Q11/1 R0 V=1 P0/0");
  EXPECT_EQ(rpc(12, {param("", 0, entero(1)), param("@P2", 0, ntext("--")), param("@P1", 0, entero(8))}),
            "Q11/1 R0 P0/0");
  EXPECT_EQ(rpc(10, {param("", 0, ntext("SELECT t FROM R WHERE n = @n")), param("", 0, ntext("@n int")),
                     param("@n", 0, entero(8))}),
            "M F[--] Q11/1 R0 P0/0");
  EXPECT_EQ(rpc(15, {param("", 0, entero(1))}), "R0 P0/0");
  EXPECT_EQ(rpc(12, {param("", 0, entero(1)), param("", 0, entero(9)), param("", 0, ntext("x"))}),
            "E8179 R0 P0/0");
  EXPECT_EQ(rpc(10, {param("", 0, ntext("SELECT @a")), param("", 0, ntext("@a int"))}), "E8178 R0 P0/0");
  EXPECT_EQ(rpc(10, {param("", 0, ntext("SELECT 1")), param("@x", 0, {0xF1, 0})}), "E8009 R0 P0/0");
  c.Lote("SELECT n, t FROM R");
  EXPECT_EQ(prueba_tds::Resumen(c.Respuesta()), "M F[7,it's] F[8,--] D10/2") << "la sesión sigue";
}

// Malformed input ends only its own session: the server, the other sessions and the file are untouched.
// Connections beyond the limit are refused and do not disturb the others.
TEST(Protocolo, EntradaMalformadaYAvalanchaNoTocanAOtros) {
  ServidorPrueba s(prueba_tds::Demo(), {"--max-sesiones", "6"});
  const std::string antes = prueba_tds::LeerArchivo(s.archivo);
  Crudo sana(s.puerto);
  ASSERT_FALSE(sana.Entrar().empty());
  const std::vector<Bytes> ataques = {
      {kLote, 1, 0, 3, 0, 0, 0, 0},                          // length under the header
      {0x10, 1, 0, 12, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},  // LOGIN7 that lies
      {0x12, 1, 0, 10, 0, 0, 0, 0, 0x00, 0x00},              // PRELOGIN cut short
      {0x77, 1, 0, 8, 0, 0, 0, 0},                           // unknown packet type
      {kLote, 1, 0, 8, 0, 0, 0, 0},                          // a batch before login
  };
  {
    // Before login a message is kept small: 100 KB of PRELOGIN ends the connection.
    Crudo c(s.puerto);
    bool cerrado = false;
    for (int i = 0; i < 4 && !cerrado; ++i) {
      try {
        c.Paquete(0x12, Bytes(30000, 0), 0);
      } catch (const std::exception&) {
        cerrado = true;
      }
    }
    EXPECT_TRUE(cerrado || c.Cerrado(5000));
  }
  for (const auto& a : ataques) {
    Crudo c(s.puerto);
    c.EnviarBytes(a);
    EXPECT_TRUE(c.Cerrado(5000));
  }
  {
    // After login: an ALL_HEADERS that claims more than there is, and a message over 64 MiB.
    Crudo c(s.puerto);
    c.Entrar();
    c.Paquete(kLote, {0xFF, 0xFF, 0xFF, 0x7F, 0, 0});
    EXPECT_TRUE(c.Cerrado(5000));
    Crudo d(s.puerto);
    d.Entrar();
    Bytes trozo(32000, 0x41);
    bool cerrado = false;
    for (int i = 0; i < 2200 && !cerrado; ++i) {
      try {
        d.Paquete(kLote, trozo, 0);
      } catch (const std::exception&) {
        cerrado = true;
      }
    }
    EXPECT_TRUE(cerrado || d.Cerrado(5000));
  }
  std::vector<std::unique_ptr<Crudo>> muchas;
  muchas.reserve(12);
  for (int i = 0; i < 12; ++i) muchas.push_back(std::make_unique<Crudo>(s.puerto));
  std::size_t cerradas = 0;
  for (auto& m : muchas) cerradas += m->Cerrado(300) ? 1 : 0;
  EXPECT_GE(cerradas, 7u);
  muchas.clear();
  sana.Lote("SELECT PAR_LA FROM Parametros");
  const auto r = sana.Respuesta();
  const std::string la = "LA-MVD-01";
  EXPECT_NE(std::search(r.begin(), r.end(), la.begin(), la.end()), r.end());
  EXPECT_EQ(prueba_tds::LeerArchivo(s.archivo), antes);
  EXPECT_NE(s.Salida().find("rechazada: ya hay 6 sesiones"), std::string::npos);
  EXPECT_EQ(s.Detener(SIGTERM), 0);
}
