#include "ui/desktop/main_window.h"

#include <QCoreApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QRegularExpression>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyle>
#include <algorithm>

#include "engine/catalogue.h"
#include "engine/format.h"
#include "engine/file_date.h"
#include "engine/progress.h"
#include "engine/replacement_file.h"
#include "formats/registry.h"
#include "ui/desktop/application.h"
#include "ui/desktop/progress_window.h"
#include "ui/desktop/prompter.h"
#include "ui/desktop/tcpdump_options.h"
#include "ui/desktop/text_options.h"
#include "ui_main_window.h"

// Resources of a static library are registered by hand, outside any namespace.
static void RegisterDesktopResources() { Q_INIT_RESOURCE(desktop); }

namespace morph {

// A status-bar label that keeps its whole text in a tooltip and shows as
// much of it as fits, cut with an ellipsis.
class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(QWidget* parent) : QLabel(parent) {
    setMinimumWidth(1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  void setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    elide();
  }
  const QString& fullText() const { return full_; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    elide();
  }

 private:
  void elide() { setText(fontMetrics().elidedText(full_, Qt::ElideRight, std::max(width(), 1))); }
  QString full_;
};

namespace {

constexpr unsigned kHoldOneSource = 1750;
constexpr unsigned kHoldSeveralSources = 500;
constexpr int kMaxFrameNumber = 999999;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Checks several files without a box each: remembers what would have been said.
class QuietHost : public Host {
 public:
  void message(const std::string&, const std::string& said, MessageIcon) override {
    if (text.isEmpty()) text = Q(said);
  }
  QString text;
};

// Messages and questions of the checks go to the prompter; nothing else.
class PromptHost : public Host {
 public:
  PromptHost(Prompter& prompter, QWidget* window) : prompter_(prompter), window_(window) {}
  void message(const std::string& caption, const std::string& text, MessageIcon icon) override {
    lastMessage_ = Q(text);
    prompter_.message(window_, Q(caption), Q(text), icon);
  }
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               MessageIcon icon) override {
    lastMessage_ = detail.empty() ? Q(text) : Q(text) + " " + Q(detail);
    prompter_.failure(window_, Q(caption), Q(text), Q(detail), icon);
  }
  // The text of the last message or failure shown, for the results.
  const QString& lastMessage() const { return lastMessage_; }
  Answer ask(const std::string& caption, const std::string& text, bool yesToAll) override {
    return prompter_.ask(window_, Q(caption), Q(text), yesToAll);
  }

 protected:
  Prompter& prompter_;
  QWidget* window_;
  QString lastMessage_;
};

// A conversion's host: the prompter plus the progress window. The engine
// calls pumpEvents and progress at most every few tens of milliseconds.
// It also times the conversion: from the last question answered to the
// first message or the final state, so neither the user's reading nor the
// hold counts.
class ConversionHost : public PromptHost {
 public:
  ConversionHost(Prompter& prompter, QWidget* window, ProgressWindow& form, QString sourcePath,
                 QString targetPath)
      : PromptHost(prompter, window),
        form_(form),
        sourcePath_(std::move(sourcePath)),
        targetPath_(std::move(targetPath)) {
    clock_.start();
  }
  // The job settles the target's name; failures name it from then on.
  void setTargetPath(const QString& path) { targetPath_ = path; }
  void message(const std::string& caption, const std::string& text, MessageIcon icon) override {
    stopClock();
    PromptHost::message(caption, text, icon);
  }
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               MessageIcon icon) override {
    stopClock();
    // Only one of the two lines has to name the file.
    const QString named = NamingTheFile(Q(text + "\n" + detail), sourcePath_, targetPath_);
    const QString first = named.section('\n', 0, 0), rest = named.section('\n', 1);
    PromptHost::failure(caption, first.toStdString(), rest.toStdString(), icon);
  }
  Answer ask(const std::string& caption, const std::string& text, bool yesToAll) override {
    Answer answer = PromptHost::ask(caption, text, yesToAll);
    clock_.restart();
    return answer;
  }
  void pumpEvents() override { QCoreApplication::processEvents(); }
  bool stopRequested() override { return form_.stopPressed(); }
  void progress(const ProgressView& view) override {
    if (view.finished) stopClock();
    form_.render(view);
    // A minimised window shows the progress in its title.
    QString title = "Morphalite";
    if (window_->isMinimized() && !(view.finished && form_.stopPressed()))
      title = view.finished ? " Converting... 100%" : QString("Converting... %1%").arg(view.percent);
    window_->setWindowTitle(title);
  }
  void hold(unsigned milliseconds) override { form_.hold(milliseconds); }
  double seconds() const { return elapsed_ >= 0 ? elapsed_ / 1000.0 : clock_.elapsed() / 1000.0; }

 private:
  void stopClock() {
    if (elapsed_ < 0) elapsed_ = clock_.elapsed();
  }
  ProgressWindow& form_;
  QString sourcePath_, targetPath_;
  QElapsedTimer clock_;
  qint64 elapsed_ = -1;
};

// The directory of a path, with its trailing separator.
QString DirectoryWithSeparator(const QString& path) {
  int slash = path.lastIndexOf('/');
  return slash < 0 ? QString() : path.left(slash + 1);
}

}  // namespace

QStringList SourcePatterns(AnalyzerType a) {
  QStringList patterns;
  auto add = [&](const QString& pattern) {
    if (pattern.size() > 2 && !patterns.contains(pattern)) patterns << pattern;
  };
  add("*" + Q(DefaultSuffix(a, Topo::Ethernet)));
  // Then what the family's files are called in the wild.
  const FormatDescriptor* family = ReaderFormat(a) ? ReaderFormat(a) : TopologyFormat(a);
  if (family)
    for (const QString& pattern : QString(family->sourcePatterns).split(';', Qt::SkipEmptyParts))
      add(pattern);
  return patterns;
}

