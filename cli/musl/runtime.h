// The pieces of the C runtime that the musl build of qorvex-patch brings
// itself: an allocator that keeps freed memory for the next request, and byte
// searches, copies and moves 16 bytes at a time. libc_exports.cc makes them
// the program's malloc, memchr, memcpy, memmove and memmem; the tests call them by these
// names.
#pragma once

#include <cstddef>

namespace qorvex::runtime {

void* allocate(std::size_t size);
void* allocateZeroed(std::size_t count, std::size_t size);
void* allocateAligned(std::size_t alignment, std::size_t size);
void* resize(void* block, std::size_t size);
void release(void* block);
std::size_t usableSize(const void* block);

const void* findByte(const void* bytes, int value, std::size_t length);
// The target may overlap the source only where it starts before it.
void* copyBytes(void* target, const void* source, std::size_t length);
void* moveBytes(void* target, const void* source, std::size_t length);
// Linear in the haystack whatever the needle.
const void* findBytes(const void* haystack, std::size_t length, const void* needle,
                      std::size_t needleLength);

}  // namespace qorvex::runtime
