// Built into the musl program only: the C library's allocator and the byte
// functions the engine leans on are replaced by those of this folder.
#include <cerrno>
#include <cstddef>

#include "runtime.h"

namespace rt = qorvex::runtime;

extern "C" {

namespace {

// A failed allocation says why, as the C library's does.
void* orNoMemory(void* block) {
  if (block == nullptr) errno = ENOMEM;
  return block;
}

}  // namespace

void* malloc(std::size_t size) { return orNoMemory(rt::allocate(size)); }
void* calloc(std::size_t count, std::size_t size) {
  return orNoMemory(rt::allocateZeroed(count, size));
}
void* realloc(void* block, std::size_t size) {
  if (block != nullptr && size == 0) return rt::resize(block, size);  // freed, no error
  return orNoMemory(rt::resize(block, size));
}
void free(void* block) { rt::release(block); }
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return orNoMemory(rt::allocateAligned(alignment, size));
}
void* memalign(std::size_t alignment, std::size_t size) {
  return orNoMemory(rt::allocateAligned(alignment, size));
}
int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* block = rt::allocateAligned(alignment, size);
  if (block == nullptr) return ENOMEM;
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
