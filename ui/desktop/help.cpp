#include "ui/desktop/help.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

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

void OpenDocument(const QString& path, const UrlOpener& open) {
  if (!QFileInfo(path).isFile())
    throw HelpError(("Cannot open the file '" + QDir::toNativeSeparators(path) + "'").toStdString());
  if (!open(QUrl::fromLocalFile(path))) throw HelpError("An HTML Help error occurred.");
}

}  // namespace morph
