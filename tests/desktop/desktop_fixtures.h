// Shared pieces of the desktop tests: a prompter that answers from a
// script, libpcap files built byte by byte, and a window on a private
// settings file.
#pragma once
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <vector>

#include "ui/desktop/main_window.h"
#include "ui/desktop/prompter.h"

namespace morph::testing {

struct ShownMessage {
  QString caption, text;
  MessageIcon icon;
  bool yesToAllOffered = false;  // questions only
};

// Records every box; questions take the next scripted answer (No when the
// script is empty).
class ScriptedPrompter : public Prompter {
 public:
  void message(QWidget*, const QString& caption, const QString& text, MessageIcon icon) override;
  Answer ask(QWidget*, const QString& caption, const QString& text, bool yesToAll) override;

  std::deque<Answer> answers;
  std::vector<ShownMessage> shown;
  std::vector<ShownMessage> questions;
  QStringList texts() const;
};

// libpcap files: magic, version 2.4, link type; records of `frameLength`
// bytes one millisecond apart.
struct PcapRecipe {
  uint32_t linkType = 1;
  int frames = 10;
  int frameLength = 60;
  bool bigEndian = false;
};
void WritePcap(const QString& path, const PcapRecipe& recipe);
// Number of records in a standard libpcap file (-1 when it is not one).
int CountPcapRecords(const QString& path);
// Magic bytes of a file as they appear in it, e.g. "d4c3b2a1".
QString LeadingHex(const QString& path, int bytes);
void WriteText(const QString& path, const QByteArray& content);
QByteArray ReadAll(const QString& path);

// A window reading and writing settings in a temporary directory.
struct WindowFixture {
  WindowFixture();
  ~WindowFixture();
  QString path(const QString& name) const { return dir.filePath(name); }
  void reopenWindow();  // destroys (saving settings) and creates the window again

  QTemporaryDir dir;
  ScriptedPrompter prompter;
  QString settingsFile;
  std::unique_ptr<MainWindow> window;
};

// The entries of the format list, in order.
QStringList FormatItems(MainWindow& window);
// Display names of analyzer numbers, sorted as the list sorts them.
QStringList SortedNames(std::initializer_list<int> analyzers);
// The same, keeping only the formats this build can write: what the format
// list offers of a capability set.
QStringList WritableNames(std::initializer_list<int> analyzers);
// Selects a format by its display name (as the user would); false when absent.
bool ChooseFormat(MainWindow& window, const QString& name);

// Presses Convert and then OK as soon as the final state shows, so the
// progress window's hold ends early.
void ConvertPressingOk(MainWindow& window);

template <class T>
T* Child(QObject& parent, const char* name) {
  return parent.findChild<T*>(QString::fromLatin1(name));
}

}  // namespace morph::testing
