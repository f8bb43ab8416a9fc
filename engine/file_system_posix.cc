// The file system backend for POSIX systems (Linux players under Proton, tests).
// Every path is resolved against an open directory descriptor, so a run keeps
// working on the directory it opened even if the name is moved meanwhile.
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "file_system.h"

namespace qorvex {
namespace {

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
    default: return Error::Unexpected;
  }
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

class PosixWritableFile : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}

  Result<void> write(std::string_view bytes) override {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
      ssize_t n = ::write(fd_.get(), p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        return fail(fromErrno(errno));
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    return {};
  }

  // Closes the file. Its content reaches stable storage when the directory is
  // closed at the end of the run (see ~PosixDirectory), not here.
  Result<void> commit() override {
    int fd = fd_.release();
    if (::close(fd) != 0 && errno != EINTR) return fail(fromErrno(errno));
    return {};
  }

 private:
  FileDescriptor fd_;
};

class PosixDirectory : public Directory {
 public:
  explicit PosixDirectory(int fd) : fd_(fd) {}

  // Everything the run wrote is pushed to stable storage once, here, rather
  // than with an fsync per file: each fsync waits for a journal commit, and
  // with some fifteen of them an INSTALL took several times as long as the
  // edit itself. The faults a run can meet are handled without it: a file is
  // complete before it is renamed into place, a failed write leaves the old
  // content, and ext4 and its kind flush a file's data before a rename that
  // replaces another file. What is left is a power cut during the run, which
  // can find a new backup whose data was not yet on disk.
  ~PosixDirectory() override {
    if (changed_) (void)::syncfs(fd_.get());
  }

  Result<std::string> readFile(std::string_view path, std::uint64_t maxBytes) override {
    auto native = toNativeRelativePath(path, '/');
    if (!native) return fail(native.error());
    FileDescriptor file(::openat(fd_.get(), native->c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return fail(fromErrno(errno));
    struct stat info;
    if (::fstat(file.get(), &info) != 0) return fail(fromErrno(errno));
    if (S_ISDIR(info.st_mode)) return fail(Error::IsDir);
    if (S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > maxBytes) {
      return fail(Error::StreamTooLong);
    }
    std::string content;
    if (S_ISREG(info.st_mode)) content.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(file.get(), buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        return fail(fromErrno(errno));
      }
      if (n == 0) break;
      if (content.size() + static_cast<std::size_t>(n) > maxBytes) return fail(Error::StreamTooLong);
      content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
  }

  Result<std::unique_ptr<WritableFile>> createFile(std::string_view path, CreateMode mode) override {
    auto native = toNativeRelativePath(path, '/');
    if (!native) return fail(native.error());
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == CreateMode::New ? O_EXCL : O_TRUNC);
    changed_ = true;
    int fd = ::openat(fd_.get(), native->c_str(), flags, 0666);
    if (fd < 0) return fail(fromErrno(errno));
    return std::make_unique<PosixWritableFile>(fd);
  }

  Result<void> renameReplace(std::string_view from, std::string_view to) override {
    auto nativeFrom = toNativeRelativePath(from, '/');
    if (!nativeFrom) return fail(nativeFrom.error());
    auto nativeTo = toNativeRelativePath(to, '/');
    if (!nativeTo) return fail(nativeTo.error());
    // The new content keeps the permission bits of the file it replaces.
    struct stat target;
    if (::fstatat(fd_.get(), nativeTo->c_str(), &target, 0) == 0 && S_ISREG(target.st_mode)) {
      (void)::fchmodat(fd_.get(), nativeFrom->c_str(), target.st_mode & 07777, 0);
    }
    changed_ = true;
    if (::renameat(fd_.get(), nativeFrom->c_str(), fd_.get(), nativeTo->c_str()) != 0) {
      return fail(fromErrno(errno));
    }
    return {};
  }

  Result<void> renameNoReplace(std::string_view from, std::string_view to) override {
    auto nativeFrom = toNativeRelativePath(from, '/');
    if (!nativeFrom) return fail(nativeFrom.error());
    auto nativeTo = toNativeRelativePath(to, '/');
    if (!nativeTo) return fail(nativeTo.error());
    changed_ = true;
    if (::renameat2(fd_.get(), nativeFrom->c_str(), fd_.get(), nativeTo->c_str(),
                    RENAME_NOREPLACE) == 0) {
      return {};
    }
    if (errno != EINVAL && errno != ENOSYS) return fail(fromErrno(errno));
    // File systems without RENAME_NOREPLACE: a hard link never replaces either.
    if (::linkat(fd_.get(), nativeFrom->c_str(), fd_.get(), nativeTo->c_str(), 0) != 0) {
      return fail(fromErrno(errno));
    }
    (void)::unlinkat(fd_.get(), nativeFrom->c_str(), 0);
    return {};
  }

  Result<void> deleteFile(std::string_view path) override {
    auto native = toNativeRelativePath(path, '/');
    if (!native) return fail(native.error());
    changed_ = true;
    if (::unlinkat(fd_.get(), native->c_str(), 0) != 0) return fail(fromErrno(errno));
    return {};
  }

  Result<FileKind> kindOf(std::string_view path) override {
    auto native = toNativeRelativePath(path, '/');
    if (!native) return fail(native.error());
    struct stat info;
    if (::fstatat(fd_.get(), native->c_str(), &info, 0) != 0) return fail(fromErrno(errno));
    if (S_ISREG(info.st_mode)) return FileKind::File;
    if (S_ISDIR(info.st_mode)) return FileKind::Directory;
    return FileKind::Other;
  }

  Result<void> makeDirectory(std::string_view path) override {
    auto native = toNativeRelativePath(path, '/');
    if (!native) return fail(native.error());
    changed_ = true;
    if (::mkdirat(fd_.get(), native->c_str(), 0777) != 0) return fail(fromErrno(errno));
    return {};
  }

 private:
  FileDescriptor fd_;
  bool changed_ = false;  // a file was created, renamed or deleted
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

  std::int64_t nowUnixSeconds() override {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec);
  }

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

std::unique_ptr<FileSystem> makePlatformFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace qorvex
