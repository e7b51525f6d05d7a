// Owned descriptors and errno texts for the TDS server.
#include "tds/Sistema.h"

#include <unistd.h>

#include <cstring>

namespace simulado::tds {

std::string DescripcionErrno(int e) {
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not be in buf.
  return ::strerror_r(e, buf, sizeof buf);
}

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

Descriptor& Descriptor::operator=(Descriptor&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(o.fd_, -1);
  }
  return *this;
}

}  // namespace simulado::tds
