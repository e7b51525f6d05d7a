// Test harness: the real solvane-servidor on a free port over a copy of a database, and small clients.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Proceso.h"
#include "tds/Tokens.h"

namespace prueba_tds {

inline std::string LeerArchivo(const std::string& ruta) {
  return simulado::pruebas::LeerSiHay(ruta);
}

inline std::string Demo() {
  return LeerArchivo(std::string(DIR_FUENTES) + "/solvane/datos/PagoraDemo.sql");
}

constexpr const char* kClave = "Cl4ve-de-prueba";

// solvane-servidor started on its own folder with a copy of `contenido` as PagoraDemo.sql.
class ServidorPrueba {
 public:
  explicit ServidorPrueba(const std::string& contenido = Demo(), std::vector<std::string> extra = {}) {
    char plantilla[] = "/tmp/prueba_tds_XXXXXX";
    if (!::mkdtemp(plantilla)) throw std::runtime_error("mkdtemp");
    dir = plantilla;
    archivo = dir + "/PagoraDemo.sql";
    std::ofstream(archivo, std::ios::binary) << contenido;
    Arrancar(std::move(extra));
  }
  ~ServidorPrueba() {
    Detener(SIGKILL);
    std::filesystem::remove_all(dir);
  }

  void Arrancar(std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {SERVIDOR_PROGRAMA, "--archivo", archivo, "--puerto", "0"};
    a.insert(a.end(), extra.begin(), extra.end());
    const std::string salida = dir + "/salida.txt";
    const auto lanzado = simulado::pruebas::LanzarServidor(a, {{"PAGORA_SERVIDOR_CLAVE", kClave}}, salida,
                                                           salida, std::chrono::seconds(120));
    pid = lanzado.pid;
    puerto = lanzado.puerto;
  }

  // Sends `senal` and waits (bounded) for the exit; the exit status, or -1.
  int Detener(int senal = SIGTERM) {
    if (pid <= 0) return -1;
    ::kill(pid, senal);
    const int r = simulado::pruebas::Esperar(pid, std::chrono::seconds(10));
    pid = -1;
    return r;
  }
  std::string Salida() const { return LeerArchivo(dir + "/salida.txt"); }
  std::string Cadena(const std::string& extra = "") const {
    return "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(puerto) +
           ";Database=PagoraDemo;UID=pagora;PWD=" + kClave + ";TDS_Version=7.4;Encryption=off;" + extra;
  }

