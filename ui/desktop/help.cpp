#include "ui/desktop/help.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

namespace morph {

UrlOpener DesktopUrlOpener() {
  return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

namespace {

// Beside the program in a build tree; in the documentation folder once
// installed. A missing document is reported by its place beside the program.
QString ShippedDocument(const QString& programDirectory, const QString& name) {
  const QDir dir(programDirectory);
  const QString installed =
      QDir::cleanPath(dir.filePath(QStringLiteral(MORPHALITE_DOCS_FROM_PROGRAM "/") + name));
  if (!QFileInfo(dir.filePath(name)).isFile() && QFileInfo(installed).isFile()) return installed;
  return dir.filePath(name);
}

}  // namespace

QString HelpFilePath(const QString& programDirectory) {
  return ShippedDocument(programDirectory, "help/index.html");
}

QString ReadmeFilePath(const QString& programDirectory) {
  return ShippedDocument(programDirectory, "readme.htm");
}

bool OpenDocument(const QString& path, const UrlOpener& open) {
  if (!QFileInfo(path).isFile()) {
    std::string where = QDir::toNativeSeparators(path).toStdString();
    throw HelpError("Cannot open the file '" + where + "'", where + ": " + std::strerror(ENOENT));
  }
  return open(QUrl::fromLocalFile(path));
}

DocumentWindow::DocumentWindow(QWidget* parent)
    : QDialog(parent, Qt::Window), browser_(new QTextBrowser(this)) {
  setObjectName("DocumentWindow");
  browser_->setObjectName("DocumentBrowser");
  // Links to the web go to the desktop; links within the help stay here.
  browser_->setOpenExternalLinks(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  resize(640, 480);
}

void DocumentWindow::showDocument(const QString& path) {
  browser_->setSearchPaths({QFileInfo(path).absolutePath()});
  browser_->setSource(QUrl::fromLocalFile(path));
  setWindowTitle(browser_->documentTitle().isEmpty() ? "Morphalite Help"
                                                     : browser_->documentTitle());
  show();
  raise();
  activateWindow();
}

}  // namespace morph
