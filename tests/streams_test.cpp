// File streams: block-wise reading and writing with the in-hand fast paths,
// positions and seeks across block boundaries, and failures that stick.
#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/spill.h"
#include "engine/streams.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using testkit::TempDir;

constexpr size_t kBlock = 1 << 17;  // the target's block size
constexpr size_t kFirstSourceBlock = 64 << 10, kLargestSourceBlock = 512 << 10;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 13 + (i >> 11));
  return v;
}

// Writes of every size from a byte to more than a block, seeks back into the
// bytes still in the block and into those already written, writes that run
// on past where the bytes ended, patches of counts learnt later, a seek past
// the end, and the position at each step: the file holds exactly what a
// memory target given the same steps holds.
TEST(FileTarget, WritesSeeksAndPatchesAsInMemory) {
  TempDir dir;
  auto target = CreateFileTarget(dir.path("out.bin"));
  ASSERT_TRUE(target);
  MemoryTarget memory;
  MemoryTarget blocks({1, 13, 4096, 70000});  // as the fuzzers give it
  uint8_t seed = 1;
  const auto write = [&](size_t n) {
    const std::vector<uint8_t> bytes = Pattern(n, seed++);
    ASSERT_TRUE(target->write(bytes.data(), n));
    ASSERT_TRUE(memory.write(bytes.data(), n));
    ASSERT_TRUE(blocks.write(bytes.data(), n));
  };
  const auto seek = [&](int64_t to) {
    ASSERT_TRUE(target->seek(to));
    ASSERT_TRUE(memory.seek(to));
    ASSERT_TRUE(blocks.seek(to));
  };
  const auto patch = [&](int64_t at, size_t n) {
    const std::vector<uint8_t> bytes = Pattern(n, seed++);
    ASSERT_TRUE(target->patch(at, bytes.data(), n));
    ASSERT_TRUE(memory.patch(at, bytes.data(), n));
    ASSERT_TRUE(blocks.patch(at, bytes.data(), n));
  };
  const auto same = [&](const char* step) {
    EXPECT_EQ(target->position(), memory.position()) << step;
    EXPECT_EQ(blocks.position(), memory.position()) << step;
  };
  write(24);
  for (size_t n : {size_t(1), size_t(16), size_t(60), size_t(1514), size_t(4095), kBlock - 7,
                   size_t(3), kBlock + 5, 2 * kBlock, size_t(17)}) {
    write(n);
    same("write");
  }
  const int64_t end = memory.position();
  seek(end - 10);  // back into the block: rewritten there
  write(4);
  same("rewrite inside the block");
  write(40);  // on past where the bytes ended
  same("on past the end");
  const int64_t later = memory.position();
  seek(later - 50);  // a few bytes rewritten, then back to the end
  write(4);
  seek(later);
  write(8);
  same("back to the end");
  seek(later - 20);  // a rewrite larger than the block's room
  write(kBlock);
  same("rewrite past the block");
  patch(end - 30, 8);  // a count in the block
  patch(100, 8);       // one already in the file
  patch(memory.position() - 4, 4);
  same("patches");
  seek(5);  // back before the block, then on across it
  write(kBlock + 100);
  same("rewrite across blocks");
  seek(memory.position() + 3 * int64_t(kBlock));  // past the end: a hole of zeros
  write(33);
  patch(memory.position() - 40, 20);  // across the hole's end and the bytes after it
  same("hole");
  seek(0);
  write(24);
  same("header");
  ASSERT_TRUE(target->close());
  EXPECT_FALSE(target->write("x", 1));  // a closed target takes nothing more
  EXPECT_EQ(testkit::ReadFileBytes(dir.path("out.bin")), memory.bytes());
  ASSERT_TRUE(blocks.close());
  EXPECT_EQ(blocks.bytes(), memory.bytes());
}

