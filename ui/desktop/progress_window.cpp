#include "ui/desktop/progress_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <algorithm>

#include "ui_progress_window.h"

namespace morph {

TProcessTraceFileForm::TProcessTraceFileForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      ui_(std::make_unique<Ui::TProcessTraceFileForm>()) {
  ui_->setupUi(this);
  setModal(false);
  // Room for the longest state text, so the window keeps its size.
  QLabel* state = ui_->PctComplete;
  state->setMinimumWidth(
      state->fontMetrics().horizontalAdvance("Creating Internet Advisor data file; please wait..."));
  connect(ui_->CancelButton, &QPushButton::clicked, this, [this] { buttonClicked(); });
  displayTimer_.setInterval(kTimerMilliseconds);
  // The time the final state has been on screen, in timer steps.
  connect(&displayTimer_, &QTimer::timeout, this,
          [this] { displayedMilliseconds_ += kTimerMilliseconds; });
}

TProcessTraceFileForm::~TProcessTraceFileForm() = default;

void TProcessTraceFileForm::reset() {
  stopPressed_ = false;
  finished_ = false;
  closedByUser_ = false;
  displayedMilliseconds_ = 0;
  displayTimer_.stop();
  ui_->FrameCountTextBox->setText("0");
  ui_->NonFrameCountTextBox->setText("0");
  ui_->FrameBytesTextBox->setText("0");
  ui_->TraceDurationTextBox->setText("<00:00:01");
  ui_->PctComplete->setText("0% Complete");
  ui_->PctProgressBar->setValue(0);
  ui_->Label1->setText("Converting...");
  ui_->CancelButton->setText("&Stop");
  ui_->CancelButton->setEnabled(true);
}

void TProcessTraceFileForm::render(const ProgressView& view) {
  setWindowTitle(QString::fromStdString(view.caption));
  ui_->FrameCountTextBox->setText(QString::fromStdString(view.framesWritten));
  ui_->NonFrameCountTextBox->setText(QString::fromStdString(view.nonDataFrames));
  ui_->FrameBytesTextBox->setText(QString::fromStdString(view.frameBytes));
  ui_->TraceDurationTextBox->setText(QString::fromStdString(view.traceDuration));
  if (!view.pctComplete.empty()) ui_->PctComplete->setText(QString::fromStdString(view.pctComplete));
  ui_->PctProgressBar->setValue(view.percent);
  ui_->CancelButton->setEnabled(view.buttonEnabled);
  if (!stopPressed_ && !view.buttonCaption.empty())
    ui_->CancelButton->setText(QString::fromStdString(view.buttonCaption));
  if (view.finished && !finished_) {
    finished_ = true;
    displayedMilliseconds_ = 0;
    displayTimer_.start();
  }
  if (view.finished) showFinalState(view);
  if (!isVisible() && !closedByUser_) show();
}

void TProcessTraceFileForm::showFinalState(const ProgressView& view) {
  // The Advisor and Domino targets still write while their button is off.
  if (!view.buttonEnabled) return;
  QString state = stopPressed_  ? "Stopped"
                  : view.failed ? "Failed"
                  : view.pctComplete == "Done." ? "Finished"
                                                : "Nothing converted";
  ui_->Label1->setText(state + ".");
  QString name = QString::fromStdString(view.caption).section(' ', 1);
  setWindowTitle(state + " - " + name);
}

void TProcessTraceFileForm::pressStop() {
  if (!finished_ && !stopPressed_) buttonClicked();
}

void TProcessTraceFileForm::hold(unsigned milliseconds) {
  // The timer counts in every final state (also after a write failure), so
  // the hold always ends.
  while (isVisible() && displayedMilliseconds_ < milliseconds)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TProcessTraceFileForm::finish() {
  displayTimer_.stop();
  hide();
}

void TProcessTraceFileForm::buttonClicked() {
  if (ui_->CancelButton->text() != "&OK") {
    stopPressed_ = true;
    ui_->CancelButton->setText("&OK");
  } else {
    displayedMilliseconds_ = std::max<unsigned>(displayedMilliseconds_, kOkShortensTo);
  }
}

void TProcessTraceFileForm::closeEvent(QCloseEvent* event) {
  // Closing stops a running conversion and ends the hold of a finished one.
  if (finished_)
    displayedMilliseconds_ = ~0u;
  else
    stopPressed_ = true;
  closedByUser_ = true;
  // Not QDialog's handling, which would route the close through Escape's button.
  QWidget::closeEvent(event);
}

void TProcessTraceFileForm::reject() {
  ui_->CancelButton->click();
}

}  // namespace morph
