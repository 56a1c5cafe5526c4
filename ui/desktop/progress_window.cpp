#include "ui/desktop/progress_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <algorithm>

#include "ui_progress_window.h"

namespace morph {

ProgressWindow::ProgressWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      ui_(std::make_unique<Ui::ProgressWindow>()) {
  ui_->setupUi(this);
  setModal(false);
  // Room for the longest state text, so the window keeps its size.
  QLabel* state = ui_->PercentLabel;
  state->setMinimumWidth(
      state->fontMetrics().horizontalAdvance("Creating Internet Advisor data file; please wait..."));
  connect(ui_->StopButton, &QPushButton::clicked, this, [this] { buttonClicked(); });
  displayTimer_.setInterval(kTimerMilliseconds);
  // The time the final state has been on screen, in timer steps.
  connect(&displayTimer_, &QTimer::timeout, this,
          [this] { displayedMilliseconds_ += kTimerMilliseconds; });
}

ProgressWindow::~ProgressWindow() = default;

void ProgressWindow::reset() {
  stopPressed_ = false;
  finished_ = false;
  name_.clear();
  closedByUser_ = false;
  displayedMilliseconds_ = 0;
  displayTimer_.stop();
  ui_->FrameCountTextBox->setText("0");
  ui_->NonFrameCountTextBox->setText("0");
  ui_->FrameBytesTextBox->setText("0");
  ui_->TraceDurationTextBox->setText("<00:00:01");
  ui_->PercentLabel->setText("0% Complete");
  ui_->ProgressBar->setValue(0);
  ui_->StateLabel->setText("Converting...");
  ui_->StopButton->setText("&Stop");
  ui_->StopButton->setEnabled(true);
}

void ProgressWindow::render(const ProgressView& view) {
  if (!finished_) {
    setWindowTitle(QString::fromStdString(view.caption));
    name_ = QString::fromStdString(view.caption).section(' ', 1);
  }
  ui_->FrameCountTextBox->setText(QString::fromStdString(view.framesWritten));
  ui_->NonFrameCountTextBox->setText(QString::fromStdString(view.nonDataFrames));
  ui_->FrameBytesTextBox->setText(QString::fromStdString(view.frameBytes));
  ui_->TraceDurationTextBox->setText(QString::fromStdString(view.traceDuration));
  if (!view.pctComplete.empty()) ui_->PercentLabel->setText(QString::fromStdString(view.pctComplete));
  ui_->ProgressBar->setValue(view.percent);
  ui_->StopButton->setEnabled(view.buttonEnabled);
  if (!stopPressed_ && !finished_) ui_->StopButton->setText("&Stop");
  if (view.finished && !finished_) {
    finished_ = true;
    displayedMilliseconds_ = 0;
    displayTimer_.start();
  }
  if (view.finished) showFinalState(view);
  if (!isVisible() && !closedByUser_) show();
}

void ProgressWindow::showFinalState(const ProgressView& view) {
  // The Advisor and Domino targets still write while their button is off.
  if (!view.buttonEnabled) return;
  const bool writeFailed = view.pctComplete == "FILE ERROR";
  if (stopPressed_)
    showState("Stopped", view.framesWritten == "0" ? "Nothing converted" : "Partly converted");
  else if (view.failed)
    showState("Failed", writeFailed ? "Write error: the target was not written" : "Read error");
  else if (view.pctComplete == "Done.")
    showState("Converted", "Done.");
  else
    showState("Failed", "No frames were converted");
}

void ProgressWindow::showState(const QString& word, const QString& detail) {
  // One word for the outcome, the same in the title; the button then closes.
  ui_->StateLabel->setText(word);
  ui_->PercentLabel->setText(detail);
  ui_->StopButton->setText("&Close");
  ui_->StopButton->setEnabled(true);
  if (!name_.isEmpty()) setWindowTitle(word + " - " + name_);
}

void ProgressWindow::pressStop() {
  if (!finished_ && !stopPressed_) buttonClicked();
}

void ProgressWindow::hold(unsigned milliseconds) {
  // The timer counts in every final state (also after a write failure), so
  // the hold always ends.
  while (isVisible() && displayedMilliseconds_ < milliseconds)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void ProgressWindow::finish(Outcome outcome) {
  displayTimer_.stop();
  // What the job made of it is the last word: a target that could not be
  // put in place fails after the display said it was done.
  switch (outcome) {
    case Outcome::Converted: break;
    case Outcome::Stopped: showState("Stopped", ui_->PercentLabel->text()); break;
    case Outcome::WriteFailed: showState("Failed", "Write error: the target was not written"); break;
    case Outcome::ReadError: showState("Failed", "Read error"); break;
    case Outcome::WouldLoseData: showState("Failed", "Not kept: it would lose data"); break;
    case Outcome::NoFrames: showState("Failed", "No frames were converted"); break;
    default: if (finished_) showState("Failed", ui_->PercentLabel->text()); break;
  }
  hide();
}

void ProgressWindow::buttonClicked() {
  if (!finished_ && !stopPressed_) {
    stopPressed_ = true;
    ui_->StopButton->setText("&Close");
  } else {
    displayedMilliseconds_ = std::max<unsigned>(displayedMilliseconds_, kOkShortensTo);
  }
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
  // Closing stops a running conversion and ends the hold of a finished one.
  if (finished_)
    displayedMilliseconds_ = ~0u;
  else
    stopPressed_ = true;
  closedByUser_ = true;
  // Not QDialog's handling, which would route the close through Escape's button.
  QWidget::closeEvent(event);
}

void ProgressWindow::reject() {
  ui_->StopButton->click();
}

}  // namespace morph
