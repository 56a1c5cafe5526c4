// The progress window of a conversion: counters, percentage, Stop that
// turns into OK, and the hold of the final state.
#pragma once
#include <QDialog>
#include <QTimer>
#include <memory>

#include "engine/job.h"
#include "engine/progress.h"

namespace Ui {
class ProgressWindow;
}

namespace morph {

class ProgressWindow : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kTimerMilliseconds = 100;
  static constexpr int kOkShortensTo = 1500;

  explicit ProgressWindow(QWidget* parent = nullptr);
  ~ProgressWindow() override;

  // Readies the window for a new conversion (hidden until the first update).
  void reset();
  // Shows the display; the window appears on its first update.
  void render(const ProgressView& view);
  // Keeps the final state up for `milliseconds`, processing events; OK
  // cuts the wait to what is left above 1.5 s.
  void hold(unsigned milliseconds);
  // The conversion is over, with this outcome: the final state says it; hide.
  void finish(Outcome outcome = Outcome::Converted);

  // Stop, as the button does while it reads "&Stop" (Escape in the main window).
  void pressStop();

  bool stopPressed() const { return stopPressed_; }
  unsigned displayedMilliseconds() const { return displayedMilliseconds_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;  // Escape presses the button

 private:
  void buttonClicked();
  void showFinalState(const ProgressView& view);
  void showState(const QString& word, const QString& detail);

  std::unique_ptr<Ui::ProgressWindow> ui_;
  QTimer displayTimer_;
  bool stopPressed_ = false;
  bool finished_ = false;
  bool closedByUser_ = false;
  QString name_;  // the source's name, from the caption
  unsigned displayedMilliseconds_ = 0;
};

}  // namespace morph
