// The file system backend for POSIX systems (Linux players under Proton, tests).
// Every path is resolved beneath an open directory descriptor, so a run keeps
// working on the directory it opened even if the name is moved meanwhile, and
// no link can take it outside.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <utility>

#include "clock.h"
#include "file_system.h"

namespace qorvex {
namespace {

// glibc wraps renameat2(); other C libraries (musl) may not, and the system
// call is the same.
int renameNoReplaceAt(int fromFolder, const char* from, int toFolder, const char* to) {
#if defined(__GLIBC__)
  return ::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE);
#elif defined(__linux__)
  constexpr unsigned kNoReplace = 1;  // RENAME_NOREPLACE
  return static_cast<int>(::syscall(SYS_renameat2, fromFolder, from, toFolder, to, kNoReplace));
#else
  (void)fromFolder;
  (void)from;
  (void)toFolder;
  (void)to;
  errno = ENOSYS;
  return -1;
#endif
}

Error fromErrno(int code) {
  switch (code) {
    case ENOENT: return Error::FileNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return Error::AccessDenied;
    case EEXIST:
    case ENOTEMPTY: return Error::PathAlreadyExists;
    case EISDIR: return Error::IsDir;
    case ENOTDIR: return Error::NotDir;
    case ENAMETOOLONG: return Error::NameTooLong;
    case EINVAL:
    case EILSEQ: return Error::BadPathName;
    case ELOOP: return Error::SymLinkLoop;
    case ENODEV:
    case ENXIO: return Error::NoDevice;
    case EXDEV: return Error::RenameAcrossMountPoints;
    case EBUSY:
    case ETXTBSY: return Error::DeviceBusy;
    case EMFILE:
    case ENFILE:
    case ENOMEM: return Error::SystemResources;
    case ENOLCK: return Error::LockViolation;
    case ENOSPC:
    case EDQUOT: return Error::NoSpaceLeft;
    case EIO: return Error::InputOutput;
    default: return Error::Unexpected;
  }
}

Result<void> failErrno() { return fail(fromErrno(errno)); }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  ~FileDescriptor() { reset(); }
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Why the thing `info` describes is not a regular file to work on.
Error notARegularFile(const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return Error::LinkRefused;
  if (S_ISDIR(info.st_mode)) return Error::IsDir;
  return Error::NotAFile;
}

bool isReadOnlyFile(const struct stat& info, int folder, const char* name) {
  // No write bit at all is read-only for everyone, root included; otherwise
  // the permission bits decide for this process, as they would for an editor.
  if ((info.st_mode & 0222) == 0) return true;
  return ::faccessat(folder, name, W_OK, AT_EACCESS) != 0;
}

// The process's effective user and group; a run never changes them.
uid_t effectiveUser() {
  static const uid_t user = ::geteuid();
  return user;
}
gid_t effectiveGroup() {
  static const gid_t group = ::getegid();
  return group;
}

// The process's file mode creation mask, read once (reading it means setting it).
mode_t processUmask() {
  static const mode_t mask = [] {
    const mode_t old = ::umask(022);
    ::umask(old);
    return old;
  }();
  return mask;
}

class PosixWritableFile : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}

  Result<void> write(std::string_view bytes) override {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
      ssize_t n = ::write(fd_.get(), p, std::min(left, kWriteChunk));
      if (n < 0) {
        if (errno == EINTR) continue;
        return failErrno();
      }
      p += n;
      left -= static_cast<std::size_t>(n);
      startWriteback(n);
    }
    return {};
  }

  // Only closes: the run flushes everything it wrote at once, through the
  // directory, before anything it wrote is given a name that matters.
  Result<void> commit() override {
    int fd = fd_.release();
    if (::close(fd) != 0 && errno != EINTR) return failErrno();
    return {};
  }

 private:
  static constexpr std::size_t kWriteChunk = std::size_t{1} << 20;

  // The device starts writing what was written at once, while the run goes
  // on, so that the flush before the changes take effect has less to wait for.
  void startWriteback(ssize_t written) {
#if defined(__linux__)
    (void)::sync_file_range(fd_.get(), static_cast<off64_t>(offset_), written,
                            SYNC_FILE_RANGE_WRITE);
#endif
    offset_ += static_cast<std::uint64_t>(written);
  }

  FileDescriptor fd_;
  std::uint64_t offset_ = 0;
};

