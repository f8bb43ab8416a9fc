#include "win32_test_support.h"

#include <vector>

namespace qorvex::test_support {
namespace {

// Calls `visit(name, attributes)` for each entry of a folder but "." and "..".
template <typename Visit>
void forEachEntry(const std::wstring& folder, Visit visit) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") visit(name, entry.dwFileAttributes);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

void snapshotInto(Tree& tree, const std::wstring& folder, const std::string& prefix) {
  forEachEntry(folder, [&](const std::wstring& name, DWORD attributes) {
    const std::wstring path = folder + L"\\" + name;
    const std::string relative = prefix + narrow(name);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      snapshotInto(tree, path, relative + "\\");
    } else {
      tree[relative] = readBytes(path);
    }
  });
}

}  // namespace

std::wstring wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                              static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                      out.data(), n);
  return out;
}

std::string narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16.data(),
                              static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16.data(), static_cast<int>(utf16.size()),
                      out.data(), n, nullptr, nullptr);
  return out;
}

void removeTree(const std::wstring& path) {
  forEachEntry(path, [&](const std::wstring& name, DWORD attributes) {
    const std::wstring child = path + L"\\" + name;
    SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      removeTree(child);
    } else {
      DeleteFileW(child.c_str());
    }
  });
  RemoveDirectoryW(path.c_str());
}

std::wstring makeScratchFolder(std::wstring_view prefix) {
  wchar_t temp[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  std::wstring folder(temp, length);
  folder.append(prefix);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  folder.append(std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(now.QuadPart));
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::string readBytes(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<cannot open: " + std::to_string(GetLastError()) + ">";
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

std::string fileIdOf(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<cannot open: " + std::to_string(GetLastError()) + ">";
  BY_HANDLE_FILE_INFORMATION info;
  const bool got = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  if (!got) return "<no information>";
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
         ":" + std::to_string(info.nFileIndexLow);
}

Tree snapshot(const std::wstring& root) {
  Tree tree;
  snapshotInto(tree, root, "");
  return tree;
}

bool copyTree(const std::wstring& from, const std::wstring& to) {
  if (!CreateDirectoryW(to.c_str(), nullptr)) return false;
  bool copied = true;
  forEachEntry(from, [&](const std::wstring& name, DWORD attributes) {
    const std::wstring source = from + L"\\" + name;
    const std::wstring target = to + L"\\" + name;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      copied = copyTree(source, target) && copied;
    } else {
      copied = CopyFileW(source.c_str(), target.c_str(), TRUE) && copied;
    }
  });
  return copied;
}

}  // namespace qorvex::test_support
