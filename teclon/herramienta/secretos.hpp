// Secrets (card number, keys) read by the tool from standard input, never from its arguments.
#pragma once

#include <csignal>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "texto_seguro.hpp"

namespace herramienta {

// A secret that could not be read: the system's error number (or ours for a missing or overlong
// line, ENODATA and EMSGSIZE; EINTR when the reading was interrupted) and a description.
class ErrorEntrada : public std::runtime_error {
 public:
  ErrorEntrada(int numero, const std::string& descripcion)
      : std::runtime_error(descripcion), numero_(numero) {}
  int Numero() const noexcept { return numero_; }

 private:
  int numero_;
};

// Reads one line from fd per name, in order. On a terminal each is asked for on standard error and
// typed without echo; the terminal's settings come back on every path, a signal included. A signal
// that sets interrumpido ends the reading with EINTR (SIGINT always does; SIGTERM, SIGHUP and SIGQUIT
// are routed to the same flag while the echo is off). A trailing CR is dropped.
std::vector<teclon::TextoSeguro> LeerSecretos(int fd, const std::vector<std::string_view>& nombres,
                                              volatile std::sig_atomic_t& interrumpido,
                                              void (*manejador)(int));

// Whether an argument looks like a card number (12 or more digits) or a key (16, 32 or 48 hex
// digits): such arguments are refused instead of being shown on the PIN pad.
bool PareceSecreto(std::string_view argumento);

}  // namespace herramienta
