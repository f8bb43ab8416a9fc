// Walks TindrelleUndoSetup.exe the way a user would, from another process:
// finds the window by class and title and the controls by id, reads texts with
// WM_GETTEXT, clicks with BM_CLICK, answers the message boxes, checks the game
// files on disk and saves screenshots of what the user sees.
//
//   qorvex_gui_driver.exe --exe SETUP.EXE --work DIR --shots DIR
//                         [--dpi N] [--holder HOLD_FILE.EXE] [--steam STEAM_DIR]
//
// DIR must hold (scripts/run_gui_tests.sh lays it out):
//   game-check\, game-install\    synthetic game installs
//   game-held\, game-keys\        more of them, for the held-file and keyboard walks
//   game-blocked\                 one whose toolbar has an anchor edited away
//   steam-lib\steamapps\common\DCSWorld\   a game install in a Steam library
//   nogame\                       a folder without MissionEditor
//   with-exe\                     a game install holding a copy of the program
// --dpi is the DPI the Wine prefix is set to (96 by default): every place and
// font is checked scaled to it. --holder is tests/windows/hold_file.exe, for
// a file held open by another process and a running DCS.exe. --steam is the
// prefix's Steam folder (C:\Program Files (x86)\Steam), where the walk writes
// a libraryfolders.vdf and finds DCSWorld.parked to move into the default
// library for a while.
// Prints one "ok"/"not ok" line per check and ends with "N passed, M failed".
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "payload.h"

namespace {

// ---------------------------------------------------------------------------
// Reporting

int gPassed = 0;
int gFailed = 0;

std::string narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// Control characters made visible so that a mismatch can be read.
std::string shown(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out;
}

void check(bool ok, std::string_view what, std::string_view detail = {}) {
  if (ok) {
    ++gPassed;
    std::printf("ok %d - %.*s\n", gPassed + gFailed, static_cast<int>(what.size()), what.data());
  } else {
    ++gFailed;
    std::printf("not ok %d - %.*s\n", gPassed + gFailed, static_cast<int>(what.size()),
                what.data());
    if (!detail.empty()) {
      std::printf("    %.*s\n", static_cast<int>(detail.size()), detail.data());
    }
  }
  std::fflush(stdout);
}

void checkText(std::string_view actual, std::string_view expected, std::string_view what) {
  check(actual == expected, what,
        "expected \"" + shown(expected) + "\"\n    actual   \"" + shown(actual) + "\"");
}

template <typename T>
void checkEqual(const T& actual, const T& expected, std::string_view what) {
  check(actual == expected, what,
        "expected " + std::to_string(expected) + ", actual " + std::to_string(actual));
}

// ---------------------------------------------------------------------------
// The program under test

constexpr wchar_t kClass[] = L"QorvexUndoInstallerWindow";
constexpr wchar_t kTitle[] = L"Tindrelle \u2013 DCS ME Undo Setup";
constexpr std::string_view kTitleUtf8 = "Tindrelle \xE2\x80\x93 DCS ME Undo Setup";
constexpr DWORD kTimeoutMs = 30000;

// The DPI of the Wine prefix; every place and font height of the window is
// that many 96ths of what it is at 96 DPI.
unsigned gDpi = 96;

double scaled(double value, unsigned dpi = gDpi) { return value * dpi / 96.0; }
long roundedScale(long value, unsigned dpi = gDpi) {
  return static_cast<long>(std::lround(scaled(static_cast<double>(value), dpi)));
}

enum Id {
  kTitleLabel = 90,
  kSubtitle = 91,
  kTopSeparator = 92,
  kBottomSeparator = 93,
  kAgreement = 100,
  kAccept = 101,
  kDecline = 102,
  kDirLabel = 110,
  kDir = 111,
  kBrowse = 112,
  kDryRun = 113,
  kInstall = 114,
  kUninstall = 115,
  kLogLabel = 116,
  kLog = 117,
  kNext = 120,
  kCancel = 121,
  kBack = 122,
};

struct Expected {
  int id;
  const char* className;
  const char* text;
  int x, y, w, h;
  DWORD style;
};

constexpr DWORD kReadOnlyEdit =
    WS_CHILD | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | ES_WANTRETURN;

// Creation order, the style without WS_VISIBLE (checked per page).
const Expected kExpected[] = {
    {kTitleLabel, "Static", "License Agreement", 18, 12, 628, 20, WS_CHILD},
    {kSubtitle, "Static", "Please read the following important information before continuing.", 18,
     34, 628, 18, WS_CHILD},
    {kTopSeparator, "Static", "", 0, 58, 664, 2, WS_CHILD | SS_ETCHEDHORZ},
    {kAgreement, "Edit", nullptr, 18, 74, 628, 282, kReadOnlyEdit},
    {kAccept, "Button", "I accept the agreement", 18, 368, 628, 20,
     WS_CHILD | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON},
    {kDecline, "Button", "I do not accept the agreement", 18, 392, 628, 20,
     WS_CHILD | WS_TABSTOP | BS_AUTORADIOBUTTON},
    {kDirLabel, "Static", "Game install directory:", 18, 74, 628, 18, WS_CHILD},
    {kDir, "Edit", "", 18, 96, 528, 24, WS_CHILD | WS_BORDER | WS_TABSTOP},
    {kBrowse, "Button", "Browse...", 556, 96, 90, 24, WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON},
    {kDryRun, "Button", "Dry run (logging only)", 18, 138, 628, 20,
     WS_CHILD | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON},
    {kInstall, "Button", "Install", 18, 162, 628, 20, WS_CHILD | WS_TABSTOP | BS_AUTORADIOBUTTON},
    {kUninstall, "Button", "Uninstall", 18, 186, 628, 20,
     WS_CHILD | WS_TABSTOP | BS_AUTORADIOBUTTON},
    {kLogLabel, "Static", "Log:", 18, 218, 200, 18, WS_CHILD},
    {kLog, "Edit", "", 18, 238, 628, 174, kReadOnlyEdit},
    {kBottomSeparator, "Static", "", 0, 424, 664, 2, WS_CHILD | SS_ETCHEDHORZ},
    {kBack, "Button", "< Back", 360, 438, 90, 28, WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON},
    {kNext, "Button", "Next", 458, 438, 90, 28, WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON},
    {kCancel, "Button", "Cancel", 556, 438, 90, 28, WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON},
};

const std::vector<int> kAgreementVisible = {90, 91, 92, 100, 101, 102, 93, 120, 121};
const std::vector<int> kActionVisible = {90,  91,  92,  110, 111, 112, 113, 114,
                                         115, 116, 117, 93,  122, 120, 121};
const std::vector<int> kCompleteVisible = {90,  91,  92,  110, 111, 112, 113,
                                           114, 115, 116, 117, 93,  120};

std::string joinIds(const std::vector<int>& ids) {
  std::string out;
  for (int id : ids) {
    if (!out.empty()) out += ' ';
    out += std::to_string(id);
  }
  return out;
}

std::string windowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return "<no answer>";
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  text.resize(copied);
  return narrow(text);
}

std::wstring className(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

void pause(DWORD ms) { Sleep(ms); }

// Waits until `done` holds, polling; false on timeout.
bool waitFor(const std::function<bool()>& done, DWORD timeoutMs = kTimeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > end) return false;
    Sleep(50);
  }
  return true;
}

// ---------------------------------------------------------------------------
// The keyboard, as the user's: through the system's input queue, so that the
// program's message loop, key state and dialog manager see real key strokes.

INPUT keyInput(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  if (vk == VK_UP || vk == VK_DOWN || vk == VK_LEFT || vk == VK_RIGHT) {
    in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  }
  return in;
}

// One key with modifiers (VK_SHIFT, VK_MENU) held around it. The program takes
// a moment to handle it; callers wait for what it should do.
void pressKey(WORD vk, std::initializer_list<WORD> modifiers = {}) {
  std::vector<INPUT> inputs;
  for (WORD m : modifiers) inputs.push_back(keyInput(m, false));
  inputs.push_back(keyInput(vk, false));
  inputs.push_back(keyInput(vk, true));
  for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it) {
    inputs.push_back(keyInput(*it, true));
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  Sleep(150);
}

void typeText(std::wstring_view text) {
  for (wchar_t c : text) {
    INPUT in[2]{};
    for (int i = 0; i < 2; ++i) {
      in[i].type = INPUT_KEYBOARD;
      in[i].ki.wScan = c;
      in[i].ki.dwFlags = KEYEVENTF_UNICODE | (i == 1 ? KEYEVENTF_KEYUP : 0);
    }
    SendInput(2, in, sizeof(INPUT));
  }
  Sleep(300);
}

// ---------------------------------------------------------------------------
// Files

using Tree = std::map<std::wstring, std::string>;

std::optional<std::string> readFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

