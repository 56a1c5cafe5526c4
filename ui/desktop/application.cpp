#include "ui/desktop/application.h"

#include <cxxabi.h>

#include <QFileInfo>
#include <cstdlib>
#include <exception>
#include <typeinfo>

#include "ui/desktop/error_dialog.h"
#include "ui/desktop/detailed_error.h"

namespace morph {

QString CurrentExceptionClass() {
  std::type_info* type = abi::__cxa_current_exception_type();
  if (!type) return {};
  int status = 0;
  char* readable = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
  QString name = QString::fromLatin1(status == 0 && readable ? readable : type->name());
  std::free(readable);
  return name;
}

void ShowUnhandledError() {
  auto* app = dynamic_cast<MorphaliteApplication*>(QCoreApplication::instance());
  if (!app) throw;
  app->showCurrentError();
}

MorphaliteApplication::MorphaliteApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("Morphalite");
  setOrganizationName("Corvantique");
  setApplicationVersion(MORPHALITE_VERSION);
}

MorphaliteApplication::~MorphaliteApplication() = default;

bool MorphaliteApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    showCurrentError();
    return true;
  }
}

void MorphaliteApplication::showCurrentError() {
  QString message, detail;
  try {
    throw;
  } catch (const DetailedError& e) {
    message = QString::fromStdString(e.what());
    detail = QString::fromStdString(e.detail());
  } catch (const std::exception& e) {
    message = QString::fromStdString(e.what());
  } catch (...) {
    // Not a standard exception: no message line.
  }
  if (!errorForm_)
    errorForm_ = std::make_unique<ErrorDialog>([] { QCoreApplication::exit(1); });
  errorForm_->fill(CurrentExceptionClass(), QFileInfo(applicationFilePath()).fileName(), message,
                   detail);
  errorForm_->exec();
}

}  // namespace morph
