#include "manifest_diagnostics.h"

#include <cstdio>

#include "console.h"

namespace qorvex::cli {
namespace {

constexpr std::string_view kTopLevel = "(top level)";

std::string messageOf(const ManifestDiagnostic& diagnostic) {
  switch (diagnostic.issue) {
    case ManifestIssue::ExpectedValue: return "expected a value";
    case ManifestIssue::ExpectedKey: return "expected a key in double quotes";
    case ManifestIssue::ExpectedColon: return "expected ':'";
    case ManifestIssue::ExpectedCommaOrBrace: return "expected ',' or '}'";
    case ManifestIssue::ExpectedCommaOrBracket: return "expected ',' or ']'";
    case ManifestIssue::TrailingComma: return "trailing comma";
    case ManifestIssue::TrailingText: return "unexpected text after the end of the manifest";
    case ManifestIssue::BadLiteral: return "expected true, false or null";
    case ManifestIssue::BadNumber: return "invalid number";
    case ManifestIssue::ControlCharacter:
      return "control character in a string; write \\n, \\t or \\u00XX";
    case ManifestIssue::BadEscape: return "invalid escape in a string";
    case ManifestIssue::BadUnicodeEscape: return "expected four hex digits after \\u";
    case ManifestIssue::LoneSurrogate: return "\\u escape is half of a surrogate pair";
    case ManifestIssue::InvalidUtf8: return "invalid UTF-8";
    case ManifestIssue::UnexpectedEnd: return "unexpected end of input";
    case ManifestIssue::ExpectedObject: return "expected an object";
    case ManifestIssue::ExpectedArray: return "expected an array";
    case ManifestIssue::ExpectedString: return "expected a string";
    case ManifestIssue::ExpectedStringOrNull: return "expected a string or null";
    case ManifestIssue::ExpectedIntegerOrNull: return "expected an integer or null";
    case ManifestIssue::MissingKey: return "missing key '" + diagnostic.key + "'";
    case ManifestIssue::DuplicateKey: return "duplicate key";
    case ManifestIssue::FractionalNumber: return "expected an integer, not a fraction";
    case ManifestIssue::NumberOutOfRange: return "integer outside the signed 64-bit range";
    case ManifestIssue::BadPath: return "not a relative path inside the game folder";
    case ManifestIssue::OutOfMemory: return "out of memory";
    case ManifestIssue::UnknownKey: return "warning: unknown key, ignored";
    case ManifestIssue::EmptyInsertText: return "warning: the text to insert is empty";
  }
  return "unexpected problem";
}

}  // namespace

std::string payloadFilePath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.empty() || (path.back() != '/' && path.back() != '\\')) path.push_back(kSeparator);
  path.append(name);
  return path;
}

std::string manifestDiagnosticLine(std::string_view file, const ManifestDiagnostic& diagnostic) {
  std::string line = "qorvex-patch: ";
  line.append(file);
  // Only running out of memory has no place.
  if (diagnostic.line != 0)
    line += ':' + std::to_string(diagnostic.line) + ':' + std::to_string(diagnostic.column);
  line += ": ";
  line.append(diagnostic.entry.empty() ? kTopLevel : std::string_view(diagnostic.entry));
  line += ": " + messageOf(diagnostic) + "\n";
  return line;
}

void reportManifestDiagnostics(const DirectoryPayload& payload, std::string_view payloadDir) {
  auto text = payload.manifestOverride();
  if (!text) return;
  const ManifestCheck check = checkManifest(*text);
  const std::string file = payloadFilePath(payloadDir, kManifestName);
  std::string lines;
  for (const ManifestDiagnostic& warning : check.warnings)
    lines += manifestDiagnosticLine(file, warning);
  if (check.error) lines += manifestDiagnosticLine(file, *check.error);
  // Standard error stays in text mode on Windows, which makes its own CR LF.
  std::fputs(lines.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace qorvex::cli
