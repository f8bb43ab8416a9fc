// Process entry and window procedure of the setup wizard. Everything the user
// sees is decided in wizard.cc; this file only connects it to Win32.
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <string_view>

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
    case WM_COMMAND: app->wizard->onCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
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

HFONT createFont(int height, int weight) {
  return CreateFontW(height, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Segoe UI");
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

  // Brush and fonts live until the process ends.
  App app;
  app.whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
  HFONT normalFont = createFont(-14, FW_NORMAL);
  HFONT titleFont = createFont(-16, FW_BOLD);
  app.platform = std::make_unique<Win32Platform>(instance, normalFont, titleFont);
  app.fs = makePlatformFileSystem();
  app.runner = std::make_unique<EngineRunner>(*app.fs);
  app.wizard = std::make_unique<Wizard>(*app.platform, *app.fs, '\\', *app.runner);

  RECT outer{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&outer, kWindowStyle, FALSE, 0);
  HWND window = CreateWindowExW(0, wide(text::kWindowClass), wide(text::kWindowTitle), kWindowStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left,
                                outer.bottom - outer.top, nullptr, nullptr, instance, &app);
  if (window == nullptr) return startFailure("CreateWindowFailed");

  ShowWindow(window, SW_SHOWDEFAULT);
  UpdateWindow(window);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) != 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace
}  // namespace qorvex::wizard

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return qorvex::wizard::runWizard(); }
