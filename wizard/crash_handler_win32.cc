#include "crash_handler_win32.h"

#include <windows.h>

#include <csignal>
#include <cstdint>
#include <exception>

namespace qorvex::wizard {
namespace {

constexpr UINT kCrashExitCode = 3;

// Reports are composed here: a crashed process may have no usable heap.
char gReport[4096];
std::size_t gUsed = 0;
volatile LONG gReporting = 0;

void put(std::string_view text) {
  for (char c : text) {
    if (gUsed < sizeof gReport) gReport[gUsed++] = c;
  }
}

void putHex(std::uint64_t value, int width = 16) {
  char digits[18] = {'0', 'x'};
  for (int i = 0; i < width; ++i) {
    digits[2 + i] = "0123456789abcdef"[(value >> (4 * (width - 1 - i))) & 0xF];
  }
  put(std::string_view(digits, 2 + width));
}

// "Name.exe+0x1234" for an address inside a loaded module.
void putLocation(const void* address) {
  putHex(reinterpret_cast<std::uintptr_t>(address));
  // A null address would name the program's own module.
  if (address == nullptr) return;
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module)) {
    return;
  }
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(module, path, sizeof path);
  if (n == 0 || n >= sizeof path) return;
  std::string_view name(path, n);
  const std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  put(" (");
  put(name);
  put("+");
  putHex(reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(module));
  put(")");
}

void putStackTrace() {
  void* frames[32];
  const USHORT count = RtlCaptureStackBackTrace(2, 32, frames, nullptr);
  for (USHORT i = 0; i < count && frames[i] != nullptr; ++i) {
    put("  at ");
    putLocation(frames[i]);
    put("\r\n");
  }
}

[[noreturn]] void finish() {
  writeStandardError(std::string_view(gReport, gUsed));
  TerminateProcess(GetCurrentProcess(), kCrashExitCode);
  for (;;) Sleep(INFINITE);
}

// Only the first report of a process is written; a fault while reporting ends
// the process at once.
bool beginReport() {
  if (InterlockedExchange(&gReporting, 1) != 0) {
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return false;
  }
  gUsed = 0;
  return true;
}

std::string_view exceptionName(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
    case EXCEPTION_PRIV_INSTRUCTION: return "privileged instruction";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return "misaligned access";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "integer division by zero";
    case EXCEPTION_IN_PAGE_ERROR: return "in-page error";
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "array bounds exceeded";
    default: return "unhandled exception";
  }
}

[[noreturn]] void reportCrash(EXCEPTION_POINTERS* info) {
  beginReport();
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  put("crash: ");
  put(exceptionName(record->ExceptionCode));
  put(" (code ");
  putHex(record->ExceptionCode, 8);
  put(") at ");
  putLocation(record->ExceptionAddress);
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    put(record->ExceptionInformation[0] == 8   ? ", executing "
        : record->ExceptionInformation[0] == 1 ? ", writing "
                                               : ", reading ");
    putHex(record->ExceptionInformation[1]);
  }
  put("\r\n");
  putStackTrace();
  finish();
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info) { reportCrash(info); }

// An overflowed stack may not have room for the unhandled-exception filter,
// so stack overflow is caught first, on the guaranteed reserve below.
LONG WINAPI onFirstChanceException(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) reportCrash(info);
  return EXCEPTION_CONTINUE_SEARCH;
}

void onTerminate() {
  std::string_view what = "uncaught exception";
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      reportInternalError(e.what());
    } catch (...) {
    }
  }
  reportInternalError(what);
}

void onAbort(int) { reportInternalError("abort"); }

}  // namespace

void writeStandardError(std::string_view bytes) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(err, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written == 0) {
      return;
    }
    bytes.remove_prefix(written);
  }
}

void reportInternalError(std::string_view what) {
  beginReport();
  put("internal error: ");
  put(what);
  put("\r\n");
  putStackTrace();
  finish();
}

void installCrashHandler() {
  ULONG reserve = 64 * 1024;
  SetThreadStackGuarantee(&reserve);
  AddVectoredExceptionHandler(1, onFirstChanceException);
  SetUnhandledExceptionFilter(onUnhandledException);
  std::set_terminate(onTerminate);
  std::signal(SIGABRT, onAbort);
  // No system error boxes: a crash is reported on stderr only.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

}  // namespace qorvex::wizard
