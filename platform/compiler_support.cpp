// What GCC may call even in code that never names it, for a program linked
// without the C runtime: it copies and clears buffers (the 512-byte read, the
// profile) with memcpy and memset, and compares them with memcmp. A few lines
// here rather than an import: every call is on a few hundred bytes.
#include <cstddef>
#include <span>

extern "C" {

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
