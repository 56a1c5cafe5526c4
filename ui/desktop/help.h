// Help, read-me and web pages: documents that ship next to the program,
// opened in the desktop's viewer, or in a window of our own where the
// desktop has none.
#pragma once
#include <QDialog>
#include <QString>
#include <QUrl>
#include <functional>
#include <string>

#include "ui/desktop/detailed_error.h"

class QTextBrowser;

namespace morph {

// A help request that could not be served; reaches the error dialog.
class HelpError : public DetailedError {
 public:
  using DetailedError::DetailedError;
};

// Opens a URL in the desktop's viewer; false when nothing could open it.
using UrlOpener = std::function<bool(const QUrl&)>;
UrlOpener DesktopUrlOpener();

// The help document and the read-me, beside the program or installed.
QString HelpFilePath(const QString& programDirectory);
QString ReadmeFilePath(const QString& programDirectory);

// Opens a shipped document in the desktop's viewer; false when no viewer
// took it. Throws HelpError when the document is missing.
bool OpenDocument(const QString& path, const UrlOpener& open);

// Shows a shipped HTML document (help, read-me) when no viewer is at hand.
class DocumentWindow : public QDialog {
  Q_OBJECT
 public:
  explicit DocumentWindow(QWidget* parent = nullptr);
  void showDocument(const QString& path);
  QTextBrowser& browser() { return *browser_; }

 private:
  QTextBrowser* browser_;
};

// The four web pages of the help menu.
struct WebPages {
  static constexpr const char* ProductNews = "https://corvantique.example/morphalite/news";
  static constexpr const char* TechnicalSupport = "https://corvantique.example/support";
  static constexpr const char* Training = "https://corvantique.example/training";
  static constexpr const char* HomePage = "https://corvantique.example/";
};

}  // namespace morph
