// Walks TindrelleUndoSetup.exe the way a user would, from another process:
// finds the window by class and title and the controls by id, reads texts with
// WM_GETTEXT, clicks with BM_CLICK, answers the message boxes, checks the game
// files on disk and saves screenshots of what the user sees.
//
//   qorvex_gui_driver.exe --exe SETUP.EXE --work DIR --shots DIR
//
// DIR must hold (scripts/run_gui_tests.sh lays it out):
//   game-check\, game-install\    synthetic game installs
//   nogame\                       a folder without MissionEditor
//   with-exe\                     a game install holding a copy of the program
// Prints one "ok"/"not ok" line per check and ends with "N passed, M failed".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
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

  // A click that opens no box: the call returns when the wizard handled it.
  void click(int id) {
    DWORD_PTR ignored;
    SendMessageTimeoutW(control(id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &ignored);
  }
  // A click whose handling may show a modal box: posted, so this side can go
  // on and answer the box.
  void post(int id) { PostMessageW(control(id), BM_CLICK, 0, 0); }
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
// The walks

struct Paths {
  std::wstring exe;  // a copy of the program in a folder without MissionEditor
  std::wstring work;
  std::wstring shots;
  std::wstring gameCheck;
  std::wstring gameInstall;
  std::wstring noGame;
  std::wstring withExe;  // game install holding a copy of the program
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
  checkEqual<long>(client.right - client.left, 664, "client width 664");
  checkEqual<long>(client.bottom - client.top, 480, "client height 480");

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
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, w.main(), reinterpret_cast<POINT*>(&r), 2);
    long width = r.right - r.left;
    if (isEtched && (ex & WS_EX_STATICEDGE) && width == e.w + 2) width = e.w;
    char place[64], want[64];
    std::snprintf(place, sizeof place, "%ld,%ld %ldx%ld", r.left, r.top, width, r.bottom - r.top);
    std::snprintf(want, sizeof want, "%d,%d %dx%d", e.x, e.y, e.w, e.h);
    checkText(place, want, name + " position and size");
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
    w.click(kAccept);
    w.click(kNext);
    w.setDir(game);
    w.click(kInstall);
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
    w.click(kAccept);
    w.click(kNext);
    w.setDir(game);
    w.click(kUninstall);
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Paths p;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring key = argv[i];
    if (key == L"--exe") p.exe = argv[i + 1];
    if (key == L"--work") p.work = argv[i + 1];
    if (key == L"--shots") p.shots = argv[i + 1];
  }
  if (p.exe.empty() || p.work.empty() || p.shots.empty()) {
    std::fprintf(stderr, "usage: qorvex_gui_driver --exe SETUP.EXE --work DIR --shots DIR\n");
    return 2;
  }
  p.gameCheck = p.work + L"\\game-check";
  p.gameInstall = p.work + L"\\game-install";
  p.noGame = p.work + L"\\nogame";
  p.withExe = p.work + L"\\with-exe";

  walkAgreementActionAndCheck(p);
  walkInstallAndUninstall(p);
  walkDefaultDirectoryAndCancel(p);
  walkCrash(p);

  std::printf("%d passed, %d failed\n", gPassed, gFailed);
  return gFailed == 0 ? 0 : 1;
}
