// Built into the musl program only: the C library's allocator and the byte
// functions the engine leans on are replaced by those of this folder.
#include <cstddef>

#include "runtime.h"

namespace rt = qorvex::runtime;

extern "C" {

void* malloc(std::size_t size) { return rt::allocate(size); }
void* calloc(std::size_t count, std::size_t size) { return rt::allocateZeroed(count, size); }
void* realloc(void* block, std::size_t size) { return rt::resize(block, size); }
void free(void* block) { rt::release(block); }
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return rt::allocateAligned(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  return rt::allocateAligned(alignment, size);
}
int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
  void* block = rt::allocateAligned(alignment, size);
  if (block == nullptr) return 12;  // ENOMEM
  *result = block;
  return 0;
}
std::size_t malloc_usable_size(void* block) { return rt::usableSize(block); }

void* memchr(const void* bytes, int value, std::size_t length) {
  return const_cast<void*>(rt::findByte(bytes, value, length));
}
void* memcpy(void* target, const void* source, std::size_t length) {
  return rt::copyBytes(target, source, length);
}
void* memmove(void* target, const void* source, std::size_t length) {
  return rt::moveBytes(target, source, length);
}
void* memmem(const void* haystack, std::size_t length, const void* needle,
             std::size_t needleLength) {
  return const_cast<void*>(rt::findBytes(haystack, length, needle, needleLength));
}

}  // extern "C"