void WidenFileDialogColumns(QFileDialog& dialog) {
  // Qt's own dialog (no desktop dialog at hand) starts with narrow columns;
  // give the names their room and the other columns what they show.
  const QFontMetrics metrics = dialog.fontMetrics();
  const int x = metrics.horizontalAdvance('x');
  dialog.resize(std::max(dialog.width(), x * 110), std::max(dialog.height(), metrics.height() * 28));
  auto* view = dialog.findChild<QTreeView*>("treeView");
  if (!view) return;
  QHeaderView* header = view->header();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->resizeSection(0, x * 45);
  for (int column = 1; column < header->count(); ++column)
    header->resizeSection(column, std::max(header->sectionSizeHint(column),
                                           metrics.horizontalAdvance("99/99/9999 99:99 XM") + x));
}

OptionsDialog OptionsDialogFor(AnalyzerType target) {
  const FormatDescriptor* writer = WriterFormat(target);
  return writer ? writer->optionsDialog : OptionsDialog::None;
}

QString NamingTheFile(const QString& message, const QString& sourcePath,
                      const QString& targetPath) {
  QString named = message;
  // A target is written under a temporary name (named, or a descriptor's
  // link while unnamed); the user knows it by the destination's.
  static const QRegularExpression temporary(
      QString("[^\\s:'\"]*%1[0-9A-Za-z]+|/proc/self/fd/[0-9]+")
          .arg(QRegularExpression::escape(kTemporaryPrefix)));
  if (!targetPath.isEmpty()) named.replace(temporary, targetPath);
  const QString sourceName = QFileInfo(sourcePath).fileName();
  const QString targetName = QFileInfo(targetPath).fileName();
  const bool names = (!sourceName.isEmpty() && named.contains(sourceName)) ||
                     (!targetName.isEmpty() && named.contains(targetName));
  if (names) return named;
  const bool aboutTarget = named.contains("destination", Qt::CaseInsensitive);
  const QString file = aboutTarget && !targetPath.isEmpty() ? targetPath : sourcePath;
  if (file.isEmpty()) return named;
  return named + (named.endsWith('\n') ? "" : "\n") + (aboutTarget ? "Target" : "Source") +
         " file: " + file;
}

QString ConversionResultLine(const JobResult& result, double seconds) {
  QString outcome;
  switch (result.outcome) {
    case Outcome::Converted: outcome = "Converted"; break;
    case Outcome::BadCompression: outcome = "Converted from damaged compressed data"; break;
    case Outcome::Stopped: outcome = "Stopped"; break;
    case Outcome::ReadError: outcome = "Read error"; break;
    case Outcome::WriteFailed: outcome = "Write error"; break;
    case Outcome::NoFrames: outcome = "No frames were converted"; break;
    case Outcome::WouldLoseData: outcome = "Not kept, it would lose data"; break;
    default: return {};  // refused before converting: the message said why
  }
  QString name = QFileInfo(Q(result.targetPath)).fileName();
  // A target that was not kept holds no frames, whatever went through.
  if (!TargetKept(result)) {
    QString line = QString("%1: %2 not written").arg(outcome, name);
    if (!result.failureDetail.empty()) line += " (" + Q(result.failureDetail) + ")";
    return line;
  }
  QString time = seconds < 0.1 ? QString("under 0.1 s") : QString("%1 s").arg(seconds, 0, 'f', 1);
  QString line = QString("%1: %2 frame%3 written to %4 in %5")
                     .arg(outcome, Q(WithThousands(uint64_t(std::max(0, result.framesWritten)))),
                          result.framesWritten == 1 ? "" : "s", name, time);
  if (!result.failureDetail.empty()) line += " (" + Q(result.failureDetail) + ")";
  if (result.losses.any()) line += "; " + Q(LossesText(result.losses));
  return line;
}

// The filters of the open dialog: any file, any trace suffix, then one per
// readable analyzer.
QStringList OpenDialogFilters(const CapabilitySets& caps) {
  QStringList perAnalyzer, all;
  AnalyzerSet analyzers = caps.openDialog();
  for (int a = 0; a < Analyzer::Count; ++a) {
    // Only what can be read: a format this build only writes is no source.
    if (!analyzers.test(AnalyzerType(a)) || !ReaderFormat(AnalyzerType(a))) continue;
    QStringList patterns = SourcePatterns(AnalyzerType(a));
    if (patterns.isEmpty()) continue;
    for (const QString& p : patterns)
      if (!all.contains(p)) all << p;
    perAnalyzer << Q(AnalyzerName(AnalyzerType(a))) + " (" + patterns.join(' ') + ")";
  }
  perAnalyzer.sort(Qt::CaseInsensitive);
  return QStringList{"Any File (*)", "Any Trace File (by suffix) (" + all.join(' ') + ")"} +
         perAnalyzer;
}

