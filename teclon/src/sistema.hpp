// The operating system calls of the termios port, made through a table that tests can replace.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <termios.h>

namespace teclon {

// Every call the port makes to the system; a test swaps entries to make the Nth one fail. Replaced
// only while no port is in use on another thread.
struct LlamadasPuerto {
  int (*abrir)(const char* ruta, int banderas);
  int (*cerrar)(int fd);
  int (*esTerminal)(int fd);
  int (*bloquear)(int fd, int operacion);
  int (*control)(int fd, unsigned long pedido, void* dato);
  int (*leerAtributos)(int fd, termios* t);
  int (*fijarAtributos)(int fd, int cuando, const termios* t);
  int (*vaciar)(int fd, int cola);
  ssize_t (*leer)(int fd, void* destino, size_t n);
  ssize_t (*escribir)(int fd, const void* origen, size_t n);
  int (*esperar)(pollfd* fds, nfds_t n, int ms);
};

// The table in force; starts with the system's own functions.
LlamadasPuerto& LlamadasDelPuerto();

}  // namespace teclon
