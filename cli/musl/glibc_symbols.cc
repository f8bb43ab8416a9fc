// The C++ runtime libraries on this system were built for glibc and call three
// of its functions that musl does not have; the musl program brings them.
#include <link.h>
#include <sys/random.h>

#include <cstdint>
#include <cstring>

extern "C" {

// Lets the C++ library skip atomic operations in a program without threads.
// Zero keeps them: always correct.
char __libc_single_threaded = 0;

// std::random_device.
std::uint32_t arc4random(void) {
  std::uint32_t value = 0;
  while (::getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
  }
  return value;
}

// The unwinder asks, for a code address, where the exception tables of the
// loaded object that holds it lie. Same layout as glibc's on x86-64.
struct dl_find_object {
  unsigned long long dlfo_flags;
  void* dlfo_map_start;
  void* dlfo_map_end;
  struct link_map* dlfo_link_map;
  void* dlfo_eh_frame;
  unsigned long long reserved[7];
};

namespace {

struct Lookup {
  std::uintptr_t address;
  dl_find_object* result;
  bool found;
};

int findObject(dl_phdr_info* info, std::size_t, void* data) {
  auto* lookup = static_cast<Lookup*>(data);
  const ElfW(Phdr)* frames = nullptr;
  std::uintptr_t low = UINTPTR_MAX, high = 0;
  bool inside = false;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type == PT_LOAD) {
      const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
      const std::uintptr_t end = start + segment.p_memsz;
      low = start < low ? start : low;
      high = end > high ? end : high;
      if (lookup->address >= start && lookup->address < end) inside = true;
    } else if (segment.p_type == PT_GNU_EH_FRAME) {
      frames = &segment;
    }
  }
  if (!inside || frames == nullptr) return 0;
  std::memset(lookup->result, 0, sizeof *lookup->result);
  lookup->result->dlfo_map_start = reinterpret_cast<void*>(low);
  lookup->result->dlfo_map_end = reinterpret_cast<void*>(high);
  lookup->result->dlfo_eh_frame = reinterpret_cast<void*>(info->dlpi_addr + frames->p_vaddr);
  lookup->found = true;
  return 1;
}

}  // namespace

int _dl_find_object(void* address, dl_find_object* result) {
  Lookup lookup{reinterpret_cast<std::uintptr_t>(address), result, false};
  ::dl_iterate_phdr(findObject, &lookup);
  return lookup.found ? 0 : -1;
}

}  // extern "C"
