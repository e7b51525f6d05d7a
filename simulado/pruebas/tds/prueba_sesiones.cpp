// Several sessions over one database: waiting for another's transaction, dead clients, cancels, kills.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <memory>
#include <random>

#include "Arnes.h"
#include "motor/Archivo.h"
#include "tds/Base.h"

using namespace prueba_tds;

namespace {

std::string Tsql(const ServidorPrueba& s, const std::string& entrada) {
  return Correr("tsql -H 127.0.0.1 -p " + std::to_string(s.puerto) + " -U pagora -P " + kClave, entrada);
}

// The rows of a table as the database file holds them: the value lines of its INSERT blocks.
std::size_t FilasEnArchivo(const std::string& archivo, const std::string& tabla) {
  const std::string s = LeerArchivo(archivo);
  std::size_t n = 0;
  for (std::size_t p = s.find("INSERT INTO [" + tabla + "]"); p != std::string::npos;
       p = s.find("INSERT INTO [" + tabla + "]", p)) {
    for (p = s.find('\n', p); p != std::string::npos && p + 1 < s.size() && s[p + 1] == '(';
         p = s.find('\n', p + 1))
      ++n;
  }
  return n;
}

// A raw client logged in on `s` that has sent `lote` and had its answer.
std::unique_ptr<Crudo> Sesion(const ServidorPrueba& s, const std::string& lote) {
  auto a = std::make_unique<Crudo>(s.puerto);
  a->Entrar();
  a->Lote(lote);
  if (a->Respuesta().empty()) throw std::runtime_error("sin respuesta a " + lote);
  return a;
}

}  // namespace

// While one session has a transaction open, another's statement waits; it runs once the first commits and
// then sees the committed row.
TEST(Sesiones, LaSegundaEsperaLaConfirmacionDeLaPrimera) {
  ServidorPrueba s;
  Crudo a(s.puerto), b(s.puerto);
  a.Entrar();
  b.Entrar();
  a.Lote("CREATE TABLE Espera (n int)");
  ASSERT_FALSE(a.Respuesta().empty());
  a.Lote("BEGIN TRANSACTION; INSERT INTO Espera VALUES (5)");
  ASSERT_FALSE(a.Respuesta().empty());
  b.Lote("SELECT COUNT(*) FROM Espera");
  EXPECT_TRUE(b.Respuesta(700).empty())
      << "la segunda sesión no debe contestar mientras la primera tiene la base";
  // Its client cancels the wait: the answer ends and the cancel is acknowledged at once; then it asks again.
  b.Paquete(0x06, {});
  const auto fin = b.Respuesta(2000);
  const auto ack = b.Respuesta(2000);
  ASSERT_EQ(ack.size(), 13u);
  EXPECT_EQ(ack[1], 0x20);
  EXPECT_EQ(std::find(fin.begin(), fin.end(), 0xD2), fin.end()) << "no rows before the cancel";
  b.Lote("SELECT COUNT(*) FROM Espera");
  EXPECT_TRUE(b.Respuesta(300).empty());
  a.Lote("COMMIT TRANSACTION");
  ASSERT_FALSE(a.Respuesta().empty());
  const auto r = b.Respuesta(5000);
  ASSERT_FALSE(r.empty());
  // ROW (or NBCROW) with an int 1.
  const std::vector<std::uint8_t> uno = {0x04, 0x01, 0x00, 0x00, 0x00};
  EXPECT_NE(std::search(r.begin(), r.end(), uno.begin(), uno.end()), r.end());
}

// A client that dies with a transaction open: rolled back at once (the next session does not wait), and the
// file is byte for byte as before.
TEST(Sesiones, UnClienteMuertoDeshaceSuTransaccion) {
  ServidorPrueba s;
  const std::string antes = LeerArchivo(s.archivo);
  Sesion(s, "BEGIN TRANSACTION; UPDATE Parametros SET PAR_LA = 'robado'");  // and its client is gone
  const auto t0 = std::chrono::steady_clock::now();
  const std::string r = Tsql(s, "SELECT PAR_LA FROM Parametros\ngo\nquit\n");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_NE(r.find("LA-MVD-01"), std::string::npos) << r;
  EXPECT_EQ(LeerArchivo(s.archivo), antes);
  EXPECT_EQ(s.Detener(SIGTERM), 0);
  EXPECT_EQ(LeerArchivo(s.archivo), antes);
}