void walk(const std::wstring& root, const std::wstring& rel, Tree& tree) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((root + L"\\" + rel + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[rel + name + L"\\"] = "";
      walk(root, rel + name + L"\\", tree);
    } else {
      tree[rel + name] = readFile(root + L"\\" + rel + name).value_or("<unreadable>");
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

Tree snapshot(const std::wstring& root) {
  Tree tree;
  walk(root, L"", tree);
  return tree;
}

std::string describeDifference(const Tree& before, const Tree& after) {
  std::string out;
  for (const auto& [name, bytes] : before) {
    auto it = after.find(name);
    if (it == after.end()) {
      out += "removed " + narrow(name) + "; ";
    } else if (it->second != bytes) {
      out += "changed " + narrow(name) + "; ";
    }
  }
  for (const auto& [name, bytes] : after) {
    if (!before.count(name)) out += "added " + narrow(name) + "; ";
  }
  return out;
}

// The relativePath values of the carried manifest, in order.
std::vector<std::wstring> manifestPaths() {
  std::vector<std::wstring> paths;
  const std::string_view* manifest = qorvex::findEmbeddedText("manifest.json");
  if (manifest == nullptr) return paths;
  const std::string_view key = "\"relativePath\"";
  std::size_t at = 0;
  while ((at = manifest->find(key, at)) != std::string_view::npos) {
    at = manifest->find('"', manifest->find(':', at + key.size()));
    std::string value;
    for (++at; at < manifest->size() && (*manifest)[at] != '"'; ++at) {
      if ((*manifest)[at] == '\\' && at + 1 < manifest->size()) ++at;
      value += (*manifest)[at];
    }
    paths.push_back(widen(value));
  }
  return paths;
}

// ---------------------------------------------------------------------------
// Screenshots: the whole screen as a 24-bit BMP.

void screenshot(const std::wstring& dir, const std::wstring& name) {
  // The program paints when its queue runs empty; give it that moment.
  Sleep(600);
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY | CAPTUREBLT);
  GdiFlush();
  const DWORD stride = ((width * 3) + 3) & ~3u;
  const DWORD imageSize = stride * height;
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + imageSize;
  const std::wstring path = dir + L"\\" + name + L".bmp";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  bool ok = file != INVALID_HANDLE_VALUE && bits != nullptr;
  if (ok) {
    DWORD written;
    ok = WriteFile(file, &header, sizeof header, &written, nullptr) &&
         WriteFile(file, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
         WriteFile(file, bits, imageSize, &written, nullptr);
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  check(ok, "screenshot " + narrow(name));
}

// ---------------------------------------------------------------------------
// One run of the program.

struct Box {
  HWND window = nullptr;
  std::string caption;
  std::string text;
  std::vector<int> buttons;  // ids of the buttons it offers, ascending
};

class Wizard {
 public:
  Wizard(const std::wstring& exe, const std::wstring& work) {
    stderrPath_ = work + L"\\stderr-" + std::to_wstring(++count_) + L".txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE err = CreateFileW(stderrPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = err;
    startup.hStdError = err;
    std::wstring command = L"\"" + exe + L"\"";
    PROCESS_INFORMATION process{};
    const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    started_ = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              folder.c_str(), &startup, &process);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    if (!started_) return;
    process_ = process.hProcess;
    pid_ = process.dwProcessId;
    CloseHandle(process.hThread);
    waitFor([&] {
      HWND found = nullptr;
      while ((found = FindWindowExW(nullptr, found, kClass, kTitle)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(found, &owner);
        if (owner == pid_ && IsWindowVisible(found)) {
          main_ = found;
          return true;
        }
      }
      return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
    });
  }
  ~Wizard() {
    if (process_ != nullptr) {
      if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
      CloseHandle(process_);
    }
  }

  bool ok() const { return started_ && main_ != nullptr; }
  HWND main() const { return main_; }
  HANDLE process() const { return process_; }
  HWND control(int id) const { return GetDlgItem(main_, id); }
  std::string text(int id) const { return windowText(control(id)); }
  bool visible(int id) const { return (GetWindowLongW(control(id), GWL_STYLE) & WS_VISIBLE) != 0; }
  bool enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }
  bool checked(int id) const {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(control(id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
    return state == BST_CHECKED;
  }
  std::vector<int> visibleIds() const {
    std::vector<int> ids;
    for (HWND child = GetWindow(main_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      if (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) ids.push_back(GetDlgCtrlID(child));
    }
    return ids;
  }
  std::string log() const { return text(kLog); }
  DWORD thread() const { return GetWindowThreadProcessId(main_, nullptr); }

  // The id of the control that has the keyboard focus in the program: 0 for
  // none, -1 for a window that is not one of its controls.
  int focused() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(thread(), &info) || info.hwndFocus == nullptr) return 0;
    if (GetParent(info.hwndFocus) != main_) return -1;
    return GetDlgCtrlID(info.hwndFocus);
  }
  bool waitForFocus(int id, DWORD timeoutMs = 5000) const {
    return waitFor([&] { return focused() == id; }, timeoutMs);
  }
  // Keys go where the user's would: to the foreground window.
  bool toFront(HWND window = nullptr) const {
    HWND target = window != nullptr ? window : main_;
    return waitFor(
        [&] {
          if (GetForegroundWindow() == target) return true;
          SetForegroundWindow(target);
          return false;
        },
        5000);
  }

  // A click that opens no box: the call returns when the wizard handled it.
  void click(int id) {
    DWORD_PTR ignored;
    SendMessageTimeoutW(control(id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &ignored);
  }
  // A click whose handling may show a modal box: posted, so this side can go
  // on and answer the box.
  void post(int id) { PostMessageW(control(id), BM_CLICK, 0, 0); }
  // Through the agreement to the action page, with `game` typed in and the
  // action `radio` chosen; the caller presses Next.
  void chooseAction(std::string_view game, int radio) {
    click(kAccept);
    click(kNext);
    setDir(game);
    click(radio);
  }
  void setDir(std::string_view utf8) {
    const std::wstring text = widen(utf8);
    DWORD_PTR ignored;
    SendMessageTimeoutW(control(kDir), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 5000, &ignored);
  }

  // The message box the wizard shows, once it is up.
  std::optional<Box> waitForBox(DWORD timeoutMs = kTimeoutMs) {
    std::optional<Box> box;
    waitFor(
        [&] {
          box = currentBox();
          return box.has_value();
        },
        timeoutMs);
    return box;
  }
  std::optional<Box> currentBox() {
    HWND found = nullptr;
    while ((found = FindWindowExW(nullptr, found, L"#32770", nullptr)) != nullptr) {
      if (GetWindow(found, GW_OWNER) != main_ || !IsWindowVisible(found)) continue;
      Box box;
      box.window = found;
      box.caption = windowText(found);
      for (HWND child = GetWindow(found, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring cls = className(child);
        if (lstrcmpiW(cls.c_str(), L"Static") == 0) {
          const std::string text = windowText(child);
          if (!text.empty()) box.text = text;
        } else if (lstrcmpiW(cls.c_str(), L"Button") == 0 &&
                   (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) {
          box.buttons.push_back(GetDlgCtrlID(child));
        }
      }
      std::sort(box.buttons.begin(), box.buttons.end());
      return box;
    }
    return std::nullopt;
  }
  void answer(const Box& box, int button) {
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, button)));
    waitFor([&] { return !IsWindow(box.window); });
  }

  // Exit code once the process ended, or nothing after the timeout.
  std::optional<DWORD> exitCode(DWORD timeoutMs = kTimeoutMs) {
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }
  std::string standardError() const { return readFile(stderrPath_).value_or(""); }

 private:
  static inline int count_ = 0;
  bool started_ = false;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND main_ = nullptr;
  std::wstring stderrPath_;
};

// ---------------------------------------------------------------------------
// Checks shared by the walks

void checkPage(Wizard& w, std::string_view page) {
  const std::string where = " (" + std::string(page) + " page)";
  if (page == "agreement") {
    checkText(joinIds(w.visibleIds()), joinIds(kAgreementVisible),
              std::string("visible controls") + where);
    checkText(w.text(kTitleLabel), "License Agreement", "title" + where);
    checkText(w.text(kSubtitle),
              "Please read the following important information before continuing.",
              "subtitle" + where);
    checkText(w.text(kNext), "Next", "Next button text" + where);
    checkText(w.text(kCancel), "Cancel", "Cancel button text" + where);
  } else if (page == "action") {
    checkText(joinIds(w.visibleIds()), joinIds(kActionVisible),
              std::string("visible controls") + where);
    checkText(w.text(kTitleLabel), "Select Setup Action", "title" + where);
    checkText(w.text(kSubtitle), "Choose whether to check, install, or uninstall the Undo feature.",
              "subtitle" + where);
    checkText(w.text(kNext), "Next", "Next button text" + where);
    checkText(w.text(kCancel), "Cancel", "Cancel button text" + where);
  } else {
    checkText(joinIds(w.visibleIds()), joinIds(kCompleteVisible),
              std::string("visible controls") + where);
    checkText(w.text(kTitleLabel), "Setup Complete", "title" + where);
    checkText(w.text(kSubtitle), "Review the log below, then close this window.",
              "subtitle" + where);
    checkText(w.text(kNext), "Close", "Next button reads Close" + where);
    check(w.enabled(kNext), "Close enabled" + where);
  }
}

bool onPage(Wizard& w, std::string_view title) { return w.text(kTitleLabel) == title; }

std::string boxButtons(const Box& box) { return joinIds(box.buttons); }

void checkBox(const std::optional<Box>& box, std::string_view text, const std::vector<int>& buttons,
              std::string_view what) {
  check(box.has_value(), std::string(what) + std::string(": box shown"));
  if (!box) return;
  checkText(box->caption, kTitleUtf8, std::string(what) + std::string(": box caption"));
  checkText(box->text, text, std::string(what) + std::string(": box text"));
  checkText(boxButtons(*box), joinIds(buttons), std::string(what) + std::string(": box buttons"));
}

void checkExit(Wizard& w, std::string_view what) {
  const std::optional<DWORD> code = w.exitCode();
  check(code.has_value(), std::string(what) + std::string(": process ended"));
  if (code) checkEqual<unsigned long>(*code, 0, std::string(what) + std::string(": exit code 0"));
}

std::string agreementShown() {
  const std::string_view* stored = qorvex::findEmbeddedText("agreement.txt");
  std::string out;
  if (stored == nullptr) return "<agreement not carried>";
  for (char c : *stored) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string header(std::string_view dir, std::string_view action) {
  return "\r\nGame install directory: " + std::string(dir) + "\r\nAction: " + std::string(action) +
         "\r\n\r\n";
}

// ---------------------------------------------------------------------------
// Places and fonts at a DPI

// The control's place in the main window's client area: at 96 DPI exactly the
// table's, at another DPI every edge within a pixel of the table's scaled.
void checkPlace(HWND main, HWND child, const Expected& e, unsigned dpi, const std::string& name) {
  const bool isEtched = (e.style & SS_TYPEMASK) == SS_ETCHEDHORZ &&
                        lstrcmpiW(className(child).c_str(), L"Static") == 0;
  const LONG_PTR ex = GetWindowLongPtrW(child, GWL_EXSTYLE);
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&r), 2);
  long width = r.right - r.left;
  // Wine widens an etched line's window by its static edge.
  if (isEtched && (ex & WS_EX_STATICEDGE) && width == roundedScale(e.w, dpi) + 2) width -= 2;
  char place[64], want[96];
  std::snprintf(place, sizeof place, "%ld,%ld %ldx%ld", r.left, r.top, width, r.bottom - r.top);
  if (dpi == 96) {
    std::snprintf(want, sizeof want, "%d,%d %dx%d", e.x, e.y, e.w, e.h);
    checkText(place, want, name + " position and size");
    return;
  }
  const auto within = [](double actual, double expected) {
    return std::fabs(actual - expected) <= 1.0;
  };
  // Wine makes a new etched line's window as high as its etched edge, 2
  // pixels at any DPI; moved later, it keeps the height it is given.
  const bool systemHeight = isEtched && r.bottom - r.top == 2;
  const bool ok = within(r.left, scaled(e.x, dpi)) && within(r.top, scaled(e.y, dpi)) &&
                  within(r.left + width, scaled(e.x + e.w, dpi)) &&
                  (within(r.bottom, scaled(e.y + e.h, dpi)) || systemHeight);
  std::snprintf(want, sizeof want, "%.1f,%.1f %.1fx%.1f", scaled(e.x, dpi), scaled(e.y, dpi),
                scaled(e.w, dpi), scaled(e.h, dpi));
  check(ok, name + " position and size scaled to " + std::to_string(dpi) + " DPI",
        std::string("expected ") + want + " within a pixel, actual " + place);
  std::printf("#   %s at %u DPI: %s (96 DPI: %d,%d %dx%d)\n", name.c_str(), dpi, place, e.x, e.y,
              e.w, e.h);
}

void checkLayout(Wizard& w, unsigned dpi, std::string_view when) {
  std::size_t i = 0;
  for (HWND child = GetWindow(w.main(), GW_CHILD); child && i < std::size(kExpected);
       child = GetWindow(child, GW_HWNDNEXT), ++i) {
    checkPlace(w.main(), child, kExpected[i], dpi,
               "control " + std::to_string(kExpected[i].id) + " " + std::string(when));
  }
}

// The dark pixels' bounding box in a block of 32-bit pixels: where text lies.
struct Ink {
  int left = 0, top = 0, right = -1, bottom = -1;
  int width() const { return right - left + 1; }
  int height() const { return bottom - top + 1; }
};

Ink inkOf(const std::vector<std::uint32_t>& pixels, int width, int height) {
  Ink ink{width, height, -1, -1};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
      const int luminance = ((p >> 16 & 0xFF) * 3 + (p >> 8 & 0xFF) * 6 + (p & 0xFF)) / 10;
      if (luminance >= 128) continue;
      ink.left = std::min(ink.left, x);
      ink.top = std::min(ink.top, y);
      ink.right = std::max(ink.right, x);
      ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

// Copies a block from `source` (or, with text, draws that text as a static
// control would, black on white in the given font) into 32-bit pixels.
std::vector<std::uint32_t> pixelsOf(HDC source, int x, int y, int width, int height,
                                    const wchar_t* text = nullptr, int fontHeight = 0,
                                    int weight = 0) {
  std::vector<std::uint32_t> out(static_cast<std::size_t>(width) * height, 0xFFFFFF);
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) {
    DeleteDC(memory);
    return out;
  }
  HGDIOBJ old = SelectObject(memory, bitmap);
  if (text == nullptr) {
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
  } else {
    PatBlt(memory, 0, 0, width, height, WHITENESS);
    HFONT font =
        CreateFontW(fontHeight, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Segoe UI");
    HGDIOBJ oldFont = SelectObject(memory, font);
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, RGB(0, 0, 0));
    RECT area{0, 0, width, height};
    DrawTextW(memory, text, -1, &area, DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK);
    SelectObject(memory, oldFont);
    DeleteObject(font);
  }
  GdiFlush();
  std::copy_n(static_cast<const std::uint32_t*>(bits), out.size(), out.data());
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return out;
}

// The text a label shows on screen has the size that the font of that DPI
// gives it: the font was made for the DPI, not taken as it is at 96.
void checkFont(Wizard& w, int id, const wchar_t* text, int height96, int weight, unsigned dpi,
               std::string_view what) {
  RECT r{};
  GetWindowRect(w.control(id), &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  const Ink shown = inkOf(pixelsOf(screen, r.left, r.top, width, height), width, height);
  const int fontHeight = static_cast<int>(roundedScale(height96, dpi));
  const Ink expected =
      inkOf(pixelsOf(screen, 0, 0, width, height, text, fontHeight, weight), width, height);
  const Ink unscaled =
      inkOf(pixelsOf(screen, 0, 0, width, height, text, height96, weight), width, height);
  ReleaseDC(nullptr, screen);
  char detail[200];
  std::snprintf(detail, sizeof detail,
                "text on screen %dx%d; a %d px font gives %dx%d, the 96 DPI one %dx%d",
                shown.width(), shown.height(), fontHeight, expected.width(), expected.height(),
                unscaled.width(), unscaled.height());
  check(shown.right >= 0 && std::abs(shown.width() - expected.width()) <= 2 &&
            std::abs(shown.height() - expected.height()) <= 1,
        std::string(what) + " font at " + std::to_string(dpi) + " DPI", detail);
  std::printf("#   %.*s at %u DPI: %s\n", static_cast<int>(what.size()), what.data(), dpi, detail);
}

// ---------------------------------------------------------------------------
// The walks

struct Paths {
  std::wstring exe;  // a copy of the program in a folder without MissionEditor
  std::wstring work;
  std::wstring shots;
  std::wstring gameCheck;
  std::wstring gameInstall;
  std::wstring noGame;
  std::wstring withExe;  // game install holding a copy of the program
  std::wstring gameHeld;
  std::wstring gameKeys;
  std::wstring gameBlocked;
  std::wstring steamLib;  // a Steam library holding a game install
  std::wstring holder;    // hold_file.exe
  std::wstring steam;     // the prefix's Steam folder
};

// Window, controls and the agreement page; the Next rule; Back; the
// rejections; a declined confirmation; a confirmed CHECK; Close.
void walkAgreementActionAndCheck(const Paths& p) {
  std::printf("# walk: agreement, action page, rejections, CHECK\n");
  Wizard w(p.exe, p.work);
  check(w.ok(), "wizard window found by class and title");
  if (!w.ok()) return;

  const LONG style = GetWindowLongW(w.main(), GWL_STYLE);
  checkEqual<long>(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                            WS_THICKFRAME | WS_CHILD | WS_POPUP),
                   WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                   "window style: caption, system menu, minimise box, fixed size");
  RECT client{};
  GetClientRect(w.main(), &client);
  checkEqual<long>(client.right - client.left, roundedScale(664),
                   "client width " + std::to_string(roundedScale(664)));
  checkEqual<long>(client.bottom - client.top, roundedScale(480),
                   "client height " + std::to_string(roundedScale(480)));
  checkEqual<unsigned>(GetDpiForWindow(w.main()), gDpi,
                       "the window's DPI is the prefix's " + std::to_string(gDpi));

  // Every control, in creation (z-) order, with class, place, style and text.
  std::vector<HWND> children;
  for (HWND child = GetWindow(w.main(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  checkEqual<std::size_t>(children.size(), std::size(kExpected), "18 child controls");
  for (std::size_t i = 0; i < children.size() && i < std::size(kExpected); ++i) {
    const Expected& e = kExpected[i];
    HWND child = children[i];
    const std::string name = "control " + std::to_string(e.id);
    checkEqual<int>(GetDlgCtrlID(child), e.id,
                    "control #" + std::to_string(i) + " has id " + std::to_string(e.id));
    checkText(narrow(className(child)), e.className, name + " class");
    const bool isEdit = lstrcmpiW(className(child).c_str(), L"Edit") == 0;
    const bool isEtched = (e.style & SS_TYPEMASK) == SS_ETCHEDHORZ &&
                          lstrcmpiW(className(child).c_str(), L"Static") == 0;
    const LONG_PTR ex = GetWindowLongPtrW(child, GWL_EXSTYLE);
    // The system's own additions: an edit control may trade WS_BORDER for a
    // client edge, a static control frames an etched line with a static edge
    // (and Wine widens that line's window by the edge). The program creates
    // both with extended style 0.
    const LONG_PTR systemEx = isEdit ? WS_EX_CLIENTEDGE : isEtched ? WS_EX_STATICEDGE : 0;
    check((ex & ~systemEx) == 0, name + " extended style 0 (besides the system's edge)",
          "actual " + std::to_string(static_cast<long long>(ex)));
    checkPlace(w.main(), child, e, gDpi, name);
    char want[64];
    DWORD actual =
        static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE)) & ~(WS_VISIBLE | WS_DISABLED);
    // The edit control draws its border itself and clears WS_BORDER on creation.
    if (isEdit && (e.style & WS_BORDER)) actual |= WS_BORDER;
    char styles[64];
    std::snprintf(styles, sizeof styles, "%08lx", static_cast<unsigned long>(actual));
    std::snprintf(want, sizeof want, "%08lx", static_cast<unsigned long>(e.style));
    checkText(styles, want, name + " style");
    if (e.text != nullptr) checkText(w.text(e.id), e.text, name + " initial text");
  }

  checkPage(w, "agreement");
  checkText(w.text(kAgreement), agreementShown(), "agreement text shown with CR LF line ends");
  check(w.checked(kDecline), "\"I do not accept\" checked at start");
  check(!w.checked(kAccept), "\"I accept\" not checked at start");
  check(!w.enabled(kNext), "Next disabled at start");
  checkText(w.text(kDir), "", "directory field empty when no candidate qualifies");
  Sleep(600);
  checkFont(w, kTitleLabel, L"License Agreement", -16, FW_BOLD, gDpi, "title");
  checkFont(w, kSubtitle, L"Please read the following important information before continuing.",
            -14, FW_NORMAL, gDpi, "subtitle");
  screenshot(p.shots, L"01-agreement-page");

  w.click(kAccept);
  check(w.enabled(kNext), "accepting enables Next");
  w.click(kDecline);
  check(!w.enabled(kNext), "declining disables Next again");
  w.click(kAccept);
  screenshot(p.shots, L"02-agreement-accepted");
  w.click(kNext);
  checkPage(w, "action");
  check(!w.checked(kDryRun) && !w.checked(kInstall) && !w.checked(kUninstall),
        "no action checked on the action page");
  check(!w.enabled(kNext), "Next disabled without an action");
  w.setDir("C:\\anything");
  check(!w.enabled(kNext), "Next disabled with text but no action");
  screenshot(p.shots, L"03-action-page");

  w.click(kBack);
  checkPage(w, "agreement");
  check(w.checked(kAccept), "Back keeps \"I accept\" checked");
  check(w.enabled(kNext), "Back: Next enabled at once");
  w.click(kNext);
  checkPage(w, "action");
  checkText(w.text(kDir), "C:\\anything", "directory text kept across Back");

  // A field of spaces enables Next but is rejected.
  w.setDir("   ");
  w.click(kDryRun);
  check(w.enabled(kNext), "a field of spaces with an action enables Next");
  w.post(kNext);
  std::optional<Box> box = w.waitForBox();
  checkBox(box,
           "The selected directory does not look like a valid game install: NoPathProvided\n\n   ",
           {IDOK}, "field of spaces");
  if (box) {
    screenshot(p.shots, L"04-rejection-box");
    w.answer(*box, IDOK);
  }
  check(onPage(w, "Select Setup Action"), "still on the action page after the rejection");
  checkText(w.log(), "", "nothing logged for a rejection");

  // A folder without MissionEditor, typed with quotes and spaces.
  const std::string noGame = narrow(p.noGame);
  const std::string typed = "  \"" + noGame + "\\\" ";
  w.setDir(typed);
  w.post(kNext);
  box = w.waitForBox();
  checkBox(box,
           "The selected directory does not look like a valid game install: "
           "MissionEditorFolderNotFound\n\n" +
               typed + "\n\nNo MissionEditor folder is in " + noGame +
               "; choose the game's root folder, the one that holds MissionEditor.",
           {IDOK}, "folder without MissionEditor");
  if (box) w.answer(*box, IDOK);
  checkText(w.log(), "", "nothing logged for a folder without MissionEditor");

  // Declined confirmations.
  const std::string game = narrow(p.gameCheck);
  const Tree before = snapshot(p.gameCheck);
  w.setDir(" \"" + game + "\\\"  ");
  w.click(kInstall);
  w.post(kNext);
  box = w.waitForBox();
  checkBox(box,
           "About to INSTALL the Tindrelle undo patches against:\n" + game +
               "\n\nA backup of every modified file will be created first.\n\nProceed?",
           {IDYES, IDNO}, "INSTALL confirmation");
  if (box) {
    screenshot(p.shots, L"05-install-confirmation");
    w.answer(*box, IDNO);
  }
  waitFor([&] { return !w.log().empty(); }, 5000);
  checkText(w.log(), "Aborted by user.\r\n", "declined INSTALL logs the abort line");
  check(onPage(w, "Select Setup Action"), "declined: still on the action page");
  w.click(kUninstall);
  w.post(kNext);
  box = w.waitForBox();
  checkBox(box,
           "About to UNINSTALL the Tindrelle undo patches from:\n" + game +
               "\n\nThis will remove the patches and restore the original backed-up files. Make "
               "sure this is really what you want.\n\nProceed?",
           {IDYES, IDNO}, "UNINSTALL confirmation");
  if (box) w.answer(*box, IDNO);
  waitFor([&] { return w.log().size() > 18; }, 5000);
  checkText(w.log(), "Aborted by user.\r\nAborted by user.\r\n",
            "each declined confirmation adds an abort line");

  // A confirmed CHECK.
  w.click(kDryRun);
  w.post(kNext);
  box = w.waitForBox();
  checkBox(box,
           "Running a CHECK (dry run) against:\n" + game +
               "\n\nNo files will be modified. The log will report what an install/uninstall "
               "would do.\n\nContinue?",
           {IDOK, IDCANCEL}, "CHECK confirmation");
  if (box) {
    screenshot(p.shots, L"06-check-confirmation");
    w.answer(*box, IDOK);
  }
  check(waitFor([&] { return onPage(w, "Setup Complete"); }), "CHECK ends on the completion page");
  pause(1000);
  check(!w.currentBox().has_value(), "CHECK shows no result box");
  checkPage(w, "complete");
  const std::string log = w.log();
  const std::string expectedStart =
      "Aborted by user.\r\nAborted by user.\r\n" + header(game, "CHECK");
  checkText(log.substr(0, expectedStart.size()), expectedStart,
            "CHECK log: abort lines, then the run header");
  check(log.find("COMPLETED SUCCESSFULLY\r\n") != std::string::npos,
        "CHECK log has the success status line", shown(log));
  check(log.find("  0 backups created.\r\n") != std::string::npos, "CHECK log: no backups created");
  check(log.size() >= 2 && log.substr(log.size() - 2) == "\r\n", "CHECK log ends with CR LF");
  checkText(describeDifference(before, snapshot(p.gameCheck)), "", "CHECK changed no file");
  for (int id : {kDir, kBrowse, kDryRun, kInstall, kUninstall, kNext}) {
    check(w.enabled(id), "control " + std::to_string(id) + " enabled again after the run");
  }
  screenshot(p.shots, L"07-complete-page-check");

  w.click(kBack);
  check(onPage(w, "Setup Complete"), "no way back from the completion page");
  w.post(kNext);
  checkExit(w, "Close after CHECK");
}

void walkInstallAndUninstall(const Paths& p) {
  std::printf("# walk: INSTALL then UNINSTALL\n");
  const std::string game = narrow(p.gameInstall);
  const Tree original = snapshot(p.gameInstall);
  const std::wstring modulePath = L"MissionEditor\\modules\\me_qorvex_undo.lua";
  const std::vector<std::wstring> patched = manifestPaths();
  {
    Wizard w(p.exe, p.work);
    check(w.ok(), "INSTALL: wizard started");
    if (!w.ok()) return;
    w.chooseAction(game, kInstall);
    w.post(kNext);
    std::optional<Box> box = w.waitForBox();
    check(box.has_value() && box->buttons == std::vector<int>{IDYES, IDNO},
          "INSTALL: confirmation asked");
    if (box) w.answer(*box, IDYES);
    box = w.waitForBox();
    checkBox(box, "Completed successfully. See the log for details.", {IDOK}, "INSTALL result");
    check(onPage(w, "Setup Complete"), "INSTALL: completion page under the result box");
    check(!w.enabled(kDir), "INSTALL: run controls still disabled while the box is up");
    if (box) {
      screenshot(p.shots, L"08-install-result-box");
      w.answer(*box, IDOK);
    }
    check(waitFor([&] { return w.enabled(kDir); }, 5000),
          "INSTALL: run controls enabled after the box");
    checkPage(w, "complete");
    const std::string log = w.log();
    checkText(log.substr(0, header(game, "INSTALL").size()), header(game, "INSTALL"),
              "INSTALL log starts with the run header");
    check(log.find("COMPLETED SUCCESSFULLY\r\n") != std::string::npos,
          "INSTALL log has the success status line", shown(log));
    screenshot(p.shots, L"09-complete-page-install");

    const Tree after = snapshot(p.gameInstall);
    const std::string_view* module = qorvex::findEmbeddedText("me_qorvex_undo.lua");
    auto deployed = after.find(modulePath);
    check(deployed != after.end() && module != nullptr && deployed->second == *module,
          "INSTALL deployed the undo module with the carried text");
    for (const std::wstring& path : patched) {
      auto now = after.find(path);
      auto was = original.find(path);
      const std::string name = narrow(path);
      check(now != after.end() && was != original.end() && now->second != was->second &&
                now->second.find("-- QORVEX_PATCH_BEGIN[") != std::string::npos,
            "INSTALL patched " + name);
      bool backedUp = false;
      for (const auto& [file, bytes] : after) {
        if (file.rfind(path + L".qorvex-backup_", 0) == 0 && was != original.end() &&
            bytes == was->second) {
          backedUp = true;
        }
      }
      check(backedUp, "INSTALL left a backup of " + name + " with its original bytes");
    }
    w.post(kNext);
    checkExit(w, "Close after INSTALL");
  }
  {
    Wizard w(p.exe, p.work);
    check(w.ok(), "UNINSTALL: wizard started");
    if (!w.ok()) return;
    w.chooseAction(game, kUninstall);
    w.post(kNext);
    std::optional<Box> box = w.waitForBox();
    if (box) w.answer(*box, IDYES);
    box = w.waitForBox();
    checkBox(box, "Completed successfully. See the log for details.", {IDOK}, "UNINSTALL result");
    if (box) w.answer(*box, IDOK);
    const std::string log = w.log();
    checkText(log.substr(0, header(game, "UNINSTALL").size()), header(game, "UNINSTALL"),
              "UNINSTALL log starts with the run header");
    check(log.find("COMPLETED SUCCESSFULLY\r\n") != std::string::npos,
          "UNINSTALL log has the success status line", shown(log));
    screenshot(p.shots, L"10-complete-page-uninstall");
    Tree after = snapshot(p.gameInstall);
    check(!after.count(modulePath), "UNINSTALL removed the undo module");
    // Backups stay; everything else is as it was before INSTALL.
    for (auto it = after.begin(); it != after.end();) {
      it = it->first.find(L".qorvex-backup_") != std::wstring::npos ? after.erase(it) : ++it;
    }
    checkText(describeDifference(original, after), "",
              "UNINSTALL restored every file byte for byte");
    // The window's close box ends the program too.
    PostMessageW(w.main(), WM_CLOSE, 0, 0);
    checkExit(w, "window closed after UNINSTALL");
  }
}

void walkDefaultDirectoryAndCancel(const Paths& p) {
  std::printf("# walk: default directory, Cancel\n");
  {
    Wizard w(p.withExe + L"\\TindrelleUndoSetup.exe", p.work);
    check(w.ok(), "wizard started from inside a game install");
    if (!w.ok()) return;
    checkText(w.text(kDir), narrow(p.withExe), "program folder preselected as the directory");
    w.click(kCancel);
    checkExit(w, "Cancel on the agreement page");
    checkText(w.standardError(), "", "nothing on stderr after Cancel");
  }
  {
    Wizard w(p.exe, p.work);
    check(w.ok(), "wizard started for Cancel on the action page");
    if (!w.ok()) return;
    w.click(kAccept);
    w.click(kNext);
    w.click(kCancel);
    checkExit(w, "Cancel on the action page");
  }
  {
    Wizard w(p.exe, p.work);
    check(w.ok(), "wizard started for the close box");
    if (!w.ok()) return;
    PostMessageW(w.main(), WM_CLOSE, 0, 0);
    checkExit(w, "window close on the agreement page");
  }
}

// A fault inside the wizard's process ends it with code 3 and a report.
void walkCrash(const Paths& p) {
  std::printf("# walk: crash report\n");
  Wizard w(p.exe, p.work);
  check(w.ok(), "wizard started for the crash check");
  if (!w.ok()) return;
  HANDLE thread = CreateRemoteThread(
      w.process(), nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(0x10), nullptr, 0, nullptr);
  check(thread != nullptr, "fault injected into the wizard");
  if (thread != nullptr) CloseHandle(thread);
  const std::optional<DWORD> code = w.exitCode();
  check(code.has_value() && *code == 3, "a crash ends the process with exit code 3",
        code ? "exit code " + std::to_string(*code) : "still running");
  const std::string err = w.standardError();
  check(err.rfind("crash: access violation", 0) == 0, "the crash is reported on stderr",
        shown(err));
}

// ---------------------------------------------------------------------------
// Walks of the keyboard, display scaling, held files, blocked installs, a
// running game and Steam libraries

// The focus after each Tab (or Shift+Tab), as the ids it lands on.
void checkTabOrder(Wizard& w, const std::vector<int>& order, bool backward, std::string_view what) {
  std::vector<int> visited;
  for (int id : order) {
    if (backward) {
      pressKey(VK_TAB, {VK_SHIFT});
    } else {
      pressKey(VK_TAB);
    }
    w.waitForFocus(id, 3000);
    visited.push_back(w.focused());
  }
  checkText(joinIds(visited), joinIds(order),
            std::string(backward ? "Shift+Tab" : "Tab") + " order of the " + std::string(what));
}

bool hasChildOfClass(HWND window, const wchar_t* cls) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (lstrcmpiW(className(child).c_str(), cls) == 0) return true;
  }
  return false;
}

// The button of a box that Enter answers: the one a box gives the focus to.
int defaultButtonOf(const Box& box) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  waitFor(
      [&] {
        return GetGUIThreadInfo(GetWindowThreadProcessId(box.window, nullptr), &info) &&
               info.hwndFocus != nullptr && GetParent(info.hwndFocus) == box.window;
      },
      3000);
  return info.hwndFocus != nullptr && GetParent(info.hwndFocus) == box.window
             ? GetDlgCtrlID(info.hwndFocus)
             : 0;
}

