#include "ui/desktop/help.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

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

void OpenDocument(const QString& path, const UrlOpener& open) {
  if (!QFileInfo(path).isFile())
    throw HelpError(("Cannot open the file '" + QDir::toNativeSeparators(path) + "'").toStdString());
  if (!open(QUrl::fromLocalFile(path))) throw HelpError("An HTML Help error occurred.");
}

}  // namespace morph