// SIGTERM or SIGINT with a transaction open: rolled back, exit 0, file unchanged.
TEST(Sesiones, SenalDeshaceLoAbiertoYTerminaBien) {
  for (int senal : {SIGTERM, SIGINT}) {
    ServidorPrueba s;
    const std::string antes = LeerArchivo(s.archivo);
    const auto a = Sesion(s, "BEGIN TRANSACTION; DELETE FROM Parametros");
    EXPECT_EQ(s.Detener(senal), 0) << senal;
    EXPECT_TRUE(a->Cerrado(2000));
    EXPECT_EQ(LeerArchivo(s.archivo), antes);
  }
}

// Many sessions at once, each adding one to a counter inside its own transaction many times: none is lost
// and nobody is stuck.
TEST(Sesiones, MuchasSesionesSinActualizacionesPerdidas) {
  ServidorPrueba s;
  Sesion(s, "CREATE TABLE Contador (n int); INSERT INTO Contador VALUES (0)");
  constexpr int kSesiones = 40, kVueltas = 5;
  std::vector<std::unique_ptr<Crudo>> clientes;
  clientes.reserve(kSesiones);
  for (int i = 0; i < kSesiones; ++i) {
    clientes.push_back(std::make_unique<Crudo>(s.puerto));
    ASSERT_FALSE(clientes.back()->Entrar().empty()) << i;
  }
  std::atomic<int> fallas{0};
  std::vector<std::thread> hilos;
  hilos.reserve(kSesiones);
  for (auto& c : clientes)
    hilos.emplace_back([&c, &fallas] {
      for (int v = 0; v < kVueltas; ++v) {
        c->Lote("BEGIN TRANSACTION; UPDATE Contador SET n = n + 1; COMMIT TRANSACTION");
        if (c->Respuesta(30000).empty()) ++fallas;
      }
    });
  for (auto& h : hilos) h.join();
  EXPECT_EQ(fallas, 0);
  const std::string r = Tsql(s, "SELECT n FROM Contador\ngo\nquit\n");
  EXPECT_NE(r.find("\n" + std::to_string(kSesiones * kVueltas) + "\n"), std::string::npos) << r;
}

// A COMMIT whose file cannot be written is refused (823) and the transaction stays open, so nothing is
// acknowledged that the file does not hold; rolling back then works.
TEST(Sesiones, ConfirmacionQueNoSePuedeGrabarSeRechaza) {
  ServidorPrueba s;
  auto sesion = Sesion(s, "BEGIN TRANSACTION; UPDATE Parametros SET PAR_LA = 'perdido'");
  Crudo& a = *sesion;
  // Someone else replaces the file behind the server's back.
  const std::string ajeno = s.dir + "/ajeno.sql";
  std::ofstream(ajeno) << "-- otro\n";
  std::filesystem::rename(ajeno, s.archivo);
  a.Lote("COMMIT TRANSACTION");
  EXPECT_TRUE(TieneError(a.Respuesta(), 823));
  a.Lote("SELECT @@TRANCOUNT");
  const auto r = a.Respuesta();
  const std::vector<std::uint8_t> uno = {0x01, 0x00, 0x00, 0x00, 0xFD};
  EXPECT_NE(std::search(r.begin(), r.end(), uno.begin(), uno.end()), r.end())
      << "la transacción sigue abierta";
  a.Lote("ROLLBACK TRANSACTION");
  EXPECT_FALSE(TieneError(a.Respuesta(), 3903));
  EXPECT_EQ(LeerArchivo(s.archivo), "-- otro\n");
}

