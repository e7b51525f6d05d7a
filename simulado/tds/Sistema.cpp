// Owned descriptors and errno texts for the TDS server.
#include "tds/Sistema.h"

#include <locale.h>
#include <unistd.h>

#include <cstring>

namespace simulado::tds {

std::string DescripcionErrno(int e) {
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not be in buf.
  return ::strerror_r(e, buf, sizeof buf);
}

std::string TextoErrnoC(int e) {
  // Made once and never freed: strerror_l reads it from any thread.
  static const locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c ? ::strerror_l(e, c) : "Unknown error " + std::to_string(e);
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
