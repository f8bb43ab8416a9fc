#include "memory_file_system.h"

#include <optional>

namespace qorvex::testing {

std::string canonicalPath(std::string_view path) {
  auto native = toNativeRelativePath(path, '\\');
  return native ? *native : std::string(path);
}

std::optional<Fault> MemoryFileSystem::hit(Op op) {
  int count = ++counts_[op];
  for (const Fault& fault : faults) {
    if (fault.op == op && fault.occurrence == count) return fault;
  }
  return std::nullopt;
}

bool MemoryFileSystem::wroteNothing() const {
  for (const std::string& entry : journal) {
    if (!entry.starts_with("read ") && !entry.starts_with("kind ") &&
        !entry.starts_with("check ") && !entry.starts_with("list ") &&
        !entry.starts_with("lock ") && !entry.starts_with("info ")) {
      return false;
    }
  }
  return true;
}

void MemoryFileSystem::addFile(const std::string& path, std::string content) {
  std::string canonical = canonicalPath(path);
  files[canonical] = std::move(content);
  inodeOf[canonical] = newInode();
  for (std::size_t slash = canonical.find('\\'); slash != std::string::npos;
       slash = canonical.find('\\', slash + 1)) {
    folders.insert(canonical.substr(0, slash));
  }
}

bool MemoryFileSystem::sameFile(const std::string& a, const std::string& b) const {
  auto ia = inodeOf.find(a);
  auto ib = inodeOf.find(b);
  return ia != inodeOf.end() && ib != inodeOf.end() && ia->second == ib->second;
}

namespace {

class MemoryFile : public WritableFile {
 public:
  MemoryFile(MemoryFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
  Result<void> write(std::string_view bytes) override {
    if (auto fault = fs_.hit(Op::Write)) {
      fs_.files[path_].append(bytes.substr(0, std::min(fault->partialBytes, bytes.size())));
      return fail(fault->error);
    }
    fs_.files[path_].append(bytes);
    return {};
  }
  Result<void> commit() override {
    if (auto fault = fs_.hit(Op::Commit)) return fail(fault->error);
    return {};
  }

 private:
  MemoryFileSystem& fs_;
  std::string path_;
};

class MemoryDirectory : public Directory {
 public:
  explicit MemoryDirectory(MemoryFileSystem& fs) : fs_(fs) {}

  Result<std::string> readFile(std::string_view path, std::uint64_t maxBytes,
                               std::size_t spare) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("read " + *p);
    if (auto fault = fs_.hit(Op::Read)) return fail(fault->error);
    if (auto odd = oddity(*p)) return fail(*odd);
    if (fs_.folders.count(*p)) return fail(Error::IsDir);
    auto it = fs_.files.find(*p);
    if (it == fs_.files.end()) return fail(missing(*p));
    if (it->second.size() > maxBytes) return fail(Error::StreamTooLong);
    std::string content;
    content.reserve(it->second.size() + spare);
    content = it->second;
    return content;
  }

  Result<std::unique_ptr<WritableFile>> createFile(std::string_view path,
                                                   std::string_view) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("create " + *p);
    if (auto fault = fs_.hit(Op::Create)) return fail(fault->error);
    if (fs_.folders.count(*p)) return fail(Error::IsDir);
    if (!parentExists(*p)) return fail(missing(*p));
    if (fs_.files.count(*p)) return fail(Error::PathAlreadyExists);
    fs_.files[*p].clear();
    fs_.inodeOf[*p] = fs_.newInode();
    return std::make_unique<MemoryFile>(fs_, *p);
  }

  Result<void> checkReplaceable(std::string_view path) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("check " + *p);
    if (auto fault = fs_.hit(Op::Check)) return fail(fault->error);
    if (auto odd = oddity(*p)) return fail(*odd);
    if (fs_.folders.count(*p)) return fail(Error::IsDir);
    if (!fs_.files.count(*p)) return fail(missing(*p));
    if (fs_.readOnly.count(*p)) return fail(Error::AccessDenied);
    // As on Windows, where another program can hold a file against replacing.
    if (fs_.busy.count(*p)) return fail(Error::FileBusy);
    return {};
  }

