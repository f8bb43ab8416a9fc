#pragma once

#include <windows.h>

#include <array>

#include "wizard_platform.h"

namespace qorvex::wizard {

// The wizard's window-system operations on real Win32 controls. A control
// whose creation failed keeps a null handle; the wizard never asks for it.
class Win32Platform : public WizardPlatform {
 public:
  Win32Platform(HINSTANCE instance, HFONT normalFont, HFONT titleFont)
      : instance_(instance), normalFont_(normalFont), titleFont_(titleFont) {}

  void setMainWindow(HWND window) { main_ = window; }
  HWND mainWindow() const { return main_; }
  HWND handle(ControlId id) const;

  bool createControl(const ControlSpec& spec) override;
  bool hasControl(ControlId id) override { return handle(id) != nullptr; }
  void setFont(ControlId id, FontKind font) override;
  void showControl(ControlId id, bool show) override;
  void enableControl(ControlId id, bool enable) override;
  void setText(ControlId id, const char16_t* text) override;
  int textLength(ControlId id) override;
  int readText(ControlId id, char16_t* buffer, int capacity) override;
  int checkState(ControlId id) override;
  void setChecked(ControlId id) override;
  void setSelection(ControlId id, int start, int end) override;
  void replaceSelection(ControlId id, const char16_t* text) override;
  int messageBox(const char16_t* text, const char16_t* caption, unsigned style) override;
  BrowseOutcome browseForFolder(const char16_t* title, unsigned flags,
                                char16_t (&path)[kMaxPathUnits]) override;
  std::optional<std::u16string> programPath() override;
  bool isProgramRunning(const char16_t* exeName) override;
  void destroyMainWindow() override;

 private:
  HWND* slot(ControlId id);

  HINSTANCE instance_;
  HFONT normalFont_;
  HFONT titleFont_;
  HWND main_ = nullptr;
  std::array<HWND, kControlCount> handles_{};
  bool comReady_ = false;
};

}  // namespace qorvex::wizard
