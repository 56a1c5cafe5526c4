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

QString HelpFilePath(const QString& programDirectory) {
  return QDir(programDirectory).filePath("help/index.html");
}

QString ReadmeFilePath(const QString& programDirectory) {
  return QDir(programDirectory).filePath("readme.htm");
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