// An ODBC first-row probe on a large table: closing the cursor cancels the rest, the answer comes at once,
// and the session goes on.
TEST(Sesiones, SondaCanceladaSobreTablaGrandeVuelveEnseguida) {
  std::string base = "CREATE TABLE Grande (n int, t varchar(40))\nGO\n";
  for (int i = 0; i < 100000; ++i)
    base += (i % 1000 == 0 ? "INSERT INTO Grande (n, t) VALUES\n(" : ",\n(") + std::to_string(i) +
            ", 'fila de relleno para ocupar lugar')" + (i % 1000 == 999 ? "\nGO\n" : "");
  ServidorPrueba s(base);
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)s.Cadena().c_str(), SQL_NTS, nullptr, 0,
                                             nullptr, SQL_DRIVER_NOPROMPT)));
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)"SELECT n, t FROM Grande", SQL_NTS)));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(st)));
  SQLINTEGER n = -1;
  SQLGetData(st, 1, SQL_C_SLONG, &n, 0, nullptr);
  EXPECT_EQ(n, 0);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLCloseCursor(st)));
  const auto demora = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(demora, std::chrono::milliseconds(1500));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)"SELECT COUNT(*) FROM Grande", SQL_NTS)));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(st)));
  SQLGetData(st, 1, SQL_C_SLONG, &n, 0, nullptr);
  EXPECT_EQ(n, 100000);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

