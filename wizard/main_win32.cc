// Process entry and window procedure of the setup wizard. Everything the user
// sees is decided in wizard.cc; this file only connects it to Win32.
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "crash_handler_win32.h"
#include "file_system.h"
#include "win32_platform.h"
#include "wizard.h"
#include "wizard_texts.h"

namespace qorvex::wizard {
namespace {

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The process-wide wizard state: one window on one thread.
struct App {
  HBRUSH whiteBrush = nullptr;
  HWND window = nullptr;
  std::unique_ptr<Win32Platform> platform;
  std::unique_ptr<FileSystem> fs;
  std::unique_ptr<EngineRunner> runner;
  std::unique_ptr<Wizard> wizard;
};

const wchar_t* wide(std::u16string_view text) {
  return reinterpret_cast<const wchar_t*>(text.data());
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  App* app = reinterpret_cast<App*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (app == nullptr) return DefWindowProcW(window, message, wParam, lParam);

  switch (message) {
    case WM_CREATE:
      app->platform->setMainWindow(window);
      app->wizard->create();
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_COMMAND:
      // An accelerator's command comes with code 1 and no control.
      if (HIWORD(wParam) == 1 && lParam == 0) {
        app->wizard->onAccelerator(LOWORD(wParam));
      } else {
        app->wizard->onCommand(LOWORD(wParam), HIWORD(wParam));
      }
      return 0;
    case WM_ACTIVATE:
      // What DefDlgProc does for a dialog: the focus comes back to where it
      // was (after a message box, say) instead of to the window itself.
      if (LOWORD(wParam) != WA_INACTIVE && !app->platform->restoreFocus()) {
        app->wizard->focusFirstControl();
      }
      return 0;
    case DM_GETDEFID: {
      // Asked by the dialog manager when Enter is pressed.
      const ControlId button = app->wizard->defaultButton(app->platform->focusedControl());
      return MAKELRESULT(static_cast<WORD>(button), DC_HASDEFID);
    }
    case WM_NEXTDLGCTL: {
      // The dialog manager asks a window that is no dialog to move the focus
      // itself; only tab stops take it.
      HWND target = LOWORD(lParam) != 0
                        ? reinterpret_cast<HWND>(wParam)
                        : GetNextDlgTabItem(window, GetFocus(), wParam != 0 ? TRUE : FALSE);
      if (target != nullptr && IsChild(window, target) &&
          (GetWindowLongW(target, GWL_STYLE) & WS_TABSTOP)) {
        SetFocus(target);
      }
      return 0;
    }
    case WM_DPICHANGED: {
      // The window takes the place the system suggests for the new DPI, then
      // every control and font follows.
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      app->wizard->onDpiChanged(LOWORD(wParam));
      return 0;
    }
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC: {
      // Read-only edits ask here too, so they share the labels' white.
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0, 0, 0));
      return reinterpret_cast<LRESULT>(app->whiteBrush);
    }
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

int startFailure(std::string_view name) {
  std::string line = "error: ";
  line.append(name).append("\n");
  writeStandardError(line);
  return 1;
}

// The outer size of the window whose client area is the wizard's at that DPI.
SIZE windowSizeFor(unsigned dpi) {
  const ControlRect client = scaledClientArea(dpi);
  RECT outer{0, 0, client.w, client.h};
  AdjustWindowRectExForDpi(&outer, kWindowStyle, FALSE, 0, dpi);
  return {outer.right - outer.left, outer.bottom - outer.top};
}

struct AcceleratorsDeleter {
  void operator()(HACCEL table) const { DestroyAcceleratorTable(table); }
};
using Accelerators = std::unique_ptr<std::remove_pointer_t<HACCEL>, AcceleratorsDeleter>;

Accelerators createAccelerators() {
  std::vector<ACCEL> entries;
  for (const Accelerator& accelerator : kAccelerators) {
    entries.push_back({FALT | FVIRTKEY, static_cast<WORD>(accelerator.key),
                       static_cast<WORD>(accelerator.button)});
  }
  return Accelerators(CreateAcceleratorTableW(entries.data(), static_cast<int>(entries.size())));
}

// The keys of one message, before the window sees them: Alt letters, arrows
// in a radio group, then the dialog manager's Tab, Enter and Esc. True when
// the message was handled here.
bool handledAsKeys(App& app, HACCEL accelerators, MSG& message) {
  if (app.window == nullptr || !IsWindow(app.window)) return false;
  if (accelerators != nullptr && TranslateAcceleratorW(app.window, accelerators, &message)) {
    return true;
  }
  if (message.message == WM_KEYDOWN && (message.wParam == VK_UP || message.wParam == VK_DOWN ||
                                        message.wParam == VK_LEFT || message.wParam == VK_RIGHT)) {
    if (std::optional<ControlId> focused = app.platform->focusedControl()) {
      const bool backward = message.wParam == VK_UP || message.wParam == VK_LEFT;
      if (app.wizard->onArrowKey(*focused, backward)) return true;
    }
  }
  return IsDialogMessageW(app.window, &message) != FALSE;
}

int runWizard() {
  installCrashHandler();

  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (instance == nullptr) return startFailure("GetModuleHandleFailed");

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = 0;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = wide(text::kWindowClass);
  if (RegisterClassExW(&windowClass) == 0) return startFailure("RegisterClassFailed");

  // The brush lives until the process ends; the fonts are made for the
  // window's DPI when it is created (and again when its DPI changes).
  App app;
  app.whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
  app.platform = std::make_unique<Win32Platform>(instance);
  app.fs = makePlatformFileSystem();
  app.runner = std::make_unique<EngineRunner>(*app.fs);
  app.wizard = std::make_unique<Wizard>(*app.platform, *app.fs, '\\', *app.runner);

  // Sized for the system's DPI; a window that opens on a monitor of another
  // DPI is sized again for that one.
  const unsigned systemDpi = GetDpiForSystem();
  const SIZE size = windowSizeFor(systemDpi);
  HWND window = CreateWindowExW(0, wide(text::kWindowClass), wide(text::kWindowTitle), kWindowStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr,
                                instance, &app);
  if (window == nullptr) return startFailure("CreateWindowFailed");
  app.window = window;
  if (const unsigned dpi = GetDpiForWindow(window); dpi != 0 && dpi != systemDpi) {
    const SIZE own = windowSizeFor(dpi);
    SetWindowPos(window, nullptr, 0, 0, own.cx, own.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const Accelerators accelerators = createAccelerators();

  ShowWindow(window, SW_SHOWDEFAULT);
  UpdateWindow(window);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) != 0) {
    // Message boxes run loops of their own, so the focus noted last is the
    // one the user left before a box came up.
    app.platform->noteFocus();
    if (handledAsKeys(app, accelerators.get(), message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace
}  // namespace qorvex::wizard

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return qorvex::wizard::runWizard(); }
