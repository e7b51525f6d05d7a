// TextoSeguro: a string whose every buffer is wiped before it goes back to the heap.
#pragma once

#include <string.h>
#include <cstddef>
#include <new>
#include <string>

namespace teclon {

// Allocator that clears a block before releasing it, so track data, PIN blocks and keys
// never linger in freed memory when a string grows or dies.
template <class T>
struct AsignadorSeguro {
  using value_type = T;
  AsignadorSeguro() noexcept = default;
  template <class U>
  AsignadorSeguro(const AsignadorSeguro<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept {
    explicit_bzero(p, n * sizeof(T));
    ::operator delete(p);
  }
  template <class U>
  bool operator==(const AsignadorSeguro<U>&) const noexcept {
    return true;
  }
};

using CadenaSegura = std::basic_string<char, std::char_traits<char>, AsignadorSeguro<char>>;

// Wipes the characters held in place (short strings live inside the object itself).
inline void Borrar(CadenaSegura& texto) noexcept {
  texto.resize(texto.capacity());
  explicit_bzero(texto.data(), texto.size());
  texto.clear();
}

inline void Borrar(std::string& texto) noexcept {
  texto.resize(texto.capacity());
  explicit_bzero(texto.data(), texto.size());
  texto.clear();
}

// A CadenaSegura that also wipes its in-object storage when it goes out of scope.
class TextoSeguro {
 public:
  TextoSeguro() = default;
  explicit TextoSeguro(std::string_view texto) : texto_(texto) {}
  TextoSeguro(const TextoSeguro&) = default;
  TextoSeguro& operator=(const TextoSeguro&) = default;
  ~TextoSeguro() { Borrar(texto_); }

  CadenaSegura& Cadena() noexcept { return texto_; }
  const CadenaSegura& Cadena() const noexcept { return texto_; }
  std::string_view Vista() const noexcept { return {texto_.data(), texto_.size()}; }
  std::size_t size() const noexcept { return texto_.size(); }
  bool empty() const noexcept { return texto_.empty(); }
  char operator[](std::size_t i) const noexcept { return texto_[i]; }
  void Agregar(std::string_view mas) { texto_.append(mas.data(), mas.size()); }
  void Agregar(char c) { texto_.push_back(c); }
  void Vaciar() noexcept { Borrar(texto_); }

 private:
  CadenaSegura texto_;
};

}  // namespace teclon