// Asks for the pages of a large new buffer in one call: the read would
// otherwise fault them in one at a time.
void prefault(char* data, std::size_t size) {
#if defined(MADV_POPULATE_WRITE)
  if (size < (std::size_t{1} << 20)) return;
  const std::uintptr_t page = 4096;
  const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
  const std::uintptr_t last = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
  if (last > first)
    (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)size;
#endif
}

// The folder that holds the last component of a native path, and that
// component. `fd` belongs to the directory, which keeps it open.
struct Parent {
  int fd = -1;
  std::string name;
};

class PosixDirectory : public Directory {
 public:
  explicit PosixDirectory(int fd) : fd_(fd) {
    struct stat info;
    if (::fstat(fd, &info) == 0) rootDevice_ = info.st_dev;
  }

  Result<std::string> readFile(std::string_view path, std::uint64_t maxBytes,
                               std::size_t spare) override {
    // The type is checked before the open, so that opening a device never
    // happens, and again on the open file, so that a swap in between is seen.
    auto existing = regularFile(path);
    if (!existing) return fail(existing.error());
    const Parent& parent = existing->parent;
    struct stat info = existing->info;
    FileDescriptor file(::openat(parent.fd, parent.name.c_str(),
                                 O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) return fail(errno == ELOOP ? Error::LinkRefused : fromErrno(errno));
    if (::fstat(file.get(), &info) != 0) return fail(fromErrno(errno));
    if (!S_ISREG(info.st_mode)) return fail(notARegularFile(info));
    const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    if (size > maxBytes) return fail(Error::StreamTooLong);

    // Read straight into the result, without filling it first; the file may
    // still grow or shrink while it is read, and the limit holds for what is
    // actually read.
    int readError = 0;
    auto readInto = [&](char* p, std::size_t wanted) {
      std::size_t got = 0;
      while (got < wanted) {
        const ssize_t n = ::read(file.get(), p + got, wanted - got);
        if (n < 0) {
          if (errno == EINTR) continue;
          readError = errno;
          break;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
      }
      return got;
    };
    std::string content;
    std::size_t filled = 0;
    // One byte more than the size, to see whether the file grew meanwhile.
    std::size_t wanted = static_cast<std::size_t>(size) + 1;
    content.reserve(wanted + spare);
    prefault(content.data(), wanted + spare);
    content.resize_and_overwrite(wanted,
                                 [&](char* p, std::size_t n) { return filled = readInto(p, n); });
    while (readError == 0 && filled == wanted && filled <= maxBytes) {
      const std::size_t more =
          std::min<std::size_t>(65536, static_cast<std::size_t>(maxBytes) + 1 - filled);
      wanted = filled + more;
      content.resize_and_overwrite(
          wanted, [&](char* p, std::size_t) { return filled += readInto(p + filled, more); });
    }
    if (readError != 0) return fail(fromErrno(readError));
    if (filled > maxBytes) return fail(Error::StreamTooLong);
    return content;
  }

  Result<std::unique_ptr<WritableFile>> createFile(std::string_view path,
                                                   std::string_view model) override {
    auto parent = openParent(path);
    if (!parent) return fail(parent.error());
    struct stat modelInfo;
    bool haveModel = false;
    if (!model.empty()) {
      auto modelParent = openParent(model);
      haveModel = modelParent &&
                  ::fstatat(modelParent->fd, modelParent->name.c_str(), &modelInfo,
                            AT_SYMLINK_NOFOLLOW) == 0 &&
                  S_ISREG(modelInfo.st_mode);
    }
    // Created with the model's bits where the umask lets them through as they
    // are, otherwise private until they are set: it may hold a copy of a
    // private file.
    const mode_t modelMode = haveModel ? modelInfo.st_mode & 07777 : 0;
    const bool exact = haveModel && (modelMode & ~(0777 & ~processUmask())) == 0;
    FileDescriptor file(::openat(parent->fd, parent->name.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                 !haveModel ? 0666
                                 : exact    ? modelMode
                                            : 0600));
    if (file.get() < 0) return fail(fromErrno(errno));
    changed(parent->fd);
    if (haveModel) {
      // The owner first: changing it may clear the set-id bits that chmod sets.
      // Only root may give a file away; for anyone else this keeps the group
      // where they may and is otherwise refused, which is no reason to stop.
      if (modelInfo.st_uid != effectiveUser() || modelInfo.st_gid != effectiveGroup()) {
        (void)::fchown(file.get(), modelInfo.st_uid, modelInfo.st_gid);
      }
      if ((!exact || modelInfo.st_uid != effectiveUser()) && ::fchmod(file.get(), modelMode) != 0) {
        const Error error = fromErrno(errno);
        (void)::unlinkat(parent->fd, parent->name.c_str(), 0);
        return fail(error);
      }
    } else {
      giveToFolderOwner(file.get(), parent->fd);
    }
    return std::make_unique<PosixWritableFile>(file.release());
  }

  Result<void> checkReplaceable(std::string_view path) override {
    auto existing = regularFile(path);
    if (!existing) return fail(existing.error());
    const Parent& parent = existing->parent;
    if (isReadOnlyFile(existing->info, parent.fd, parent.name.c_str()))
      return fail(Error::AccessDenied);
    if (::faccessat(parent.fd, ".", W_OK | X_OK, AT_EACCESS) != 0) return failErrno();
    return {};
  }

  Result<bool> isReadOnly(std::string_view path) override {
    auto parent = openParent(path);
    if (!parent) return fail(parent.error());
    struct stat info;
    if (::fstatat(parent->fd, parent->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return fail(fromErrno(errno));
    }
    // Marked read-only: no write bit at all. A file that is only another
    // user's is a matter of permissions, not of this mark.
    return S_ISREG(info.st_mode) && (info.st_mode & 0222) == 0;
  }

  Result<void> renameReplace(std::string_view from, std::string_view to) override {
    auto parents = openParents(from, to);
    if (!parents) return fail(parents.error());
    const Parent* source = &parents->first;
    const Parent* target = &parents->second;
    struct stat info;
    if (::fstatat(target->fd, target->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
      if (!S_ISREG(info.st_mode)) return fail(notARegularFile(info));
      // Replacing a read-only file would bypass what its owner asked for.
      if (isReadOnlyFile(info, target->fd, target->name.c_str())) return fail(Error::AccessDenied);
    } else if (errno != ENOENT) {
      return failErrno();
    }
    changed(target->fd);
    if (::renameat(source->fd, source->name.c_str(), target->fd, target->name.c_str()) != 0) {
      return failErrno();
    }
    return {};
  }

  Result<void> renameNoReplace(std::string_view from, std::string_view to) override {
    auto parents = openParents(from, to);
    if (!parents) return fail(parents.error());
    const Parent* source = &parents->first;
    const Parent* target = &parents->second;
    changed(target->fd);
    if (renameNoReplaceAt(source->fd, source->name.c_str(), target->fd, target->name.c_str()) ==
        0) {
      return {};
    }
    if (errno != EINVAL && errno != ENOSYS) return failErrno();
    // File systems without RENAME_NOREPLACE: a hard link never replaces either.
    if (::linkat(source->fd, source->name.c_str(), target->fd, target->name.c_str(), 0) != 0) {
      return failErrno();
    }
    (void)::unlinkat(source->fd, source->name.c_str(), 0);
    return {};
  }

  Result<void> linkFile(std::string_view from, std::string_view to) override {
    auto source = regularFile(from);
    if (!source) return fail(source.error());
    auto target = openParent(to);
    if (!target) return fail(target.error());
    changed(target->fd);
    // Without AT_SYMLINK_FOLLOW: the name itself is linked, never a target.
    if (::linkat(source->parent.fd, source->parent.name.c_str(), target->fd, target->name.c_str(),
                 0) != 0) {
      return failErrno();
    }
    return {};
  }

  Result<void> deleteFile(std::string_view path) override {
    auto existing = regularFile(path);
    if (!existing) return fail(existing.error());
    changed(existing->parent.fd);
    if (::unlinkat(existing->parent.fd, existing->parent.name.c_str(), 0) != 0) return failErrno();
    return {};
  }

  Result<FileKind> kindOf(std::string_view path) override {
    auto native = toNativeRelativePath(path, '/');
    if (!native) return fail(native.error());
    auto opened = openBeneath(*native, O_PATH);
    if (!opened) return fail(opened.error());
    struct stat info;
    if (::fstat(opened->get(), &info) != 0) return fail(fromErrno(errno));
    if (S_ISREG(info.st_mode)) return FileKind::File;
    if (S_ISDIR(info.st_mode)) return FileKind::Directory;
    return FileKind::Other;
  }

  Result<FileInfo> fileInfo(std::string_view path) override {
    auto parent = openParent(path);
    if (!parent) return fail(parent.error());
    struct stat info;
    if (::fstatat(parent->fd, parent->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return fail(fromErrno(errno));
    }
    if (S_ISLNK(info.st_mode)) return fail(Error::LinkRefused);
    FileInfo found;
    found.kind = S_ISREG(info.st_mode)   ? FileKind::File
                 : S_ISDIR(info.st_mode) ? FileKind::Directory
                                         : FileKind::Other;
    found.size = static_cast<std::uint64_t>(info.st_size);
    found.links = static_cast<std::uint64_t>(info.st_nlink);
    found.volume = static_cast<std::uint64_t>(info.st_dev);
    found.index = static_cast<std::uint64_t>(info.st_ino);
    return found;
  }

  Result<void> makeDirectory(std::string_view path) override {
    auto parent = openParent(path);
    if (!parent) return fail(parent.error());
    changed(parent->fd);
    if (::mkdirat(parent->fd, parent->name.c_str(), 0777) != 0) return failErrno();
    FileDescriptor made(::openat(parent->fd, parent->name.c_str(),
                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (made.get() >= 0) giveToFolderOwner(made.get(), parent->fd);
    return {};
  }

  Result<std::uint64_t> freeSpace(std::string_view folder) override {
    FileDescriptor opened;
    int fd = fd_.get();
    if (!folder.empty()) {
      auto native = toNativeRelativePath(folder, '/');
      if (!native) return fail(native.error());
      auto beneath = openBeneath(*native, O_RDONLY | O_DIRECTORY);
      if (!beneath) return fail(beneath.error());
      opened = std::move(*beneath);
      fd = opened.get();
    }
    struct statvfs info;
    if (::fstatvfs(fd, &info) != 0) return fail(fromErrno(errno));
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
  }

  Result<std::vector<std::string>> listFolder(std::string_view path) override {
    FileDescriptor folder;
    if (path.empty()) {
      folder = FileDescriptor(::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (folder.get() < 0) return fail(fromErrno(errno));
    } else {
      auto native = toNativeRelativePath(path, '/');
      if (!native) return fail(native.error());
      auto opened = openBeneath(*native, O_RDONLY | O_DIRECTORY);
      if (!opened) return fail(opened.error());
      folder = std::move(*opened);
    }
    DIR* stream = ::fdopendir(folder.get());
    if (stream == nullptr) return fail(fromErrno(errno));
    folder.release();  // the stream owns it now
    std::vector<std::string> names;
    errno = 0;
    while (struct dirent* entry = ::readdir(stream)) {
      std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
    const int readError = errno;
    ::closedir(stream);
    if (readError != 0) return fail(fromErrno(readError));
    return names;
  }

  // syncfs() pushes every file system the run changed to stable storage at
  // once: one wait for the journal instead of one per file, and it reports a
  // write-back error that happened since the files were written.
  Result<void> flush() override {
    if (!dirty_) return {};
    if (::syncfs(fd_.get()) != 0) return failErrno();
    for (const auto& [device, folder] : otherDevices_) {
      if (::syncfs(folder.get()) != 0) return failErrno();
    }
    dirty_ = false;
    return {};
  }

  Result<void> tryLock(LockMode mode) override {
    const int operation = (mode == LockMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    while (::flock(fd_.get(), operation) != 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) return fail(Error::InstallBusy);
      return failErrno();
    }
    return {};
  }

 private:
  // Opens a path beneath the install directory. With openat2 a folder on the
  // way may be a link as long as it stays inside; without it (kernels before
  // 5.6) every component is opened without following links, and a link is
  // refused. The last component is followed only when `flags` allow it.
  Result<FileDescriptor> openBeneath(const std::string& native, int flags) {
#ifdef __linux__
    static bool haveOpenat2 = true;
    if (haveOpenat2) {
      struct open_how how = {};
      how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
      how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
      long fd = ::syscall(SYS_openat2, fd_.get(), native.c_str(), &how, sizeof how);
      if (fd >= 0) return FileDescriptor(static_cast<int>(fd));
      if (errno == EXDEV) return fail(Error::LinkRefused);  // it would lead out
      if (errno != ENOSYS && errno != EPERM) return fail(fromErrno(errno));
      // Not there, or forbidden by a sandbox's system call filter.
      haveOpenat2 = false;
    }
#endif
    return openComponentByComponent(native, flags);
  }

  Result<FileDescriptor> openComponentByComponent(const std::string& native, int flags) {
    FileDescriptor current;
    int at = fd_.get();
    std::size_t start = 0;
    for (;;) {
      const std::size_t slash = native.find('/', start);
      const bool last = slash == std::string::npos;
      const std::string name = native.substr(start, last ? std::string::npos : slash - start);
      const int componentFlags = (last ? flags : O_PATH | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC;
      FileDescriptor next(::openat(at, name.c_str(), componentFlags));
      if (next.get() < 0) {
        const int code = errno;
        struct stat info;
        if ((code == ELOOP || code == ENOTDIR) &&
            ::fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
          return fail(Error::LinkRefused);
        }
        return fail(fromErrno(code));
      }
      current = std::move(next);
      at = current.get();
      if (last) return current;
      start = slash + 1;
    }
  }

  // A path that must name a regular file, with its folder and its status:
  // FileNotFound, LinkRefused (a link in its place), IsDir or NotAFile
  // otherwise, as every operation on an existing file answers.
  struct RegularFile {
    Parent parent;
    struct stat info;
  };
  Result<RegularFile> regularFile(std::string_view path) {
    auto parent = openParent(path);
    if (!parent) return fail(parent.error());
    struct stat info;
    if (::fstatat(parent->fd, parent->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return fail(fromErrno(errno));
    }
    if (!S_ISREG(info.st_mode)) return fail(notARegularFile(info));
    return RegularFile{std::move(*parent), info};
  }

  // The folders of two paths, and their last components.
  Result<std::pair<Parent, Parent>> openParents(std::string_view from, std::string_view to) {
    auto source = openParent(from);
    if (!source) return fail(source.error());
    auto target = openParent(to);
    if (!target) return fail(target.error());
    return std::pair{std::move(*source), std::move(*target)};
  }

  Result<Parent> openParent(std::string_view path) {
    auto native = toNativeRelativePath(path, '/');
    if (!native) return fail(native.error());
    Parent parent;
    const std::size_t slash = native->rfind('/');
    if (slash == std::string::npos) {
      parent.fd = fd_.get();
      parent.name = std::move(*native);
      return parent;
    }
    // A run works in a few folders again and again: each is resolved once.
    std::string folderPath = native->substr(0, slash);
    auto cached = folders_.find(folderPath);
    if (cached == folders_.end()) {
      auto folder = openBeneath(folderPath, O_PATH | O_DIRECTORY);
      if (!folder) return fail(folder.error());
      cached = folders_.emplace(std::move(folderPath), std::move(*folder)).first;
    }
    parent.fd = cached->second.get();
    parent.name = native->substr(slash + 1);
    return parent;
  }

  // Remembers that something in `folder` changed, so that flush() covers its
  // file system even when a mount point inside the install leads to another.
  void changed(int folder) {
    dirty_ = true;
    if (!checkedFolders_.insert(folder).second) return;
    struct stat info;
    if (::fstat(folder, &info) != 0 || info.st_dev == rootDevice_ ||
        otherDevices_.count(info.st_dev) != 0) {
      return;
    }
    otherDevices_.emplace(info.st_dev, FileDescriptor(::fcntl(folder, F_DUPFD_CLOEXEC, 0)));
  }

  // A file or folder that root creates for a user's game belongs to the
  // folder's owner, as if the user had made it.
  static void giveToFolderOwner(int fd, int folder) {
    struct stat info;
    if (effectiveUser() != 0 || ::fstat(folder, &info) != 0) return;
    (void)::fchown(fd, info.st_uid, info.st_gid);
  }

  FileDescriptor fd_;
  dev_t rootDevice_ = 0;
  std::map<std::string, FileDescriptor> folders_;  // resolved folders, by native path
  std::set<int> checkedFolders_;                   // folders whose device changed() knows
  std::map<dev_t, FileDescriptor> otherDevices_;
  bool dirty_ = false;  // changed since the last successful flush
};

class PosixFileSystem : public FileSystem {
 public:
  Result<std::unique_ptr<Directory>> openDirectory(std::string_view absolutePath) override {
    if (!isAbsolutePath(absolutePath) || absolutePath[0] != '/') return fail(Error::BadPathName);
    std::string path(absolutePath);
    if (path.find('\0') != std::string::npos) return fail(Error::BadPathName);
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail(fromErrno(errno));
    return std::make_unique<PosixDirectory>(fd);
  }
};

class PosixClock : public Clock {
 public:
  std::int64_t nowUnixSeconds() override {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec);
  }

  void sleepMilliseconds(unsigned milliseconds) override {
    struct timespec wait = {static_cast<time_t>(milliseconds / 1000),
                            static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
  }
};

class PosixRandom : public Random {
 public:
  void randomBytes(unsigned char* out, std::size_t count) override {
    while (count > 0) {
      ssize_t n = ::getrandom(out, count, 0);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        break;
      }
      out += n;
      count -= static_cast<std::size_t>(n);
    }
    // Without a random source the names are still unique enough: a clash is
    // only a redraw, never a lost file.
    static unsigned long counter = 0;
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(++counter * 131u);
  }
};

}  // namespace

Clock& systemClock() {
  static PosixClock clock;
  return clock;
}

Random& systemRandom() {
  static PosixRandom random;
  return random;
}

Result<void> checkPlatformName(std::string_view name) {
  // A POSIX name takes every byte but '/' and NUL, which never get this far.
  if (name.empty() || name.find('\0') != std::string_view::npos) return fail(Error::BadPathName);
  return {};
}

std::unique_ptr<FileSystem> makePlatformFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace qorvex
