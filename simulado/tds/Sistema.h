// Operating-system calls of the TDS server: one checked entry point that keeps errno, and owned descriptors.
#pragma once

#include <cerrno>
#include <stdexcept>
#include <string>
#include <utility>

namespace simulado::tds {

// A failed OS call: the errno captured at once and a Spanish description naming the call.
class ErrorSistema : public std::runtime_error {
 public:
  ErrorSistema(int codigo, const std::string& texto) : std::runtime_error(texto), numero(codigo) {}
  int numero;
};

std::string DescripcionErrno(int e);
// The C library's text for `e` in the C locale ("No space left on device"), whatever the process's locale:
// for messages given in SQL Server's English words.
std::string TextoErrnoC(int e);

// Runs `llamada` (an OS call returning -1 on failure), retrying on EINTR; throws ErrorSistema with the
// errno of that very call. EAGAIN/EWOULDBLOCK are returned as -1 for the caller's non-blocking loops.
template <class F>
auto Sistema(const char* que, F&& llamada) {
  for (;;) {
    auto r = llamada();
    if (r != -1) return r;
    const int e = errno;
    if (e == EINTR) continue;
    if (e == EAGAIN || e == EWOULDBLOCK) return r;
    throw ErrorSistema(e, std::string(que) + ": " + std::to_string(e) + " " + DescripcionErrno(e));
  }
}

// An owned file descriptor, closed on destruction.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(Descriptor&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& o) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace simulado::tds
