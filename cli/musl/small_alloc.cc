// A size-class allocator for a program that runs for milliseconds. musl's own
// allocator maps and unmaps memory for nearly every block it hands out and
// takes back, which costs a system call and a TLB flush each; here freed blocks
// wait on a list for the next request of their class, and memory comes from
// the system a megabyte at a time. Blocks above 256 KiB are mapped for
// themselves and unmapped when freed, so a 16 MiB file costs what it weighs.
#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime.h"

namespace qorvex::runtime {
namespace {

constexpr std::size_t kHeader = 16;
constexpr int kClasses = 15;  // 16 bytes << 0 .. 14: up to 256 KiB
constexpr std::size_t kLargest = std::size_t{16} << (kClasses - 1);
constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr std::size_t kPage = 4096;

// Each block is preceded by its header. `tag` says what kind of block it is
// and catches a pointer that did not come from here.
enum : std::uint32_t { kSmall = 0x51A110C0, kLarge = 0x51A110C1, kAligned = 0x51A110C2 };
struct Header {
  std::size_t size;  // small: the class; large: bytes mapped; aligned: offset to the block
  std::uint32_t tag;
  std::uint32_t unused;
};
static_assert(sizeof(Header) == kHeader);

struct FreeBlock {
  FreeBlock* next;
};

struct State {
  std::atomic_flag busy = ATOMIC_FLAG_INIT;
  FreeBlock* free[kClasses] = {};
  char* cursor = nullptr;
  char* end = nullptr;
};
State state;

class Guard {
 public:
  Guard() {
    while (state.busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~Guard() { state.busy.clear(std::memory_order_release); }
};

Header* headerOf(const void* block) {
  return reinterpret_cast<Header*>(static_cast<char*>(const_cast<void*>(block)) - kHeader);
}

int classFor(std::size_t size) {
  int k = 0;
  while ((std::size_t{16} << k) < size) ++k;
  return k;
}

void* mapFresh(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void* allocateLarge(std::size_t size) {
  if (size > SIZE_MAX - kHeader - kPage) return nullptr;
  const std::size_t bytes = (size + kHeader + kPage - 1) & ~(kPage - 1);
  auto* header = static_cast<Header*>(mapFresh(bytes));
  if (header == nullptr) return nullptr;
  header->size = bytes;
  header->tag = kLarge;
  return reinterpret_cast<char*>(header) + kHeader;
}

void* allocateSmall(int k) {
  Guard guard;
  if (FreeBlock* block = state.free[k]) {
    state.free[k] = block->next;
    return block;
  }
  const std::size_t need = kHeader + (std::size_t{16} << k);
  if (state.cursor == nullptr || static_cast<std::size_t>(state.end - state.cursor) < need) {
    auto* chunk = static_cast<char*>(mapFresh(kChunk));
    if (chunk == nullptr) return nullptr;
    state.cursor = chunk;
    state.end = chunk + kChunk;
  }
  auto* header = reinterpret_cast<Header*>(state.cursor);
  state.cursor += need;
  header->size = static_cast<std::size_t>(k);
  header->tag = kSmall;
  return reinterpret_cast<char*>(header) + kHeader;
}

[[noreturn]] void foreignBlock() { std::abort(); }

}  // namespace

void* allocate(std::size_t size) {
  return size > kLargest ? allocateLarge(size) : allocateSmall(classFor(size));
}

void* allocateZeroed(std::size_t count, std::size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  void* block = allocate(count * size);
  if (block != nullptr) std::memset(block, 0, count * size);
  return block;
}

void* allocateAligned(std::size_t alignment, std::size_t size) {
  if (alignment <= kHeader) return allocate(size);
  if ((alignment & (alignment - 1)) != 0 || size > SIZE_MAX - alignment - kHeader) return nullptr;
  char* block = static_cast<char*>(allocate(size + alignment + kHeader));
  if (block == nullptr) return nullptr;
  const auto address = reinterpret_cast<std::uintptr_t>(block) + kHeader;
  char* aligned = reinterpret_cast<char*>((address + alignment - 1) & ~(alignment - 1));
  Header* header = headerOf(aligned);
  header->size = static_cast<std::size_t>(aligned - block);
  header->tag = kAligned;
  return aligned;
}

std::size_t usableSize(const void* block) {
  if (block == nullptr) return 0;
  const Header* header = headerOf(block);
  switch (header->tag) {
    case kSmall: return std::size_t{16} << header->size;
    case kLarge: return header->size - kHeader;
    case kAligned: {
      const char* original = static_cast<const char*>(block) - header->size;
      return usableSize(original) - header->size;
    }
  }
  foreignBlock();
}

void release(void* block) {
  if (block == nullptr) return;
  Header* header = headerOf(block);
  switch (header->tag) {
    case kSmall: {
      const auto k = header->size;
      Guard guard;
      auto* free = static_cast<FreeBlock*>(block);
      free->next = state.free[k];
      state.free[k] = free;
      return;
    }
    case kLarge: (void)::munmap(header, header->size); return;
    case kAligned: release(static_cast<char*>(block) - header->size); return;
  }
  // Not from here: the C library allocates a few things for itself (locales,
  // exit handlers) with its own allocator. Leaving such a block is harmless
  // in a program that runs for milliseconds; freeing it here would not be.
}

void* resize(void* block, std::size_t size) {
  if (block == nullptr) return allocate(size);
  if (size == 0) {
    release(block);
    return nullptr;
  }
  const std::size_t have = usableSize(block);
  if (size <= have) return block;
  Header* header = headerOf(block);
  if (header->tag == kLarge && size <= SIZE_MAX - kHeader - kPage) {
    // A large block grows where it is, or moves without its bytes being copied.
    const std::size_t bytes = (size + kHeader + kPage - 1) & ~(kPage - 1);
    void* moved = ::mremap(header, header->size, bytes, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) return nullptr;
    header = static_cast<Header*>(moved);
    header->size = bytes;
    return reinterpret_cast<char*>(header) + kHeader;
  }
  void* grown = allocate(size);
  if (grown == nullptr) return nullptr;
  std::memcpy(grown, block, have);
  release(block);
  return grown;
}

}  // namespace qorvex::runtime
