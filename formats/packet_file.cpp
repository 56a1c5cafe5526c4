// Native packet files: the header summary, the shared reader (classic and
// tagged layouts) and the classic writer.
#include "formats/packet_file.h"

#include <cstring>

namespace morph {
namespace {

bool IsClassicVersion(uint8_t versionByte) {
  const uint8_t layout = versionByte & 0x7F;
  return layout == 6 || layout == 7;
}

void SummaryFromClassicHeader(const uint8_t* h, PacketFileSummary& out) {
  out.tagged = false;
  out.versionByte = h[0];
  out.packetCount = GetBE32(h + 6);
  out.timeDate = GetBE32(h + 10);
  out.mediaType = int(GetBE32(h + 22) & 0x7FFFFFFF);
  out.physicalMedium = int(GetBE32(h + 26) & 0x7FFFFFFF);
  out.appMajorVersion = h[33];
  out.linkSpeed = GetBE32(h + 34);
}

}  // namespace

bool ReadPacketFileSummary(SourceStream& in, PacketFileSummary& out) {
  out = PacketFileSummary{};
  uint8_t header[kClassicHeaderSize];
  if (!in.seek(0) || !in.readExact(header, 1)) return false;
  if (header[0] == kTaggedFirstByte) {
    int64_t packetsEnd = -1;
    return ReadTaggedHeader(in, out, packetsEnd);
  }
  if (!IsClassicVersion(header[0])) return false;
  if (!in.readExact(header + 1, kClassicHeaderSize - 1)) return false;
  SummaryFromClassicHeader(header, out);
  return true;
}

}  // namespace morph
