#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <type_traits>

#include "wizard_platform.h"

namespace qorvex::wizard {

// The wizard's window-system operations on real Win32 controls. A control
// whose creation failed keeps a null handle; the wizard never asks for it.
class Win32Platform : public WizardPlatform {
 public:
  explicit Win32Platform(HINSTANCE instance) : instance_(instance) {}

  void setMainWindow(HWND window) { main_ = window; }
  HWND mainWindow() const { return main_; }
  HWND handle(ControlId id) const;
  // The control of ours that has the keyboard focus, if one has.
  std::optional<ControlId> focusedControl() const;
  // Keeps the control that has the focus now, to give it back when the
  // window is activated again: a modal box disables the window first, which
  // takes the focus away before the window learns that it loses activation.
  void noteFocus();
  // On activation: the focus back to the control kept, when it can still
  // take it. False when there is none.
  bool restoreFocus();

  bool createControl(const ControlSpec& spec) override;
  bool hasControl(ControlId id) override { return handle(id) != nullptr; }
  unsigned windowDpi() override;
  void useFonts(const FontSpec& normal, const FontSpec& title) override;
  void setFont(ControlId id, FontKind font) override;
  void placeControl(ControlId id, const ControlRect& place) override;
  void showControl(ControlId id, bool show) override;
  void enableControl(ControlId id, bool enable) override;
  bool isUsable(ControlId id) override;
  void setFocus(ControlId id) override;
  void pressButton(ControlId id) override;
  void setText(ControlId id, const char16_t* text) override;
  int textLength(ControlId id) override;
  int readText(ControlId id, char16_t* buffer, int capacity) override;
  int checkState(ControlId id) override;
  void setChecked(ControlId id) override;
  void setSelection(ControlId id, int start, int end) override;
  void replaceSelection(ControlId id, const char16_t* text) override;
  int messageBox(const char16_t* text, const char16_t* caption, unsigned style) override;
  BrowseOutcome browseForFolder(const char16_t* title, unsigned flags,
                                const char16_t* initialFolder,
                                char16_t (&path)[kMaxPathUnits]) override;
  std::optional<std::u16string> programPath() override;
  bool isProgramRunning(const char16_t* exeName) override;
  void destroyMainWindow() override;

 private:
  HWND* slot(ControlId id);

  struct FontDeleter {
    void operator()(HFONT font) const { DeleteObject(font); }
  };
  using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

  HINSTANCE instance_;
  Font normalFont_;
  Font titleFont_;
  // The fonts before the last useFonts, until the controls have the new ones.
  Font oldNormalFont_;
  Font oldTitleFont_;
  HWND main_ = nullptr;
  HWND focus_ = nullptr;
  std::array<HWND, kControlCount> handles_{};
  bool comReady_ = false;
};

}  // namespace qorvex::wizard
