// Help, read-me and web pages: documents that ship next to the program,
// opened in the desktop's viewer.
#pragma once
#include <QString>
#include <QUrl>
#include <functional>
#include <stdexcept>

namespace morph {

// A help request that could not be served; reaches the error dialog.
class HelpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Opens a URL in the desktop's viewer; false when nothing could open it.
using UrlOpener = std::function<bool(const QUrl&)>;
UrlOpener DesktopUrlOpener();

// The help document and the read-me, beside the program or installed.
QString HelpFilePath(const QString& programDirectory);
QString ReadmeFilePath(const QString& programDirectory);

// Opens a shipped document; throws HelpError when it is missing or no
// viewer takes it.
void OpenDocument(const QString& path, const UrlOpener& open);

// The four web pages of the help menu.
struct WebPages {
  static constexpr const char* ProductNews = "https://corvantique.example/morphalite/news";
  static constexpr const char* TechnicalSupport = "https://corvantique.example/support";
  static constexpr const char* Training = "https://corvantique.example/training";
  static constexpr const char* HomePage = "https://corvantique.example/";
};

}  // namespace morph
