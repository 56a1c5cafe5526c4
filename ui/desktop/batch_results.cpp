#include "ui/desktop/batch_results.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/losses.h"
#include "engine/progress.h"

namespace morph {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

enum Column { FileColumn, OutcomeColumn, FramesColumn, TargetColumn, ReasonColumn, ColumnCount };

}  // namespace

bool TargetKept(const JobResult& r) {
  switch (r.outcome) {
    case Outcome::Converted:
    case Outcome::BadCompression:
    case Outcome::Stopped:
    case Outcome::ReadError: return r.framesWritten > 0;
    default: return false;
  }
}

QString OutcomeWord(const BatchEntry& e) {
  if (!e.started) return "Not started";
  switch (e.result.outcome) {
    case Outcome::Converted: return "Converted";
    case Outcome::Stopped: return "Stopped";
    case Outcome::SourceRefused:
    case Outcome::BadOptions:
    case Outcome::NoWriter:
    case Outcome::SameFile:
    case Outcome::NotOverwritten:
    case Outcome::DestinationError: return "Refused";
    default: return "Failed";
  }
}

QString EntryReason(const BatchEntry& e) {
  if (!e.started) return "the conversion was stopped before this file";
  QString reason = e.reason;
  if (!e.result.failureDetail.empty() && !reason.contains(Q(e.result.failureDetail)))
    reason += (reason.isEmpty() ? "" : ": ") + Q(e.result.failureDetail);
  if (e.result.outcome == Outcome::NotOverwritten && reason.isEmpty())
    reason = "the existing file was not overwritten";
  if (e.result.outcome == Outcome::NoFrames && reason.isEmpty()) reason = "no frames were converted";
  if (e.result.losses.any()) reason += (reason.isEmpty() ? "" : "; ") + Q(LossesText(e.result.losses));
  return reason.replace('\n', ' ');  // one line per file in the view and the report
}

QString BatchSummary(const std::vector<BatchEntry>& entries) {
  const auto converted = std::count_if(entries.begin(), entries.end(), [](const BatchEntry& e) {
    return e.started && e.result.outcome == Outcome::Converted;
  });
  const bool stopped = std::any_of(entries.begin(), entries.end(), [](const BatchEntry& e) {
    return !e.started || e.result.outcome == Outcome::Stopped;
  });
  return QString("%1 of %2 converted%3")
      .arg(converted)
      .arg(entries.size())
      .arg(stopped ? ", stopped" : "");
}

QString BatchReport(const std::vector<BatchEntry>& entries) {
  QString report = BatchSummary(entries) + "\n";
  for (const BatchEntry& e : entries)
    report += QStringList{e.source, OutcomeWord(e),
                          Q(WithThousands(uint64_t(std::max(0, e.result.framesWritten)))),
                          TargetKept(e.result) ? Q(e.result.targetPath) : QString("-"),
                          EntryReason(e)}
                  .join('\t') +
              "\n";
  return report;
}

ResultsDialog::ResultsDialog(UrlOpener& openUrl, QWidget* parent)
    : QDialog(parent), openUrl_(openUrl), table_(new QTreeWidget(this)) {
  setObjectName("ResultsDialog");
  setWindowTitle("Conversion Results");
  table_->setObjectName("ResultTable");
  table_->setRootIsDecorated(false);
  table_->setColumnCount(ColumnCount);
  table_->setHeaderLabels({"File", "Outcome", "Frames", "Target", "Reason"});
  table_->header()->setStretchLastSection(true);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* show = buttons->addButton("&Show in Folder", QDialogButtonBox::ActionRole);
  QPushButton* copy = buttons->addButton("Copy &Report", QDialogButtonBox::ActionRole);
  QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
  show->setObjectName("ShowInFolderButton");
  copy->setObjectName("CopyReportButton");
  connect(show, &QPushButton::clicked, this, [this] { showSelectedInFolder(); });
  connect(copy, &QPushButton::clicked, this, [this] { copyReport(); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_);
  layout->addWidget(buttons);
}

void ResultsDialog::showEntries(const std::vector<BatchEntry>& entries) {
  entries_ = entries;
  table_->clear();
  for (const BatchEntry& e : entries) {
    auto* row = new QTreeWidgetItem(table_);
    row->setText(FileColumn, QFileInfo(e.source).fileName());
    row->setToolTip(FileColumn, e.source);
    row->setText(OutcomeColumn, OutcomeWord(e));
    row->setText(FramesColumn, Q(WithThousands(uint64_t(std::max(0, e.result.framesWritten)))));
    row->setTextAlignment(FramesColumn, Qt::AlignRight | Qt::AlignVCenter);
    const QString target = TargetKept(e.result) ? Q(e.result.targetPath) : QString();
    row->setText(TargetColumn, QFileInfo(target).fileName());
    row->setToolTip(TargetColumn, target);
    row->setText(ReasonColumn, EntryReason(e));
    row->setToolTip(ReasonColumn, EntryReason(e));
  }
  for (int c = 0; c < ReasonColumn; ++c) table_->resizeColumnToContents(c);
  if (table_->topLevelItemCount() > 0) table_->setCurrentItem(table_->topLevelItem(0));
  const QFontMetrics metrics = fontMetrics();
  resize(std::max(width(), metrics.horizontalAdvance('x') * 100),
         std::max(height(), metrics.height() * (8 + std::min<int>(int(entries.size()), 12))));
  setWindowTitle(BatchSummary(entries));
  show();
  raise();
}

void ResultsDialog::showSelectedInFolder() {
  const int row = table_->indexOfTopLevelItem(table_->currentItem());
  if (row < 0 || size_t(row) >= entries_.size()) return;
  const BatchEntry& e = entries_[size_t(row)];
  const QString file = TargetKept(e.result) ? Q(e.result.targetPath) : e.source;
  openUrl_(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
}

void ResultsDialog::copyReport() { QApplication::clipboard()->setText(BatchReport(entries_)); }

}  // namespace morph