// kill -9 of the server at random moments of a stream of commits: the file always loads as a whole state
// (every committed pair of rows together), and a restarted server serves it.
TEST(Sesiones, KillNueveDuranteConfirmacionesDejaEstadosEnteros) {
  ServidorPrueba s;
  Sesion(s, "CREATE TABLE Pares (n int)");
  std::mt19937 azar(20261208);
  for (int vuelta = 0; vuelta < 6; ++vuelta) {
    std::atomic<bool> seguir{true};
    std::thread cliente([&] {
      try {
        Crudo a(s.puerto);
        a.Entrar();
        for (int i = 0; i < 10000 && seguir; ++i) {
          a.Lote("BEGIN TRANSACTION; INSERT INTO Pares VALUES (" + std::to_string(i) +
                 "); INSERT INTO Pares VALUES (" + std::to_string(i) + "); COMMIT TRANSACTION");
          if (a.Respuesta(3000).empty()) break;
        }
      } catch (const std::exception&) {
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + azar() % 400));
    s.Detener(SIGKILL);
    seguir = false;
    cliente.join();
    const std::size_t filas = FilasEnArchivo(s.archivo, "Pares");
    EXPECT_EQ(filas % 2, 0u) << "vuelta " << vuelta;
    s.Arrancar();
    const std::string r = Tsql(s, "SELECT COUNT(*) FROM Pares\ngo\nquit\n");
    EXPECT_NE(r.find("\n" + std::to_string(filas) + "\n"), std::string::npos) << filas << ": " << r;
  }
  // Nothing of ours is left beside the file.
  std::size_t otros = 0;
  for (const auto& e : std::filesystem::directory_iterator(s.dir))
    if (e.path().filename() != "PagoraDemo.sql" && e.path().filename() != "salida.txt") ++otros;
  EXPECT_EQ(otros, 0u);
}

// The same with --diario: commits go to the journal, so after each kill -9 the restarted server holds every
// acknowledged commit (and at most the one in flight besides); a stop then folds the journal into the file.
TEST(Sesiones, KillNueveConDiarioConservaCadaConfirmacion) {
  const std::vector<std::string> diario = {"--diario", "1"};
  ServidorPrueba s(Demo(), diario);
  Sesion(s, "CREATE TABLE Pares (n int)");
  std::mt19937 azar(20261209);
  std::size_t pares = 0;  // acknowledged, or found after a restart
  for (int vuelta = 0; vuelta < 4; ++vuelta) {
    std::atomic<bool> seguir{true};
    std::atomic<std::size_t> hechas{0};
    std::thread cliente([&] {
      try {
        Crudo a(s.puerto);
        a.Entrar();
        for (std::size_t i = pares; i < pares + 10000 && seguir; ++i) {
          const std::string n = std::to_string(i);
          a.Lote("BEGIN TRANSACTION; INSERT INTO Pares VALUES (" + n + "); INSERT INTO Pares VALUES (" + n +
                 "); COMMIT TRANSACTION");
          const auto r = a.Respuesta(3000);
          if (r.empty() || TieneError(r, 823)) break;
          ++hechas;
        }
      } catch (const std::exception&) {
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + azar() % 400));
    s.Detener(SIGKILL);
    seguir = false;
    cliente.join();
    ASSERT_GT(hechas, 0u) << "vuelta " << vuelta << ": nothing was committed before the kill";
    s.Arrancar(diario);
    const std::string r = Tsql(s, "SELECT COUNT(*) FROM Pares\ngo\nquit\n");
    const std::size_t antes = 2 * (pares + hechas);
    const bool exacto = r.find("\n" + std::to_string(antes) + "\n") != std::string::npos;
    const bool enVuelo = r.find("\n" + std::to_string(antes + 2) + "\n") != std::string::npos;
    ASSERT_TRUE(exacto || enVuelo) << "vuelta " << vuelta << ", " << antes << " rows acknowledged: " << r;
    pares += hechas + (exacto ? 0 : 1);
  }
  EXPECT_TRUE(std::filesystem::exists(s.archivo + ".diario"));
  EXPECT_EQ(s.Detener(SIGTERM), 0);
  EXPECT_FALSE(std::filesystem::exists(s.archivo + ".diario"));
  EXPECT_EQ(FilasEnArchivo(s.archivo, "Pares"), 2 * pares);
}

// A second server on the same file is refused with a clear message.
TEST(Sesiones, OtroServidorSobreElMismoArchivoEsRechazado) {
  ServidorPrueba s;
  const std::string r =
      Correr("env PAGORA_SERVIDOR_CLAVE=x " SERVIDOR_PROGRAMA " --puerto 0 --archivo " + s.archivo, "");
  EXPECT_NE(r.find("en uso"), std::string::npos) << r;
  const std::string sinClave =
      Correr("env -u PAGORA_SERVIDOR_CLAVE " SERVIDOR_PROGRAMA " --archivo " + s.archivo, "");
  EXPECT_NE(sinClave.find("PAGORA_SERVIDOR_CLAVE"), std::string::npos) << sinClave;
}

// A commit the disk refuses is answered with SQL Server's 823 in its English words, the system's error
// number and the C library's own text for it (not the Spanish description of the file layer).
TEST(Sesiones, Error823ConElTextoDelSistema) {
  ServidorPrueba s;
  s.Detener(SIGKILL);
  simulado::tds::Base base(s.archivo, std::chrono::milliseconds(500));
  simulado::LlamadasArchivo& l = simulado::Llamadas();
  const simulado::LlamadasArchivo antes = l;
  l.escribir = [](int, const void*, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  std::string texto;
  try {
    base.Grabar();
  } catch (const simulado::ErrorSql& e) {
    texto = std::to_string(e.numero) + " " + e.descripcion;
  }
  l = antes;
  EXPECT_EQ(texto,
            "823 The operating system returned error 28(No space left on device) to SQL Server during a "
            "write in file '" +
                s.archivo + "'.");
}

namespace {
// Resident memory of a process, in KiB, from /proc.
long Residente(pid_t pid) {
  std::istringstream s(LeerArchivo("/proc/" + std::to_string(pid) + "/status"));
  for (std::string l; std::getline(s, l);)
    if (l.rfind("VmRSS:", 0) == 0) return std::stol(l.substr(6));
  return -1;
}
}  // namespace

// A client that cancels without reading the acknowledgements, then streams small messages it never waits
// for, before and after login: the server holds a bounded amount for it and closes it, instead of queueing
// everything while it waits to write; the memory read from /proc stays bounded and others still get in.
TEST(Sesiones, UnaAvalanchaSinLeerNoAgotaLaMemoria) {
  // Under AddressSanitizer freed blocks wait in its quarantine, which would count here as memory the
  // server keeps; the server of this test frees them at once.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string antesAsan = asan ? asan : "";
  ::setenv("ASAN_OPTIONS", (antesAsan + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0").c_str(),
           1);
  ServidorPrueba s;
  if (asan)
    ::setenv("ASAN_OPTIONS", antesAsan.c_str(), 1);
  else
    ::unsetenv("ASAN_OPTIONS");
  const long antes = Residente(s.pid);
  for (const bool entrar : {false, true}) {
    SCOPED_TRACE(entrar ? "tras el login" : "antes del login");
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int chico = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &chico, sizeof chico);
    const timeval espera{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &espera, sizeof espera);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(s.puerto));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    if (entrar) {
      Crudo c(Crudo::Adoptar{}, fd);
      ASSERT_FALSE(c.Entrar().empty());
      c.fd = -1;
    }
    std::vector<std::uint8_t> atenciones, lotes;
    for (int i = 0; i < 4000; ++i) atenciones.insert(atenciones.end(), {6, 1, 0, 8, 0, 0, 1, 0});
    for (int i = 0; i < 4000; ++i) lotes.insert(lotes.end(), {1, 1, 0, 10, 0, 0, 1, 0, 'x', 0});
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    long mayor = 0;
    bool cerrado = false;
    std::size_t enviado = 0;
    // Up to 24 MB of messages (a server that queues them all would hold many times that).
    for (int vuelta = 0; !cerrado && enviado < (24u << 20) && std::chrono::steady_clock::now() < limite;
         ++vuelta) {
      const auto& b = vuelta < 60 ? atenciones : lotes;
      const ssize_t n = ::send(fd, b.data(), b.size(), MSG_NOSIGNAL);
      cerrado = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK;
      if (n > 0) enviado += static_cast<std::size_t>(n);
      mayor = std::max(mayor, Residente(s.pid));
    }
    EXPECT_TRUE(cerrado) << "la sesión no se cerró tras " << enviado << " bytes";
    EXPECT_LT(mayor - antes, 16 * 1024) << "KiB de más: " << mayor - antes;
    ::close(fd);
  }
  Crudo otra(s.puerto);
  EXPECT_FALSE(otra.Entrar().empty()) << "el servidor sigue atendiendo";
  EXPECT_NE(s.Salida().find("KiB sin leer"), std::string::npos) << s.Salida();
}

namespace {
// A raw client whose socket takes little (a small receive buffer), logged in: what it is sent and does not
// read soon fills the way.
std::unique_ptr<Crudo> QueNoLee(const ServidorPrueba& s) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const int chico = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &chico, sizeof chico);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(s.puerto));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
  auto c = std::make_unique<Crudo>(Crudo::Adoptar{}, fd);
  if (c->Entrar().empty()) throw std::runtime_error("login");
  return c;
}
}  // namespace

