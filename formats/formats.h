// Entry points of every format family, as the analyzer table uses them.
#pragma once
#include <cstdint>

namespace morph {

class Conversion;

// tcpdump/libpcap (pcap.cpp)
void ReadPcap(Conversion& c, bool headerStep, bool singleFrame);
void WritePcapHeader(Conversion& c, int32_t frameNumber);
void WritePcapFrame(Conversion& c);
void FinishPcap(Conversion& c, int32_t framesWritten);

}  // namespace morph
