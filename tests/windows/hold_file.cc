// hold_file: holds a file open the way a program that reads it without
// sharing deletion does, for tests of what a run does meanwhile.
//
//   hold_file.exe PATH [SECONDS]
//
// Opens PATH for reading, shared for reading only (no FILE_SHARE_DELETE, no
// FILE_SHARE_WRITE), prints "holding" and waits until its standard input
// closes or SECONDS pass (default 60), then closes the file. Exit status 0,
// or 1 when the file cannot be opened, 64 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

DWORD WINAPI waitForEndOfInput(void*) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: hold_file.exe PATH [SECONDS]\n", stderr);
    return 64;
  }
  const unsigned long seconds = argc == 3 ? std::wcstoul(argv[2], nullptr, 10) : 60;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_file: cannot open the file: Win32 error %lu\n", GetLastError());
    return 1;
  }
  std::fputs("holding\n", stdout);
  std::fflush(stdout);
  // Standard input is read on a thread of its own, so that the wait below
  // can end on the clock as well.
  HANDLE reader = CreateThread(nullptr, 0, waitForEndOfInput, nullptr, 0, nullptr);
  if (reader != nullptr) {
    WaitForSingleObject(reader, seconds * 1000);
  } else {
    Sleep(seconds * 1000);
  }
  CloseHandle(file);
  std::fputs("released\n", stdout);
  std::fflush(stdout);
  // Returning would wait for the reader thread, which may still be blocked.
  ExitProcess(0);
}
