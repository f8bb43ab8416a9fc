#include "win32_platform.h"

#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <memory>
#include <vector>

namespace qorvex::wizard {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
static_assert(style::kChild == WS_CHILD && style::kVisible == WS_VISIBLE &&
              style::kBorder == WS_BORDER && style::kVScroll == WS_VSCROLL &&
              style::kGroup == WS_GROUP && style::kTabStop == WS_TABSTOP);
static_assert(style::kEtchedHorz == SS_ETCHEDHORZ && style::kMultiline == ES_MULTILINE &&
              style::kAutoVScroll == ES_AUTOVSCROLL && style::kReadOnly == ES_READONLY &&
              style::kWantReturn == ES_WANTRETURN && style::kAutoRadio == BS_AUTORADIOBUTTON &&
              style::kPushButton == BS_PUSHBUTTON);
static_assert(kMbOkCancel == MB_OKCANCEL && kMbYesNo == MB_YESNO && kMbIconError == MB_ICONERROR &&
              kMbIconWarning == MB_ICONWARNING && kMbIconInformation == MB_ICONINFORMATION);
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kIdYes == IDYES && kIdNo == IDNO);
static_assert(kBstChecked == BST_CHECKED && kBnClicked == BN_CLICKED && kEnChange == EN_CHANGE);
static_assert(kBrowseFlags == (BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON));
static_assert(kEscapeCommand == IDCANCEL && kBaseDpi == USER_DEFAULT_SCREEN_DPI);
static_assert(kMaxPathUnits == MAX_PATH);

namespace {

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// Opens the browser at the folder given as its parameter.
int CALLBACK startBrowserAt(HWND browser, UINT message, LPARAM, LPARAM folder) {
  if (message == BFFM_INITIALIZED) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, folder);
  return 0;
}

std::size_t indexOf(ControlId id) {
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    if (kControls[i].id == id) return i;
  }
  return kControls.size();
}

}  // namespace

HWND* Win32Platform::slot(ControlId id) {
  const std::size_t i = indexOf(id);
  return i < handles_.size() ? &handles_[i] : nullptr;
}

HWND Win32Platform::handle(ControlId id) const {
  const std::size_t i = indexOf(id);
  return i < handles_.size() ? handles_[i] : nullptr;
}

bool Win32Platform::createControl(const ControlSpec& spec) {
  HWND* target = slot(spec.id);
  if (target == nullptr) return false;
  const std::u16string className(spec.className);
  const std::u16string text(spec.text);
  *target = CreateWindowExW(
      0, wide(className.c_str()), wide(text.c_str()), spec.style, spec.x, spec.y, spec.w, spec.h,
      main_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), instance_, nullptr);
  return *target != nullptr;
}

unsigned Win32Platform::windowDpi() { return GetDpiForWindow(main_); }

void Win32Platform::useFonts(const FontSpec& normal, const FontSpec& title) {
  const auto create = [](const FontSpec& font) {
    const std::u16string face(font.face);
    return Font(CreateFontW(font.height, 0, 0, 0, font.weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                            wide(face.c_str())));
  };
  oldNormalFont_ = std::move(normalFont_);
  oldTitleFont_ = std::move(titleFont_);
  normalFont_ = create(normal);
  titleFont_ = create(title);
}

void Win32Platform::setFont(ControlId id, FontKind font) {
  HFONT chosen = font == FontKind::Title ? titleFont_.get() : normalFont_.get();
  if (chosen == nullptr) return;
  SendMessageW(handle(id), WM_SETFONT, reinterpret_cast<WPARAM>(chosen), 1);
}