MainWindow::MainWindow(Prompter& prompter, QString settingsFile, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::MainWindow>()),
      prompter_(prompter),
      settingsFile_(std::move(settingsFile)) {
  RegisterDesktopResources();
  ui_->setupUi(this);
  setWindowIcon(QIcon(":/icons/morphalite.svg"));
  // Files dropped anywhere on the window choose sources; the fields do not
  // take them as text.
  setAcceptDrops(true);
  for (QLineEdit* field : findChildren<QLineEdit*>()) field->setAcceptDrops(false);
  for (QToolButton* browse : {ui_->BrowseSourceButton, ui_->BrowseDestinationButton}) {
    // Drawn, not a bitmap: sharp at any scale.
    browse->setIcon(QIcon::fromTheme("document-open", QIcon(":/icons/folder-open.svg")));
    // Flat until pointed at, and marked when the keyboard reaches it.
    browse->setStyleSheet(
        "QToolButton { border: 1px solid transparent; border-radius: 3px; padding: 1px; }"
        "QToolButton:hover { border-color: palette(mid); }"
        "QToolButton:focus { border: 2px solid palette(highlight); }");
  }
  progress_ = std::make_unique<ProgressWindow>();
  textDialog_ = std::make_unique<TextOptionsDialog>(this);
  tcpdumpDialog_ = std::make_unique<TcpdumpOptionsDialog>(this);
  programDirectory_ = QCoreApplication::applicationDirPath();

  // A fresh window offers the Ethernet list until a source is chosen.
  facts_.traceTopology = Topo::Ethernet;
  DesktopSettings saved = LoadSettings(settingsFile_);
  recentFiles_ = saved.recentFiles;
  lastDirectory_ = saved.lastDirectory;
  tcpdumpSwap_ = saved.tcpdumpSwapped;
  tcpdumpModified_ = saved.tcpdumpModified;
  targetAnalyzer_ = AnalyzerType(saved.lastTargetAnalyzer & 0xFF);
  targetClass_ = saved.lastTargetClass >= 0 && saved.lastTargetClass <= 3
                     ? TargetClass(saved.lastTargetClass)
                     : TargetClass::Lan;
  lastDestinationDirectory_ = saved.lastDestinationDirectory;
  // The lasting result: a permanent widget, so menu tips do not erase it.
  resultLabel_ = new ElidedLabel(this);
  resultLabel_->setObjectName("ResultLabel");
  statusBar()->addPermanentWidget(resultLabel_, 1);

  connectControls();
  fillTargetList();
  refreshRecentMenu();
  ui_->BrowseSourceButton->setToolTip(ui_->OpenItem->statusTip());
  showSourceFacts(false);
  fitFieldsToTheirTexts();
  resize(sizeHint());
  if (!saved.windowGeometry.isEmpty())
    restoreGeometry(QByteArray::fromBase64(saved.windowGeometry.toLatin1()));
}

void MainWindow::fitFieldsToTheirTexts() {
  // The widest texts the date and size boxes show, in the window's font:
  // a long date and a size in the hundreds of gigabytes.
  auto fit = [](QLineEdit* box, const QString& widest) {
    int frame = box->sizeHint().width() - box->fontMetrics().horizontalAdvance(QString(17, 'x'));
    box->setMinimumWidth(box->fontMetrics().horizontalAdvance(widest) + std::max(frame, 12));
  };
  fit(ui_->FileDate, "WEDNESDAY, SEPTEMBER 30, 2099 12:00 AM");
  fit(ui_->FileSize, "999,999,999,999 bytes");
  // The labels' longer texts for several sources, so the window keeps its
  // width when switching.
  QLabel* destination = ui_->DestinationLabel;
  destination->setMinimumWidth(destination->fontMetrics().horizontalAdvance("Destination Folder:"));
}

MainWindow::~MainWindow() { SaveSettings(settingsFile_, currentSettings()); }

DesktopSettings MainWindow::currentSettings() const {
  DesktopSettings s;
  s.recentFiles = recentFiles_;
  s.lastDirectory = lastDirectory_;
  s.tcpdumpSwapped = tcpdumpSwap_;
  s.tcpdumpModified = tcpdumpModified_;
  s.lastTargetAnalyzer = Number(targetAnalyzer_);
  s.lastTargetClass = int(targetClass_);
  s.lastDestinationDirectory = lastDestinationDirectory_;
  s.windowGeometry = QString::fromLatin1(saveGeometry().toBase64());
  return s;
}

void MainWindow::connectControls() {
  Ui::MainWindow& ui = *ui_;
  connect(ui.OpenItem, &QAction::triggered, this, [this] { browseSource(); });
  connect(ui.BrowseSourceButton, &QToolButton::clicked, this, [this] { browseSource(); });
  connect(ui.BrowseDestinationButton, &QToolButton::clicked, this, [this] { browseDestination(); });
  connect(ui.ExitItem, &QAction::triggered, this, &QWidget::close);
  connect(ui.ExitButton, &QPushButton::clicked, this, &QWidget::close);
  connect(ui.ConvertButton, &QPushButton::clicked, this, [this] { convertClicked(); });
  // Escape stops a running conversion wherever the focus is.
  auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(stop, &QShortcut::activated, this, [this] {
    if (busy_) progress_->pressStop();
  });
  connect(ui.OptionsButton, &QPushButton::clicked, this, [this] { optionsClicked(); });
  // A document that cannot be opened reaches the error dialog.
  auto guarded = [](auto step) {
    return [step] {
      try {
        step();
      } catch (...) {
        ShowUnhandledError();
      }
    };
  };
  connect(ui.HelpTopicsItem, &QAction::triggered, this, guarded([this] { helpTopics(); }));
  connect(ui.ReadmeItem, &QAction::triggered, this, guarded([this] { readme(); }));
  connect(ui.AboutItem, &QAction::triggered, this, [this] { showAbout(); });
  connect(ui.AddSourceButton, &QPushButton::clicked, this, [this] { browseSource(true); });
  connect(ui.RemoveSourceButton, &QPushButton::clicked, this, [this] { removeSelectedSources(); });
  connect(ui.ProductNewsItem, &QAction::triggered, this,
          [this] { openWebPage(WebPages::ProductNews); });
  connect(ui.TechnicalSupportItem, &QAction::triggered, this,
          [this] { openWebPage(WebPages::TechnicalSupport); });
  connect(ui.TrainingItem, &QAction::triggered, this, [this] { openWebPage(WebPages::Training); });
  connect(ui.HomePageItem, &QAction::triggered, this, [this] { openWebPage(WebPages::HomePage); });
  QAction* recent[] = {ui.RecentItem1, ui.RecentItem2, ui.RecentItem3, ui.RecentItem4, ui.RecentItem5, ui.RecentItem6, ui.RecentItem7, ui.RecentItem8};
  for (int i = 0; i < kRecentFileCount; ++i)
    connect(recent[i], &QAction::triggered, this, [this, i] { openRecent(i); });

  connect(ui.SourceField, &QLineEdit::textEdited, this,
          [this](const QString& text) { sourceTextEdited(text); });
  connect(ui.SourceField, &QLineEdit::returnPressed, this, [this] {
    sourceFieldLeft();
    ui_->ConvertButton->setFocus();
  });
  connect(ui.DestinationField, &QLineEdit::returnPressed, this, [this] { ui_->ConvertButton->setFocus(); });
  connect(ui.DestinationField, &QLineEdit::textEdited, this, [this] { updateConvertButton(); });
  ui.SourceField->installEventFilter(this);
  ui.AnalyzerLabel->installEventFilter(this);

  connect(ui.FormatBox, &QComboBox::currentIndexChanged, this, [this] {
    if (fillingList_) return;
    selectTarget(ui_->DestinationField->text().isEmpty());
    updateOptionsButton();
  });
  connect(ui.ConvertToEthernetCheckBox, &QCheckBox::clicked, this, [this] { mediaBoxClicked(true); });
  connect(ui.ConvertToWirelessCheckBox, &QCheckBox::clicked, this, [this] { mediaBoxClicked(false); });
  connect(ui.ConvertRangeRadioButton, &QRadioButton::toggled, this, [this](bool range) {
    for (QWidget* w : {static_cast<QWidget*>(ui_->StartFrame), static_cast<QWidget*>(ui_->EndFrame),
                       static_cast<QWidget*>(ui_->FromLabel), static_cast<QWidget*>(ui_->ToLabel)})
      w->setEnabled(range);
  });
  connect(ui.FrameSliceCheckBox, &QCheckBox::toggled, this, [this](bool slice) {
    ui_->FrameSlice->setEnabled(slice);
    ui_->SliceBytesLabel->setEnabled(slice);
  });
}

