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

// Native packet files, classic and tagged (packet_file.cpp, tagged_packet_file.cpp)
void ReadPacketFile(Conversion& c, bool headerStep, bool singleFrame);
void WritePacketFileHeader(Conversion& c, int32_t count);
void WriteTaggedFileHeader(Conversion& c, int32_t count);
void WritePacketFileFrame(Conversion& c);
void FinishPacketFile(Conversion& c, int32_t framesWritten);
void FinishTaggedFile(Conversion& c, int32_t framesWritten);

// NetMon 1.x and 2.x (netmon.cpp)
void ReadNetMon(Conversion& c, bool headerStep, bool singleFrame);
void WriteNetMonHeader(Conversion& c, int32_t frameNumber);
void WriteNetMonFrame(Conversion& c);
void FinishNetMon(Conversion& c, int32_t framesWritten);

// snoop, Surveyor and the other trailer-variant targets (snoop.cpp)
void ReadSnoop(Conversion& c, bool headerStep, bool singleFrame);
void WriteSnoopHeader(Conversion& c, int32_t frameNumber);
void WriteSnoopFrame(Conversion& c);

// ASCII text dump (text_dump.cpp)
void WriteTextDumpHeader(Conversion& c, int32_t frameNumber);
void WriteTextDumpFrame(Conversion& c);

// Sniffer DOS (sniffer_dos.cpp) and SnifferPro/NetXRay (snifferpro.cpp)
void ReadSnifferDos(Conversion& c, bool headerStep, bool singleFrame);
void WriteSnifferDosHeader(Conversion& c, int32_t frameNumber);
void WriteSnifferDosFrame(Conversion& c);
void FinishSnifferDos(Conversion& c, int32_t framesWritten);
void ReadSnifferPro(Conversion& c, bool headerStep, bool singleFrame);
void WriteSnifferProHeader(Conversion& c, int32_t count);
void WriteSnifferProFrame(Conversion& c);
void FinishSnifferPro(Conversion& c, int32_t framesWritten);

// Advisor and Network Analyzer, through the Advisor file library (advisor.cpp)
void ReadAdvisor(Conversion& c, bool headerStep, bool singleFrame);
void WriteAdvisorHeader(Conversion& c, int32_t frameNumber);
void WriteAdvisorFrame(Conversion& c);
void FinishAdvisor(Conversion& c, int32_t framesWritten);

// Internet Advisor, pre-Win95 (internet_advisor.cpp)
void ReadInternetAdvisor(Conversion& c, bool headerStep, bool singleFrame);
void WriteInternetAdvisorHeader(Conversion& c, int32_t frameNumber);
void WriteInternetAdvisorFrame(Conversion& c);
void FinishInternetAdvisor(Conversion& c, int32_t framesWritten);

// NetMetrix, read only (netmetrix.cpp)
void ReadNetMetrix(Conversion& c, bool headerStep, bool singleFrame);

}  // namespace morph
