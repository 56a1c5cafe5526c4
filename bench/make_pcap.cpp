// Writes a libpcap file of N Ethernet frames for the benchmarks:
//   make_pcap OUT N mixed|small
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_pcap OUT N mixed|small\n");
    return 1;
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) return 1;
  const long count = std::atol(argv[2]);
  const bool mixed = std::strcmp(argv[3], "mixed") == 0;
  static const uint32_t kMixed[] = {60, 576, 1514};
  uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 1};
  std::fwrite(header, sizeof header, 1, out);
  std::vector<uint8_t> frame(1514);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 7);
  uint32_t seconds = 1700000000, micros = 0;
  for (long i = 0; i < count; ++i) {
    uint32_t length = mixed ? kMixed[i % 3] : 60;
    micros += 137;
    if (micros >= 1000000) micros -= 1000000, ++seconds;
    uint32_t record[4] = {seconds, micros, length, length};
    std::fwrite(record, sizeof record, 1, out);
    frame[0] = uint8_t(i);
    std::fwrite(frame.data(), length, 1, out);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
