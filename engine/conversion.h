// One conversion: the state record, the source and target streams, the host
// it reports to, and the driver and frame pipeline that run it.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/host.h"
#include "engine/progress.h"
#include "engine/state.h"
#include "engine/streams.h"

namespace morph {

class Conversion {
 public:
  explicit Conversion(Host& host) : host(host) {}

  ConversionState state;
  Host& host;
  std::unique_ptr<SourceStream> source;
  std::unique_ptr<TargetStream> target;

  // A reader of the caller's own in place of the source's (library, tests).
  std::function<void(Conversion&, bool headerStep, bool singleFrame)> customReader;
  // Receives every frame to be written in place of the target writer
  // (library, tests); the target then stays untouched.
  std::function<void(Conversion&)> frameObserver;

  // ---- Driver ----
  // Runs the whole conversion. The caller has set the identity fields and
  // options and, unless probing, created `target`. Returns false only when
  // the source had to be given up after reading (wrapped DataGLANce).
  bool ConvertTrace(bool probeOnly, unsigned holdMilliseconds = 0);
  // Start-of-conversion reset; opens the source. False when it cannot be opened.
  bool ResetConversion();
  // Reader dispatch.
  void ReadSource(bool headerStep, bool singleFrame);
  // Runs the source's header step and first frame without writing anything
  // (topology probes). Returns true when a frame was delivered.
  bool ProbeFirstFrame();
  void CloseProbe();

  // ---- Frame pipeline ----
  // Hands the current frame on; true asks the reader to stop.
  bool ProcessFrame();

  // The progress display as it stands.
  ProgressView Progress() const;

  // ---- Per-format scratch ----
  template <class T>
  T& ReaderContext() {
    return ContextOf<T>(readerContext_);
  }
  template <class T>
  T& WriterContext() {
    return ContextOf<T>(writerContext_);
  }

  // Source helpers for readers: the stream, end test and position.
  bool SourceAtEnd() { return !source || source->atEnd(); }

 private:
  template <class T>
  static T& ContextOf(std::unique_ptr<FormatContext>& slot) {
    if (T* existing = dynamic_cast<T*>(slot.get())) return *existing;
    auto fresh = std::make_unique<T>();
    T& ref = *fresh;
    slot = std::move(fresh);
    return ref;
  }

  void Finish();
  void CloseSource();
  void CloseTarget();
  // The target writer runs: a target stream, or a writer that creates its own.
  bool CanWrite() const;
  void DurationBookkeeping();
  void EthernetToWireless();
  bool WirelessToEthernet();  // false: the frame is not to be written
  void PumpIfDue();
  void Report(const std::string& caption, const std::string& text, MessageIcon icon);

  std::unique_ptr<FormatContext> readerContext_;
  std::unique_ptr<FormatContext> writerContext_;
  bool stopPressed_ = false;
  bool sourceOpenFailed_ = false;
  uint32_t framesSincePump_ = 0;
  std::chrono::steady_clock::time_point lastPump_{};
};

// The file name part of a path.
std::string FileNamePart(const std::string& path);

}  // namespace morph