// ---------------------------------------------------------------- sources

void MainWindow::chooseSources(const QStringList& paths) {
  if (busy_) {
    refuseWhileBusy();
    return;
  }
  if (paths.isEmpty()) return;
  setResultLine({});
  if (paths.size() > 1) {
    sources_.clear();
    addSources(paths);
    return;
  }
  showSourceList(false);
  sourceFileName_ = paths.front();
  ui_->SourceField->setText(sourceFileName_);
  sourceEdited_ = true;
  selectTarget(true);
  processSource(true, 0);
}

void MainWindow::addSources(const QStringList& paths) {
  if (busy_) {
    refuseWhileBusy();
    return;
  }
  // Each file is identified quietly; the refused ones are named together
  // and leave the list, the facts and the target choice as they were.
  QStringList accepted = sources_, refusals;
  std::optional<ConversionState> firstFacts;
  for (const QString& path : paths) {
    if (accepted.contains(path)) continue;
    ConversionState checked;
    QuietHost host;
    if (CheckSource(checked, caps_, path.toStdString(), host).accepted) {
      accepted << path;
      if (!firstFacts) firstFacts = checked;
    } else {
      refusals << (host.text.isEmpty() ? QFileInfo(path).fileName() + " was refused." : host.text);
    }
  }
  if (!refusals.isEmpty())
    prompter_.message(this, "Open Trace File", refusals.join('\n'), MessageIcon::Warning);
  if (accepted.size() < 2) {
    if (accepted.size() == 1)
      chooseSources(accepted);
    else
      showRefusal(refusals.join(' '));
    return;
  }
  const bool wasList = severalSources_;
  sources_ = accepted;
  if (!wasList && firstFacts) {
    facts_ = *firstFacts;
    lastDirectory_ = QFileInfo(sources_.front()).absolutePath();
  }
  showSourceList(true);
  if (!wasList)
    ui_->DestinationField->setText(QFileInfo(lastDestinationDirectory_).isDir()
                                       ? QDir(lastDestinationDirectory_).path() + '/'
                                       : DirectoryWithSeparator(sources_.front()));
  showSourceFacts(true);
}

void MainWindow::removeSelectedSources() {
  if (busy_) return;
  for (QListWidgetItem* item : ui_->SourceList->selectedItems()) sources_.removeAll(item->text());
  if (sources_.size() == 1) {
    chooseSources(sources_);
    return;
  }
  showSourceList(!sources_.isEmpty());
  if (sources_.isEmpty()) showSourceFacts(false);
}

void MainWindow::showSourceList(bool several) {
  Ui::MainWindow& ui = *ui_;
  severalSources_ = several;
  ui.SourceList->clear();
  ui.SourceList->addItems(several ? sources_ : QStringList());
  for (int i = 0; i < ui.SourceList->count(); ++i)
    ui.SourceList->item(i)->setToolTip(ui.SourceList->item(i)->text());
  ui.SourceList->setVisible(several);
  ui.AddSourceButton->setVisible(several);
  ui.RemoveSourceButton->setVisible(several);
  ui.SourceField->setVisible(!several);
  if (several) ui.SourceField->clear();
  ui.SourceLabel->setText(several ? "Source Files:" : "Source File:");
  ui.DestinationLabel->setText(several ? "Destination Folder:" : "Destination:");
  updateConvertButton();
}

void MainWindow::showRefusal(const QString& reason) {
  // The fact boxes say why; the target choice stays as it was.
  Ui::MainWindow& ui = *ui_;
  for (QLineEdit* box : {ui.SrcTopology, ui.FileDate, ui.FileSize, ui.FileComment, ui.DestinationField})
    box->clear();
  ui.AnalyzerType->setText(reason);
  ui.AnalyzerType->setToolTip(reason);
  ui.AnalyzerType->setCursorPosition(0);
  setResultLine(reason);
  updateConvertButton();
}

void MainWindow::refuseWhileBusy() {
  statusBar()->showMessage("A conversion is running: wait for it, or stop it first.", 5000);
}

void MainWindow::openRecent(int index) {
  if (busy_) {
    refuseWhileBusy();
    return;
  }
  QString entry = recentFiles_.value(index);
  if (entry.isEmpty()) return;
  chooseSources({entry});
}

void MainWindow::sourceTextEdited(const QString&) {
  // A typed path is one file, whatever characters it holds.
  sourceEdited_ = true;
  ui_->DestinationField->clear();
  for (QLineEdit* box : {ui_->AnalyzerType, ui_->SrcTopology, ui_->FileDate, ui_->FileSize})
    box->clear();
  updateConvertButton();
}

