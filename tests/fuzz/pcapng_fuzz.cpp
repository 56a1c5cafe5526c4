// Runs the pcapng reader on arbitrary bytes, from a source that cannot seek,
// writing what it delivers through the pcapng, libpcap or text writers in
// memory. The first input byte picks topology and writer; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/conversion.h"
#include "engine/host.h"
#include "engine/streams.h"

namespace {

constexpr morph::AnalyzerType kWriters[] = {morph::Analyzer::Pcapng, morph::Analyzer::Tcpdump,
                                            morph::Analyzer::Ascii, morph::Analyzer::Pcapng};
constexpr morph::Topology kTopologies[] = {morph::Topo::Ethernet, morph::Topo::TokenRing,
                                           morph::Topo::Fddi, morph::Topo::Wireless};

// Reads forward only, as a pipe does.
class ForwardOnly : public morph::SourceStream {
 public:
  explicit ForwardOnly(std::vector<uint8_t> bytes)
      : inner_(morph::OpenMemorySource(std::move(bytes))) {}
  size_t read(void* b, size_t n) override { return inner_->read(b, n); }
  bool seek(int64_t position) override { return position == inner_->position(); }
  int64_t position() const override { return inner_->position(); }
  int64_t size() const override { return -1; }
  bool atEnd() override { return inner_->atEnd(); }
  bool failed() const override { return false; }

 private:
  std::unique_ptr<morph::SourceStream> inner_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  morph::SilentHost host;
  morph::Conversion c(host);
  c.state.SourceAnalyzer = morph::Analyzer::Pcapng;
  c.state.TraceTopology = kTopologies[choice & 3];
  c.state.TargetAnalyzer = kWriters[(choice >> 2) & 3];
  c.state.SliceFrames = (choice & 0x80) != 0;
  c.state.SliceLength = 50;
  c.source = std::make_unique<ForwardOnly>(std::vector<uint8_t>(data + 1, data + size));
  c.target = std::make_unique<morph::MemoryTarget>();
  c.ConvertTrace(false, 0);
  return 0;
}