// A client that asks for a large result and does not read it: outside a transaction the others go on at
// once; inside one they wait, as SQL Server's locks make them, until the write deadline drops the client and
// rolls its transaction back.
TEST(Sesiones, UnResultadoSinLeerNoRetieneLaBase) {
  std::string base = "CREATE TABLE Grande (n int, t varchar(80))\nGO\n";
  for (int i = 0; i < 100000; ++i)
    base += (i % 1000 == 0 ? "INSERT INTO Grande (n, t) VALUES\n(" : ",\n(") + std::to_string(i) + ", '" +
            std::string(70, 'a' + static_cast<char>(i % 26)) + "')" + (i % 1000 == 999 ? "\nGO\n" : "");
  // The deadline is long enough that, outside a transaction, the other session's answer comes well before
  // it even on a loaded machine, and inside one its wait is told from that.
  ServidorPrueba s(base, {"--plazo-escritura", "8"});
  const std::string antes = LeerArchivo(s.archivo);
  auto otra = [&](const std::string& sql) {
    const auto t0 = std::chrono::steady_clock::now();
    Crudo b(s.puerto);
    b.Entrar();
    b.Lote(sql);
    const bool respondio = !b.Respuesta(20000).empty();
    return respondio ? std::chrono::steady_clock::now() - t0 : std::chrono::hours(1);
  };
  {
    auto a = QueNoLee(s);
    a->Lote("SELECT n, t FROM Grande");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(otra("SELECT COUNT(*) FROM Grande"), std::chrono::seconds(5)) << "fuera de transacción";
  }
  auto a = QueNoLee(s);
  a->Lote("BEGIN TRANSACTION UPDATE Grande SET t = 'de la transaccion' WHERE n = 7 SELECT n, t FROM Grande");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto espera = otra("SELECT t FROM Grande WHERE n = 7");
  EXPECT_GT(espera, std::chrono::seconds(6)) << "dentro de una transacción se espera";
  EXPECT_LT(espera, std::chrono::seconds(20)) << "hasta el plazo de escritura";
  // What had reached its socket is read away; then the end of the connection shows.
  std::vector<std::uint8_t> resto(1 << 16);
  const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  ssize_t n = 1;
  while (n > 0 && std::chrono::steady_clock::now() < limite) {
    pollfd p{a->fd, POLLIN, 0};
    n = ::poll(&p, 1, 1000) > 0 ? ::recv(a->fd, resto.data(), resto.size(), 0) : 1;
  }
  EXPECT_LE(n, 0) << "la sesión que no leía fue cerrada";
  EXPECT_EQ(LeerArchivo(s.archivo), antes) << "su transacción se deshizo";
  EXPECT_NE(s.Salida().find("el cliente no lee la respuesta"), std::string::npos) << s.Salida();
}