void MainWindow::sourceFieldLeft() {
  if (severalSources_ || !sourceEdited_ || busy_) return;
  sourceEdited_ = false;  // a message box taking the focus must not run this again
  sourceFileName_ = ui_->SourceField->text();
  setResultLine({});
  selectTarget(true);
  processSource(true, 0);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  // Nothing is taken while a conversion runs.
  if (event->mimeData()->hasUrls() && !busy_) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  if (paths.isEmpty()) return;
  if (busy_) {
    event->ignore();
    refuseWhileBusy();
    return;
  }
  event->acceptProposedAction();
  // Dropped onto the list of several sources: added to it.
  QListWidget* list = ui_->SourceList;
  const QPoint at = list->mapFrom(this, event->position().toPoint());
  if (severalSources_ && list->rect().contains(at))
    addSources(paths);
  else
    chooseSources(paths);
}
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->SourceField && event->type() == QEvent::FocusOut) {
    sourceFieldLeft();
  } else if (watched == ui_->AnalyzerLabel && event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::ShiftModifier))
      toggleUnsupportedTargets();
  }
  return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::processSource(bool openOnly, unsigned holdMilliseconds) {
  if (sourceFileName_.isEmpty()) {
    sourceEdited_ = false;
    return false;
  }

  // Identification starts from the window's libpcap choice; a libpcap
  // source replaces it with its own byte order and variant.
  ConversionState checked;
  PromptHost host(prompter_, this);
  SourceCheck check = CheckSource(checked, caps_, sourceFileName_.toStdString(), host);
  // Refusals other than "no frames" leave the window showing no destination.
  bool noFrames = !check.accepted && checked.sourceHasNoFrames &&
                  SourceSupported(caps_, check.analyzer, check.topology, checked.wanProtocol);
  if (!check.accepted && !noFrames) {
    // A refused source changes nothing of the facts, the target choice or
    // what is saved; the fact boxes say why.
    const QString reason = host.lastMessage().isEmpty()
                               ? QFileInfo(sourceFileName_).fileName() + " was refused."
                               : host.lastMessage();
    if (!openOnly) recordEntry({sourceFileName_, JobResult{}, reason});
    if (!severalSources_) {
      showRefusal(reason);
      ui_->SourceField->setFocus();
    }
    sourceEdited_ = false;
    return false;
  }
  lastDirectory_ = QFileInfo(sourceFileName_).absolutePath();
  facts_ = checked;
  if (openOnly) {
    facts_.sourceFrameCount = checked.sourceFrameCount;
    if (check.analyzer == Analyzer::Tcpdump) {
      tcpdumpSwap_ = checked.sourceVariant & PcapVariant::BigEndian;
      tcpdumpModified_ = checked.sourceVariant & PcapVariant::Modified;
    }
    int frames = facts_.sourceFrameCount > 0 ? facts_.sourceFrameCount : kMaxFrameNumber;
    ui_->StartFrame->setMaximum(frames);
    ui_->EndFrame->setMaximum(frames);
    ui_->EndFrame->setValue(frames);
  }

  // A conversion keeps the format it was asked for (also when the list
  // for this source does not hold it) and the destination the user gave.
  AnalyzerType requested = targetAnalyzer_;
  QString destination = ui_->DestinationField->text();
  ui_->AnalyzerType->setToolTip({});
  showSourceFacts(true);
  if (!openOnly) {
    targetAnalyzer_ = requested;
    ui_->DestinationField->setText(destination);
  }
  if (!check.accepted && !openOnly) {
    JobResult empty;
    empty.outcome = Outcome::NoFrames;
    recordEntry({sourceFileName_, empty, host.lastMessage()});
  }
  const bool result = check.accepted && (openOnly || convertSource(holdMilliseconds));
  sourceEdited_ = false;
  return result;
}

JobRequest MainWindow::conversionRequest(unsigned holdMilliseconds) const {
  JobRequest r;
  r.sourcePath = sourceFileName_.toStdString();
  // An existing folder means the default name inside it, as on the
  // command line.
  if (severalSources_ || QFileInfo(targetFileName_).isDir())
    r.outputDirectory =
        (severalSources_ ? ui_->DestinationField->text() : targetFileName_).toStdString();
  else
    r.targetPath = targetFileName_.toStdString();
  r.target = targetAnalyzer_;
  r.overwrite = overwriteAll_;
  r.yesToAllOffered = severalSources_;
  r.sliceFrames = ui_->FrameSliceCheckBox->isChecked();
  r.sliceLength = ui_->FrameSlice->value();
  r.convertToEthernet =
      ui_->ConvertToEthernetCheckBox->isChecked() && !ui_->ConvertToEthernetCheckBox->isHidden();
  r.convertToWireless =
      ui_->ConvertToWirelessCheckBox->isChecked() && !ui_->ConvertToWirelessCheckBox->isHidden();
  r.convertAll = ui_->ConvertAllRadioButton->isChecked();
  r.startFrame = ui_->StartFrame->value();
  r.endFrame = ui_->EndFrame->value();
  r.unattended = false;
  PcapOutputChoice& pcap = r.formatOptions.get<PcapOutputChoice>();
  pcap.bigEndian = tcpdumpSwap_;
  pcap.modified = tcpdumpModified_;
  r.formatOptions.get<TextDumpOptions>() = textDialog_->options();
  r.holdMilliseconds = holdMilliseconds;
  return r;
}

