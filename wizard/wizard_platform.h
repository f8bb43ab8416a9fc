#pragma once

#include <optional>
#include <string>

#include "controls.h"
#include "text_convert.h"

namespace qorvex::wizard {

// Message box styles and answers, with the window system's values.
inline constexpr unsigned kMbOk = 0x00;
inline constexpr unsigned kMbOkCancel = 0x01;
inline constexpr unsigned kMbYesNo = 0x04;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconWarning = 0x30;
inline constexpr unsigned kMbIconInformation = 0x40;
inline constexpr unsigned kMbDefButton2 = 0x100;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// BM_GETCHECK answer that alone counts as checked.
inline constexpr int kBstChecked = 1;

// Notification codes of WM_COMMAND.
inline constexpr int kBnClicked = 0;
inline constexpr int kEnChange = 0x300;

// BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON: the game
// folder exists already, so the browser offers no way to make one.
inline constexpr unsigned kBrowseFlags = 0x241;

// The command the dialog manager sends for Esc (IDCANCEL).
inline constexpr int kEscapeCommand = 2;

enum class BrowseOutcome {
  Cancelled,  // the user closed the browser
  NoPath,     // the chosen item has no file-system path
  Chosen,     // the path buffer holds the folder (NUL-terminated unless all 260 units are used)
};

// What the wizard needs of the window system. Every control operation is made
// only on a control whose creation succeeded (hasControl); the logic checks
// that before calling.
class WizardPlatform {
 public:
  virtual ~WizardPlatform() = default;

  // Creates one child of the main window with its table class, text, place
  // and style, extended style 0. False leaves the control absent.
  virtual bool createControl(const ControlSpec& spec) = 0;
  virtual bool hasControl(ControlId id) = 0;
  // The main window's DPI (GetDpiForWindow).
  virtual unsigned windowDpi() = 0;
  // Creates the two fonts that setFont applies from now on. Fonts of an
  // earlier call stay alive until the next one, so a control never holds a
  // deleted font while the caller sets the new ones.
  virtual void useFonts(const FontSpec& normal, const FontSpec& title) = 0;
  // WM_SETFONT with redraw; a font that could not be created is not applied.
  virtual void setFont(ControlId id, FontKind font) = 0;
  // Moves and sizes the control in client pixels; z-order and focus stay.
  virtual void placeControl(ControlId id, const ControlRect& place) = 0;
  virtual void showControl(ControlId id, bool show) = 0;
  virtual void enableControl(ControlId id, bool enable) = 0;
  // True when the control is visible and enabled, so the user could use it.
  virtual bool isUsable(ControlId id) = 0;
  // The keyboard focus goes to the control; when the main window is not the
  // active one, it goes there once the window is activated.
  virtual void setFocus(ControlId id) = 0;
  // BM_CLICK: as if the user clicked the button (an auto radio button checks
  // itself and clears the others of its group, then reports BN_CLICKED).
  virtual void pressButton(ControlId id) = 0;
  virtual void setText(ControlId id, const char16_t* text) = 0;
  // GetWindowTextLengthW.
  virtual int textLength(ControlId id) = 0;
  // GetWindowTextW: copies at most capacity - 1 units and a NUL; returns the
  // units copied, 0 or less on failure.
  virtual int readText(ControlId id, char16_t* buffer, int capacity) = 0;
  // BM_GETCHECK.
  virtual int checkState(ControlId id) = 0;
  // BM_SETCHECK with BST_CHECKED.
  virtual void setChecked(ControlId id) = 0;
  // EM_SETSEL.
  virtual void setSelection(ControlId id, int start, int end) = 0;
  // EM_REPLACESEL, not undoable.
  virtual void replaceSelection(ControlId id, const char16_t* text) = 0;

  // Modal box owned by the main window; returns the button pressed.
  virtual int messageBox(const char16_t* text, const char16_t* caption, unsigned style) = 0;
  // Modal folder browser owned by the main window, opened at initialFolder
  // when that is not empty.
  virtual BrowseOutcome browseForFolder(const char16_t* title, unsigned flags,
                                        const char16_t* initialFolder,
                                        char16_t (&path)[kMaxPathUnits]) = 0;
  // The running program file's full path, or nothing when it cannot be had.
  virtual std::optional<std::u16string> programPath() = 0;
  // True when a process of that program file name (for example "DCS.exe",
  // compared without regard to case) is running.
  virtual bool isProgramRunning(const char16_t* exeName) = 0;
  virtual void destroyMainWindow() = 0;
};

}  // namespace qorvex::wizard
