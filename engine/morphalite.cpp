#include "engine/morphalite.h"

#include "engine/catalogue.h"

namespace morph {
namespace {

class LibraryHost : public Host {
 public:
  LibraryHost(const std::function<void(const ProgressView&)>& onProgress,
              const std::atomic<bool>* stop)
      : onProgress_(onProgress), stop_(stop) {}
  std::vector<std::string> messages;
  void message(const std::string& caption, const std::string& text, MessageIcon) override {
    messages.push_back(caption + ": " + text);
  }
  // The reason behind a failure (the system's error with the path) follows
  // its message, indented as the console shows it.
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               MessageIcon icon) override {
    message(caption, text, icon);
    if (!detail.empty()) messages.push_back("  " + detail);
  }
  bool stopRequested() override { return stop_ && stop_->load(std::memory_order_relaxed); }
  void progress(const ProgressView& view) override {
    if (onProgress_) onProgress_(view);
  }

 private:
  const std::function<void(const ProgressView&)>& onProgress_;
  const std::atomic<bool>* stop_;
};

ConvertReport ReportOf(const JobResult& result, const LibraryHost& host) {
  ConvertReport report;
  report.outcome = result.outcome;
  report.messages = host.messages;
  report.targetPath = result.targetPath;
  report.framesWritten = result.framesWritten;
  report.frameBytes = result.frameBytes;
  report.skipped = result.skipped;
  report.losses = result.losses;
  report.failureDetail = result.failureDetail;
  report.duplicateFrames = result.duplicateFrames;
  report.files = result.files;
  return report;
}

}  // namespace

FileFacts IdentifyFile(const std::string& path) {
  LibraryHost host({}, nullptr);
  ConversionState s;
  SourceCheck check = CheckSource(s, DefaultCapabilities(), path, host);
  FileFacts facts;
  facts.accepted = check.accepted;
  facts.messages = host.messages;
  facts.analyzer = check.analyzer;
  facts.analyzerName = SourceDisplayName(s.sourceAnalyzer, s.sourceVariant, s.sourceCompressed);
  facts.topology = check.topology;
  facts.interfaceName = TopologyName(check.topology);
  if (IsWanTopology(check.topology)) facts.interfaceName += WanProtocolName(s.wanProtocol);
  facts.lineSpeed = s.lineSpeed;
  facts.comment = s.fileComment;
  facts.fileSize = s.sourceFileSize;
  facts.frameCount = s.sourceFrameCount;
  return facts;
}

ConvertReport ConvertFile(const JobRequest& request,
                          const std::function<void(const ProgressView&)>& onProgress,
                          const std::atomic<bool>* stop) {
  LibraryHost host(onProgress, stop);
  JobResult result = RunConversionJob(request, DefaultCapabilities(), host);
  return ReportOf(result, host);
}

ConvertReport MergeFiles(const MergeRequest& request,
                         const std::function<void(const ProgressView&)>& onProgress,
                         const std::atomic<bool>* stop) {
  LibraryHost host(onProgress, stop);
  JobResult result = RunMergeJob(request, DefaultCapabilities(), host);
  return ReportOf(result, host);
}

TraceSummary SummarizeFile(const std::string& path, std::vector<std::string>* messages) {
  const std::function<void(const ProgressView&)> noProgress;  // the host keeps a reference
  LibraryHost host(noProgress, nullptr);
  TraceSummary summary = SummarizeTrace(path, DefaultCapabilities(), host);
  if (messages) *messages = host.messages;
  return summary;
}

}  // namespace morph