bool MainWindow::convertSource(unsigned holdMilliseconds) {
  if (nameFromSource_) {
    targetFileName_ = defaultTargetName(sourceFileName_);
    ui_->DestinationField->setText(targetFileName_);
  }
  if (!severalSources_ && targetFileName_.compare(sourceFileName_, Qt::CaseInsensitive) == 0) {
    prompter_.message(this, "Alert", "Destination cannot be the same as the source file.",
                      MessageIcon::Warning);
    ui_->DestinationField->setFocus();
    return false;
  }
  const bool alreadyBusy = busy_;  // a run of several files holds it throughout
  setBusy(true);
  progress_->reset();
  const JobRequest request = conversionRequest(holdMilliseconds);
  std::string planned = request.targetPath;
  if (planned.empty()) planned = PlannedTargetPath(request, caps_);
  ConversionHost host(prompter_, this, *progress_, sourceFileName_, Q(planned));
  JobResult result = RunConversionJob(request, caps_, host);
  progress_->finish(result.outcome);
  if (!alreadyBusy) setBusy(false);
  if (!severalSources_) setResultLine(ConversionResultLine(result, host.seconds()));

  lastOutcome_ = result.outcome;
  if (result.yesToAll) overwriteAll_ = true;
  const bool kept = TargetKept(result);
  recordEntry({sourceFileName_, result, host.lastMessage()});
  // The recent files are those converted, the folder the one written to.
  if (kept) {
    AddRecentFile(recentFiles_, sourceFileName_);
    refreshRecentMenu();
    if (severalSources_) lastDestinationDirectory_ = QFileInfo(Q(result.targetPath)).absolutePath();
  }
  switch (result.outcome) {
    case Outcome::SourceRefused:
    case Outcome::NotOverwritten: return false;
    case Outcome::SameFile:
    case Outcome::DestinationError: ui_->DestinationField->setFocus(); return false;
    default: break;
  }
  return true;
}

// ---------------------------------------------------------------- facts and targets

void MainWindow::showSourceFacts(bool show) {
  Ui::MainWindow& ui = *ui_;
  if (show) {
    const Topology topology = facts_.traceTopology;
    ui.AnalyzerType->setText(
        Q(SourceDisplayName(facts_.sourceAnalyzer, facts_.sourceVariant, facts_.sourceCompressed)));
    ui.FileComment->setText(Q(facts_.fileComment));
    ui.SourceLabel->setText(severalSources_ ? "Source Files:" : "Source File:");
    ui.DestinationLabel->setText(severalSources_ ? "Destination Folder:" : "Destination:");
    bool slicing = !IsAtmTopology(topology);
    ui.FrameSliceCheckBox->setEnabled(slicing);
    ui.FrameSlice->setEnabled(slicing && ui.FrameSliceCheckBox->isChecked());
    ui.SliceBytesLabel->setEnabled(slicing && ui.FrameSliceCheckBox->isChecked());
    targetClass_ = TargetClassFor(topology, ui.ConvertToEthernetCheckBox->isChecked(),
                                  ui.ConvertToWirelessCheckBox->isChecked());
    fillTargetList();
    if (severalSources_) {
      for (QLineEdit* box : {ui.AnalyzerType, ui.SrcTopology, ui.FileDate, ui.FileSize})
        box->setText("-");
    } else {
      QString interface;
      if (!ui.AnalyzerType->text().isEmpty()) {
        interface = Q(TopologyName(topology));
        if (!IsLanTopology(topology) && !IsAtmTopology(topology))
          interface += Q(WanProtocolName(facts_.wanProtocol));
      }
      ui.SrcTopology->setText(interface);
      // The same texts the identify command prints and the text dump's header uses.
      facts_.sourceFileDateText = FileDateText(sourceFileName_.toStdString());
      ui.FileDate->setText(Q(facts_.sourceFileDateText));
      ui.FileSize->setText(Q(FileSizeText(facts_.sourceFileSize)));
    }
  } else {
    for (QLineEdit* box : {ui.SourceField, ui.DestinationField, ui.AnalyzerType, ui.SrcTopology,
                           ui.FileDate, ui.FileSize, ui.FileComment})
      box->clear();
    for (QWidget* w : std::initializer_list<QWidget*>{ui.FrameSliceCheckBox, ui.FrameSlice, ui.SliceBytesLabel,
                                                      ui.StartFrame, ui.EndFrame, ui.FromLabel,
                                                      ui.ToLabel})
      w->setEnabled(false);
  }
  setWindowTitle("Morphalite");
  updateConvertButton();
  updateOptionsButton();
  bool bsts = show && facts_.sourceAnalyzer == Analyzer::Bsts;
  for (QWidget* w : std::initializer_list<QWidget*>{ui.BSTSLinkLabel, ui.UplinkRadioButton,
                                                    ui.DownlinkRadioButton})
    w->setVisible(bsts);
}

void MainWindow::fillTargetList() {
  Ui::MainWindow& ui = *ui_;
  TargetList list = FillTargetList(caps_, targetClass_, facts_.traceTopology,
                                   ui.ConvertToEthernetCheckBox->isChecked(),
                                   ui.ConvertToWirelessCheckBox->isChecked(), targetAnalyzer_);
  ui.ConvertToEthernetCheckBox->setVisible(list.convertToEthernetVisible);
  ui.ConvertToWirelessCheckBox->setVisible(list.convertToWirelessVisible);
  fillingList_ = true;
  ui.FormatBox->clear();
  // Only formats this build can write are offered.
  for (AnalyzerType target : list.offered)
    if (HasWriter(target)) ui.FormatBox->addItem(Q(AnalyzerName(target)));
  int selected = ui.FormatBox->findText(Q(AnalyzerName(list.selected)));
  ui.FormatBox->setCurrentIndex(selected >= 0 ? selected : 0);
  fillingList_ = false;
  selectTarget(false);
  updateOptionsButton();
}

void MainWindow::selectTarget(bool fromSource) {
  targetAnalyzer_ = TargetFromListText(ui_->FormatBox->currentText().toStdString());
  QLineEdit* destination = ui_->DestinationField;
  // An empty destination field is named from the source as well, so a
  // source chosen while the list was empty still gets a proposal.
  fromSource = fromSource || (destination->text().isEmpty() && !severalSources_);
  QString next = Q(DestinationAfterSelect(destinationRequest(sourceFileName_), fromSource,
                                          severalSources_));
  if (fromSource && !sourceFileName_.isEmpty() && targetAnalyzer_ != Analyzer::Unknown)
    targetFileName_ = next;
  destination->setText(next);
  proposedDestination_ = next;
  updateConvertButton();
}

