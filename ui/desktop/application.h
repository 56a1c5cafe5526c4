// The application object: errors that escape an event handler reach the
// error information dialog instead of ending the program unseen.
#pragma once
#include <QApplication>
#include <memory>

namespace morph {

class ErrorDialog;

class MorphaliteApplication : public QApplication {
 public:
  MorphaliteApplication(int& argc, char** argv);
  ~MorphaliteApplication() override;
  bool notify(QObject* receiver, QEvent* event) override;

  // Shows the error dialog for the exception being handled.
  void showCurrentError();

 private:
  std::unique_ptr<ErrorDialog> errorForm_;
};

// Shows the exception being handled in the error dialog of the running
// MorphaliteApplication; without one, passes it on.
void ShowUnhandledError();

// The readable class name of the exception being handled ("" for none).
QString CurrentExceptionClass();

}  // namespace morph
