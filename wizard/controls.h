#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qorvex::wizard {

// Control ids; the window system reports commands by these numbers.
enum class ControlId : int {
  TitleLabel = 90,
  SubtitleLabel = 91,
  TopSeparator = 92,
  BottomSeparator = 93,
  AgreementEdit = 100,
  AcceptRadio = 101,
  DeclineRadio = 102,
  DirLabel = 110,
  DirEdit = 111,
  BrowseButton = 112,
  DryRunRadio = 113,
  InstallRadio = 114,
  UninstallRadio = 115,
  LogLabel = 116,
  LogEdit = 117,
  NextButton = 120,
  CancelButton = 121,
  BackButton = 122,
};

// Window style bits, spelled out so the control table can be checked without
// the window system's headers (the Win32 front end asserts they agree).
namespace style {
inline constexpr std::uint32_t kChild = 0x40000000;
inline constexpr std::uint32_t kVisible = 0x10000000;
inline constexpr std::uint32_t kBorder = 0x00800000;
inline constexpr std::uint32_t kVScroll = 0x00200000;
inline constexpr std::uint32_t kGroup = 0x00020000;
inline constexpr std::uint32_t kTabStop = 0x00010000;
inline constexpr std::uint32_t kEtchedHorz = 0x00000010;   // SS_ETCHEDHORZ
inline constexpr std::uint32_t kMultiline = 0x00000004;    // ES_MULTILINE
inline constexpr std::uint32_t kAutoVScroll = 0x00000040;  // ES_AUTOVSCROLL
inline constexpr std::uint32_t kReadOnly = 0x00000800;     // ES_READONLY
inline constexpr std::uint32_t kWantReturn = 0x00001000;   // ES_WANTRETURN
inline constexpr std::uint32_t kAutoRadio = 0x00000009;    // BS_AUTORADIOBUTTON
inline constexpr std::uint32_t kPushButton = 0x00000000;   // BS_PUSHBUTTON
}  // namespace style

enum class FontKind { Normal, Title };

// A font as CreateFontW takes it: a negative height is the character height
// in pixels.
struct FontSpec {
  std::u16string_view face;
  int height;
  int weight;
  bool operator==(const FontSpec&) const = default;
};

// The two fonts at 96 DPI.
inline constexpr FontSpec kNormalFont{u"Segoe UI", -14, 400};
inline constexpr FontSpec kTitleFont{u"Segoe UI", -16, 700};

struct ControlSpec {
  ControlId id;
  std::u16string_view className;
  std::u16string_view text;
  int x, y, w, h;
  std::uint32_t style;
  // The font set after creation; separators get none.
  bool hasFont;
  FontKind font;
};

inline constexpr int kClientWidth = 664;
inline constexpr int kClientHeight = 480;
inline constexpr std::size_t kControlCount = 18;

// Every control of the window in creation order, which is also the z-order.
extern const std::array<ControlSpec, kControlCount> kControls;

const ControlSpec& controlSpec(ControlId id);

// Places, sizes and font heights above are for 96 DPI, where they are used as
// they stand; at another DPI every one is scaled by dpi / 96.
inline constexpr unsigned kBaseDpi = 96;

struct ControlRect {
  int x, y, w, h;
  bool operator==(const ControlRect&) const = default;
};

// value * dpi / 96, rounded to the nearest pixel (halves away from zero), as
// MulDiv rounds.
int scaleForDpi(int value, unsigned dpi);
// The control's place at that DPI. Its edges are scaled, not its size, so
// controls that meet at 96 DPI still meet.
ControlRect scaledPlace(const ControlSpec& spec, unsigned dpi);
FontSpec scaledFont(const FontSpec& font, unsigned dpi);
// The client area (kClientWidth x kClientHeight at 96 DPI).
ControlRect scaledClientArea(unsigned dpi);

// Alt+letter keys and the button each presses; the buttons' texts carry no
// '&', so these are the only way to them.
struct Accelerator {
  char key;  // the letter, upper case
  ControlId button;
};
inline constexpr Accelerator kAccelerators[] = {
    {'N', ControlId::NextButton},
    {'B', ControlId::BackButton},
    {'R', ControlId::BrowseButton},
};

}  // namespace qorvex::wizard
