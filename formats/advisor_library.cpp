// The Advisor file library. Layout (docs/advisor-library.md): a 512-byte
// header with the configuration, then blocks of records, each block a 16-byte
// head stating its record count and byte size. Writing fills one block in
// memory and writes it whole; the header is rewritten when the file closes.
// A file is written under a temporary beside its name and takes that name
// only once closed with every byte on disk: a name never shows a file in
// writing, and a file that stood there survives a failed or killed writer.
// Opening walks the block heads once, so a file cut short, or one whose
// writer never closed it, still gives back every whole block.
#include "formats/advisor_library.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/bytes.h"
#include "engine/failure.h"
#include "engine/replacement_file.h"
#include "engine/streams.h"

namespace morph {
namespace {

constexpr uint8_t kMagic[8] = {'A', 'D', 'V', 'L', 'I', 'B', '\r', '\n'};
constexpr uint8_t kBlockMagic[4] = {'A', 'D', 'V', 'B'};
constexpr uint32_t kLayoutVersion = 1;
constexpr uint32_t kHeaderBytes = 512;
constexpr uint32_t kBlockHeadBytes = 16;
constexpr uint32_t kBlockBytes = 65536;  // records of a block, at most
constexpr uint32_t kExtensionBytes = 32;
constexpr uint32_t kStateOpen = 0, kStateClosed = 1;

// Header offsets.
constexpr size_t kAtVersion = 8, kAtHeaderBytes = 12, kAtState = 16, kAtRecords = 20,
                 kAtBlocks = 24, kAtConfig = 64, kAtExtensionSize = 96, kAtExtension = 100,
                 kAtComment = 256;

}  // namespace

struct LibraryFile {
  struct BlockEntry {
    int64_t offset;  // of the records, after the block head
    uint32_t records;
    uint32_t bytes;
  };

  int fd = -1;
  bool writing = false;
  bool failed = false;  // a write was lost
  std::string failure;  // the system's reason for the first lost write
  bool closedByWriter = false;  // reading: the header says "closed"
  // Writing a regular file: the temporary that takes its name when closed.
  std::unique_ptr<ReplacementFile> replacement;
  BasicConfig config;
  ConfigExtension extension;
  // A block's head and records, in writing and in reading, lie in `storage`
  // at the place within a page that they take in the file: the system then
  // copies them between congruent addresses.
  PageBlock storage;
  // Writing: the block being filled.
  uint8_t* head = nullptr;
  int64_t headAt = kHeaderBytes;  // file offset of the block's head
  uint32_t blockBytes = 0;
  uint32_t blockRecords = 0;
  uint32_t blocks = 0;
  uint32_t records = 0;
  // Reading: every whole block.
  std::vector<BlockEntry> index;

