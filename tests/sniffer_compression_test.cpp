// Sniffer DOS decompressor on blocks built byte by byte from the block and
// group layout: stored blocks, literals, runs, back references, and every
// way bad data can end a block.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "engine/streams.h"
#include "formats/sniffer_compression.h"

namespace morph {
namespace {

using Bytes = std::vector<uint8_t>;

// A block header followed by its contents.
Bytes Block(uint16_t header, const Bytes& contents) {
  Bytes b = {uint8_t(header), uint8_t(header >> 8)};
  b.insert(b.end(), contents.begin(), contents.end());
  return b;
}
Bytes Stored(const Bytes& contents) { return Block(uint16_t(0x8000 | contents.size()), contents); }
Bytes Compressed(const Bytes& contents) { return Block(uint16_t(contents.size()), contents); }
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Reads the given request sizes in turn; nullopt when a read fails.
std::optional<Bytes> Decode(const Bytes& input, std::initializer_list<size_t> requests) {
  auto in = OpenMemorySource(input);
  SnifferDecompressor d;
  d.Reset(*in, 0);
  Bytes out;
  for (size_t n : requests) {
    Bytes part(n);
    if (!d.Read(part.data(), n)) return std::nullopt;
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

TEST(SnifferDecompressor, StoredBlockDeliversItsBytes) {
  const Bytes five = {1, 2, 3, 4, 5};
  auto out = Decode(Block(0x8005, five), {5});
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, five);
}

TEST(SnifferDecompressor, LiteralsRunsAndCopies) {
  Bytes sixteen;
  for (int i = 0; i < 16; ++i) sixteen.push_back(uint8_t(0xA0 + i));
  Bytes literalsOnly = Concat({{0x00, 0x00}, sixteen});
  auto literals = Decode(Compressed(literalsOnly), {16});
  ASSERT_TRUE(literals);
  EXPECT_EQ(*literals, sixteen);

  // Flag 0x8000: the first item is the short run 0x02 0x41 (2 + 3 bytes).
  auto run = Decode(Compressed({0x00, 0x80, 0x02, 0x41, 0x7A}), {6});
  ASSERT_TRUE(run);
  EXPECT_EQ(*run, (Bytes{0x41, 0x41, 0x41, 0x41, 0x41, 0x7A}));

  // Long run 0x1n N B: n + N*16 + 19 bytes.
  auto longRun = Decode(Compressed({0x00, 0x80, 0x12, 0x01, 0x55}), {37});
  ASSERT_TRUE(longRun);
  EXPECT_EQ(*longRun, Bytes(37, 0x55));

  // "abc", then a short copy of 3 from offset 3 (0x30 0x00).
  auto copy = Decode(Compressed({0x00, 0x10, 'a', 'b', 'c', 0x30, 0x00}), {6});
  ASSERT_TRUE(copy);
  EXPECT_EQ(*copy, (Bytes{'a', 'b', 'c', 'a', 'b', 'c'}));

  // Long copy 0x2n N L: L + 16 bytes from offset n + N*16 + 3. Offset 3 is
  // smaller than the count, so the pattern repeats byte by byte.
  auto longCopy = Decode(Compressed({0x00, 0x10, 'x', 'y', 'z', 0x20, 0x00, 0x02}), {21});
  ASSERT_TRUE(longCopy);
  Bytes expected;
  for (int i = 0; i < 21; ++i) expected.push_back(uint8_t("xyz"[i % 3]));
  EXPECT_EQ(*longCopy, expected);

  // The low nibble adds to the offset: 0x41 copies 4 bytes from offset 1 + 3.
  auto offsetNibble = Decode(Compressed({0x00, 0x08, 1, 2, 3, 4, 0x41, 0x00}), {8});
  ASSERT_TRUE(offsetNibble);
  EXPECT_EQ(*offsetNibble, (Bytes{1, 2, 3, 4, 1, 2, 3, 4}));
}

TEST(SnifferDecompressor, RequestsSpanBlocksAndGroups) {
  const Bytes input = Concat({Stored({1, 2, 3, 4}), Compressed({0x00, 0x00, 5, 6, 7, 8}),
                              Block(0x8000, {}), Stored({9})});
  auto out = Decode(input, {2, 6, 1});
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));

  // Two groups in one block: the second refers back into the first.
  Bytes group1 = {0x00, 0x00};
  for (int i = 0; i < 16; ++i) group1.push_back(uint8_t(i));
  Bytes twoGroups = Concat({group1, {0x00, 0x80, 0xF0, 0x00}});  // copy 15 from offset 3
  auto back = Decode(Compressed(twoGroups), {16, 15});
  ASSERT_TRUE(back);
  for (int i = 0; i < 15; ++i) EXPECT_EQ((*back)[size_t(16 + i)], (*back)[size_t(13 + i)]);
}

TEST(SnifferDecompressor, BadDataFailsCleanly) {
  // A back reference before the start of the block.
  EXPECT_FALSE(Decode(Compressed({0x00, 0x40, 'a', 0x30, 0x00}), {4}));
  // Back references never reach into an earlier block.
  EXPECT_FALSE(Decode(Concat({Stored({1, 2, 3}), Compressed({0x00, 0x80, 0x30, 0x00})}), {3, 3}));
  // Output beyond one block buffer: 9 long runs of 4114 bytes.
  Bytes runs = {0x80, 0xFF};  // nine commands
  for (int i = 0; i < 9; ++i) runs.insert(runs.end(), {0x1F, 0xFF, 0x11});
  EXPECT_FALSE(Decode(Compressed(runs), {32768, 4114}));
  // The block header says more than the file holds.
  EXPECT_FALSE(Decode(Block(0x0010, {0x00, 0x00, 1, 2}), {4}));
  EXPECT_FALSE(Decode(Block(0x8010, {1, 2}), {4}));
  // A command whose bytes pass the end of its block.
  EXPECT_FALSE(Decode(Concat({Compressed({0x00, 0x80, 0x12}), Stored({0x55, 0x55})}), {4}));
  // A flag word cut by the end of the block, and a block header cut short.
  EXPECT_FALSE(Decode(Concat({Compressed({0x00}), Stored({1})}), {1}));
  EXPECT_FALSE(Decode({0x05}, {1}));
  // A compressed block with nothing in it.
  EXPECT_FALSE(Decode(Concat({Compressed({}), Stored({1})}), {1}));
}

TEST(SnifferDecompressor, ConsumedCountsFromTheGivenStart) {
  const Bytes input = Concat({Stored({1, 2, 3}), Compressed({0x00, 0x00, 4})});
  auto in = OpenMemorySource(input);
  SnifferDecompressor d;
  d.Reset(*in, 41);
  uint8_t out[4];
  ASSERT_TRUE(d.Read(out, 4));
  EXPECT_EQ(d.Consumed(), 41 + int64_t(input.size()));
}

}  // namespace
}  // namespace morph