// A pipe takes no seek back, not even into bytes still in the block: the
// target fails as it would once they had gone.
TEST(FileTarget, APipeTakesNoSeekBack) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  auto target = DescriptorTarget(fds[1], "standard output");
  ASSERT_TRUE(target->write("abcdef", 6));
  EXPECT_FALSE(target->seek(2));
  EXPECT_TRUE(target->failed());
  EXPECT_NE(target->errorText().find("standard output: "), std::string::npos);
  target.reset();
  char got[8] = {};
  EXPECT_EQ(read(fds[0], got, sizeof got), 6);  // what came before the seek went out
  close(fds[0]);
}

// Records laid out in place in the block being filled, and aside where the
// block has too little room left (a memory target keeps no block at all):
// the file holds them in order, whichever way each went.
TEST(FileTarget, RecordsLaidOutInPlaceOrAside) {
  TempDir dir;
  auto target = CreateFileTarget(dir.path("records.bin"));
  ASSERT_TRUE(target);
  MemoryTarget memory;
  std::vector<uint8_t> expected, aside(5000);
  uint8_t seed = 7;
  while (expected.size() < 3 * kBlock) {
    const std::vector<uint8_t> record = Pattern(60 + expected.size() % 4001, seed++);
    const auto layOut = [&](uint8_t* p) { std::memcpy(p, record.data(), record.size()); };
    ASSERT_TRUE(WriteRecord(*target, record.size(), aside.data(), layOut));
    ASSERT_TRUE(WriteRecord(memory, record.size(), aside.data(), layOut));
    expected.insert(expected.end(), record.begin(), record.end());
    ASSERT_EQ(target->position(), int64_t(expected.size()));
  }
  ASSERT_TRUE(target->close());
  EXPECT_EQ(testkit::ReadFileBytes(dir.path("records.bin")), expected);
  EXPECT_EQ(memory.bytes(), expected);
}

// A device that is always full: the failure carries the path and the
// system's reason, and every later write fails too, however small.
TEST(FileTarget, AFailureSticks) {
  auto target = CreateFileTarget("/dev/full");
  if (!target) GTEST_SKIP() << "no /dev/full";
  const std::vector<uint8_t> block = Pattern(kBlock, 3);
  EXPECT_FALSE(target->write(block.data(), block.size()) && target->flush());
  EXPECT_TRUE(target->failed());
  EXPECT_NE(target->errorText().find("/dev/full: "), std::string::npos);
  EXPECT_FALSE(target->write("x", 1));
  EXPECT_FALSE(target->close());
}

// Records fetched across block boundaries, seeks inside and outside the
// block in hand, and the end seen only once every byte is read.
TEST(FileSource, FetchSeekAndEndAcrossBlocks) {
  TempDir dir;
  const std::vector<uint8_t> bytes = Pattern(2 * kBlock + 777, 5);
  testkit::WriteFileBytes(dir.path("in.bin"), bytes);
  auto in = OpenFileSource(dir.path("in.bin"));
  ASSERT_TRUE(in);
  EXPECT_EQ(in->size(), int64_t(bytes.size()));
  std::vector<uint8_t> got(bytes.size());
  size_t at = 0;
  for (size_t n = 1; at < bytes.size(); n = n * 3 % 5000 + 1) {
    const size_t want = std::min(n, bytes.size() - at);
    ASSERT_EQ(in->fetch(got.data() + at, want), want);
    at += want;
    ASSERT_EQ(in->position(), int64_t(at));
  }
  EXPECT_EQ(got, bytes);
  EXPECT_FALSE(in->holdsBytes());
  EXPECT_TRUE(in->atEnd());
  uint8_t one = 0;
  EXPECT_EQ(in->fetch(&one, 1), 0u);
  EXPECT_FALSE(in->failed());

  for (int64_t to : {int64_t(kBlock) - 2, int64_t(10), int64_t(bytes.size()) - 3, int64_t(kBlock)}) {
    ASSERT_TRUE(in->seek(to));
    EXPECT_EQ(in->position(), to);
    uint8_t four[4] = {};
    const size_t expect = std::min<size_t>(4, bytes.size() - size_t(to));
    ASSERT_EQ(in->fetch(four, 4), expect);
    EXPECT_TRUE(std::equal(four, four + expect, bytes.begin() + to)) << to;
  }
  EXPECT_FALSE(in->seek(-1));
}

