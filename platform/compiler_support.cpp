// What GCC may call even in code that never names it, for a program linked
// without the C runtime: it copies and clears buffers (the 512-byte read, the
// profile) with memcpy and memset, and compares them with memcmp. A few lines
// here rather than an import: every call is on a few hundred bytes.
#include <cstddef>
#include <span>

extern "C" {

#if defined(__x86_64__) || defined(__i386__)

void* memset(void* destination, int value, std::size_t count) {
  void* cursor = destination;
  asm volatile("rep stosb" : "+D"(cursor), "+c"(count) : "a"(value) : "memory");
  return destination;
}

void* memcpy(void* destination, const void* source, std::size_t count) {
  void* cursor = destination;
  asm volatile("rep movsb" : "+D"(cursor), "+S"(source), "+c"(count) : : "memory");
  return destination;
}

#else

// Plain loops; no_builtin keeps clang from making them calls to themselves.
__attribute__((no_builtin("memset"))) void* memset(void* destination, int value,
                                                   std::size_t count) {
  const std::span bytes{static_cast<unsigned char*>(destination), count};
  // Not std::fill: it may become a call to memset, which is this function.
  for (unsigned char& byte : bytes) {
    // cppcheck-suppress useStlAlgorithm
    byte = static_cast<unsigned char>(value);
  }
  return destination;
}

__attribute__((no_builtin("memcpy"))) void* memcpy(void* destination, const void* source,
                                                   std::size_t count) {
  const std::span to{static_cast<unsigned char*>(destination), count};
  const std::span from{static_cast<const unsigned char*>(source), count};
  for (std::size_t i = 0; i < count; ++i) {
    to[i] = from[i];
  }
  return destination;
}

#endif

int memcmp(const void* left, const void* right, std::size_t count) {
  const std::span a{static_cast<const unsigned char*>(left), count};
  const std::span b{static_cast<const unsigned char*>(right), count};
  for (std::size_t i = 0; i < count; ++i) {
    if (a[i] != b[i]) {
      return a[i] < b[i] ? -1 : 1;
    }
  }
  return 0;
}

}  // extern "C"
