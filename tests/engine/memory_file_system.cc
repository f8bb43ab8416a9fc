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
    if (entry.rfind("read ", 0) != 0 && entry.rfind("kind ", 0) != 0) return false;
  }
  return true;
}

void MemoryFileSystem::addFile(const std::string& path, std::string content) {
  std::string canonical = canonicalPath(path);
  files[canonical] = std::move(content);
  for (std::size_t slash = canonical.find('\\'); slash != std::string::npos;
       slash = canonical.find('\\', slash + 1)) {
    folders.insert(canonical.substr(0, slash));
  }
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

  Result<std::string> readFile(std::string_view path, std::uint64_t maxBytes) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("read " + *p);
    if (auto fault = fs_.hit(Op::Read)) return fail(fault->error);
    if (fs_.folders.count(*p)) return fail(Error::IsDir);
    auto it = fs_.files.find(*p);
    if (it == fs_.files.end()) return fail(missing(*p));
    if (it->second.size() > maxBytes) return fail(Error::StreamTooLong);
    return it->second;
  }

  Result<std::unique_ptr<WritableFile>> createFile(std::string_view path, CreateMode mode) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("create " + *p);
    if (auto fault = fs_.hit(Op::Create)) return fail(fault->error);
    if (fs_.folders.count(*p)) return fail(Error::IsDir);
    if (!parentExists(*p)) return fail(missing(*p));
    if (mode == CreateMode::New && fs_.files.count(*p)) return fail(Error::PathAlreadyExists);
    fs_.files[*p].clear();
    return std::make_unique<MemoryFile>(fs_, *p);
  }

  Result<void> renameReplace(std::string_view from, std::string_view to) override {
    return rename(from, to, true);
  }
  Result<void> renameNoReplace(std::string_view from, std::string_view to) override {
    return rename(from, to, false);
  }

  Result<void> deleteFile(std::string_view path) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("delete " + *p);
    if (auto fault = fs_.hit(Op::Delete)) return fail(fault->error);
    if (fs_.files.erase(*p) == 0) return fail(missing(*p));
    return {};
  }

  Result<FileKind> kindOf(std::string_view path) override {
    auto p = resolve(path);
    if (!p) return fail(p.error());
    fs_.journal.push_back("kind " + *p);
    if (auto fault = fs_.hit(Op::KindOf)) return fail(fault->error);
    if (fs_.folders.count(*p)) return FileKind::Directory;
    if (fs_.files.count(*p)) return FileKind::File;
    return fail(missing(*p));
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

 private:
  Result<std::string> resolve(std::string_view path) { return toNativeRelativePath(path, '\\'); }

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
    }
    std::string content = std::move(it->second);
    fs_.files.erase(it);
    fs_.files[*t] = std::move(content);
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