// Application locks as SQL Server documents them: modes and their compatibility, owners Session and
// Transaction, @LockTimeout 0 and positive, return codes 0, 1, -1, -3, -999 with their errors, references,
// APPLOCK_MODE and APPLOCK_TEST, and the locks going with their transaction or session.
TEST(Sesiones, CandadosDeAplicacion) {
  ServidorPrueba s;
  auto a = std::make_unique<Crudo>(s.puerto);
  Crudo b(s.puerto);
  ASSERT_FALSE(a->Entrar().empty());
  ASSERT_FALSE(b.Entrar().empty());
  auto pide = [](Crudo& c, const std::string& recurso, const std::string& modo, int plazo,
                 const std::string& dueno = "Session") {
    c.Lote("DECLARE @r int EXEC @r = sp_getapplock @Resource = N'" + recurso + "', @LockMode = '" + modo +
           "', @LockOwner = '" + dueno + "', @LockTimeout = " + std::to_string(plazo) +
           " SELECT @r, APPLOCK_MODE('public', '" + recurso + "', '" + dueno + "')");
    return prueba_tds::Resumen(c.Respuesta(20000));
  };
  auto lote = [](Crudo& c, const std::string& sql) {
    c.Lote(sql);
    return prueba_tds::Resumen(c.Respuesta(20000));
  };
  EXPECT_EQ(pide(*a, "Pagora", "Exclusive", 0), "D1/0 R0 P1/0 M F[0,Exclusive] D10/1");
  EXPECT_EQ(pide(b, "Pagora", "Shared", 0), "D1/0 R-1 P1/0 M F[-1,NoLock] D10/1");
  EXPECT_EQ(pide(b, "pagora", "Exclusive", 0), "D1/0 R0 P1/0 M F[0,Exclusive] D10/1") << "byte for byte";
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(
      lote(b, "DECLARE @r int EXEC @r = sp_getapplock 'Pagora', 'IntentShared', 'Session', 300 SELECT @r"),
      "D1/0 R-1 P1/0 M F[-1] D10/1");
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
  // Compatible modes are granted beside each other; references are counted; the union is what is held.
  EXPECT_EQ(pide(*a, "Lectura", "Shared", 0), "D1/0 R0 P1/0 M F[0,Shared] D10/1");
  EXPECT_EQ(pide(b, "Lectura", "IntentShared", 0), "D1/0 R0 P1/0 M F[0,IntentShared] D10/1");
  EXPECT_EQ(pide(b, "Lectura", "IntentExclusive", 0), "D1/0 R-1 P1/0 M F[-1,IntentShared] D10/1");
  EXPECT_EQ(pide(*a, "Lectura", "Update", 0), "D1/0 R0 P1/0 M F[0,Update] D10/1");
  EXPECT_EQ(lote(b,
                 "SELECT APPLOCK_TEST('public', 'Lectura', 'Shared', 'Session'), "
                 "APPLOCK_TEST('public', 'Lectura', 'Update', 'Session')"),
            "M F[1,0] D10/1");
  EXPECT_EQ(
      lote(*a,
           "EXEC sp_releaseapplock 'Lectura', 'Session' SELECT APPLOCK_MODE('public', 'Lectura', 'Session')"),
      "R0 P1/0 M F[Update] D10/1");
  EXPECT_EQ(
      lote(*a, "EXEC sp_releaseapplock 'Lectura', 'Session' EXEC sp_releaseapplock 'Lectura', 'Session'"),
      "R0 P1/0 E1223 R-999 P0/0");
  // Refusals: -999 with the error that says why.
  EXPECT_EQ(lote(b, "EXEC sp_getapplock 'x', 'Exclusive'"), "E1227 R-999 P0/0");
  EXPECT_EQ(lote(b, "EXEC sp_getapplock 'x', 'Todo', 'Session'"), "E1225 R-999 P0/0");
  EXPECT_EQ(lote(b, "EXEC sp_getapplock @Recurso = 'x'"), "E8145 D2/0");
  // A transaction's lock goes with its commit.
  EXPECT_EQ(
      lote(b,
           "BEGIN TRAN EXEC sp_getapplock 'T', 'Update' SELECT APPLOCK_MODE('public', 'T', 'Transaction') "
           "COMMIT SELECT APPLOCK_MODE('public', 'T', 'Transaction')"),
      "C8 D5/0 R0 P5/0 M F[Update] D15/1 C9 D1/0 M F[NoLock] D10/1");
  // A wait ends granted (1) when the holder lets go; a wait that closes a cycle is the deadlock victim (-3).
  EXPECT_EQ(pide(b, "D2", "Exclusive", 0), "D1/0 R0 P1/0 M F[0,Exclusive] D10/1");
  std::string enEspera;
  std::thread espera([&] { enEspera = pide(*a, "D2", "Exclusive", 10000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(pide(b, "Pagora", "Exclusive", 10000), "D1/0 R-3 P1/0 M F[-3,NoLock] D10/1");
  EXPECT_EQ(lote(b, "EXEC sp_releaseapplock @Resource = 'D2', @LockOwner = 'Session'"), "R0 P0/0");
  espera.join();
  EXPECT_EQ(enEspera, "D1/0 R1 P1/0 M F[1,Exclusive] D10/1");
  // The session's locks go with it (its end may still be under way: the request waits up to 5 s); the RPC
  // form answers with its return status.
  a.reset();
  std::vector<std::uint8_t> d = Crudo::Encabezados();
  auto texto = [&](const std::string& nombre, const std::string& valor) {
    const auto n = Crudo::Utf16(nombre), v = Crudo::Utf16(valor);
    d.push_back(static_cast<std::uint8_t>(nombre.size()));
    d.insert(d.end(), n.begin(), n.end());
    d.insert(d.end(),
             {0, 0xE7, 0x40, 0x1F, 0x09, 0x04, 0xD0, 0x00, 0x34, static_cast<std::uint8_t>(v.size()), 0});
    d.insert(d.end(), v.begin(), v.end());
  };
  const auto nombre = Crudo::Utf16("sp_getapplock");
  d.insert(d.end(), {13, 0});
  d.insert(d.end(), nombre.begin(), nombre.end());
  d.insert(d.end(), {0, 0});
  texto("@Resource", "Pagora");
  texto("@LockMode", "Exclusive");
  texto("@LockOwner", "Session");
  d.insert(d.end(), {12,  '@', 0,   'L', 0,   'o', 0,   'c', 0, 'k',  0, 'T', 0,    'i',  0, 'm', 0,
                     'e', 0,   'o', 0,   'u', 0,   't', 0,   0, 0x26, 4, 4,   0x88, 0x13, 0, 0});  // 5000 ms
  b.Paquete(0x03, d);
  const std::string r = prueba_tds::Resumen(b.Respuesta());
  EXPECT_TRUE(r == "R0 P0/0" || r == "R1 P0/0") << r << ": granted once the session that held it is gone";
}
