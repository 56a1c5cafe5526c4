#include "desktop_fixtures.h"

#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QFile>
#include <algorithm>

#include "engine/catalogue.h"
#include "ui/desktop/progress_window.h"

namespace morph::testing {

void ScriptedPrompter::message(QWidget*, const QString& caption, const QString& text,
                               MessageIcon icon) {
  shown.push_back({caption, text, icon, false});
}

Answer ScriptedPrompter::ask(QWidget*, const QString& caption, const QString& text,
                             bool yesToAll) {
  questions.push_back({caption, text, MessageIcon::Question, yesToAll});
  if (answers.empty()) return Answer::No;
  Answer a = answers.front();
  answers.pop_front();
  return a;
}

QStringList ScriptedPrompter::texts() const {
  QStringList list;
  for (const ShownMessage& m : shown) list << m.text;
  return list;
}

namespace {

void Put32(QByteArray& out, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) out.append(char(big ? v >> (24 - 8 * i) : v >> (8 * i)));
}
void Put16(QByteArray& out, uint16_t v, bool big) {
  out.append(char(big ? v >> 8 : v));
  out.append(char(big ? v : v >> 8));
}
uint32_t Get32(const QByteArray& in, qsizetype at, bool big) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t b = uint8_t(in[at + i]);
    v |= big ? b << (24 - 8 * i) : b << (8 * i);
  }
  return v;
}

}  // namespace

void WritePcap(const QString& path, const PcapRecipe& recipe) {
  QByteArray out;
  bool big = recipe.bigEndian;
  Put32(out, 0xA1B2C3D4, big);
  Put16(out, 2, big);
  Put16(out, 4, big);
  Put32(out, 0, big);       // time-zone offset
  Put32(out, 0, big);       // accuracy
  Put32(out, 65535, big);   // snapshot length
  Put32(out, recipe.linkType, big);
  const uint32_t start = 1700000000;  // 2023-11-14
  for (int i = 0; i < recipe.frames; ++i) {
    Put32(out, start + uint32_t(i / 1000), big);
    Put32(out, uint32_t(i % 1000) * 1000, big);
    Put32(out, uint32_t(recipe.frameLength), big);
    Put32(out, uint32_t(recipe.frameLength), big);
    for (int b = 0; b < recipe.frameLength; ++b) out.append(char((i + b) & 0xFF));
  }
  WriteText(path, out);
}

int CountPcapRecords(const QString& path) {
  QByteArray in = ReadAll(path);
  if (in.size() < 24) return -1;
  bool big;
  if (in.left(4) == QByteArray("\xd4\xc3\xb2\xa1", 4))
    big = false;
  else if (in.left(4) == QByteArray("\xa1\xb2\xc3\xd4", 4))
    big = true;
  else
    return -1;
  int count = 0;
  qsizetype at = 24;
  while (at + 16 <= in.size()) {
    at += 16 + qsizetype(Get32(in, at + 8, big));
    if (at > in.size()) return -1;
    ++count;
  }
  return at == in.size() ? count : -1;
}

QString LeadingHex(const QString& path, int bytes) {
  return QString::fromLatin1(ReadAll(path).left(bytes).toHex());
}

void WriteText(const QString& path, const QByteArray& content) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(path));
  file.write(content);
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

WindowFixture::WindowFixture() : settingsFile(dir.filePath("settings.ini")) {
  window = std::make_unique<MainWindow>(prompter, settingsFile);
}

WindowFixture::~WindowFixture() { window.reset(); }

void WindowFixture::reopenWindow() {
  window.reset();
  window = std::make_unique<MainWindow>(prompter, settingsFile);
}

QStringList FormatItems(MainWindow& window) {
  auto* box = Child<QComboBox>(window, "FormatBox");
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

QStringList WritableNames(std::initializer_list<int> analyzers) {
  QStringList names = SortedNames(analyzers);
  for (int a : analyzers)
    if (!HasWriter(AnalyzerType(a))) names.removeAll(QString::fromStdString(AnalyzerName(AnalyzerType(a))));
  return names;
}

QStringList SortedNames(std::initializer_list<int> analyzers) {
  std::vector<std::string> names;
  for (int a : analyzers) names.push_back(AnalyzerName(AnalyzerType(a)));
  // The list sorts without regard to letter case.
  auto folded = [](std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::sort(names.begin(), names.end(),
            [&](const std::string& a, const std::string& b) { return folded(a) < folded(b); });
  QStringList list;
  for (const std::string& n : names) list << QString::fromStdString(n);
  return list;
}

bool ChooseFormat(MainWindow& window, const QString& name) {
  auto* box = Child<QComboBox>(window, "FormatBox");
  int index = box->findText(name);
  if (index < 0) return false;
  box->setCurrentIndex(index);
  return true;
}

void ConvertPressingOk(MainWindow& window) {
  QTimer ok;
  QObject::connect(&ok, &QTimer::timeout, [&] {
    auto* button = Child<QPushButton>(window.progressWindow(), "StopButton");
    if (window.progressWindow().isVisible() && button->text() == "&Close") button->click();
  });
  ok.start(20);
  window.convertClicked();
}

}  // namespace morph::testing
