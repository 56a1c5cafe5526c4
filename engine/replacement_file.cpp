#include "engine/replacement_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <set>

#include "engine/failure.h"

namespace morph {
namespace {

constexpr int kNameAttempts = 64;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// True when `path` still names the file open on `fd` (and is no link).
bool NamesFile(const std::string& path, int fd) {
  struct stat named {}, open {};
  return lstat(path.c_str(), &named) == 0 && fstat(fd, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

std::string RandomSuffix() {
  uint8_t bytes[8] = {};
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  if (got < sizeof bytes) {
    // No random source: the time and the address space still vary.
    uint64_t mix = uint64_t(getpid()) * 0x9E3779B97F4A7C15u ^ uint64_t(time(nullptr)) ^
                   reinterpret_cast<uintptr_t>(&got);
    std::memcpy(bytes, &mix, sizeof bytes);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

// A temporary of ours that a killed run left: a regular file of this user,
// no other name, locked by no one. Each folder is looked at once per process.
void RemoveStaleTemporaries(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!swept.insert(folder).second) return;
  }
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return;
  const size_t prefixLength = std::strlen(kTemporaryPrefix);
  while (const dirent* entry = readdir(dir)) {
    if (std::strncmp(entry->d_name, kTemporaryPrefix, prefixLength) != 0) continue;
    const std::string path = folder + entry->d_name;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        st.st_nlink == 1 && flock(fd, LOCK_EX | LOCK_NB) == 0 && NamesFile(path, fd))
      unlink(path.c_str());
    close(fd);
  }
  closedir(dir);
}

// An unnamed file is given a name through /proc: without it, it could be
// written but never kept.
bool ProcFdAvailable() {
  static const bool available = access("/proc/self/fd", X_OK) == 0;
  return available;
}

}  // namespace

void IgnoreFileSizeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
        !(current.sa_flags & SA_SIGINFO))
      signal(SIGXFSZ, SIG_IGN);
  });
}

bool WrittenInPlace(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

std::string ResolvedDestination(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string resolved = real;
  free(real);
  return resolved;
}

std::unique_ptr<ReplacementFile> ReplacementFile::Create(const std::string& destination,
                                                         std::string& error,
                                                         const Choices& choices) {
  std::unique_ptr<ReplacementFile> file(new ReplacementFile(destination, choices));
  const std::string folder = FolderOf(destination);
  RemoveStaleTemporaries(folder);
  if (choices.unnamed && file->openUnnamed(folder)) return file;
  if (!file->openNamed(folder, error)) return nullptr;
  return file;
}

bool ReplacementFile::openUnnamed(const std::string& folder) {
  if (!ProcFdAvailable()) return false;
  fd_ = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  // Held until the end: the name it is linked to before it replaces the
  // destination is then never taken for a stale one.
  flock(fd_, LOCK_EX);
  return true;
}

bool ReplacementFile::openNamed(const std::string& folder, std::string& error) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = candidateName(folder);
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      error = SystemErrorText(errno);
      return false;
    }
    // Another run's sweep may have taken the name between open and lock.
    if (flock(fd, LOCK_EX) != 0 || !NamesFile(name, fd)) {
      close(fd);
      continue;
    }
    fd_ = fd;
    name_ = name;
    return true;
  }
  error = "no free name for a temporary file in its folder";
  return false;
}

std::string ReplacementFile::candidateName(const std::string& folder) {
  if (choices_.nextName)
    if (std::string name = choices_.nextName(); !name.empty()) return folder + name;
  return folder + kTemporaryPrefix + RandomSuffix();
}

bool ReplacementFile::publish(std::string& error) {
  if (fd_ < 0) {
    error = "the file was not made";
    return false;
  }
  struct stat replaced {};
  if (stat(destination_.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode))
    fchmod(fd_, replaced.st_mode & 07777);
  if (name_.empty()) {
    // A link cannot replace a name: the file gets a fresh name of its own,
    // which then replaces the destination.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    const std::string folder = FolderOf(destination_);
    for (int attempt = 0; attempt < kNameAttempts && name_.empty(); ++attempt) {
      const std::string name = candidateName(folder);
      if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        name_ = name;
      else if (errno != EEXIST)
        break;
    }
    if (name_.empty()) {
      error = errno == EEXIST ? "no free name for a temporary file in its folder"
                              : SystemErrorText(errno);
      return false;
    }
  }
  if (rename(name_.c_str(), destination_.c_str()) != 0) {
    error = SystemErrorText(errno);
    return false;  // the destructor removes the temporary
  }
  name_.clear();
  published_ = true;
  close(fd_);
  fd_ = -1;
  return true;
}

ReplacementFile::~ReplacementFile() {
  if (!published_ && !name_.empty() && fd_ >= 0 && NamesFile(name_, fd_)) unlink(name_.c_str());
  if (fd_ >= 0) close(fd_);
}

}  // namespace morph