DestinationRequest MainWindow::destinationRequest(const QString& path) const {
  DestinationRequest r;
  r.sourcePath = path.toStdString();
  r.destinationField = ui_->DestinationField->text().toStdString();
  r.sourceAnalyzer = facts_.sourceAnalyzer;
  r.targetAnalyzer = targetAnalyzer_;
  r.topology = facts_.traceTopology;
  r.convertToEthernet = ui_->ConvertToEthernetCheckBox->isChecked();
  r.convertToWireless = ui_->ConvertToWirelessCheckBox->isChecked();
  return r;
}

QString MainWindow::defaultTargetName(const QString& path) const {
  return Q(DefaultTargetName(destinationRequest(path)));
}

void MainWindow::mediaBoxClicked(bool ethernetBox) {
  QCheckBox* toEthernet = ui_->ConvertToEthernetCheckBox;
  QCheckBox* toWireless = ui_->ConvertToWirelessCheckBox;
  MediaBoxes boxes{toEthernet->isChecked(), toWireless->isChecked(), targetClass_};
  if (ethernetBox)
    boxes.clickConvertToEthernet(toEthernet->isChecked());
  else
    boxes.clickConvertToWireless(toWireless->isChecked());
  toEthernet->setChecked(boxes.convertToEthernet);
  toWireless->setChecked(boxes.convertToWireless);
  targetClass_ = boxes.targetClass;
  // A name the window proposed is proposed afresh, so a media tag such as
  // "_dmp" goes with the box that added it; a name the user typed stays.
  const bool proposed = ui_->DestinationField->text() == proposedDestination_;
  fillTargetList();
  if (proposed && !severalSources_) selectTarget(true);
}

void MainWindow::toggleUnsupportedTargets() {
  fillTargetList();
  std::string text = ToggleHiddenAnalyzers(caps_);
  fillTargetList();
  prompter_.message(this, "Morphalite", Q(text), MessageIcon::None);
}

void MainWindow::updateConvertButton() {
  // Nothing can be converted while the format list is empty.
  const bool haveSource = severalSources_ ? !sources_.isEmpty() : !ui_->SourceField->text().isEmpty();
  ui_->ConvertButton->setEnabled(haveSource &&
                              !ui_->DestinationField->text().isEmpty() &&
                              targetAnalyzer_ != Analyzer::Unknown);
}

void MainWindow::updateOptionsButton() {
  ui_->OptionsButton->setVisible(OptionsDialogFor(targetAnalyzer_) != OptionsDialog::None);
}

// ---------------------------------------------------------------- convert

bool MainWindow::ensureDestinationDirectory() {
  QString text = ui_->DestinationField->text();
  int slash = text.lastIndexOf('/');
  if (slash < 0) return true;
  QString directory = slash == 0 ? QString("/") : text.left(slash);
  if (QFileInfo(directory).isDir()) return true;
  Answer answer = prompter_.ask(
      this, "Confirm", "Destination directory  '" + directory + "' does not exist.  Create?", false);
  if (answer != Answer::Yes) return false;
  if (QDir().mkdir(directory)) return true;
  prompter_.message(this, "Directory Creation Error", "Unable to create '" + directory + "'.",
                    MessageIcon::Error);
  return false;
}

void MainWindow::recordEntry(BatchEntry entry) { lastRun_.push_back(std::move(entry)); }

QString MainWindow::resultLine() const { return resultLabel_->fullText(); }

void MainWindow::setResultLine(const QString& line) {
  statusBar()->clearMessage();
  resultLabel_->setFullText(line);
}

void MainWindow::runBatch(const QStringList& batch) {
  // One Stop ends the whole run: the files after it are listed as not started.
  setBusy(true);
  bool stopped = false;
  for (const QString& path : batch) {
    if (stopped) {
      lastRun_.push_back({path, JobResult{}, {}, false});
      continue;
    }
    sourceFileName_ = path;
    targetFileName_.clear();  // named in the destination folder for each source
    sourceEdited_ = true;
    processSource(false, kHoldSeveralSources);
    stopped = progress_->stopPressed() ||
              (!lastRun_.empty() && lastRun_.back().result.outcome == Outcome::Stopped);
  }
  setBusy(false);
  setResultLine(BatchSummary(lastRun_));
  if (!results_) results_ = std::make_unique<ResultsDialog>(openUrl_, this);
  results_->showEntries(lastRun_);
}