  Result<bool> isReadOnly(std::string_view path) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    return fs_.readOnly.count(*p) > 0;
  }

  Result<void> renameReplace(std::string_view from, std::string_view to) override {
    return rename(from, to, true);
  }
  Result<void> renameNoReplace(std::string_view from, std::string_view to) override {
    return rename(from, to, false);
  }

  Result<void> linkFile(std::string_view from, std::string_view to) override {
    auto f = resolve(from);
    if (!f) return fail(f.error());
    auto t = resolve(to);
    if (!t) return fail(t.error());
    fs_.journal.push_back("link " + *f + " -> " + *t);
    if (auto fault = fs_.hit(Op::Link)) return fail(fault->error);
    auto it = fs_.files.find(*f);
    if (it == fs_.files.end()) return fail(missing(*f));
    if (fs_.files.count(*t) || fs_.folders.count(*t)) return fail(Error::PathAlreadyExists);
    if (fs_.linksUnsupported) return fail(Error::AccessDenied);
    fs_.files[*t] = it->second;
    fs_.inodeOf[*t] = inode(*f);
    return {};
  }

  Result<void> deleteFile(std::string_view path) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("delete " + *p);
    if (auto fault = fs_.hit(Op::Delete)) return fail(fault->error);
    if (auto odd = oddity(*p)) return fail(*odd);
    if (fs_.folders.count(*p)) return fail(Error::IsDir);
    if (fs_.busy.count(*p)) return fail(Error::FileBusy);
    if (fs_.files.erase(*p) == 0) return fail(missing(*p));
    fs_.inodeOf.erase(*p);
    return {};
  }

  Result<FileKind> kindOf(std::string_view path) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("kind " + *p);
    if (auto fault = fs_.hit(Op::KindOf)) return fail(fault->error);
    if (fs_.symlinks.count(*p)) return fail(Error::LinkRefused);
    if (fs_.fifos.count(*p)) return FileKind::Other;
    if (fs_.folders.count(*p)) return FileKind::Directory;
    if (fs_.files.count(*p)) return FileKind::File;
    return fail(missing(*p));
  }

  Result<FileInfo> fileInfo(std::string_view path) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("info " + *p);
    if (auto fault = fs_.hit(Op::Info)) return fail(fault->error);
    if (fs_.symlinks.count(*p)) return fail(Error::LinkRefused);
    FileInfo info;
    info.volume = 1;
    if (fs_.fifos.count(*p)) return info;
    if (fs_.folders.count(*p)) {
      info.kind = FileKind::Directory;
      return info;
    }
    auto it = fs_.files.find(*p);
    if (it == fs_.files.end()) return fail(missing(*p));
    info.kind = FileKind::File;
    info.size = it->second.size();
    const int id = inode(*p);
    info.index = static_cast<std::uint64_t>(id);
    info.links = 0;
    for (const auto& [name, other] : fs_.inodeOf) {
      if (other == id && fs_.files.count(name)) ++info.links;
    }
    return info;
  }

  Result<void> makeDirectory(std::string_view path) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("mkdir " + *p);
    if (auto fault = fs_.hit(Op::MakeDir)) return fail(fault->error);
    if (fs_.folders.count(*p) || fs_.files.count(*p)) return fail(Error::PathAlreadyExists);
    if (!parentExists(*p)) return fail(missing(*p));
    fs_.folders.insert(*p);
    return {};
  }

  Result<std::vector<std::string>> listFolder(std::string_view path) override {
    std::string folder;
    if (!path.empty()) {
      auto p = resolve(path);
      if (!p) return fail(p.error());
      folder = *p;
    }
    fs_.journal.push_back("list " + folder);
    if (auto fault = fs_.hit(Op::List)) return fail(fault->error);
    if (!folder.empty() && !fs_.folders.count(folder)) return fail(missing(folder));
    const std::string prefix = folder.empty() ? "" : folder + "\\";
    std::vector<std::string> names;
    auto collect = [&](const std::string& entry) {
      if (entry.starts_with(prefix) && entry.find('\\', prefix.size()) == std::string::npos) {
        names.push_back(entry.substr(prefix.size()));
      }
    };
    for (const auto& [name, content] : fs_.files) collect(name);
    for (const std::string& name : fs_.folders) collect(name);
    for (const std::string& name : fs_.symlinks) collect(name);
    for (const std::string& name : fs_.fifos) collect(name);
    return names;
  }

  Result<std::uint64_t> freeSpace(std::string_view) override { return fs_.freeBytes; }

  Result<void> flush() override {
    fs_.journal.push_back("flush");
    if (auto fault = fs_.hit(Op::Flush)) return fail(fault->error);
    ++fs_.flushes;
    return {};
  }

  Result<void> tryLock(LockMode mode) override {
    fs_.journal.push_back(mode == LockMode::Exclusive ? "lock exclusive" : "lock shared");
    if (auto fault = fs_.hit(Op::Lock)) return fail(fault->error);
    if (fs_.lockedElsewhere) return fail(Error::InstallBusy);
    return {};
  }

 private:
  Result<std::string> resolve(std::string_view path) { return toNativeRelativePath(path, '\\'); }

  // Tests may put files in place without one.
  int inode(const std::string& path) {
    auto [it, added] = fs_.inodeOf.try_emplace(path, 0);
    if (added) it->second = fs_.newInode();
    return it->second;
  }

  // Why a link or a FIFO is not a regular file to work on.
  std::optional<Error> oddity(const std::string& path) const {
    if (fs_.symlinks.count(path)) return Error::LinkRefused;
    if (fs_.fifos.count(path)) return Error::NotAFile;
    return std::nullopt;
  }

  bool parentExists(const std::string& path) const {
    std::size_t slash = path.rfind('\\');
    return slash == std::string::npos || fs_.folders.count(path.substr(0, slash)) > 0;
  }

  // FileNotFound, or NotDir when a component on the way is a file.
  Error missing(const std::string& path) const {
    for (std::size_t slash = path.find('\\'); slash != std::string::npos;
         slash = path.find('\\', slash + 1)) {
      if (fs_.files.count(path.substr(0, slash))) return Error::NotDir;
    }
    return Error::FileNotFound;
  }

  Result<void> rename(std::string_view from, std::string_view to, bool replace) {
    auto f = resolve(from);
    if (!f) return fail(f.error());
    auto t = resolve(to);
    if (!t) return fail(t.error());
    fs_.journal.push_back("rename " + *f + " -> " + *t);
    if (auto fault = fs_.hit(replace ? Op::RenameReplace : Op::RenameNoReplace)) {
      return fail(fault->error);
    }
    auto it = fs_.files.find(*f);
    if (it == fs_.files.end()) return fail(missing(*f));
    if (fs_.files.count(*t)) {
      if (!replace) return fail(Error::PathAlreadyExists);
      if (fs_.busy.count(*t)) return fail(Error::FileBusy);
      if (fs_.readOnly.count(*t)) return fail(Error::AccessDenied);
    }
    std::string content = std::move(it->second);
    fs_.files.erase(it);
    fs_.files[*t] = std::move(content);
    fs_.inodeOf[*t] = inode(*f);
    fs_.inodeOf.erase(*f);
    return {};
  }

  MemoryFileSystem& fs_;
};

}  // namespace

Result<std::unique_ptr<Directory>> MemoryFileSystem::openDirectory(std::string_view absolutePath) {
  if (absolutePath != root) return fail(Error::FileNotFound);
  return std::make_unique<MemoryDirectory>(*this);
}

}  // namespace qorvex::testing