void Win32Platform::placeControl(ControlId id, const ControlRect& place) {
  SetWindowPos(handle(id), nullptr, place.x, place.y, place.w, place.h,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Platform::showControl(ControlId id, bool show) {
  ShowWindow(handle(id), show ? SW_SHOW : SW_HIDE);
}

void Win32Platform::enableControl(ControlId id, bool enable) {
  EnableWindow(handle(id), enable ? TRUE : FALSE);
}

bool Win32Platform::isUsable(ControlId id) {
  // The control's own visibility: while the main window is still hidden, the
  // page's controls count as shown.
  HWND control = handle(id);
  return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0 && IsWindowEnabled(control);
}

void Win32Platform::setFocus(ControlId id) {
  focus_ = handle(id);
  // SetFocus on an inactive window would activate it (or, in a modal box's
  // loop, take the keys from the box); the focus goes there on activation.
  if (main_ != nullptr && GetActiveWindow() == main_) SetFocus(focus_);
}

void Win32Platform::pressButton(ControlId id) { SendMessageW(handle(id), BM_CLICK, 0, 0); }

std::optional<ControlId> Win32Platform::focusedControl() const {
  HWND focused = GetFocus();
  for (std::size_t i = 0; i < handles_.size(); ++i) {
    if (focused != nullptr && handles_[i] == focused) return kControls[i].id;
  }
  return std::nullopt;
}

void Win32Platform::noteFocus() {
  HWND focused = GetFocus();
  if (focused != nullptr && main_ != nullptr && IsChild(main_, focused)) focus_ = focused;
}

bool Win32Platform::restoreFocus() {
  if (focus_ == nullptr || !IsWindowVisible(focus_) || !IsWindowEnabled(focus_)) return false;
  SetFocus(focus_);
  return true;
}

void Win32Platform::setText(ControlId id, const char16_t* text) {
  SetWindowTextW(handle(id), wide(text));
}

int Win32Platform::textLength(ControlId id) { return GetWindowTextLengthW(handle(id)); }

int Win32Platform::readText(ControlId id, char16_t* buffer, int capacity) {
  return GetWindowTextW(handle(id), wide(buffer), capacity);
}

int Win32Platform::checkState(ControlId id) {
  return static_cast<int>(SendMessageW(handle(id), BM_GETCHECK, 0, 0));
}

void Win32Platform::setChecked(ControlId id) {
  SendMessageW(handle(id), BM_SETCHECK, BST_CHECKED, 0);
}

void Win32Platform::setSelection(ControlId id, int start, int end) {
  SendMessageW(handle(id), EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void Win32Platform::replaceSelection(ControlId id, const char16_t* text) {
  // wParam 0: the insertion cannot be undone.
  SendMessageW(handle(id), EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(wide(text)));
}

int Win32Platform::messageBox(const char16_t* text, const char16_t* caption, unsigned style) {
  return MessageBoxW(main_, wide(text), wide(caption), style);
}

BrowseOutcome Win32Platform::browseForFolder(const char16_t* title, unsigned flags,
                                             const char16_t* initialFolder,
                                             char16_t (&path)[kMaxPathUnits]) {
  // The new-style browser needs an apartment-threaded COM on this thread.
  if (!comReady_) comReady_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.hwndOwner = main_;
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName;
  info.lpszTitle = wide(title);
  info.ulFlags = flags;
  const bool startAt = initialFolder != nullptr && initialFolder[0] != u'\0';
  info.lpfn = startAt ? startBrowserAt : nullptr;
  info.lParam = startAt ? reinterpret_cast<LPARAM>(initialFolder) : 0;
  info.iImage = 0;
  PIDLIST_ABSOLUTE items = SHBrowseForFolderW(&info);
  if (items == nullptr) return BrowseOutcome::Cancelled;
  const std::unique_ptr<void, decltype(&CoTaskMemFree)> release(items, &CoTaskMemFree);
  if (!SHGetPathFromIDListW(items, wide(path))) return BrowseOutcome::NoPath;
  return BrowseOutcome::Chosen;
}

std::optional<std::u16string> Win32Platform::programPath() {
  // GetModuleFileNameW truncates silently; grow until the whole name fits.
  std::vector<wchar_t> name(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return std::nullopt;
    if (n < name.size()) break;
    if (name.size() >= 32768) return std::nullopt;
    name.resize(name.size() * 2);
  }
  const DWORD needed = GetFullPathNameW(name.data(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::vector<wchar_t> full(needed);
  const DWORD n = GetFullPathNameW(name.data(), needed, full.data(), nullptr);
  if (n == 0 || n >= needed) return std::nullopt;
  return std::u16string(reinterpret_cast<const char16_t*>(full.data()), n);
}

bool Win32Platform::isProgramRunning(const char16_t* exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const std::unique_ptr<void, decltype(&CloseHandle)> release(snapshot, &CloseHandle);
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    // File names on Windows ignore case: "dcs.exe" is the same program.
    if (CompareStringOrdinal(entry.szExeFile, -1, reinterpret_cast<const wchar_t*>(exeName), -1,
                             TRUE) == CSTR_EQUAL) {
      return true;
    }
  }
  return false;
}

void Win32Platform::destroyMainWindow() { DestroyWindow(main_); }

}  // namespace qorvex::wizard