// A source read across blocks of every size it reads (small after a seek,
// growing while reading goes on in order); then a file cut shorter while it
// is read, within the block in hand and beyond it: no crash, every byte
// delivered is the file's, and the stream fails with the path and the
// reason instead of ending cleanly.
TEST(FileSource, BlocksAndAFileCutWhileRead) {
  TempDir dir;
  const std::vector<uint8_t> bytes = Pattern(3 * kLargestSourceBlock + 4099, 9);
  const auto freshSource = [&] {
    testkit::WriteFileBytes(dir.path("in.bin"), bytes);
    return OpenFileSource(dir.path("in.bin"));
  };
  {
    auto in = freshSource();
    ASSERT_TRUE(in);
    std::vector<uint8_t> got(bytes.size());
    const size_t from = kLargestSourceBlock - 5, n = 2 * kLargestSourceBlock;
    ASSERT_TRUE(in->seek(int64_t(from)));  // every block size after a seek
    ASSERT_EQ(in->fetch(got.data(), n), n);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, bytes.begin() + from));
    ASSERT_TRUE(in->seek(int64_t(from) + 7));  // back inside the block in hand
    ASSERT_EQ(in->fetch(got.data(), 3), 3u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 3, bytes.begin() + from + 7));
    ASSERT_TRUE(in->seek(0));
    ASSERT_EQ(in->fetch(got.data(), got.size()), got.size());
    EXPECT_EQ(got, bytes);
    EXPECT_TRUE(in->atEnd());
    EXPECT_FALSE(in->failed());
    EXPECT_FALSE(in->seek(int64_t(bytes.size()) + 10));  // past the end: refused, no failure
    EXPECT_EQ(in->position(), int64_t(bytes.size()));
    EXPECT_TRUE(in->atEnd());
    EXPECT_FALSE(in->failed());
  }
  for (const size_t cutTo : {size_t(1000), kFirstSourceBlock + 10, 3 * kFirstSourceBlock + 1}) {
    auto in = freshSource();
    ASSERT_TRUE(in);
    std::vector<uint8_t> got(bytes.size());
    ASSERT_EQ(in->fetch(got.data(), 4096), 4096u);
    ASSERT_EQ(truncate(dir.path("in.bin").c_str(), off_t(cutTo)), 0);
    const size_t read = 4096 + in->fetch(got.data() + 4096, got.size() - 4096);
    EXPECT_LT(read, bytes.size()) << cutTo;
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + read, bytes.begin())) << cutTo;
    EXPECT_TRUE(in->atEnd());
    EXPECT_TRUE(in->failed()) << cutTo;
    EXPECT_NE(in->errorText().find(dir.path("in.bin")), std::string::npos) << in->errorText();
    // A seek past the cut within its page: the page is read, but not the byte.
    auto after = freshSource();
    ASSERT_EQ(truncate(dir.path("in.bin").c_str(), off_t(cutTo)), 0);
    ASSERT_TRUE(after->seek(int64_t(cutTo) + 1));
    EXPECT_EQ(after->fetch(got.data(), 1), 0u) << cutTo;
    EXPECT_TRUE(after->failed()) << cutTo;
  }
}