  ~LibraryFile() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

thread_local std::string failureReason;

void NoteFailure(const std::string& reason) { failureReason = reason; }

// The first write a file lost; what follows fails with the same reason.
void NoteFailure(LibraryFile& file, const std::string& reason) {
  if (!file.failed) file.failure = reason;
  file.failed = true;
  NoteFailure(file.failure);
}

std::mutex& TableMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<LibraryHandle, std::unique_ptr<LibraryFile>>& Table() {
  static std::map<LibraryHandle, std::unique_ptr<LibraryFile>> table;
  return table;
}

LibraryHandle Register(std::unique_ptr<LibraryFile> file) {
  std::lock_guard<std::mutex> lock(TableMutex());
  static LibraryHandle next = 0;
  auto& table = Table();
  do {
    ++next;
  } while (next == 0 || table.count(next));
  table[next] = std::move(file);
  return next;
}

// A handle's file; each handle is used by one conversion at a time.
LibraryFile* Find(LibraryHandle handle) {
  std::lock_guard<std::mutex> lock(TableMutex());
  auto it = Table().find(handle);
  return it == Table().end() ? nullptr : it->second.get();
}

std::unique_ptr<LibraryFile> Remove(LibraryHandle handle) {
  std::lock_guard<std::mutex> lock(TableMutex());
  auto it = Table().find(handle);
  if (it == Table().end()) return nullptr;
  std::unique_ptr<LibraryFile> file = std::move(it->second);
  Table().erase(it);
  return file;
}

bool WriteAll(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    ssize_t done = ::write(fd, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done == 0) errno = ENOSPC;
    if (done <= 0) return false;
    data += done;
    n -= size_t(done);
  }
  return true;
}

bool WriteAllAt(int fd, const uint8_t* data, size_t n, int64_t offset) {
  while (n > 0) {
    ssize_t done = ::pwrite(fd, data, n, off_t(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done == 0) errno = ENOSPC;
    if (done <= 0) return false;
    data += done;
    n -= size_t(done);
    offset += done;
  }
  return true;
}

bool ReadAllAt(int fd, uint8_t* data, size_t n, int64_t offset) {
  while (n > 0) {
    ssize_t done = ::pread(fd, data, n, off_t(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    n -= size_t(done);
    offset += done;
  }
  return true;
}

void CopyConfig(LibraryFile& file, const BasicConfig& config) {
  file.config = config;
  file.extension = (config.extension && config.extensionSize >= kExtensionBytes)
                       ? *config.extension
                       : ConfigExtension{};
  file.config.extensionSize = kExtensionBytes;
  file.config.extension = &file.extension;
}

std::vector<uint8_t> EncodeHeader(const LibraryFile& file, uint32_t state) {
  std::vector<uint8_t> h(kHeaderBytes, 0);
  std::memcpy(h.data(), kMagic, sizeof kMagic);
  PutLE32(&h[kAtVersion], kLayoutVersion);
  PutLE32(&h[kAtHeaderBytes], kHeaderBytes);
  PutLE32(&h[kAtState], state);
  PutLE32(&h[kAtRecords], file.records);
  PutLE32(&h[kAtBlocks], file.blocks);
  const BasicConfig& c = file.config;
  const uint32_t fields[8] = {c.wanProtocolCode, c.fileKind,  c.mediaCode, c.lineCode,
                              c.lineSpeed,       c.reserved1, c.startTime, c.reserved2};
  for (size_t i = 0; i < 8; ++i) PutLE32(&h[kAtConfig + 4 * i], fields[i]);
  PutLE32(&h[kAtExtensionSize], kExtensionBytes);
  for (size_t i = 0; i < 8; ++i) PutLE32(&h[kAtExtension + 4 * i], file.extension.value[i]);
  std::memcpy(&h[kAtComment], c.comment, sizeof c.comment);
  return h;
}

void DecodeConfig(const uint8_t* h, LibraryFile& file) {
  BasicConfig& c = file.config;
  uint32_t* fields[8] = {&c.wanProtocolCode, &c.fileKind,  &c.mediaCode, &c.lineCode,
                         &c.lineSpeed,       &c.reserved1, &c.startTime, &c.reserved2};
  for (size_t i = 0; i < 8; ++i) *fields[i] = GetLE32(h + kAtConfig + 4 * i);
  for (size_t i = 0; i < 8; ++i) file.extension.value[i] = GetLE32(h + kAtExtension + 4 * i);
  std::memcpy(c.comment, h + kAtComment, sizeof c.comment);
  c.extensionSize = kExtensionBytes;
  c.extension = &file.extension;
}

// Where the byte of file offset `at` goes in the storage, which has room
// for a block's head and records from anywhere within its first page.
uint8_t* PlacedFor(LibraryFile& file, int64_t at) {
  if (!file.storage) file.storage = NewPageBlock(kPageBytes + kBlockHeadBytes + kBlockBytes);
  return file.storage.get() + size_t(at) % kPageBytes;
}

void StartBlock(LibraryFile& file) {
  file.head = PlacedFor(file, file.headAt);
  file.blockBytes = 0;
  file.blockRecords = 0;
}

bool FlushBlock(LibraryFile& file) {
  if (file.blockRecords == 0) return true;
  uint8_t* head = file.head;
  std::memcpy(head, kBlockMagic, 4);
  PutLE32(head + 4, file.blockRecords);
  PutLE32(head + 8, file.blockBytes);
  PutLE32(head + 12, file.blocks);
  if (!WriteAll(file.fd, head, kBlockHeadBytes + file.blockBytes))
    NoteFailure(file, SystemErrorText(errno));
  ++file.blocks;
  file.headAt += kBlockHeadBytes + file.blockBytes;
  StartBlock(file);
  return !file.failed;
}

// Walks the block heads from the end of the header; stops at the first head
// that is cut short, damaged or out of sequence.
void IndexBlocks(LibraryFile& file, int64_t fileSize) {
  int64_t at = kHeaderBytes;
  uint8_t head[kBlockHeadBytes];
  while (at + int64_t(kBlockHeadBytes) <= fileSize && ReadAllAt(file.fd, head, sizeof head, at)) {
    const uint32_t records = GetLE32(head + 4), bytes = GetLE32(head + 8);
    const bool sound = std::memcmp(head, kBlockMagic, 4) == 0 && records >= 1 &&
                       bytes >= records && bytes <= kBlockBytes &&
                       GetLE32(head + 12) == file.index.size() &&
                       at + int64_t(kBlockHeadBytes) + bytes <= fileSize;
    if (!sound) break;
    file.index.push_back({at + kBlockHeadBytes, records, bytes});
    at += kBlockHeadBytes + bytes;
  }
}

}  // namespace

LibraryHandle CreateCalyxenFile(const char* fileName, uint32_t reserved, const BasicConfig* config) {
  if (!fileName || reserved != 0 || !config) return 0;
  failureReason.clear();
  auto file = std::make_unique<LibraryFile>();
  // A device or a pipe is written in place; a file through its replacement.
  std::string reason;
  if (WrittenInPlace(fileName)) {
    file->fd = ::open(fileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } else if ((file->replacement = ReplacementFile::Create(ResolvedDestination(fileName), reason))) {
    file->fd = ::dup(file->replacement->fd());
  } else {
    NoteFailure(reason);
    return 0;
  }
  if (file->fd < 0) {
    NoteFailure(SystemErrorText(errno));
    return 0;
  }
  file->writing = true;
  CopyConfig(*file, *config);
  StartBlock(*file);
  const std::vector<uint8_t> header = EncodeHeader(*file, kStateOpen);
  if (!WriteAll(file->fd, header.data(), header.size())) {
    NoteFailure(SystemErrorText(errno));
    return 0;
  }
  return Register(std::move(file));
}

uint32_t AddFrameToFile(LibraryHandle handle, const uint8_t* record, uint32_t length) {
  return AddFrameToFile(Find(handle), record, length);
}

LibraryFile* LibraryFileOf(LibraryHandle handle) { return Find(handle); }

uint32_t AddFrameToFile(LibraryFile* file, const uint8_t* record, uint32_t length) {
  if (!record) return 0;
  uint8_t* room = AppendRecord(file, length);
  if (!room) return 0;
  std::memcpy(room, record, length);
  return 1;
}

uint8_t* AppendRecord(LibraryFile* file, uint32_t length) {
  if (!file || !file->writing || file->failed || length < 1 || length > kLibraryMaxRecordBytes ||
      file->records == UINT32_MAX)
    return nullptr;
  if (file->blockBytes + length > kBlockBytes && !FlushBlock(*file)) return nullptr;
  uint8_t* room = file->head + kBlockHeadBytes + file->blockBytes;
  file->blockBytes += length;
  ++file->blockRecords;
  ++file->records;
  return room;
}

void UpdateBasicConfig(LibraryHandle handle, const BasicConfig* config) {
  LibraryFile* file = Find(handle);
  if (file && file->writing && config) CopyConfig(*file, *config);
}

LibraryHandle OpenCalyxenFile(const char* fileName, uint32_t* frameCount, BasicConfig* config) {
  if (!fileName || !frameCount || !config) return 0;
  auto file = std::make_unique<LibraryFile>();
  file->fd = ::open(fileName, O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (file->fd < 0 || ::fstat(file->fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  uint8_t h[kHeaderBytes];
  if (st.st_size < int64_t(kHeaderBytes) || !ReadAllAt(file->fd, h, sizeof h, 0)) return 0;
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0 || GetLE32(h + kAtVersion) != kLayoutVersion ||
      GetLE32(h + kAtHeaderBytes) != kHeaderBytes)
    return 0;
  DecodeConfig(h, *file);
  IndexBlocks(*file, int64_t(st.st_size));
  uint64_t found = 0;
  for (const LibraryFile::BlockEntry& b : file->index) found += b.records;
  // A closed file states its count: a file that holds fewer records was cut
  // short, and its reader learns so. One never closed has what it has.
  const bool closed = GetLE32(h + kAtState) == kStateClosed;
  file->closedByWriter = closed;
  *frameCount = closed ? GetLE32(h + kAtRecords) : uint32_t(std::min<uint64_t>(found, UINT32_MAX));
  *config = file->config;
  return Register(std::move(file));
}

const uint8_t* ReadFramesFromFile(LibraryHandle handle, uint32_t block, uint32_t* recordCount,
                                  uint32_t* byteCount) {
  LibraryFile* file = Find(handle);
  if (!file || file->writing || !recordCount || !byteCount || block >= file->index.size())
    return nullptr;
  const LibraryFile::BlockEntry& entry = file->index[block];
  uint8_t* records = PlacedFor(*file, entry.offset);
  if (!ReadAllAt(file->fd, records, entry.bytes, entry.offset)) return nullptr;
  *recordCount = entry.records;
  *byteCount = entry.bytes;
  return records;
}

bool CalyxenFileClosedByWriter(LibraryHandle handle) {
  const LibraryFile* file = Find(handle);
  return file && !file->writing && file->closedByWriter;
}

uint32_t CloseCalyxenFile(LibraryHandle handle) {
  failureReason.clear();
  std::unique_ptr<LibraryFile> file = Remove(handle);
  if (!file) return 0;
  if (!file->writing) return 1;
  FlushBlock(*file);
  const std::vector<uint8_t> header = EncodeHeader(*file, kStateClosed);
  if (!file->failed && !WriteAllAt(file->fd, header.data(), header.size(), 0))
    NoteFailure(*file, SystemErrorText(errno));
  const int fd = file->fd;
  file->fd = -1;
  if (::close(fd) != 0) NoteFailure(*file, SystemErrorText(errno));
  if (file->failed) {
    NoteFailure(file->failure);
    return 0;
  }
  std::string reason;
  if (file->replacement && !file->replacement->publish(reason)) {
    NoteFailure(reason);
    return 0;
  }
  return 1;  // a file not published goes with its replacement
}

void AbandonCalyxenFile(LibraryHandle handle) { Remove(handle); }

const std::string& LibraryFailureReason() { return failureReason; }

}  // namespace morph