// Presses a key in a box (it must be the foreground window) and waits for the
// box to go.
bool keyInBox(Wizard& w, const Box& box, WORD vk) {
  w.toFront(box.window);
  pressKey(vk);
  return waitFor([&] { return !IsWindow(box.window); }, 10000);
}

void walkKeyboard(const Paths& p) {
  std::printf("# walk: the wizard by keyboard alone\n");
  const std::string game = narrow(p.gameCheck);
  const std::string other = narrow(p.gameKeys);
  {
    Wizard w(p.exe, p.work);
    check(w.ok(), "keyboard: wizard started");
    if (!w.ok()) return;
    check(w.toFront(), "keyboard: the wizard is the foreground window");
    check(w.waitForFocus(kAccept), "keyboard: the focus starts on \"I accept the agreement\"",
          "focus on " + std::to_string(w.focused()));

    pressKey(VK_DOWN);
    check(w.waitForFocus(kDecline) && w.checked(kDecline) && !w.enabled(kNext),
          "keyboard: Down moves to \"I do not accept\", Next stays disabled");
    pressKey(VK_DOWN);
    check(w.waitForFocus(kAccept) && waitFor([&] { return w.checked(kAccept); }, 3000) &&
              !w.checked(kDecline) && w.enabled(kNext),
          "keyboard: Down from the group's last button comes round to \"I accept\", checks it, "
          "and Next is enabled");
    pressKey(VK_UP);
    check(w.waitForFocus(kDecline) && waitFor([&] { return w.checked(kDecline); }, 3000) &&
              !w.enabled(kNext),
          "keyboard: Up goes round back to \"I do not accept\"");
    pressKey(VK_UP);
    waitFor([&] { return w.checked(kAccept); }, 3000);

    // A radio group with a checked button is one stop: that button.
    checkTabOrder(w, {kNext, kCancel, kAccept}, false, "agreement page");
    checkTabOrder(w, {kCancel, kNext, kAccept}, true, "agreement page");

    pressKey('B', {VK_MENU});
    pressKey('R', {VK_MENU});
    pause(500);
    check(onPage(w, "License Agreement") && !w.currentBox().has_value(),
          "keyboard: Alt+B and Alt+R do nothing where Back and Browse are hidden");

    pressKey(VK_RETURN);
    check(waitFor([&] { return onPage(w, "Select Setup Action"); }, 5000),
          "keyboard: Enter presses Next");
    check(w.waitForFocus(kDir), "keyboard: the focus starts on the directory field",
          "focus on " + std::to_string(w.focused()));
    typeText(widen(game));
    check(waitFor([&] { return w.text(kDir) == game; }, 5000), "keyboard: the folder typed",
          w.text(kDir));
    // With nothing checked, every radio button is a stop of its own.
    checkTabOrder(w, {kBrowse, kDryRun, kInstall, kUninstall, kBack, kCancel, kDir}, false,
                  "action page while Next is disabled");
    pressKey(VK_TAB);
    pressKey(VK_TAB);
    check(w.waitForFocus(kDryRun) && !w.checked(kDryRun),
          "keyboard: Tab reaches \"Dry run\" without checking it");
    pressKey(VK_DOWN);
    check(w.waitForFocus(kInstall) && waitFor([&] { return w.checked(kInstall); }, 3000) &&
              w.enabled(kNext),
          "keyboard: Down checks \"Install\" and enables Next");
    pressKey(VK_DOWN);
    check(w.waitForFocus(kUninstall) && waitFor([&] { return w.checked(kUninstall); }, 3000) &&
              !w.checked(kInstall),
          "keyboard: Down checks \"Uninstall\"");
    pressKey(VK_DOWN);
    check(w.waitForFocus(kDryRun) && waitFor([&] { return w.checked(kDryRun); }, 3000) &&
              !w.checked(kUninstall),
          "keyboard: Down from \"Uninstall\" stays in the group and comes round to \"Dry run\"");
    pressKey(VK_UP);
    check(w.waitForFocus(kUninstall) && waitFor([&] { return w.checked(kUninstall); }, 3000),
          "keyboard: Up from \"Dry run\" comes round to \"Uninstall\"");
    pressKey(VK_RIGHT);
    check(w.waitForFocus(kDryRun) && waitFor([&] { return w.checked(kDryRun); }, 3000),
          "keyboard: Right works as Down");
    checkTabOrder(w, {kBack, kNext, kCancel, kDir, kBrowse, kDryRun}, false, "action page");
    checkTabOrder(w, {kBrowse, kDir, kCancel, kNext, kBack, kDryRun}, true, "action page");

    pressKey('B', {VK_MENU});
    check(waitFor([&] { return onPage(w, "License Agreement"); }, 5000) && w.checked(kAccept),
          "keyboard: Alt+B goes back with \"I accept\" kept");
    check(w.waitForFocus(kAccept), "keyboard: after Back the focus is on \"I accept\"");
    pressKey('N', {VK_MENU});
    check(waitFor([&] { return onPage(w, "Select Setup Action"); }, 5000) && w.text(kDir) == game &&
              w.checked(kDryRun),
          "keyboard: Alt+N goes on with the field and the action kept");
    check(w.waitForFocus(kDir), "keyboard: the focus is on the directory field again");

    // The browser opens at the folder typed; Esc leaves the field, Enter takes
    // the folder it opened at.
    pressKey('R', {VK_MENU});
    std::optional<Box> browser = w.waitForBox(10000);
    check(browser.has_value() && hasChildOfClass(browser->window, L"SysTreeView32"),
          "keyboard: Alt+R opens the folder browser");
    if (browser) {
      checkText(boxButtons(*browser), joinIds({IDOK, IDCANCEL}),
                "keyboard: the browser offers OK and Cancel, no new-folder button");
      screenshot(p.shots, L"13-folder-browser");
      check(keyInBox(w, *browser, VK_ESCAPE), "keyboard: Esc closes the browser");
    }
    checkText(w.text(kDir), game, "keyboard: the browser left with Esc leaves the field");
    check(w.waitForFocus(kDir), "keyboard: after the browser the focus is back on the field",
          "focus on " + std::to_string(w.focused()));
    pressKey(VK_END);
    pressKey(VK_HOME, {VK_SHIFT});
    typeText(widen(other));
    check(waitFor([&] { return w.text(kDir) == other; }, 5000),
          "keyboard: Shift+Home and typing replace the field", w.text(kDir));
    pressKey('R', {VK_MENU});
    browser = w.waitForBox(10000);
    if (browser) check(keyInBox(w, *browser, VK_RETURN), "keyboard: Enter in the browser takes OK");
    checkText(w.text(kDir), other, "keyboard: the browser opened at the typed folder");

    pressKey(VK_RETURN);
    std::optional<Box> box = w.waitForBox();
    checkBox(box,
             "Running a CHECK (dry run) against:\n" + other +
                 "\n\nNo files will be modified. The log will report what an install/uninstall "
                 "would do.\n\nContinue?",
             {IDOK, IDCANCEL}, "keyboard: Enter on the field, CHECK confirmation");
    if (box) {
      checkEqual<int>(defaultButtonOf(*box), IDOK,
                      "keyboard: the box's focus is on OK, which Enter answers");
      check(keyInBox(w, *box, VK_ESCAPE), "keyboard: Esc answers the box");
    }
    check(waitFor([&] { return w.log() == "Aborted by user.\r\n"; }, 5000),
          "keyboard: Esc in the confirmation declines it", shown(w.log()));
    check(w.waitForFocus(kDir), "keyboard: after the box the focus is where it was",
          "focus on " + std::to_string(w.focused()));
    pressKey(VK_RETURN);
    box = w.waitForBox();
    check(box.has_value(), "keyboard: the confirmation asked again");
    if (box) check(keyInBox(w, *box, VK_RETURN), "keyboard: Enter answers OK");
    check(waitFor([&] { return onPage(w, "Setup Complete") && w.enabled(kDir); }),
          "keyboard: the CHECK ends on the completion page");
    check(w.log().find("COMPLETED SUCCESSFULLY\r\n") != std::string::npos,
          "keyboard: the CHECK completed", shown(w.log()));
    check(w.waitForFocus(kDir), "keyboard: the focus starts on the completion page's first control",
          "focus on " + std::to_string(w.focused()));
    checkTabOrder(w, {kBrowse, kDryRun, kNext, kDir}, false, "completion page");
    pressKey('B', {VK_MENU});
    pause(500);
    check(onPage(w, "Setup Complete"), "keyboard: Alt+B does not leave the completion page");
    w.toFront();
    pressKey(VK_ESCAPE);
    checkExit(w, "keyboard: Esc on the completion page closes");
  }
  {
    Wizard w(p.exe, p.work);
    check(w.ok() && w.toFront(), "keyboard: wizard started for Esc on the action page");
    if (!w.ok()) return;
    pressKey(VK_UP);  // round to "I accept"... from "I accept" Up goes to the other one
    pressKey(VK_UP);
    pressKey('N', {VK_MENU});
    check(waitFor([&] { return onPage(w, "Select Setup Action"); }, 5000),
          "keyboard: arrows and Alt+N reach the action page");
    pressKey(VK_ESCAPE);
    checkExit(w, "keyboard: Esc on the action page cancels");
  }
  {
    Wizard w(p.exe, p.work);
    check(w.ok() && w.toFront(), "keyboard: wizard started for Esc on the agreement page");
    if (!w.ok()) return;
    pressKey(VK_ESCAPE);
    checkExit(w, "keyboard: Esc on the agreement page cancels");
  }
}