// Every kind of source, over the same bytes: a file, a gzip file, memory in
// one window and memory in windows of sizes the fuzzers choose.
std::vector<std::pair<std::string, std::unique_ptr<SourceStream>>> EverySource(
    const TempDir& dir, const std::vector<uint8_t>& bytes) {
  testkit::WriteFileBytes(dir.path("plain.bin"), bytes);
  testkit::WriteGzipFile(dir.path("packed.gz"), bytes);
  std::vector<std::pair<std::string, std::unique_ptr<SourceStream>>> sources;
  sources.emplace_back("file", OpenFileSource(dir.path("plain.bin")));
  sources.emplace_back("gzip", OpenGzipSource(dir.path("packed.gz")));
  sources.emplace_back("memory", OpenMemorySource(bytes));
  sources.emplace_back("memory in blocks", OpenMemorySource(bytes, {1, 5, 16, 999, 3}));
  return sources;
}

// A read is only ever the bytes the source gave. Reads running past the end
// deliver the bytes up to it and leave the rest of the buffer as it was; a
// seek past the end is refused without an I/O error and leaves the stream
// at its end; a seek back then reads the source's own bytes again, never
// those of a block the read past the end left behind.
TEST(Sources, NoByteComesFromBeyondTheEnd) {
  TempDir dir;
  const std::vector<uint8_t> bytes = Pattern(3000, 11);
  for (auto& [kind, in] : EverySource(dir, bytes)) {
    SCOPED_TRACE(kind);
    ASSERT_TRUE(in);
    std::vector<uint8_t> got(5000, 0xEE);
    ASSERT_TRUE(in->seek(2500));
    EXPECT_EQ(in->fetch(got.data(), 1000), 500u);  // a record cut by the end
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 500, bytes.begin() + 2500));
    EXPECT_EQ(got[500], 0xEE);
    EXPECT_FALSE(in->seek(4040));  // an offset a record states, past the end
    EXPECT_EQ(in->position(), 3000);
    EXPECT_EQ(in->fetch(got.data(), 16), 0u);
    EXPECT_TRUE(in->atEnd());
    EXPECT_FALSE(in->failed());
    ASSERT_TRUE(in->seek(0));  // back, as a reader after an identification probe
    EXPECT_LE(in->inHandSize(), bytes.size());
    std::fill(got.begin(), got.end(), 0xEE);
    EXPECT_EQ(in->fetch(got.data(), got.size()), bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), got.begin()));
    EXPECT_EQ(got[bytes.size()], 0xEE);
    EXPECT_TRUE(in->seek(3000));  // the end itself can be reached
    EXPECT_FALSE(in->skip(1));
    EXPECT_FALSE(in->failed());
  }
}

// Records of every size fetched in turn, and walked in place where the
// window holds them whole, come out as stored, whatever blocks the source
// serves them in.
TEST(Sources, RecordsStraddlingBlocksComeOutAsStored) {
  TempDir dir;
  const std::vector<uint8_t> bytes = Pattern(20000, 3);
  for (auto& [kind, in] : EverySource(dir, bytes)) {
    SCOPED_TRACE(kind);
    std::vector<uint8_t> got;
    for (size_t n = 1; got.size() < bytes.size(); n = n * 7 % 1500 + 1) {
      const size_t want = std::min(n, bytes.size() - got.size());
      if (in->inHandSize() >= want) {  // in place, as a reader's fast path
        got.insert(got.end(), in->inHand(), in->inHand() + want);
        in->consume(want);
        continue;
      }
      std::vector<uint8_t> record(want);
      ASSERT_EQ(in->fetch(record.data(), want), want) << got.size();
      got.insert(got.end(), record.begin(), record.end());
    }
    EXPECT_EQ(got, bytes);
    EXPECT_TRUE(in->atEnd());
  }
}

