// Tagged packet files: the sections of XML text at the start, the tagged
// packet records and the writer of both.
#include <cstring>
#include <string>
#include <string_view>

#include "formats/packet_file.h"

namespace morph {
namespace {

constexpr int kSectionHeaderSize = 12;
// The version and session texts are a few hundred bytes; anything far larger
// is no such file, and is refused before memory is taken for it.
constexpr int32_t kMaxSectionText = 1 << 20;

struct SectionHeader {
  char tag[4];
  int32_t length;
};

bool ReadSectionHeader(SourceStream& in, SectionHeader& section) {
  uint8_t raw[kSectionHeaderSize];
  if (!in.readExact(raw, sizeof raw)) return false;
  std::memcpy(section.tag, raw, 4);
  section.length = int32_t(GetLE32(raw + 4));
  return section.length >= 0;
}

bool ReadSectionText(SourceStream& in, const SectionHeader& section, std::string& text) {
  if (section.length > kMaxSectionText) return false;
  text.resize(size_t(section.length));
  return in.readExact(text.data(), text.size());
}

bool TagIs(const SectionHeader& section, const char* name, bool ignoreCase) {
  for (int i = 0; i < 4; ++i) {
    char a = section.tag[i], b = name[i];
    if (ignoreCase && a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// The text after the first "<name>" up to the next "<"; false when the element is missing.
bool ElementText(std::string_view xml, std::string_view name, std::string_view& text) {
  const std::string open = "<" + std::string(name) + ">";
  const size_t start = xml.find(open);
  if (start == std::string_view::npos) return false;
  const size_t from = start + open.size();
  const size_t end = xml.find('<', from);
  text = xml.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from);
  return true;
}

// A decimal number with leading blanks; false for anything else or beyond 32 bits.
bool ParseCount(std::string_view text, uint32_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return false;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + uint64_t(text[i] - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  value = uint32_t(v);
  return true;
}

uint32_t SessionValue(std::string_view xml, std::string_view name) {
  std::string_view text;
  uint32_t value = 0;
  if (!ElementText(xml, name, text) || !ParseCount(text, value)) return 0;
  return value;
}

// Major version of "<AppVersion>a.b.c.d</AppVersion>", each part 0 to 255; -1 otherwise.
int AppMajorVersion(std::string_view xml) {
  std::string_view text;
  if (!ElementText(xml, "AppVersion", text)) return -1;
  int parts[4];
  size_t at = 0;
  for (int k = 0; k < 4; ++k) {
    size_t dot = k < 3 ? text.find('.', at) : text.size();
    if (dot == std::string_view::npos) return -1;
    std::string_view part = text.substr(at, dot - at);
    if (part.empty() || part.size() > 3) return -1;
    int v = 0;
    for (char ch : part) {
      if (ch < '0' || ch > '9') return -1;
      v = v * 10 + (ch - '0');
    }
    if (v > 255) return -1;
    parts[k] = v;
    at = dot + 1;
  }
  return parts[0];
}

}  // namespace

bool ReadTaggedHeader(SourceStream& in, PacketFileSummary& out, int64_t& packetsEnd) {
  out = PacketFileSummary{};
  out.tagged = true;
  out.versionByte = 9;
  packetsEnd = -1;
  SectionHeader section;
  std::string text;
  if (!in.seek(0) || !ReadSectionHeader(in, section) || !ReadSectionText(in, section, text))
    return false;
  out.appMajorVersion = AppMajorVersion(text);

  // Find the session, remembering where a packets section came first.
  int64_t packetsAt = -1;
  if (!ReadSectionHeader(in, section)) return false;
  while (!TagIs(section, "sess", true)) {
    if (packetsAt < 0 && TagIs(section, "pkts", true)) packetsAt = in.position() - kSectionHeaderSize;
    if (!in.skip(section.length) || !ReadSectionHeader(in, section)) return false;
  }
  if (!ReadSectionText(in, section, text)) return false;
  out.packetCount = SessionValue(text, "PacketCount");
  out.timeDate = SessionValue(text, "RawTime");
  out.linkSpeed = SessionValue(text, "LinkSpeed");
  out.mediaType = int(SessionValue(text, "MediaType") & 0x7FFFFFFF);
  out.physicalMedium = int(SessionValue(text, "MediaSubType") & 0x7FFFFFFF);

  if (packetsAt >= 0 && !in.seek(packetsAt)) return false;
  if (!ReadSectionHeader(in, section)) return false;
  while (!TagIs(section, "pkts", false)) {
    if (!in.skip(section.length) || !ReadSectionHeader(in, section)) return false;
  }
  if (section.length > 0) packetsEnd = in.position() + section.length;
  return true;
}

}  // namespace morph