void MainWindow::convertClicked() {
  if (busy_) return;
  if (ui_->EndFrame->value() < ui_->StartFrame->value()) {
    prompter_.message(this, "Convert Frame Range",
                      "Starting frame number must be less than or equal to the ending frame number.",
                      MessageIcon::Information);
    return;
  }
  overwriteAll_ = false;
  if (!ensureDestinationDirectory()) return;
  lastRun_.clear();
  setResultLine({});
  if (severalSources_) {
    runBatch(sources_);
  } else {
    sourceFileName_ = ui_->SourceField->text();
    targetFileName_ = ui_->DestinationField->text();
    sourceEdited_ = true;
    processSource(false, kHoldOneSource);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Like the disabled Exit button: no closing in the middle of a conversion.
  if (busy_)
    event->ignore();
  else
    QMainWindow::closeEvent(event);
}

void MainWindow::setBusy(bool busy) {
  busy_ = busy;
  Ui::MainWindow& ui = *ui_;
  ui.FileMenu->menuAction()->setEnabled(!busy);
  ui.HelpMenu->menuAction()->setEnabled(!busy);
  for (QWidget* w : std::initializer_list<QWidget*>{ui.BrowseSourceButton, ui.BrowseDestinationButton,
                                                    ui.ExitButton, ui.AddSourceButton,
                                                    ui.RemoveSourceButton})
    w->setEnabled(!busy);
  // The files being converted cannot be edited under the conversion.
  ui.SourceField->setReadOnly(busy);
  ui.DestinationField->setReadOnly(busy);
  if (busy)
    ui.ConvertButton->setEnabled(false);
  else
    updateConvertButton();
}

bool MainWindow::handleStartArguments(const QStringList& args, Outcome* outcome) {
  if (args.isEmpty() || args.front().isEmpty()) return false;
  // Several files (a file manager's selection): a list of sources.
  const bool allFiles = std::all_of(args.begin(), args.end(),
                                    [](const QString& a) { return QFileInfo(a).isFile(); });
  if (args.size() > 1 && allFiles && !AnalyzerFromCode(args[1].toStdString())) {
    QStringList paths;
    for (const QString& a : args) paths << QFileInfo(a).absoluteFilePath();
    chooseSources(paths);
    return false;
  }
  // A full path, so the recent-files entry still works from elsewhere.
  sourceFileName_ = QFileInfo(args.front()).absoluteFilePath();
  ui_->SourceField->setText(sourceFileName_);
  sourceEdited_ = true;
  if (args.size() < 2 || args[1].isEmpty()) {
    targetFileName_ = defaultTargetName(sourceFileName_);
    ui_->DestinationField->setText(targetFileName_);
    processSource(true, 0);
    return false;
  }
  std::optional<AnalyzerType> code = AnalyzerFromCode(args[1].toStdString());
  if (!code) {
    ui_->DestinationField->clear();
    updateConvertButton();
    prompter_.message(this, "Parameter Error", "Bad destination analyzer type of " + args[1] + ".",
                      MessageIcon::Error);
    return false;
  }
  targetAnalyzer_ = *code;
  nameFromSource_ = true;
  overwriteAll_ = true;
  sourceEdited_ = true;
  bool started = processSource(false, kHoldOneSource);
  if (outcome) *outcome = started ? lastOutcome_ : Outcome::SourceRefused;
  return true;
}

// ---------------------------------------------------------------- menus

void MainWindow::refreshRecentMenu() {
  Ui::MainWindow& ui = *ui_;
  QAction* items[] = {ui.RecentItem1, ui.RecentItem2, ui.RecentItem3, ui.RecentItem4, ui.RecentItem5, ui.RecentItem6, ui.RecentItem7, ui.RecentItem8};
  for (int i = 0; i < kRecentFileCount; ++i) {
    QString entry = recentFiles_.value(i);
    items[i]->setText(QString("&%1 ").arg(i + 1) + QString(entry).replace("&", "&&"));
    items[i]->setVisible(!entry.isEmpty());
  }
  // An empty submenu would open on nothing.
  ui.ReopenMenu->setEnabled(std::any_of(recentFiles_.begin(), recentFiles_.end(),
                                        [](const QString& entry) { return !entry.isEmpty(); }));
}

void MainWindow::browseSource(bool adding) {
  QFileDialog dialog(this, "Open Trace File", startDirectory());
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilters(OpenDialogFilters(caps_));
  dialog.setViewMode(QFileDialog::Detail);
  // Qt's own dialog builds its views when shown: widen them then.
  QTimer::singleShot(0, &dialog, [&dialog] { WidenFileDialogColumns(dialog); });
  if (dialog.exec() != QDialog::Accepted) return;
  if (adding)
    addSources(dialog.selectedFiles());
  else
    chooseSources(dialog.selectedFiles());
}

void MainWindow::browseDestination() {
  if (severalSources_) {
    QString folder = QFileDialog::getExistingDirectory(
        this, "Select Destination Directory",
        QFileInfo(lastDestinationDirectory_).isDir() ? lastDestinationDirectory_ : startDirectory());
    if (folder.isEmpty()) return;
    ui_->DestinationField->setText(folder.endsWith('/') ? folder : folder + '/');
  } else {
    QString preset = QDir(startDirectory()).filePath(QFileInfo(ui_->DestinationField->text()).fileName());
    QString path = QFileDialog::getSaveFileName(this, "Select Destination File", preset,
                                                "Any File (*)", nullptr,
                                                QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) return;
    ui_->DestinationField->setText(path);
  }
  showSourceFacts(true);
}

QString MainWindow::startDirectory() const {
  return QFileInfo(lastDirectory_).isDir() ? lastDirectory_ : QDir::currentPath();
}

void MainWindow::optionsClicked() {
  switch (OptionsDialogFor(targetAnalyzer_)) {
    case OptionsDialog::LineFields: textDialog_->edit(); break;
    case OptionsDialog::ByteOrderAndLayout:
      tcpdumpDialog_->edit(tcpdumpSwap_, tcpdumpModified_);
      break;
    case OptionsDialog::None: break;
  }
}

void MainWindow::helpTopics() { showDocument(HelpFilePath(programDirectory_)); }

void MainWindow::readme() { showDocument(ReadmeFilePath(programDirectory_)); }

void MainWindow::showDocument(const QString& path) {
  // A missing document is no reason to lose the session: said plainly. A
  // desktop without a viewer gets the window of our own.
  try {
    if (OpenDocument(path, openUrl_)) return;
  } catch (const HelpError& e) {
    prompter_.message(this, "Help",
                      Q(e.what()) + ": it is not installed.\n" + Q(e.detail()) +
                          "\nThe manual page (man morphalite) describes the program too.",
                      MessageIcon::Warning);
    return;
  }
  if (!documentWindow_) documentWindow_ = std::make_unique<DocumentWindow>(this);
  documentWindow_->showDocument(path);
}

void MainWindow::openWebPage(const char* url) {
  if (openUrl_(QUrl(QString::fromLatin1(url)))) return;
  prompter_.message(this, "Web Page",
                    QString("No web browser could open %1.").arg(QString::fromLatin1(url)),
                    MessageIcon::Information);
}

void MainWindow::showAbout() {
  QMessageBox::about(this, "About Morphalite",
                     QString("<b>Morphalite</b> %1<br>Network analyzer trace file converter.<br>"
                             "Corvantique")
                         .arg(MORPHALITE_VERSION));
}

}  // namespace morph