// A gzip source holds its file to each member's trailer: cut anywhere,
// trailer included, or with a CRC-32 or size that does not match, it fails
// with the reason once the bytes before are delivered; a reader that stops
// before the end has the trailer checked by readToEnd. Members one after
// another read as one.
TEST(GzipSource, TheTrailerIsChecked) {
  TempDir dir;
  const std::vector<uint8_t> bytes = Pattern(70000, 5);
  const std::string path = dir.path("t.gz");
  testkit::WriteGzipFile(path, bytes);
  const std::vector<uint8_t> packed = testkit::ReadFileBytes(path);
  const auto readAll = [&](const std::vector<uint8_t>& file, std::vector<uint8_t>& got) {
    testkit::WriteFileBytes(path, file);
    auto in = OpenGzipSource(path);
    got.assign(bytes.size() + 10, 0);
    got.resize(in->fetch(got.data(), got.size()));
    return in;
  };
  std::vector<uint8_t> got;
  for (size_t less = 1; less <= 40; ++less) {
    auto in = readAll({packed.begin(), packed.end() - long(less)}, got);
    EXPECT_TRUE(in->failed()) << less;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin())) << less;
    if (less <= 8) {
      EXPECT_EQ(got.size(), bytes.size()) << less;
      EXPECT_NE(in->errorText().find(path + ": gzip trailer missing"), std::string::npos)
          << in->errorText();
    }
  }
  std::vector<uint8_t> badCrc = packed, badSize = packed;
  badCrc[packed.size() - 6] ^= 1;
  badSize[packed.size() - 2] ^= 1;
  EXPECT_NE(readAll(badCrc, got)->errorText().find("gzip trailer: the CRC-32 does not match"),
            std::string::npos);
  EXPECT_NE(readAll(badSize, got)->errorText().find("gzip trailer: the size does not match"),
            std::string::npos);

  std::vector<uint8_t> two = packed;
  two.insert(two.end(), packed.begin(), packed.end());
  testkit::WriteFileBytes(path, two);
  auto in = OpenGzipSource(path);
  got.assign(2 * bytes.size() + 1, 0);
  EXPECT_EQ(in->fetch(got.data(), got.size()), 2 * bytes.size());
  EXPECT_TRUE(in->atEnd());
  EXPECT_FALSE(in->failed());

  testkit::WriteFileBytes(path, {packed.begin(), packed.end() - 3});
  in = OpenGzipSource(path);
  ASSERT_TRUE(in->readExact(got.data(), 100));
  EXPECT_FALSE(in->failed());
  in->readToEnd();
  EXPECT_TRUE(in->failed());
}

// A frame index gathered in entries of 20 bytes, well past the block held in
// memory, comes back whole and in order; with no folder for its temporary
// file, the entry that needs it fails with the folder and the reason.
TEST(SpillBuffer, EntriesBeyondABlockComeBackInOrder) {
  const size_t entries = 3 * SpillBuffer::kBlock / 20 + 7;
  const std::vector<uint8_t> bytes = Pattern(entries * 20, 4);
  SpillBuffer index;
  for (size_t i = 0; i < entries; ++i) ASSERT_TRUE(index.append(bytes.data() + 20 * i, 20)) << i;
  EXPECT_EQ(index.size(), bytes.size());
  std::vector<uint8_t> back;
  ASSERT_TRUE(index.forEachBlock([&](const uint8_t* p, size_t n) {
    back.insert(back.end(), p, p + n);
    return true;
  }));
  EXPECT_EQ(back, bytes);
  index.clear();
  EXPECT_EQ(index.size(), 0u);

  const char* saved = std::getenv("TMPDIR");
  const std::string previous = saved ? saved : "";
  setenv("TMPDIR", "/nonexistent-folder", 1);
  SpillBuffer lost;
  bool ok = true;
  for (size_t i = 0; ok && i < entries; ++i) ok = lost.append(bytes.data() + 20 * i, 20);
  saved ? setenv("TMPDIR", previous.c_str(), 1) : unsetenv("TMPDIR");
  EXPECT_FALSE(ok);
  EXPECT_NE(lost.errorText().find("/nonexistent-folder"), std::string::npos) << lost.errorText();
}

}  // namespace
}  // namespace morph
