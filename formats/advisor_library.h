// The Advisor file library: the container in which Advisor and Network
// Analyzer traces live. Six operations, nothing else: create, add a frame
// record, update the configuration, open, read a block of records, close.
// The library knows nothing of frames or of the converter; it stores opaque
// records of 1 to 65,535 bytes in blocks, beside one configuration record.
// The file layout is described in docs/advisor-library.md.
#pragma once
#include <cstdint>
#include <string>

namespace morph {

// A file of the library, as the operations hand it out; 0 = no file.
using LibraryHandle = uint32_t;

// Eight values the library keeps beside the configuration.
struct ConfigExtension {
  uint32_t value[8] = {};
};

// The configuration record of a file.
struct BasicConfig {
  uint32_t wanProtocolCode = 0;
  uint32_t fileKind = 0;  // 3 Advisor, 0 Network Analyzer
  uint32_t mediaCode = 0;
  uint32_t lineCode = 0;
  uint32_t lineSpeed = 0;  // bit/s
  uint32_t reserved1 = 0;
  uint32_t startTime = 0;  // UTC seconds since 1970-01-01
  uint32_t reserved2 = 0;
  char comment[100] = {};  // text, zero-filled
  uint32_t extensionSize = 0;  // 32 when `extension` is given
  const ConfigExtension* extension = nullptr;
};

constexpr uint32_t kLibraryFileKindAdvisor = 3;
constexpr uint32_t kLibraryFileKindNetworkAnalyzer = 0;
constexpr uint32_t kLibraryMaxRecordBytes = 65535;

// Starts the file and stores the configuration. `reserved` must be 0. A
// regular file (new, or one a link names) is written under a temporary in
// its folder and takes its name at CloseCalyxenFile; until then a file of
// that name stays as it was. Devices and pipes are written directly.
// Returns 0 when the file cannot be created.
LibraryHandle CreateCalyxenFile(const char* fileName, uint32_t reserved, const BasicConfig* config);
// Appends one record of 1 to 65,535 bytes. Returns 1 when it is stored
// (written, or held for the block being filled); anything else is a failure.
uint32_t AddFrameToFile(LibraryHandle handle, const uint8_t* record, uint32_t length);

// The file behind a handle, for a writer that appends a record per frame:
// resolved once, it spares every record the lookup under the handles' lock.
// Null when the handle names no file; valid until the handle is closed.
struct LibraryFile;
LibraryFile* LibraryFileOf(LibraryHandle handle);
// AddFrameToFile through a resolved file; a null file is a failure.
uint32_t AddFrameToFile(LibraryFile* file, const uint8_t* record, uint32_t length);
// Appends a record of 1 to 65,535 bytes that the caller lays out in place:
// the room for it at the end of the block being filled, where every byte is
// then the caller's to write before the next call on the file. Null when the
// record cannot be stored (as AddFrameToFile failing).
uint8_t* AppendRecord(LibraryFile* file, uint32_t length);
// Replaces the stored configuration (written when the file is closed).
void UpdateBasicConfig(LibraryHandle handle, const BasicConfig* config);
// Opens a file of the library: the number of records it holds and its
// configuration come back. Returns 0 for anything that is not a file of this
// library. The configuration's extension points into the open file's state
// and stays valid until it is closed.
LibraryHandle OpenCalyxenFile(const char* fileName, uint32_t* frameCount, BasicConfig* config);
// The records of block `block` (0, 1, 2, ...), laid end to end: their number
// and byte size come back. The bytes stay valid until the next call on the
// handle. Null when there is no such block (or it cannot be read).
const uint8_t* ReadFramesFromFile(LibraryHandle handle, uint32_t block, uint32_t* recordCount,
                                  uint32_t* byteCount);
// True when the file opened for reading was closed by its writer; a file
// whose header still says "open" was never completed.
bool CalyxenFileClosedByWriter(LibraryHandle handle);
// Ends the use of a file; a file being written gets its last block and its
// final header, then its name. Returns 1 when everything reached the disk
// and the file has its name; otherwise the file is dropped.
uint32_t CloseCalyxenFile(LibraryHandle handle);
// Ends the writing of a file without keeping it: its name keeps what it
// held (a conversion that ended by an exception).
void AbandonCalyxenFile(LibraryHandle handle);
// Why the last create or close of this thread failed, or a write of the
// file it was closing: the system's reason, empty when none was given.
const std::string& LibraryFailureReason();

}  // namespace morph