// WM_DPICHANGED as the system sends it when the window moves to a monitor of
// another DPI: the window takes the suggested rectangle and everything in it
// follows; back at the prefix's DPI everything is as before.
void walkDpiChange(const Paths& p) {
  // Down to 96 DPI where the prefix's is higher: the desktop has room for the
  // window at the prefix's DPI, not necessarily for a larger one.
  const unsigned other = gDpi == 96 ? 144 : 96;
  std::printf("# walk: the window's DPI changes to %u and back\n", other);
  Wizard w(p.exe, p.work);
  check(w.ok(), "DPI change: wizard started");
  if (!w.ok()) return;
  // The message carries a pointer to the suggested rectangle. It lies at the
  // same address in both processes, so the program reads it whether or not
  // the system copies it across.
  void* remote =
      VirtualAllocEx(w.process(), nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  void* local =
      remote ? VirtualAlloc(remote, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : nullptr;
  check(remote != nullptr && local == remote, "DPI change: a rectangle shared with the program");
  if (remote == nullptr || local != remote) return;
  const auto change = [&](unsigned dpi) {
    RECT now{};
    GetWindowRect(w.main(), &now);
    RECT outer{0, 0, roundedScale(664, dpi), roundedScale(480, dpi)};
    AdjustWindowRectExForDpi(&outer, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                             FALSE, 0, dpi);
    const RECT suggested{now.left, now.top, now.left + outer.right - outer.left,
                         now.top + outer.bottom - outer.top};
    *static_cast<RECT*>(local) = suggested;
    SIZE_T written = 0;
    WriteProcessMemory(w.process(), remote, &suggested, sizeof suggested, &written);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(w.main(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                        reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, kTimeoutMs, &ignored);
    RECT after{};
    GetWindowRect(w.main(), &after);
    check(EqualRect(&after, &suggested) != FALSE,
          "DPI change to " + std::to_string(dpi) + ": the window takes the suggested rectangle");
  };
  change(other);
  checkLayout(w, other, "after a change to " + std::to_string(other) + " DPI");
  Sleep(600);
  checkFont(w, kTitleLabel, L"License Agreement", -16, FW_BOLD, other, "title after the change");
  checkFont(w, kSubtitle, L"Please read the following important information before continuing.",
            -14, FW_NORMAL, other, "subtitle after the change");
  screenshot(p.shots, L"14-dpi-changed-to-" + std::to_wstring(other));
  change(gDpi);
  checkLayout(w, gDpi, "back at " + std::to_string(gDpi) + " DPI");
  RECT client{};
  GetClientRect(w.main(), &client);
  checkEqual<long>(client.right, roundedScale(664), "back at the prefix's DPI: client width");
  checkEqual<long>(client.bottom, roundedScale(480), "back at the prefix's DPI: client height");
  Sleep(600);
  checkFont(w, kTitleLabel, L"License Agreement", -16, FW_BOLD, gDpi, "title back");
  w.click(kCancel);
  checkExit(w, "DPI change: Cancel");
  VirtualFree(local, 0, MEM_RELEASE);
}

// tests/windows/hold_file.exe (or a copy under another name) holding a file
// open without delete sharing until it is let go.
class Holder {
 public:
  Holder(const std::wstring& exe, const std::wstring& file) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE inRead = nullptr, outWrite = nullptr;
    if (!CreatePipe(&inRead, &input_, &inherit, 0)) return;
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    if (!CreatePipe(&output_, &outWrite, &inherit, 0)) return;
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    std::wstring command = L"\"" + exe + L"\" \"" + file + L"\" 300";
    PROCESS_INFORMATION process{};
    if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
      process_ = process.hProcess;
      CloseHandle(process.hThread);
    }
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (process_ == nullptr) return;
    // It says "holding" once the file is open, or ends when it cannot open it.
    char buffer[256];
    DWORD got = 0;
    while (said_.find("holding") == std::string::npos &&
           ReadFile(output_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      said_.append(buffer, got);
    }
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  ~Holder() {
    release();
    if (process_ != nullptr) {
      if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
      CloseHandle(process_);
    }
    if (output_ != nullptr) CloseHandle(output_);
  }
  bool holding() const { return said_.find("holding") != std::string::npos; }
  // Closes its input, which makes it let go and end; true once it has.
  bool release() {
    if (input_ != nullptr) {
      CloseHandle(input_);
      input_ = nullptr;
    }
    return process_ != nullptr && WaitForSingleObject(process_, 10000) == WAIT_OBJECT_0;
  }

 private:
  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
  std::string said_;
};

void walkHeldFile(const Paths& p) {
  std::printf("# walk: a file held open stops INSTALL before it starts\n");
  check(!p.holder.empty(), "held file: hold_file.exe given (--holder)");
  if (p.holder.empty()) return;
  const std::wstring toolbar = L"MissionEditor\\modules\\me_toolbar.lua";
  const std::string game = narrow(p.gameHeld);
  const Tree before = snapshot(p.gameHeld);
  Holder holder(p.holder, p.gameHeld + L"\\" + toolbar);
  check(holder.holding(), "held file: another process holds me_toolbar.lua open");
  Wizard w(p.exe, p.work);
  check(w.ok(), "held file: wizard started");
  if (!w.ok()) return;
  w.chooseAction(game, kInstall);
  w.post(kNext);
  const std::string hint =
      "another program has the file open; close DCS World or the program that has the file "
      "open, then retry";
  // The engine waits a few seconds for the file before it calls it busy.
  std::optional<Box> box = w.waitForBox();
  checkBox(box,
           "1 file(s) cannot be changed, so the run did not start. Nothing was changed.\n\n" +
               narrow(toolbar) + ": FileBusy\n" + hint,
           {IDOK}, "held file: warning");
  if (box) {
    screenshot(p.shots, L"11-preflight-warning");
    w.answer(*box, IDOK);
  }
  pause(1500);
  check(!w.currentBox().has_value(), "held file: no confirmation follows the warning");
  checkText(w.log(),
            "Cannot change " + narrow(toolbar) + ": FileBusy - " + hint +
                "\r\nThe run did not start. Nothing was changed.\r\n",
            "held file: the log names the file and says that nothing started");
  check(onPage(w, "Select Setup Action") && w.enabled(kNext),
        "held file: still on the action page, Next enabled");
  checkText(describeDifference(before, snapshot(p.gameHeld)), "", "held file: no file changed");

  check(holder.release(), "held file: the other process let go");
  w.post(kNext);
  box = w.waitForBox();
  checkBox(box,
           "About to INSTALL the Tindrelle undo patches against:\n" + game +
               "\n\nA backup of every modified file will be created first.\n\nProceed?",
           {IDYES, IDNO}, "held file let go: confirmation");
  if (box) w.answer(*box, IDYES);
  box = w.waitForBox();
  checkBox(box, "Completed successfully. See the log for details.", {IDOK},
           "held file let go: INSTALL result");
  if (box) w.answer(*box, IDOK);
  const Tree after = snapshot(p.gameHeld);
  auto patched = after.find(toolbar);
  check(after.count(L"MissionEditor\\modules\\me_qorvex_undo.lua") && patched != after.end() &&
            patched->second != before.at(toolbar),
        "held file let go: the INSTALL changed the files");
  w.post(kNext);
  checkExit(w, "held file: Close");
}

// Changes the manifest makes: each patch entry and each dialog block.
std::size_t manifestChanges() {
  const std::string_view* manifest = qorvex::findEmbeddedText("manifest.json");
  std::size_t count = 0;
  for (std::string_view key : {"\"marker\"", "\"insertBlockResource\""}) {
    for (std::size_t at = 0; manifest && (at = manifest->find(key, at)) != std::string_view::npos;
         at += key.size()) {
      ++count;
    }
  }
  return count;
}

void walkBlockedInstall(const Paths& p) {
  std::printf("# walk: an INSTALL this game version would leave incomplete\n");
  const std::string game = narrow(p.gameBlocked);
  const Tree before = snapshot(p.gameBlocked);
  const std::string question = "1 of the " + std::to_string(manifestChanges()) +
                               " changes cannot be made in this version of DCS World, so the Undo "
                               "feature may not work.\n\nMake the other changes anyway?";
  const std::string confirmation =
      "About to INSTALL the Tindrelle undo patches against:\n" + game +
      "\n\nA backup of every modified file will be created first.\n\nProceed?";
  Wizard w(p.exe, p.work);
  check(w.ok(), "blocked: wizard started");
  if (!w.ok()) return;
  w.chooseAction(game, kInstall);
  w.post(kNext);
  std::optional<Box> box = w.waitForBox();
  checkBox(box, confirmation, {IDYES, IDNO}, "blocked: confirmation");
  if (box) {
    checkEqual<int>(defaultButtonOf(*box), IDYES,
                    "blocked: the confirmation's focus is on Yes, which Enter answers");
    w.answer(*box, IDYES);
  }
  box = w.waitForBox();
  checkBox(box, question, {IDYES, IDNO}, "blocked: question");
  if (box) {
    checkEqual<int>(defaultButtonOf(*box), IDNO,
                    "blocked: the question's focus is on No, which Enter answers");
    screenshot(p.shots, L"12-blocked-question");
    check(keyInBox(w, *box, VK_RETURN), "blocked: Enter answers the question");
  }
  check(waitFor([&] { return w.log() == "Aborted by user.\r\n"; }, 5000),
        "blocked: Enter is No, which logs the abort line", shown(w.log()));
  check(onPage(w, "Select Setup Action") && !w.currentBox().has_value(),
        "blocked: after No, still on the action page");
  checkText(describeDifference(before, snapshot(p.gameBlocked)), "", "blocked: No changed nothing");

  w.post(kNext);
  box = w.waitForBox();
  checkBox(box, confirmation, {IDYES, IDNO}, "blocked, again: confirmation");
  if (box) w.answer(*box, IDYES);
  box = w.waitForBox();
  checkBox(box, question, {IDYES, IDNO}, "blocked, again: question");
  if (box) w.answer(*box, IDNO);
  check(waitFor([&] { return w.log() == "Aborted by user.\r\nAborted by user.\r\n"; }, 5000),
        "blocked: No clicked logs the abort line again", shown(w.log()));

  w.post(kNext);
  box = w.waitForBox();
  if (box) w.answer(*box, IDYES);
  box = w.waitForBox();
  checkText(box ? box->text : "", question, "blocked, third time: question");
  if (box) w.answer(*box, IDYES);
  box = w.waitForBox();
  checkBox(box, "Completed WITH ERRORS. See the log for details.", {IDOK},
           "blocked: Yes makes the other changes, which end with errors");
  if (box) w.answer(*box, IDOK);
  const std::string log = w.log();
  check(log.find(header(game, "INSTALL")) != std::string::npos &&
            log.find("COMPLETED WITH ERRORS\r\n") != std::string::npos,
        "blocked: the log has the run", shown(log));
  const Tree after = snapshot(p.gameBlocked);
  const std::wstring aircraft = L"MissionEditor\\modules\\me_aircraft.lua";
  check(after.count(L"MissionEditor\\modules\\me_qorvex_undo.lua") &&
            after.at(aircraft) != before.at(aircraft),
        "blocked: Yes deployed the module and patched the other files");
  w.post(kNext);
  checkExit(w, "blocked: Close");
}

void walkGameRunning(const Paths& p) {
  std::printf("# walk: INSTALL while DCS.exe runs\n");
  if (p.holder.empty()) return;
  const std::wstring dcs = p.work + L"\\DCS.exe";
  const std::wstring held = p.work + L"\\dcs-running.txt";
  HANDLE file = CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  check(CopyFileW(p.holder.c_str(), dcs.c_str(), FALSE) != FALSE, "game running: DCS.exe made");
  const std::string game = narrow(p.gameCheck);
  const std::string plain = "About to INSTALL the Tindrelle undo patches against:\n" + game +
                            "\n\nA backup of every modified file will be created first.";
  Wizard w(p.exe, p.work);
  check(w.ok(), "game running: wizard started");
  if (!w.ok()) return;
  w.chooseAction(game, kInstall);
  {
    Holder running(dcs, held);
    check(running.holding(), "game running: DCS.exe runs");
    w.post(kNext);
    std::optional<Box> box = w.waitForBox();
    checkBox(box,
             plain +
                 "\n\nDCS World is running. The Mission Editor loads these files when DCS World "
                 "starts, so restart DCS World for the change to take effect.\n\nProceed?",
             {IDYES, IDNO}, "game running: INSTALL confirmation");
    if (box) w.answer(*box, IDNO);
  }
  w.post(kNext);
  std::optional<Box> box = w.waitForBox();
  checkBox(box, plain + "\n\nProceed?", {IDYES, IDNO},
           "game ended: INSTALL confirmation without the note");
  if (box) w.answer(*box, IDNO);
  w.click(kCancel);
  checkExit(w, "game running: Cancel");
}

bool writeText(const std::wstring& path, std::string_view bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::string vdfEscaped(std::string_view path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

void walkSteam(const Paths& p) {
  std::printf("# walk: a Steam copy of the game found with no typing\n");
  check(!p.steam.empty(), "Steam: the prefix's Steam folder given (--steam)");
  if (p.steam.empty()) return;
  const std::wstring common = p.steam + L"\\steamapps\\common";
  const std::wstring parked = common + L"\\DCSWorld.parked";
  const std::wstring inDefault = common + L"\\DCSWorld";
  check(MoveFileW(parked.c_str(), inDefault.c_str()) != FALSE,
        "Steam: a game install put into Steam's default library");
  {
    Wizard w(p.exe, p.work);
    check(w.ok(), "Steam: wizard started");
    if (!w.ok()) return;
    checkText(w.text(kDir), narrow(inDefault),
              "Steam: the game in the default library preselected");
    w.click(kCancel);
    checkExit(w, "Steam: Cancel");
  }
  MoveFileW(inDefault.c_str(), parked.c_str());

  const std::wstring list = p.steam + L"\\steamapps\\libraryfolders.vdf";
  std::string vdf = "\"libraryfolders\"\n{\n";
  int n = 0;
  for (const std::wstring& library : {p.steam, p.work + L"\\no-such-library", p.steamLib}) {
    vdf +=
        "\t\"" + std::to_string(n++) + "\"\n\t{\n\t\t\"path\"\t\t\"" + vdfEscaped(narrow(library)) +
        "\"\n\t\t\"label\"\t\t\"\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"223750\"\t\t\"1\"\n\t\t}\n\t}\n";
  }
  vdf += "}\n";
  check(writeText(list, vdf), "Steam: libraryfolders.vdf names a second library");
  const std::wstring listed = p.steamLib + L"\\steamapps\\common\\DCSWorld";
  const std::string game = narrow(listed);
  const Tree before = snapshot(listed);
  {
    Wizard w(p.exe, p.work);
    check(w.ok() && w.toFront(), "Steam, listed library: wizard started");
    if (!w.ok()) return;
    checkText(w.text(kDir), game, "Steam: the game in a library Steam lists preselected");
    screenshot(p.shots, L"15-steam-library-preselected");
    // Keys only, no typing: Space checks the focused radio button.
    w.waitForFocus(kAccept);
    pressKey(VK_SPACE);
    check(waitFor([&] { return w.checked(kAccept); }, 3000), "Steam: Space checks \"I accept\"");
    pressKey(VK_RETURN);
    check(waitFor([&] { return onPage(w, "Select Setup Action"); }, 5000) && w.waitForFocus(kDir),
          "Steam: Enter goes to the action page");
    pressKey(VK_TAB);
    pressKey(VK_TAB);
    w.waitForFocus(kDryRun);
    pressKey(VK_SPACE);
    check(waitFor([&] { return w.checked(kDryRun) && w.enabled(kNext); }, 3000),
          "Steam: Space checks \"Dry run\"");
    pressKey(VK_RETURN);
    std::optional<Box> box = w.waitForBox();
    checkBox(box,
             "Running a CHECK (dry run) against:\n" + game +
                 "\n\nNo files will be modified. The log will report what an install/uninstall "
                 "would do.\n\nContinue?",
             {IDOK, IDCANCEL}, "Steam: CHECK confirmation");
    if (box) keyInBox(w, *box, VK_RETURN);
    check(waitFor([&] { return onPage(w, "Setup Complete") && w.enabled(kDir); }),
          "Steam: the CHECK ends on the completion page");
    const std::string log = w.log();
    check(log.rfind(header(game, "CHECK"), 0) == 0 &&
              log.find("COMPLETED SUCCESSFULLY\r\n") != std::string::npos,
          "Steam: the CHECK ran on the Steam library's game", shown(log));
    checkText(describeDifference(before, snapshot(listed)), "", "Steam: the CHECK changed nothing");
    w.toFront();
    w.waitForFocus(kDir);
    pressKey(VK_RETURN);
    checkExit(w, "Steam: Enter on the completion page presses Close");
  }
  DeleteFileW(list.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Paths p;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring key = argv[i];
    if (key == L"--exe") p.exe = argv[i + 1];
    if (key == L"--work") p.work = argv[i + 1];
    if (key == L"--shots") p.shots = argv[i + 1];
    if (key == L"--dpi") gDpi = static_cast<unsigned>(std::wcstoul(argv[i + 1], nullptr, 10));
    if (key == L"--holder") p.holder = argv[i + 1];
    if (key == L"--steam") p.steam = argv[i + 1];
  }
  // Places are read in physical pixels, as the program (aware of every
  // monitor's DPI) makes them; a DPI-unaware reader would get them scaled.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  if (gDpi == 0) gDpi = 96;
  if (p.exe.empty() || p.work.empty() || p.shots.empty()) {
    std::fprintf(stderr, "usage: qorvex_gui_driver --exe SETUP.EXE --work DIR --shots DIR\n");
    return 2;
  }
  p.gameCheck = p.work + L"\\game-check";
  p.gameInstall = p.work + L"\\game-install";
  p.noGame = p.work + L"\\nogame";
  p.withExe = p.work + L"\\with-exe";
  p.gameHeld = p.work + L"\\game-held";
  p.gameKeys = p.work + L"\\game-keys";
  p.gameBlocked = p.work + L"\\game-blocked";
  p.steamLib = p.work + L"\\steam-lib";

  walkAgreementActionAndCheck(p);
  walkInstallAndUninstall(p);
  walkDefaultDirectoryAndCancel(p);
  walkCrash(p);
  walkKeyboard(p);
  walkDpiChange(p);
  walkHeldFile(p);
  walkBlockedInstall(p);
  walkGameRunning(p);
  walkSteam(p);

  std::printf("%d passed, %d failed\n", gPassed, gFailed);
  return gFailed == 0 ? 0 : 1;
}
