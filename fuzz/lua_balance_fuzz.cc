// checkLuaBalance against the byte-at-a-time reference: same verdict, same
// message, for every input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_input.h"
#include "lua_balance.h"
#include "reference_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  QORVEX_FUZZ_CHECK(qorvex::checkLuaBalance(text) == qorvex::checkLuaBalanceReference(text));
  return 0;
}
