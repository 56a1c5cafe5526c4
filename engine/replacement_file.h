// A target file written beside the file it is to become and put in its
// place only once complete: a conversion that fails, is stopped by an
// exception or is killed leaves the destination as it stood and nothing
// behind.
//
// The file is unnamed (O_TMPFILE) where the file system allows it, so a
// killed run leaves nothing at all. Elsewhere it has an unpredictable name,
// ".morphalite-" and 16 random hex digits, opened O_EXCL | O_NOFOLLOW (a link
// planted at that name is never followed) and locked with flock for as long
// as it lives; the first file of a run in a folder removes the locked-by-no-one
// temporaries of ours a killed run left there.
#pragma once
#include <functional>
#include <memory>
#include <string>

namespace morph {

// What a temporary is named with: ".morphalite-" and what follows.
inline constexpr const char* kTemporaryPrefix = ".morphalite-";

// True when `path` names something other than a regular file (a device, a
// pipe, through a link): such a target is written directly, in place.
bool WrittenInPlace(const std::string& path);

// The file a destination names, through a symbolic link: a target that is a
// link to a file replaces that file and the link stays.
std::string ResolvedDestination(const std::string& path);

// Makes a file-size limit (ulimit -f) an ordinary write failure (EFBIG)
// instead of a signal that ends the process: SIGXFSZ is ignored unless the
// program handles it itself. Once per process.
void IgnoreFileSizeSignal();

class ReplacementFile {
 public:
  struct Choices {
    bool unnamed = true;  // false: a named temporary even where O_TMPFILE works
    // The names tried, in turn (tests plant files at them); empty: random.
    std::function<std::string()> nextName;
  };

  // The temporary for `destination` (already resolved), in its folder. Null
  // when it cannot be made; `error` then tells why, naming the destination.
  static std::unique_ptr<ReplacementFile> Create(const std::string& destination,
                                                 std::string& error, const Choices& choices);
  static std::unique_ptr<ReplacementFile> Create(const std::string& destination,
                                                 std::string& error) {
    return Create(destination, error, Choices{});
  }
  ~ReplacementFile();  // discards the file unless it was published
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // The descriptor to write through (its owner stays this object).
  int fd() const { return fd_; }
  // The temporary's name; empty while it is unnamed.
  const std::string& temporaryName() const { return name_; }
  // Puts the file in the destination's place, with the permissions of the
  // file it replaces. False, with `error` naming the destination, when it
  // cannot; the destination is then as it stood.
  bool publish(std::string& error);

 private:
  ReplacementFile(std::string destination, Choices choices)
      : destination_(std::move(destination)), choices_(std::move(choices)) {}
  bool openUnnamed(const std::string& folder);
  bool openNamed(const std::string& folder, std::string& error);
  std::string candidateName(const std::string& folder);

  std::string destination_;
  Choices choices_;
  int fd_ = -1;
  std::string name_;  // the named temporary, or the unnamed one's link while published
  bool published_ = false;
};

}  // namespace morph
