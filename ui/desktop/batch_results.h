// What became of each file of a conversion run: the lines of the result
// view, the report it copies, and the one-line summaries of the status bar.
#pragma once
#include <QDialog>
#include <QString>
#include <vector>

#include "engine/job.h"
#include "ui/desktop/help.h"

class QTreeWidget;

namespace morph {

struct BatchEntry {
  QString source;
  JobResult result;    // outcome SourceRefused with `reason` when never converted
  QString reason;      // the message that explains a refusal or failure
  bool started = true; // false: the batch was stopped before this file
};

// True when the job left a target file behind (all frames, or those before
// a stop or a read error).
bool TargetKept(const JobResult& result);
// "Converted", "Stopped", "Failed", "Refused" or "Not started".
QString OutcomeWord(const BatchEntry& entry);
// Why an entry did not convert cleanly, or what its target lost; empty for
// a clean conversion.
QString EntryReason(const BatchEntry& entry);
// "N of M converted" (and "stopped" when the batch was cut short).
QString BatchSummary(const std::vector<BatchEntry>& entries);
// One line per file, tab-separated: source, outcome, frames written,
// target, reason; headed by the summary.
QString BatchReport(const std::vector<BatchEntry>& entries);

// The result view of a run: a row per file, "Show in Folder" for the
// selected file's target (or source), "Copy Report" to the clipboard.
class ResultsDialog : public QDialog {
  Q_OBJECT
 public:
  ResultsDialog(UrlOpener& openUrl, QWidget* parent);
  void showEntries(const std::vector<BatchEntry>& entries);
  void showSelectedInFolder();
  void copyReport();
  QTreeWidget& table() { return *table_; }

 private:
  UrlOpener& openUrl_;
  QTreeWidget* table_;
  std::vector<BatchEntry> entries_;
};

}  // namespace morph
