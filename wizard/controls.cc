#include "controls.h"

#include <cstdlib>

#include "wizard_texts.h"

namespace qorvex::wizard {
namespace {

using namespace style;
constexpr std::uint32_t kReadOnlyLog =
    kChild | kBorder | kVScroll | kMultiline | kAutoVScroll | kReadOnly | kWantReturn;
constexpr FontKind N = FontKind::Normal;

}  // namespace

const std::array<ControlSpec, kControlCount> kControls = {{
    {ControlId::TitleLabel, u"STATIC", text::kAgreementTitle, 18, 12, 628, 20, kChild | kVisible,
     true, FontKind::Title},
    {ControlId::SubtitleLabel, u"STATIC", text::kAgreementSubtitle, 18, 34, 628, 18,
     kChild | kVisible, true, N},
    {ControlId::TopSeparator, u"STATIC", u"", 0, 58, 664, 2, kChild | kVisible | kEtchedHorz, false,
     N},
    {ControlId::AgreementEdit, u"EDIT", u"", 18, 74, 628, 282, kReadOnlyLog, true, N},
    {ControlId::AcceptRadio, u"BUTTON", text::kAccept, 18, 368, 628, 20,
     kChild | kGroup | kTabStop | kAutoRadio, true, N},
    {ControlId::DeclineRadio, u"BUTTON", text::kDecline, 18, 392, 628, 20,
     kChild | kTabStop | kAutoRadio, true, N},
    {ControlId::DirLabel, u"STATIC", text::kDirLabel, 18, 74, 628, 18, kChild, true, N},
    {ControlId::DirEdit, u"EDIT", u"", 18, 96, 528, 24, kChild | kBorder | kTabStop, true, N},
    {ControlId::BrowseButton, u"BUTTON", text::kBrowse, 556, 96, 90, 24,
     kChild | kTabStop | kPushButton, true, N},
    {ControlId::DryRunRadio, u"BUTTON", text::kDryRunChoice, 18, 138, 628, 20,
     kChild | kGroup | kTabStop | kAutoRadio, true, N},
    {ControlId::InstallRadio, u"BUTTON", text::kInstallChoice, 18, 162, 628, 20,
     kChild | kTabStop | kAutoRadio, true, N},
    {ControlId::UninstallRadio, u"BUTTON", text::kUninstallChoice, 18, 186, 628, 20,
     kChild | kTabStop | kAutoRadio, true, N},
    {ControlId::LogLabel, u"STATIC", text::kLogLabel, 18, 218, 200, 18, kChild, true, N},
    {ControlId::LogEdit, u"EDIT", u"", 18, 238, 628, 174, kReadOnlyLog, true, N},
    {ControlId::BottomSeparator, u"STATIC", u"", 0, 424, 664, 2, kChild | kVisible | kEtchedHorz,
     false, N},
    {ControlId::BackButton, u"BUTTON", text::kBack, 360, 438, 90, 28,
     kChild | kTabStop | kPushButton, true, N},
    {ControlId::NextButton, u"BUTTON", text::kNext, 458, 438, 90, 28,
     kChild | kVisible | kTabStop | kPushButton, true, N},
    {ControlId::CancelButton, u"BUTTON", text::kCancel, 556, 438, 90, 28,
     kChild | kVisible | kTabStop | kPushButton, true, N},
}};

int scaleForDpi(int value, unsigned dpi) {
  const long long scaled = static_cast<long long>(value) * dpi;
  const long long half = kBaseDpi / 2;
  return static_cast<int>(scaled >= 0 ? (scaled + half) / kBaseDpi
                                      : -((-scaled + half) / kBaseDpi));
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
