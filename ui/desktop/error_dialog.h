// The dialog for errors nothing else handled; its button ends the program.
#pragma once
#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class ErrorDialog;
}

namespace morph {

class ErrorDialog : public QDialog {
  Q_OBJECT
 public:
  // endProgram runs when "&Exit" is chosen.
  explicit ErrorDialog(std::function<void()> endProgram, QWidget* parent = nullptr);
  ~ErrorDialog() override;

  // Fills the two lines: the error's kind and where, then its message; the
  // detail (the reason behind it) waits behind "Details", which shows only
  // when there is one.
  void fill(const QString& errorClass, const QString& module, const QString& message,
            const QString& detail = {});

 protected:
  // Escape ends the program like the button; closing the frame only closes.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::unique_ptr<Ui::ErrorDialog> ui_;
  std::function<void()> endProgram_;
};

// The message line: the text with a full stop added when it lacks one;
// at most 255 characters.
QString ErrorMessageLine(const QString& message);

}  // namespace morph
