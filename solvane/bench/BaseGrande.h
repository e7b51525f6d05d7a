// The benchmarks' databases: the demo database plus N generated rows in Transaccion and TransOFF and as
// many in Tarjeta as its smallint key holds beside the demo's and the chain's own codes (65,436).
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>

namespace bench {

// The whole file, or "" while it cannot be opened (a program's output that may not be there yet).
inline std::string Leer(const std::filesystem::path& ruta) {
  std::ifstream f(ruta, std::ios::binary);
  std::ostringstream s;
  if (f) s << f.rdbuf();
  return s.str();
}

// A benchmark that cannot write its input measures nothing: it stops with status 2.
inline void Escribir(const std::filesystem::path& ruta, const std::string& texto) {
  std::ofstream f(ruta, std::ios::binary | std::ios::trunc);
  f << texto;
  if (!f) {
    std::fprintf(stderr, "no se puede escribir %s\n", ruta.c_str());
    std::exit(2);
  }
}

inline std::string LeerDemo() {
  // The demo database sits beside this source file's folder.
  std::string texto =
      Leer(std::filesystem::path(__FILE__).parent_path().parent_path() / "datos" / "PagoraDemo.sql");
  if (texto.empty()) {
    std::fprintf(stderr, "no se encuentra PagoraDemo.sql\n");
    std::exit(2);
  }
  return texto;
}

// A piece of a database text, handed over as it is made (a large one is never held whole).
using Salida = std::function<void(std::string_view)>;

// Rows in the shape the engine writes its file: 500-row INSERT statements, one row per line.
inline void Filas(const Salida& salida, const char* cabeza, std::size_t n,
                  const std::function<void(std::size_t, char*)>& fila) {
  char linea[512];
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 500 == 0) s += cabeza;
    fila(i, linea);
    s += linea;
    s += (i % 500 == 499 || i + 1 == n) ? ")\nGO\n" : "),\n";
    if (s.size() > (1 << 16)) {
      salida(s);
      s.clear();
    }
  }
  salida(s);
}

// Row i of the generated Transaccion (key '000009', i + 1), in the form Filas takes.
inline constexpr const char* kCabezaTransaccion =
    "INSERT INTO [Transaccion] ([TRA_Empresa], [TRA_Transaccion], [TRA_Local], [TRA_Caja], [TRA_Operacion], "
    "[TRA_Monto], [TRA_Moneda], [TRA_Puntos], [TRA_CodTarjeta], [TRA_NroTarjeta], [TRA_Venc], [TRA_Titular], "
    "[TRA_Fecha], [TRA_Hora], [TRA_Lote], [TRA_Ticket]) VALUES\n";
inline void FilaTransaccion(std::size_t i, char* l) {
  std::snprintf(l, 512,
                "('000009', %zu, '000001', '%03zu', '%c', %zu.%02zu, 'P', %zu, %zu, '45097901%08zu', '2811', "
                "'TITULAR %zu', '2026-11-%02zu 10:15:00', '10:15:32', %zu, %zu",
                i + 1, i % 40 + 1, "CADC"[i % 4], i % 5000, i % 100, i % 50, i % 14 + 1, i, i, i % 28 + 1,
                i / 500, i);
}

// Loaded as a script: the demo's dump header and closing check line are left out, since the rows added
// after them would make the check fail.
inline void Base(std::size_t n, const Salida& salida) {
  std::string s = LeerDemo();
  s.erase(0, s.find('\n') + 1);
  if (const auto fin = s.rfind("-- Fin de la base simulada"); fin != std::string::npos) s.resize(fin);
  salida(s);
  const char* const ops = "CADC";
  Filas(salida, kCabezaTransaccion, n, FilaTransaccion);
  Filas(salida,
        "INSERT INTO [TransOFF] ([OFF_Empresa], [OFF_Transaccion], [OFF_Local], [OFF_Caja], [OFF_Operacion], "
        "[OFF_Monto], [OFF_Moneda], [OFF_CodTarjeta], [OFF_NroTarjeta], [OFF_TrackII], [OFF_Venc], "
        "[OFF_Titular], [OFF_CVC], [OFF_Fecha], [OFF_Hora], [OFF_Ticket]) VALUES\n",
        n, [&](std::size_t i, char* l) {
          std::snprintf(l, 512,
                        "('000009', %zu, '000001', '%03zu', '%c', %zu.%02zu, 'P', %zu, '45097901%08zu', "
                        "';4509790112684851=2811?', '2811', 'TITULAR %zu', '123', '2026-11-%02zu 10:15:00', "
                        "'10:15:32', %zu",
                        i + 1, i % 40 + 1, ops[i % 4], i % 5000, i % 100, i % 14 + 1, i, i, i % 28 + 1, i);
        });
  // Card codes above the demo's and the chain's own, then the negative ones.
  Filas(salida,
        "INSERT INTO [Tarjeta] ([TAR_Cod], [TAR_Desc], [TAR_Orden], [TAR_Control], [TAR_CI], [TAR_CVC]) "
        "VALUES\n",
        std::min<std::size_t>(n, 65436), [&](std::size_t i, char* l) {
          const long codigo = i < 32668 ? static_cast<long>(100 + i) : -static_cast<long>(i - 32668 + 1);
          std::snprintf(l, 512, "(%ld, 'Tarjeta %ld', 'Tra_FechaCierre,', 0, 1, 0", codigo, codigo);
        });
}

inline std::string Base(std::size_t n) {
  std::string s;
  s.reserve(n * 400);
  Base(n, [&](std::string_view x) { s.append(x); });
  return s;
}

// The same database written to `ruta` as it is made.
inline void EscribirBase(const std::filesystem::path& ruta, std::size_t n) {
  std::ofstream f(ruta, std::ios::binary | std::ios::trunc);
  Base(n, [&](std::string_view x) { f.write(x.data(), static_cast<std::streamsize>(x.size())); });
  if (!f.flush()) {
    std::fprintf(stderr, "no se puede escribir %s\n", ruta.c_str());
    std::exit(2);
  }
}

}  // namespace bench
