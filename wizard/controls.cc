#include "controls.h"

#include <cstdlib>

namespace qorvex::wizard {
namespace {

using namespace style;
constexpr std::uint32_t kReadOnlyLog =
    kChild | kBorder | kVScroll | kMultiline | kAutoVScroll | kReadOnly | kWantReturn;
constexpr FontKind N = FontKind::Normal;

}  // namespace

const std::array<ControlSpec, kControlCount> kControls = {{
    {ControlId::TitleLabel, u"STATIC", u"License Agreement", 18, 12, 628, 20, kChild | kVisible,
     true, FontKind::Title},
    {ControlId::SubtitleLabel, u"STATIC",
     u"Please read the following important information before continuing.", 18, 34, 628, 18,
     kChild | kVisible, true, N},
    {ControlId::TopSeparator, u"STATIC", u"", 0, 58, 664, 2, kChild | kVisible | kEtchedHorz, false,
     N},
    {ControlId::AgreementEdit, u"EDIT", u"", 18, 74, 628, 282, kReadOnlyLog, true, N},
    {ControlId::AcceptRadio, u"BUTTON", u"I accept the agreement", 18, 368, 628, 20,
     kChild | kGroup | kTabStop | kAutoRadio, true, N},
    {ControlId::DeclineRadio, u"BUTTON", u"I do not accept the agreement", 18, 392, 628, 20,
     kChild | kTabStop | kAutoRadio, true, N},
    {ControlId::DirLabel, u"STATIC", u"Game install directory:", 18, 74, 628, 18, kChild, true, N},
    {ControlId::DirEdit, u"EDIT", u"", 18, 96, 528, 24, kChild | kBorder | kTabStop, true, N},
    {ControlId::BrowseButton, u"BUTTON", u"Browse...", 556, 96, 90, 24,
     kChild | kTabStop | kPushButton, true, N},
    {ControlId::DryRunRadio, u"BUTTON", u"Dry run (logging only)", 18, 138, 628, 20,
     kChild | kGroup | kTabStop | kAutoRadio, true, N},
    {ControlId::InstallRadio, u"BUTTON", u"Install", 18, 162, 628, 20,
     kChild | kTabStop | kAutoRadio, true, N},
    {ControlId::UninstallRadio, u"BUTTON", u"Uninstall", 18, 186, 628, 20,
     kChild | kTabStop | kAutoRadio, true, N},
    {ControlId::LogLabel, u"STATIC", u"Log:", 18, 218, 200, 18, kChild, true, N},
    {ControlId::LogEdit, u"EDIT", u"", 18, 238, 628, 174, kReadOnlyLog, true, N},
    {ControlId::BottomSeparator, u"STATIC", u"", 0, 424, 664, 2, kChild | kVisible | kEtchedHorz,
     false, N},
    {ControlId::BackButton, u"BUTTON", u"< Back", 360, 438, 90, 28, kChild | kTabStop | kPushButton,
     true, N},
    {ControlId::NextButton, u"BUTTON", u"Next", 458, 438, 90, 28,
     kChild | kVisible | kTabStop | kPushButton, true, N},
    {ControlId::CancelButton, u"BUTTON", u"Cancel", 556, 438, 90, 28,
     kChild | kVisible | kTabStop | kPushButton, true, N},
}};

int scaleForDpi(int value, unsigned dpi) {
  const long long scaled = static_cast<long long>(value) * dpi;
  const long long half = kBaseDpi / 2;
  return static_cast<int>(scaled >= 0 ? (scaled + half) / kBaseDpi : -((-scaled + half) / kBaseDpi));
}

ControlRect scaledPlace(const ControlSpec& spec, unsigned dpi) {
  const int left = scaleForDpi(spec.x, dpi);
  const int top = scaleForDpi(spec.y, dpi);
  return {left, top, scaleForDpi(spec.x + spec.w, dpi) - left,
          scaleForDpi(spec.y + spec.h, dpi) - top};
}

FontSpec scaledFont(const FontSpec& font, unsigned dpi) {
  return {font.face, scaleForDpi(font.height, dpi), font.weight};
}

ControlRect scaledClientArea(unsigned dpi) {
  return {0, 0, scaleForDpi(kClientWidth, dpi), scaleForDpi(kClientHeight, dpi)};
}

const ControlSpec& controlSpec(ControlId id) {
  for (const ControlSpec& spec : kControls) {
    if (spec.id == id) return spec;
  }
  // Every ControlId has a row; reaching here is a programming error.
  std::abort();
}

}  // namespace qorvex::wizard