  std::string dir, archivo;
  int puerto = 0;
  pid_t pid = -1;
};

// Runs a shell command with `entrada` on its standard input; its merged output. Bounded by `timeout`.
inline std::string Correr(const std::string& orden, const std::string& entrada) {
  const std::string f = "/tmp/prueba_tds_entrada_" + std::to_string(::getpid());
  std::ofstream(f) << entrada;
  std::string salida;
  FILE* p = ::popen(("timeout 30 " + orden + " < " + f + " 2>&1").c_str(), "r");
  char buf[4096];
  size_t n;
  while (p && (n = ::fread(buf, 1, sizeof buf, p)) > 0) salida.append(buf, n);
  if (p) ::pclose(p);
  ::unlink(f.c_str());
  return salida;
}

// A raw TDS client for what the library clients cannot be made to send.
class Crudo {
 public:
  explicit Crudo(int puerto) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(puerto));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
  }
  // Over a socket already connected (set up by the test); closed with the object.
  struct Adoptar {};
  Crudo(Adoptar, int descriptor) : fd(descriptor) {}
  ~Crudo() {
    if (fd >= 0) ::close(fd);
  }
  Crudo(const Crudo&) = delete;
  Crudo& operator=(const Crudo&) = delete;
  void EnviarBytes(const std::vector<std::uint8_t>& b) {
    if (::send(fd, b.data(), b.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(b.size()))
      throw std::runtime_error("send");
  }
  void Paquete(std::uint8_t tipo, const std::vector<std::uint8_t>& datos, std::uint8_t estado = 1) {
    std::vector<std::uint8_t> p = {tipo,
                                   estado,
                                   static_cast<std::uint8_t>((datos.size() + 8) >> 8),
                                   static_cast<std::uint8_t>(datos.size() + 8),
                                   0,
                                   0,
                                   1,
                                   0};
    p.insert(p.end(), datos.begin(), datos.end());
    EnviarBytes(p);
  }
  // One whole reply message (payloads joined); empty when the server closed or nothing came in time.
  std::vector<std::uint8_t> Respuesta(int esperaMs = 10000) {
    std::vector<std::uint8_t> r;
    for (;;) {
      std::uint8_t h[8];
      if (!Leer(h, 8, esperaMs)) return {};
      const std::size_t n = static_cast<std::size_t>(h[2] << 8 | h[3]);
      std::vector<std::uint8_t> d(n - 8);
      if (!Leer(d.data(), d.size(), esperaMs)) return {};
      r.insert(r.end(), d.begin(), d.end());
      if (h[1] & 1) return r;
    }
  }
  bool Cerrado(int esperaMs = 10000) {
    std::uint8_t b;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, esperaMs) <= 0) return false;
    return ::recv(fd, &b, 1, 0) <= 0;
  }
  // PRELOGIN then LOGIN7 at TDS 7.4 with this user, password and database; the login reply.
  std::vector<std::uint8_t> Entrar(const std::string& usuario = "pagora", const std::string& clave = kClave,
                                   const std::string& base = "PagoraDemo",
                                   std::uint32_t version = 0x74000004) {
    Paquete(0x12, Prelogin(0x02));
    Respuesta();
    Paquete(0x10, Login7(usuario, clave, base, version));
    return Respuesta();
  }
  // PRELOGIN with VERSION and ENCRYPTION `cifrado` (0x02: this client has no TLS).
  static std::vector<std::uint8_t> Prelogin(std::uint8_t cifrado) {
    return {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00, 0x01, 0xFF, 9, 0, 0, 0, 0, 0, cifrado};
  }
  static std::vector<std::uint8_t> Utf16(const std::string& s) {
    std::vector<std::uint8_t> r;
    simulado::tds::Utf8AUtf16(s, r);
    return r;
  }
  static std::vector<std::uint8_t> Login7(const std::string& usuario, const std::string& clave,
                                          const std::string& base, std::uint32_t version) {
    std::vector<std::uint8_t> f(94, 0), datos;
    auto pon32 = [&](std::size_t o, std::uint32_t v) {
      for (int k = 0; k < 4; ++k)
        f[o + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
    };
    pon32(4, version);
    pon32(8, 4096);
    const std::vector<std::string> textos = {"prueba", usuario,      clave, "arnes", "127.0.0.1",
                                             "",       "TDS-Prueba", "",    base};
    const std::size_t campos[] = {36, 40, 44, 48, 52, 56, 60, 64, 68};
    for (std::size_t i = 0; i < textos.size(); ++i) {
      auto t = Utf16(textos[i]);
      if (i == 2)
        for (auto& b : t) b = static_cast<std::uint8_t>(((b << 4) | (b >> 4)) ^ 0xA5);
      const std::size_t o = 94 + datos.size();
      f[campos[i]] = static_cast<std::uint8_t>(o);
      f[campos[i] + 1] = static_cast<std::uint8_t>(o >> 8);
      f[campos[i] + 2] = static_cast<std::uint8_t>(t.size() / 2);
      datos.insert(datos.end(), t.begin(), t.end());
    }
    f.insert(f.end(), datos.begin(), datos.end());
    pon32(0, static_cast<std::uint32_t>(f.size()));
    return f;
  }
  static std::vector<std::uint8_t> Encabezados() {
    return {0x16, 0, 0, 0, 0x12, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  }
  void Lote(const std::string& sql) {
    auto d = Encabezados();
    auto t = Utf16(sql);
    d.insert(d.end(), t.begin(), t.end());
    Paquete(0x01, d);
  }
  int fd = -1;

 private:
  bool Leer(std::uint8_t* p, std::size_t n, int esperaMs) {
    while (n > 0) {
      pollfd q{fd, POLLIN, 0};
      if (::poll(&q, 1, esperaMs) <= 0) return false;
      const ssize_t r = ::recv(fd, p, n, 0);
      if (r <= 0) return false;
      p += r;
      n -= static_cast<std::size_t>(r);
    }
    return true;
  }
};

// Whether a reply holds an ERROR token with this number (the number follows the token and its length).
inline bool TieneError(const std::vector<std::uint8_t>& r, std::int32_t numero) {
  for (std::size_t i = 0; i + 7 <= r.size(); ++i)
    if (r[i] == 0xAA &&
        static_cast<std::int32_t>(r[i + 3] | r[i + 4] << 8 | r[i + 5] << 16 | r[i + 6] << 24) == numero)
      return true;
  return false;
}

// A reply's tokens in short: "M" column metadata, "F[v,v]" a row (NULL as "-"), "D<status>/<count>" DONE,
// "P" DONEPROC and "Q" DONEINPROC alike, "R<n>" RETURNSTATUS, "V<name>=<value>" RETURNVALUE, "E<n>" ERROR,
// "I<n>" INFO, "C<type>" ENVCHANGE; status in hex. Only the types this server sends are decoded.
inline std::string Resumen(const std::vector<std::uint8_t>& r, bool filaNbc = true) {
  struct Col {
    std::uint8_t tipo, largo;
    int escala;
  };
  std::vector<Col> cols;
  std::ostringstream o;
  std::size_t i = 0;
  auto u16 = [&](std::size_t k) { return static_cast<std::size_t>(r.at(k) | r.at(k + 1) << 8); };
  auto u32 = [&](std::size_t k) { return static_cast<std::uint32_t>(u16(k) | u16(k + 2) << 16); };
  auto valor = [&](const Col& c, std::size_t& k) -> std::string {
    auto entero = [&](std::size_t n) {
      std::uint64_t v = 0;
      for (std::size_t b = 0; b < n; ++b) v |= static_cast<std::uint64_t>(r.at(k + b)) << (8 * b);
      if (n < 8 && c.tipo != 0x68 && n > 1 && (v >> (8 * n - 1)) & 1) v |= ~0ull << (8 * n);
      k += n;
      return std::to_string(static_cast<std::int64_t>(v));
    };
    if (c.tipo == 0x26 || c.tipo == 0x68) {
      const std::size_t n = r.at(k++);
      return n == 0 ? "-" : entero(n);
    }
    if (c.tipo == 0x6A || c.tipo == 0x6C) {
      const std::size_t n = r.at(k++);
      if (n == 0) return "-";
      const bool positivo = r.at(k++) == 1;
      std::string v = entero(n - 1);
      while (static_cast<int>(v.size()) <= c.escala) v.insert(0, "0");
      if (c.escala > 0) v.insert(v.size() - static_cast<std::size_t>(c.escala), ".");
      return (positivo ? "" : "-") + v;
    }
    if (c.tipo == 0x6D || c.tipo == 0x6F) {
      const std::size_t n = r.at(k++);
      k += n;
      return n == 0 ? "-" : "?";
    }
    const std::size_t n = u16(k);
    k += 2;
    if (n == 0xFFFF) return "-";
    std::string v;
    if (c.tipo == 0xE7 || c.tipo == 0xEF)
      v = simulado::tds::Utf16AUtf8(r.data() + k, n / 2);
    else
      v.assign(r.begin() + static_cast<std::ptrdiff_t>(k), r.begin() + static_cast<std::ptrdiff_t>(k + n));
    k += n;
    return v;
  };
  while (i < r.size()) {
    const std::uint8_t t = r[i++];
    if (!o.str().empty()) o << ' ';
    if (t == 0x81) {
      const std::size_t n = u16(i);
      i += 2;
      cols.clear();
      for (std::size_t c = 0; c < n; ++c) {
        i += 4 + 2;  // user type (7.2+), flags
        Col col{r.at(i++), 0, 0};
        if (col.tipo == 0x6A || col.tipo == 0x6C) {
          col.largo = r.at(i);
          col.escala = r.at(i + 2);
          i += 3;
        } else if (col.tipo == 0xA7 || col.tipo == 0xAF || col.tipo == 0xE7 || col.tipo == 0xEF) {
          i += 2 + 5;
        } else {
          col.largo = r.at(i++);
        }
        i += 1 + 2 * r.at(i);
        cols.push_back(col);
      }
      o << 'M';
    } else if (t == 0xD1 || t == 0xD2) {
      std::vector<bool> nulos(cols.size(), false);
      if (t == 0xD2 && filaNbc) {
        for (std::size_t c = 0; c < cols.size(); ++c) nulos[c] = (r.at(i + c / 8) >> (c % 8)) & 1;
        i += (cols.size() + 7) / 8;
      }
      o << "F[";
      for (std::size_t c = 0; c < cols.size(); ++c)
        o << (c ? "," : "") << (nulos[c] ? "-" : valor(cols[c], i));
      o << ']';
    } else if (t == 0xFD || t == 0xFE || t == 0xFF) {
      o << (t == 0xFD ? 'D' : t == 0xFE ? 'P' : 'Q') << std::hex << u16(i) << std::dec << '/' << u32(i + 4);
      i += 12;
    } else if (t == 0x79) {
      o << 'R' << static_cast<std::int32_t>(u32(i));
      i += 4;
    } else if (t == 0xAA || t == 0xAB) {
      o << (t == 0xAA ? 'E' : 'I') << static_cast<std::int32_t>(u32(i + 2));
      i += 2 + u16(i);
    } else if (t == 0xE3) {
      o << 'C' << int{r.at(i + 2)};
      i += 2 + u16(i);
    } else if (t == 0xAC) {
      const std::size_t nombre = r.at(i + 2);
      o << 'V' << simulado::tds::Utf16AUtf8(r.data() + i + 3, nombre) << '=';
      std::size_t k = i + 3 + 2 * nombre + 1 + 4 + 2;
      Col col{r.at(k++), 0, 0};
      if (col.tipo == 0xE7 || col.tipo == 0xA7)
        k += 7;
      else
        col.largo = r.at(k++);
      o << valor(col, k);
      i = k;
    } else if (t == 0xAD) {
      o << 'L';
      i += 2 + u16(i);
    } else {
      o << "?" << std::hex << int{t};
      break;
    }
  }
  return o.str();
}

}  // namespace prueba_tds
