#include "fake_platform.h"

#include <algorithm>

namespace qorvex::wizard::testing {

std::string utf8(std::u16string_view units) {
  std::string out(units.size() * 3, '\0');
  TextResult<std::size_t> n = utf16ToUtf8(units, out.data(), out.size());
  if (!n) {
    ADD_FAILURE() << "text does not convert: " << textErrorName(n.error());
    return {};
  }
  out.resize(*n);
  return out;
}

FakeControl* FakePlatform::find(ControlId id, const char* operation) {
  auto it = controls.find(id);
  if (it == controls.end()) {
    ADD_FAILURE() << operation << " on absent control " << static_cast<int>(id);
    return nullptr;
  }
  return &it->second;
}

FakeControl& FakePlatform::control(ControlId id) {
  auto it = controls.find(id);
  if (it == controls.end()) {
    ADD_FAILURE() << "no control " << static_cast<int>(id);
    static FakeControl none{};
    return none;
  }
  return it->second;
}

bool FakePlatform::createControl(const ControlSpec& spec) {
  events.push_back("create " + std::to_string(static_cast<int>(spec.id)));
  if (failingControls.count(spec.id)) return false;
  FakeControl c;
  c.spec = spec;
  c.text = spec.text;
  c.visible = (spec.style & style::kVisible) != 0;
  controls.emplace(spec.id, c);
  creationOrder.push_back(spec.id);
  return true;
}

void FakePlatform::setFont(ControlId id, FontKind font) {
  events.push_back("font " + std::to_string(static_cast<int>(id)) +
                   (font == FontKind::Title ? " title" : " normal"));
  if (fontSets.empty())
    ADD_FAILURE() << "font set on " << static_cast<int>(id) << " before any was made";
  if (FakeControl* c = find(id, "setFont")) {
    c->font = font;
    if (!fontSets.empty()) {
      c->fontSpec = font == FontKind::Title ? fontSets.back().second : fontSets.back().first;
    }
  }
}

FontSpec FakePlatform::fontOf(ControlId id) const {
  auto it = controls.find(id);
  if (it == controls.end() || !it->second.fontSpec) {
    ADD_FAILURE() << "no font on " << static_cast<int>(id);
    return {};
  }
  return *it->second.fontSpec;
}

void FakePlatform::placeControl(ControlId id, const ControlRect& place) {
  events.push_back("place " + std::to_string(static_cast<int>(id)));
  if (FakeControl* c = find(id, "placeControl")) {
    c->spec.x = place.x;
    c->spec.y = place.y;
    c->spec.w = place.w;
    c->spec.h = place.h;
  }
}

bool FakePlatform::isUsable(ControlId id) {
  FakeControl* c = find(id, "isUsable");
  return c != nullptr && c->visible && c->enabled;
}

void FakePlatform::setFocus(ControlId id) {
  events.push_back("focus " + std::to_string(static_cast<int>(id)));
  if (find(id, "setFocus")) focused = id;
}

void FakePlatform::pressButton(ControlId id) {
  events.push_back("press " + std::to_string(static_cast<int>(id)));
  if (pressTarget == nullptr) {
    ADD_FAILURE() << "press without a wizard to click on";
    return;
  }
  click(*pressTarget, id);
}

void FakePlatform::showControl(ControlId id, bool show) {
  events.push_back("show " + std::to_string(static_cast<int>(id)) + (show ? " 1" : " 0"));
  if (FakeControl* c = find(id, "showControl")) c->visible = show;
}

void FakePlatform::enableControl(ControlId id, bool enable) {
  events.push_back("enable " + std::to_string(static_cast<int>(id)) + (enable ? " 1" : " 0"));
  if (FakeControl* c = find(id, "enableControl")) c->enabled = enable;
}

void FakePlatform::setText(ControlId id, const char16_t* text) {
  events.push_back("text " + std::to_string(static_cast<int>(id)));
  if (FakeControl* c = find(id, "setText")) c->text = text;
}

int FakePlatform::textLength(ControlId id) {
  FakeControl* c = find(id, "textLength");
  return c ? static_cast<int>(c->text.size()) : 0;
}

int FakePlatform::readText(ControlId id, char16_t* buffer, int capacity) {
  FakeControl* c = find(id, "readText");
  if (c == nullptr || capacity <= 0) return 0;
  const int n = std::min<int>(capacity - 1, static_cast<int>(c->text.size()));
  std::copy_n(c->text.data(), n, buffer);
  buffer[n] = u'\0';
  return n;
}

int FakePlatform::checkState(ControlId id) {
  FakeControl* c = find(id, "checkState");
  return c ? c->check : 0;
}

void FakePlatform::setChecked(ControlId id) {
  events.push_back("check " + std::to_string(static_cast<int>(id)));
  if (FakeControl* c = find(id, "setChecked")) c->check = kBstChecked;
}

void FakePlatform::setSelection(ControlId id, int start, int end) {
  events.push_back("select " + std::to_string(static_cast<int>(id)) + " " + std::to_string(start) +
                   " " + std::to_string(end));
  if (FakeControl* c = find(id, "setSelection")) {
    c->selStart = start;
    c->selEnd = end;
  }
}

void FakePlatform::replaceSelection(ControlId id, const char16_t* text) {
  events.push_back("replace " + std::to_string(static_cast<int>(id)));
  if (FakeControl* c = find(id, "replaceSelection")) {
    c->text.replace(c->selStart, c->selEnd - c->selStart, text);
    c->selStart = c->selEnd = c->selStart + static_cast<int>(std::u16string_view(text).size());
  }
}

int FakePlatform::messageBox(const char16_t* text, const char16_t* caption, unsigned style) {
  if (onBox) onBox();
  events.push_back("box");
  boxes.push_back({utf8(text), utf8(caption), style});
  if (answers.empty()) {
    ADD_FAILURE() << "unexpected box: " << boxes.back();
    return 0;
  }
  const int answer = answers.front();
  answers.pop_front();
  return answer;
}

BrowseOutcome FakePlatform::browseForFolder(const char16_t* title, unsigned flags,
                                            const char16_t* initialFolder,
                                            char16_t (&path)[kMaxPathUnits]) {
  ++browseCalls;
  EXPECT_EQ(utf8(title), "Select your game install directory.");
  // Only folders that are there, and no button to make a new one.
  EXPECT_EQ(flags, 0x241u);
  browseStartedAt = initialFolder == nullptr ? u"<null>" : initialFolder;
  if (browseOutcome == BrowseOutcome::Chosen) {
    const std::size_t n = std::min(browsePath.size(), kMaxPathUnits);
    std::copy_n(browsePath.data(), n, path);
    if (n < kMaxPathUnits) path[n] = u'\0';
  }
  return browseOutcome;
}

void FakePlatform::destroyMainWindow() {
  events.push_back("destroy");
  ++destroyed;
}

void FakePlatform::click(Wizard& wizard, ControlId id) {
  FakeControl& c = control(id);
  if ((c.spec.style & 0xF) == style::kAutoRadio) {
    // The group runs from its WS_GROUP button to the next one.
    auto it = std::find(creationOrder.begin(), creationOrder.end(), id);
    auto first = it;
    while (first != creationOrder.begin() && !(control(*first).spec.style & style::kGroup)) --first;
    for (auto g = first; g != creationOrder.end(); ++g) {
      if (g != first && (control(*g).spec.style & style::kGroup)) break;
      if ((control(*g).spec.style & 0xF) == style::kAutoRadio) control(*g).check = 0;
    }
    c.check = kBstChecked;
  }
  wizard.onCommand(static_cast<int>(id), kBnClicked);
}

void FakePlatform::type(Wizard& wizard, std::u16string_view text) {
  control(ControlId::DirEdit).text = text;
  wizard.onCommand(static_cast<int>(ControlId::DirEdit), kEnChange);
}

std::vector<int> FakePlatform::visibleIds() const {
  std::vector<int> ids;
  for (ControlId id : creationOrder) {
    if (controls.at(id).visible) ids.push_back(static_cast<int>(id));
  }
  return ids;
}

std::string FakePlatform::logText() const {
  auto it = controls.find(ControlId::LogEdit);
  return it == controls.end() ? std::string() : utf8(it->second.text);
}

namespace {

class FakeDirectory : public Directory {
 public:
  FakeDirectory(FakeFileSystem& fs, std::string_view path) : fs_(fs), path_(path) {}
  Result<std::string> readFile(std::string_view path, std::uint64_t maxBytes,
                               std::size_t) override {
    std::string full = path_;
    if (full.empty() || full.back() != '\\') full.push_back('\\');
    for (char c : path) full.push_back(c == '/' ? '\\' : c);
    fs_.read.push_back(full);
    auto it = fs_.files.find(full);
    if (it == fs_.files.end()) return fail(Error::FileNotFound);
    if (it->second.size() > maxBytes) return fail(Error::StreamTooLong);
    return it->second;
  }
  Result<std::unique_ptr<WritableFile>> createFile(std::string_view, std::string_view) override {
    return fail(Error::Unexpected);
  }
  Result<void> checkReplaceable(std::string_view) override { return fail(Error::Unexpected); }
  Result<bool> isReadOnly(std::string_view) override { return fail(Error::Unexpected); }
  Result<void> renameReplace(std::string_view, std::string_view) override {
    return fail(Error::Unexpected);
  }
  Result<void> renameNoReplace(std::string_view, std::string_view) override {
    return fail(Error::Unexpected);
  }
  Result<void> linkFile(std::string_view, std::string_view) override {
    return fail(Error::Unexpected);
  }
  Result<void> deleteFile(std::string_view) override { return fail(Error::Unexpected); }
  Result<FileKind> kindOf(std::string_view) override { return fail(Error::Unexpected); }
  Result<FileInfo> fileInfo(std::string_view) override { return fail(Error::Unexpected); }
  Result<void> makeDirectory(std::string_view) override { return fail(Error::Unexpected); }
  Result<std::vector<std::string>> listFolder(std::string_view) override {
    return fail(Error::Unexpected);
  }
  Result<void> flush() override { return fail(Error::Unexpected); }
  Result<std::uint64_t> freeSpace(std::string_view) override { return fail(Error::Unexpected); }
  Result<void> tryLock(LockMode) override { return fail(Error::Unexpected); }

 private:
  FakeFileSystem& fs_;
  std::string path_;
};

}  // namespace

Result<std::unique_ptr<Directory>> FakeFileSystem::openDirectory(std::string_view absolutePath) {
  opened.emplace_back(absolutePath);
  if (!directories.count(std::string(absolutePath))) return fail(Error::FileNotFound);
  return std::unique_ptr<Directory>(new FakeDirectory(*this, absolutePath));
}

RunResult FakeRunner::run(const RunRequest& request, RunLog& log) {
  Call call{std::string(request.installDir), request.uninstall, request.dryRun, {}, {}};
  if (platform != nullptr) {
    call.logBefore = platform->logText();
    for (auto& [id, c] : platform->controls) call.enabledDuringRun.emplace_back(int(id), c.enabled);
  }
  calls.push_back(call);
  log.appendLog(logLine);
  return result;
}

Result<SurveyReport> FakeRunner::survey(std::string_view) {
  ++surveyCalls;
  return surveyReport;
}

PreflightReport FakeRunner::preflight(const RunRequest&) {
  ++preflightCalls;
  return preflightReport;
}

}  // namespace qorvex::wizard::testing
