#include <cstdio>

#include "engine/catalogue.h"
#include "engine/job.h"
#include "engine/targets.h"
#include "ui/cli/command_line.h"
#include "ui/cli/console_host.h"

namespace morph {

int RunIdentifyCommand(const std::vector<std::string>& args, std::FILE* out) {
  ConsoleHost host(false);
  const CapabilitySets caps = DefaultCapabilities();
  int status = Exit::Ok;
  for (const std::string& path : args) {
    ConversionState s;
    SourceCheck check = CheckSource(s, caps, path, host);
    if (!check.accepted) {
      status = Exit::SourceRefused;
      continue;
    }
    std::fprintf(out, "File: %s\nAnalyzer: %s\nInterface: %s%s\n", path.c_str(),
                 SourceDisplayName(s.SourceAnalyzer, s.TcpdumpModified, s.TcpdumpNokia,
                                   s.SourceCompressed)
                     .c_str(),
                 TopologyName(s.TraceTopology).c_str(),
                 IsWanTopology(s.TraceTopology) ? WanProtocolName(s.WanProtocol).c_str() : "");
  }
  return status;
}

}  // namespace morph
