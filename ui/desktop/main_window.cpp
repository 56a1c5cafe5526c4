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
#include <QShortcut>
#include <QStatusBar>
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
#include "ui/desktop/application.h"
#include "ui/desktop/progress_window.h"
#include "ui/desktop/prompter.h"
#include "ui/desktop/tcpdump_options.h"
#include "ui/desktop/text_options.h"
#include "ui_main_window.h"

namespace morph {
namespace {

constexpr unsigned kHoldOneSource = 1750;
constexpr unsigned kHoldSeveralSources = 500;
constexpr int kMaxFrameNumber = 999999;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Messages and questions of the checks go to the prompter; nothing else.
class PromptHost : public Host {
 public:
  PromptHost(Prompter& prompter, QWidget* window) : prompter_(prompter), window_(window) {}
  void message(const std::string& caption, const std::string& text, MessageIcon icon) override {
    prompter_.message(window_, Q(caption), Q(text), icon);
  }
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               MessageIcon icon) override {
    prompter_.failure(window_, Q(caption), Q(text), Q(detail), icon);
  }
  Answer ask(const std::string& caption, const std::string& text, bool yesToAll) override {
    return prompter_.ask(window_, Q(caption), Q(text), yesToAll);
  }

 protected:
  Prompter& prompter_;
  QWidget* window_;
};

// A conversion's host: the prompter plus the progress window. The engine
// calls pumpEvents and progress at most every few tens of milliseconds.
// It also times the conversion: from the last question answered to the
// first message or the final state, so neither the user's reading nor the
// hold counts.
class ConversionHost : public PromptHost {
 public:
  ConversionHost(Prompter& prompter, QWidget* window, TProcessTraceFileForm& form)
      : PromptHost(prompter, window), form_(form) {
    clock_.start();
  }
  void message(const std::string& caption, const std::string& text, MessageIcon icon) override {
    stopClock();
    PromptHost::message(caption, text, icon);
  }
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               MessageIcon icon) override {
    stopClock();
    PromptHost::failure(caption, text, detail, icon);
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
  TProcessTraceFileForm& form_;
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
    if (!analyzers.test(AnalyzerType(a)) || AnalyzerType(a) == Analyzer::Ascii) continue;
    QStringList patterns = SourcePatterns(AnalyzerType(a));
    if (patterns.isEmpty()) continue;
    for (const QString& p : patterns)
      if (!all.contains(p)) all << p;
    perAnalyzer << Q(AnalyzerName(AnalyzerType(a))) + " (" + patterns.join(' ') + ")";
  }
  return QStringList{"Any File (*)", "Any Trace File (by suffix) (" + all.join(' ') + ")"} +
         perAnalyzer;
}

TMainForm::TMainForm(Prompter& prompter, QString settingsFile, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::TMainForm>()),
      prompter_(prompter),
      settingsFile_(std::move(settingsFile)) {
  ui_->setupUi(this);
  // Files dropped anywhere on the window choose sources; the fields do not
  // take them as text.
  setAcceptDrops(true);
  for (QLineEdit* field : findChildren<QLineEdit*>()) field->setAcceptDrops(false);
  for (QToolButton* browse : {ui_->OpenBtn, ui_->OpenBtn2}) {
    browse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    // Flat until pointed at, and marked when the keyboard reaches it.
    browse->setStyleSheet(
        "QToolButton { border: 1px solid transparent; border-radius: 3px; padding: 1px; }"
        "QToolButton:hover { border-color: palette(mid); }"
        "QToolButton:focus { border: 2px solid palette(highlight); }");
  }
  progress_ = std::make_unique<TProcessTraceFileForm>();
  textDialog_ = std::make_unique<TTextOptionsForm>(this);
  tcpdumpDialog_ = std::make_unique<TtcpdumpOptions>(this);
  programDirectory_ = QCoreApplication::applicationDirPath();

  // A fresh window offers the Ethernet list until a source is chosen.
  facts_.TraceTopology = Topo::Ethernet;
  DesktopSettings saved = LoadSettings(settingsFile_);
  recentFiles_ = saved.recentFiles;
  lastDirectory_ = saved.lastDirectory;
  tcpdumpSwap_ = saved.tcpdumpSwapped;
  tcpdumpModified_ = saved.tcpdumpModified;
  targetAnalyzer_ = AnalyzerType(saved.lastTargetAnalyzer & 0xFF);
  targetClass_ = saved.lastTargetClass >= 0 && saved.lastTargetClass <= 3
                     ? TargetClass(saved.lastTargetClass)
                     : TargetClass::Lan;

  connectControls();
  fillTargetList();
  refreshRecentMenu();
  ui_->OpenBtn->setToolTip(ui_->OpenItem->statusTip());
  showSourceFacts(false);
  fitFieldsToTheirTexts();
  resize(sizeHint());
}

void TMainForm::fitFieldsToTheirTexts() {
  // The widest texts the date and size boxes show, in the window's font:
  // a long date and a size in the hundreds of gigabytes.
  auto fit = [](QLineEdit* box, const QString& widest) {
    int frame = box->sizeHint().width() - box->fontMetrics().horizontalAdvance(QString(17, 'x'));
    box->setMinimumWidth(box->fontMetrics().horizontalAdvance(widest) + std::max(frame, 12));
  };
  fit(ui_->FileDate, "WEDNESDAY, SEPTEMBER 30, 2099 12:00 AM");
  fit(ui_->FileSize, "999,999,999,999 bytes");
}

TMainForm::~TMainForm() { SaveSettings(settingsFile_, currentSettings()); }

DesktopSettings TMainForm::currentSettings() const {
  DesktopSettings s;
  s.recentFiles = recentFiles_;
  s.lastDirectory = lastDirectory_;
  s.tcpdumpSwapped = tcpdumpSwap_;
  s.tcpdumpModified = tcpdumpModified_;
  s.lastTargetAnalyzer = Number(targetAnalyzer_);
  s.lastTargetClass = int(targetClass_);
  return s;
}

void TMainForm::connectControls() {
  Ui::TMainForm& ui = *ui_;
  connect(ui.OpenItem, &QAction::triggered, this, [this] { browseSource(); });
  connect(ui.OpenBtn, &QToolButton::clicked, this, [this] { browseSource(); });
  connect(ui.OpenBtn2, &QToolButton::clicked, this, [this] { browseDestination(); });
  connect(ui.ExitItem, &QAction::triggered, this, &QWidget::close);
  connect(ui.ExitBtn, &QPushButton::clicked, this, &QWidget::close);
  connect(ui.ConvertBtn, &QPushButton::clicked, this, [this] { convertClicked(); });
  // Escape stops a running conversion wherever the focus is.
  auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(stop, &QShortcut::activated, this, [this] {
    if (busy_) progress_->pressStop();
  });
  connect(ui.OptionsBtn, &QPushButton::clicked, this, [this] { optionsClicked(); });
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
  connect(ui.ProductNewsItem, &QAction::triggered, this,
          [this] { openWebPage(WebPages::ProductNews); });
  connect(ui.TechnicalSupportItem, &QAction::triggered, this,
          [this] { openWebPage(WebPages::TechnicalSupport); });
  connect(ui.TrainingItem, &QAction::triggered, this, [this] { openWebPage(WebPages::Training); });
  connect(ui.HomePageItem, &QAction::triggered, this, [this] { openWebPage(WebPages::HomePage); });
  QAction* recent[] = {ui.MRU1, ui.MRU2, ui.MRU3, ui.MRU4, ui.MRU5, ui.MRU6, ui.MRU7, ui.MRU8};
  for (int i = 0; i < kRecentFileCount; ++i)
    connect(recent[i], &QAction::triggered, this, [this, i] { openRecent(i); });

  connect(ui.SrcAnalyzerFile, &QLineEdit::textEdited, this,
          [this](const QString& text) { sourceTextEdited(text); });
  connect(ui.SrcAnalyzerFile, &QLineEdit::returnPressed, this, [this] {
    sourceFieldLeft();
    ui_->ConvertBtn->setFocus();
  });
  connect(ui.DstAnalyzerFile, &QLineEdit::returnPressed, this, [this] { ui_->ConvertBtn->setFocus(); });
  connect(ui.DstAnalyzerFile, &QLineEdit::textEdited, this, [this] { updateConvertButton(); });
  ui.SrcAnalyzerFile->installEventFilter(this);
  ui.Label2->installEventFilter(this);

  connect(ui.FormatBox, &QComboBox::currentIndexChanged, this, [this] {
    if (fillingList_) return;
    selectTarget(ui_->DstAnalyzerFile->text().isEmpty());
    updateOptionsButton();
  });
  connect(ui.ConvertToEthernetCheckBox, &QCheckBox::clicked, this, [this] { mediaBoxClicked(true); });
  connect(ui.ConvertToWirelessCheckBox, &QCheckBox::clicked, this, [this] { mediaBoxClicked(false); });
  connect(ui.ConvertRangeRadioButton, &QRadioButton::toggled, this, [this](bool range) {
    for (QWidget* w : {static_cast<QWidget*>(ui_->StartFrame), static_cast<QWidget*>(ui_->EndFrame),
                       static_cast<QWidget*>(ui_->fromTextLabel), static_cast<QWidget*>(ui_->toTextLabel)})
      w->setEnabled(range);
  });
  connect(ui.FrameSliceCheckBox, &QCheckBox::toggled, this, [this](bool slice) {
    ui_->FrameSlice->setEnabled(slice);
    ui_->Label7->setEnabled(slice);
  });
}

// ---------------------------------------------------------------- sources

void TMainForm::chooseSources(const QStringList& paths) {
  if (paths.isEmpty()) return;
  if (paths.size() == 1) {
    severalSources_ = false;
    sourceFileName_ = paths.front();
    ui_->SrcAnalyzerFile->setText(sourceFileName_);
    sourceEdited_ = true;
    selectTarget(true);
    processSource(true, 0);
    return;
  }
  severalSources_ = true;
  ui_->SrcAnalyzerFile->setText(paths.front());
  ui_->DstAnalyzerFile->setText(DirectoryWithSeparator(paths.front()));
  bool allAccepted = true;
  for (const QString& path : paths) {
    sourceFileName_ = path;
    if (!processSource(true, 0)) {
      allAccepted = false;
      break;
    }
  }
  if (allAccepted) {
    ui_->SrcAnalyzerFile->setText(paths.join(';'));
  } else {
    severalSources_ = false;
    ui_->SrcAnalyzerFile->clear();
    sourceFileName_.clear();
  }
  showSourceFacts(true);
}

void TMainForm::openRecent(int index) {
  QString entry = recentFiles_.value(index);
  if (entry.isEmpty()) return;
  sourceFileName_ = entry;
  ui_->SrcAnalyzerFile->setText(entry);
  severalSources_ = false;
  sourceEdited_ = true;
  selectTarget(true);
  processSource(true, 0);
}

void TMainForm::sourceTextEdited(const QString& text) {
  sourceEdited_ = true;
  severalSources_ = text.contains(';');
  ui_->SourceLabel->setText(severalSources_ ? "Source Files:" : "Source File:");
  ui_->DestinationLabel->setText(severalSources_ ? "Destination Folder:" : "Destination:");
  if (severalSources_) {
    ui_->DstAnalyzerFile->setText(DirectoryWithSeparator(text.section(';', 0, 0)));
  } else {
    ui_->DstAnalyzerFile->clear();
    for (QLineEdit* box : {ui_->AnalyzerType, ui_->SrcTopology, ui_->FileDate, ui_->FileSize})
      box->clear();
  }
  updateConvertButton();
}

void TMainForm::sourceFieldLeft() {
  if (severalSources_ || !sourceEdited_) return;
  sourceEdited_ = false;  // a message box taking the focus must not run this again
  sourceFileName_ = ui_->SrcAnalyzerFile->text();
  selectTarget(true);
  processSource(true, 0);
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  chooseSources(paths);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->SrcAnalyzerFile && event->type() == QEvent::FocusOut) {
    sourceFieldLeft();
  } else if (watched == ui_->Label2 && event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::ShiftModifier))
      toggleUnsupportedTargets();
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TMainForm::processSource(bool openOnly, unsigned holdMilliseconds) {
  if (openOnly) facts_.SourceFrameCount = 0;
  if (sourceFileName_.isEmpty()) {
    sourceEdited_ = false;
    return false;
  }
  lastDirectory_ = QFileInfo(sourceFileName_).absolutePath();

  // Identification starts from the window's libpcap choice; a libpcap
  // source replaces it with its own byte order and variant.
  ConversionState checked;
  PromptHost host(prompter_, this);
  SourceCheck check = CheckSource(checked, caps_, sourceFileName_.toStdString(), host);
  // Refusals other than "no frames" leave the window showing no destination.
  bool noFrames = !check.accepted && checked.SourceHasNoFrames &&
                  SourceSupported(caps_, check.analyzer, check.topology, checked.WanProtocol);
  facts_ = checked;
  if (openOnly) {
    if (check.analyzer == Analyzer::Tcpdump) {
      tcpdumpSwap_ = checked.SourceVariant & PcapVariant::BigEndian;
      tcpdumpModified_ = checked.SourceVariant & PcapVariant::Modified;
    }
    int frames = facts_.SourceFrameCount > 0 ? facts_.SourceFrameCount : kMaxFrameNumber;
    ui_->StartFrame->setMaximum(frames);
    ui_->EndFrame->setMaximum(frames);
    ui_->EndFrame->setValue(frames);
  }

  bool result = false;
  if (check.accepted || noFrames) {
    // A conversion keeps the format it was asked for (also when the list
    // for this source does not hold it) and the destination the user gave.
    AnalyzerType requested = targetAnalyzer_;
    QString destination = ui_->DstAnalyzerFile->text();
    showSourceFacts(true);
    if (!openOnly) {
      targetAnalyzer_ = requested;
      ui_->DstAnalyzerFile->setText(destination);
    }
    result = check.accepted && (openOnly || convertSource(holdMilliseconds));
  } else {
    ui_->DstAnalyzerFile->clear();
    ui_->SrcAnalyzerFile->setFocus();
    updateConvertButton();
  }
  sourceEdited_ = false;
  return result;
}

JobRequest TMainForm::conversionRequest(unsigned holdMilliseconds) const {
  JobRequest r;
  r.sourcePath = sourceFileName_.toStdString();
  if (severalSources_)
    r.outputDirectory = ui_->DstAnalyzerFile->text().toStdString();
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
  r.pcapSwapBytes = tcpdumpSwap_;
  r.pcapModified = tcpdumpModified_;
  r.textOptions = textDialog_->options();
  r.holdMilliseconds = holdMilliseconds;
  return r;
}

bool TMainForm::convertSource(unsigned holdMilliseconds) {
  if (nameFromSource_) {
    targetFileName_ = defaultTargetName(sourceFileName_);
    ui_->DstAnalyzerFile->setText(targetFileName_);
  }
  if (!severalSources_ && targetFileName_.compare(sourceFileName_, Qt::CaseInsensitive) == 0) {
    prompter_.message(this, "Alert", "Destination cannot be the same as the source file.",
                      MessageIcon::Warning);
    ui_->DstAnalyzerFile->setFocus();
    return false;
  }
  setBusy(true);
  progress_->reset();
  ConversionHost host(prompter_, this, *progress_);
  JobResult result = RunConversionJob(conversionRequest(holdMilliseconds), caps_, host);
  progress_->finish();
  setBusy(false);
  if (QString line = ConversionResultLine(result, host.seconds()); !line.isEmpty())
    statusBar()->showMessage(line);

  lastOutcome_ = result.outcome;
  if (result.yesToAll) overwriteAll_ = true;
  switch (result.outcome) {
    case Outcome::SourceRefused:
    case Outcome::NotOverwritten: return false;
    case Outcome::SameFile:
    case Outcome::DestinationError: ui_->DstAnalyzerFile->setFocus(); return false;
    default: break;
  }
  if (!severalSources_) {
    AddRecentFile(recentFiles_, sourceFileName_);
    refreshRecentMenu();
  }
  return true;
}

// ---------------------------------------------------------------- facts and targets

void TMainForm::showSourceFacts(bool show) {
  Ui::TMainForm& ui = *ui_;
  if (show) {
    const Topology topology = facts_.TraceTopology;
    ui.AnalyzerType->setText(
        Q(SourceDisplayName(facts_.SourceAnalyzer, facts_.SourceVariant, facts_.SourceCompressed)));
    ui.FileComment->setText(Q(facts_.FileComment));
    ui.SourceLabel->setText(severalSources_ ? "Source Files:" : "Source File:");
    ui.DestinationLabel->setText(severalSources_ ? "Destination Folder:" : "Destination:");
    bool slicing = !IsAtmTopology(topology);
    ui.FrameSliceCheckBox->setEnabled(slicing);
    ui.FrameSlice->setEnabled(slicing && ui.FrameSliceCheckBox->isChecked());
    ui.Label7->setEnabled(slicing && ui.FrameSliceCheckBox->isChecked());
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
          interface += Q(WanProtocolName(facts_.WanProtocol));
      }
      ui.SrcTopology->setText(interface);
      // The same texts the identify command prints and the text dump's header uses.
      facts_.SourceFileDateText = FileDateText(sourceFileName_.toStdString());
      ui.FileDate->setText(Q(facts_.SourceFileDateText));
      ui.FileSize->setText(Q(FileSizeText(facts_.SourceFileSize)));
    }
  } else {
    for (QLineEdit* box : {ui.SrcAnalyzerFile, ui.DstAnalyzerFile, ui.AnalyzerType, ui.SrcTopology,
                           ui.FileDate, ui.FileSize, ui.FileComment})
      box->clear();
    for (QWidget* w : std::initializer_list<QWidget*>{ui.FrameSliceCheckBox, ui.FrameSlice, ui.Label7,
                                                      ui.StartFrame, ui.EndFrame, ui.fromTextLabel,
                                                      ui.toTextLabel})
      w->setEnabled(false);
  }
  setWindowTitle("Morphalite");
  updateConvertButton();
  updateOptionsButton();
  bool bsts = show && facts_.SourceAnalyzer == Analyzer::Bsts;
  for (QWidget* w : std::initializer_list<QWidget*>{ui.BSTSLinkLabel, ui.UplinkRadioButton,
                                                    ui.DownlinkRadioButton})
    w->setVisible(bsts);
}

void TMainForm::fillTargetList() {
  Ui::TMainForm& ui = *ui_;
  TargetList list = FillTargetList(caps_, targetClass_, facts_.TraceTopology,
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

void TMainForm::selectTarget(bool fromSource) {
  targetAnalyzer_ = TargetFromListText(ui_->FormatBox->currentText().toStdString());
  QLineEdit* destination = ui_->DstAnalyzerFile;
  // An empty destination field is named from the source as well, so a
  // source chosen while the list was empty still gets a proposal.
  fromSource = fromSource || (destination->text().isEmpty() && !severalSources_);
  QString next = Q(DestinationAfterSelect(destinationRequest(sourceFileName_), fromSource,
                                          severalSources_));
  if (fromSource && !sourceFileName_.isEmpty() && targetAnalyzer_ != Analyzer::Unknown)
    targetFileName_ = next;
  destination->setText(next);
  updateConvertButton();
}

DestinationRequest TMainForm::destinationRequest(const QString& path) const {
  DestinationRequest r;
  r.sourcePath = path.toStdString();
  r.destinationField = ui_->DstAnalyzerFile->text().toStdString();
  r.sourceAnalyzer = facts_.SourceAnalyzer;
  r.targetAnalyzer = targetAnalyzer_;
  r.topology = facts_.TraceTopology;
  r.convertToEthernet = ui_->ConvertToEthernetCheckBox->isChecked();
  r.convertToWireless = ui_->ConvertToWirelessCheckBox->isChecked();
  return r;
}

QString TMainForm::defaultTargetName(const QString& path) const {
  return Q(DefaultTargetName(destinationRequest(path)));
}

void TMainForm::mediaBoxClicked(bool ethernetBox) {
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
  fillTargetList();
}

void TMainForm::toggleUnsupportedTargets() {
  fillTargetList();
  std::string text = ToggleHiddenAnalyzers(caps_);
  fillTargetList();
  prompter_.message(this, "Morphalite", Q(text), MessageIcon::None);
}

void TMainForm::updateConvertButton() {
  // Nothing can be converted while the format list is empty.
  ui_->ConvertBtn->setEnabled(!ui_->SrcAnalyzerFile->text().isEmpty() &&
                              !ui_->DstAnalyzerFile->text().isEmpty() &&
                              targetAnalyzer_ != Analyzer::Unknown);
}

void TMainForm::updateOptionsButton() {
  ui_->OptionsBtn->setVisible(targetAnalyzer_ == Analyzer::Ascii ||
                              targetAnalyzer_ == Analyzer::Tcpdump);
}

// ---------------------------------------------------------------- convert

bool TMainForm::ensureDestinationDirectory() {
  QString text = ui_->DstAnalyzerFile->text();
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

void TMainForm::convertClicked() {
  if (ui_->EndFrame->value() < ui_->StartFrame->value()) {
    prompter_.message(this, "Convert Frame Range",
                      "Starting frame number must be less than or equal to the ending frame number.",
                      MessageIcon::Information);
    return;
  }
  overwriteAll_ = false;
  if (!ensureDestinationDirectory()) return;
  if (severalSources_) {
    const QStringList paths = ui_->SrcAnalyzerFile->text().split(';');
    for (const QString& path : paths) {
      if (path.isEmpty()) continue;
      sourceFileName_ = path;
      targetFileName_.clear();  // named in the destination folder for each source
      sourceEdited_ = true;
      processSource(false, kHoldSeveralSources);
    }
  } else {
    sourceFileName_ = ui_->SrcAnalyzerFile->text();
    targetFileName_ = ui_->DstAnalyzerFile->text();
    sourceEdited_ = true;
    processSource(false, kHoldOneSource);
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Like the disabled Exit button: no closing in the middle of a conversion.
  if (busy_)
    event->ignore();
  else
    QMainWindow::closeEvent(event);
}

void TMainForm::setBusy(bool busy) {
  busy_ = busy;
  Ui::TMainForm& ui = *ui_;
  ui.FileMenu->menuAction()->setEnabled(!busy);
  ui.HelpMenu->menuAction()->setEnabled(!busy);
  for (QWidget* w : std::initializer_list<QWidget*>{ui.OpenBtn, ui.OpenBtn2, ui.ExitBtn})
    w->setEnabled(!busy);
  if (busy)
    ui.ConvertBtn->setEnabled(false);
  else
    updateConvertButton();
}

bool TMainForm::handleStartArguments(const QStringList& args, Outcome* outcome) {
  if (args.isEmpty() || args.front().isEmpty()) return false;
  // A full path, so the recent-files entry still works from elsewhere.
  sourceFileName_ = QFileInfo(args.front()).absoluteFilePath();
  ui_->SrcAnalyzerFile->setText(sourceFileName_);
  sourceEdited_ = true;
  if (args.size() < 2 || args[1].isEmpty()) {
    targetFileName_ = defaultTargetName(sourceFileName_);
    ui_->DstAnalyzerFile->setText(targetFileName_);
    processSource(true, 0);
    return false;
  }
  std::optional<AnalyzerType> code = AnalyzerFromCode(args[1].toStdString());
  if (!code) {
    ui_->DstAnalyzerFile->clear();
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

void TMainForm::refreshRecentMenu() {
  Ui::TMainForm& ui = *ui_;
  QAction* items[] = {ui.MRU1, ui.MRU2, ui.MRU3, ui.MRU4, ui.MRU5, ui.MRU6, ui.MRU7, ui.MRU8};
  for (int i = 0; i < kRecentFileCount; ++i) {
    QString entry = recentFiles_.value(i);
    items[i]->setText(QString("&%1 ").arg(i + 1) + QString(entry).replace("&", "&&"));
    items[i]->setVisible(!entry.isEmpty());
  }
  // An empty submenu would open on nothing.
  ui.ReopenMenu->setEnabled(std::any_of(recentFiles_.begin(), recentFiles_.end(),
                                        [](const QString& entry) { return !entry.isEmpty(); }));
}

void TMainForm::browseSource() {
  QFileDialog dialog(this, "Open Trace File", startDirectory());
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilters(OpenDialogFilters(caps_));
  dialog.setViewMode(QFileDialog::Detail);
  // Qt's own dialog (no desktop dialog at hand) starts with narrow columns;
  // give the names their room.
  const QFontMetrics metrics = fontMetrics();
  dialog.resize(std::max(dialog.width(), metrics.horizontalAdvance('x') * 110),
                std::max(dialog.height(), metrics.height() * 28));
  if (auto* view = dialog.findChild<QTreeView*>("treeView")) {
    view->header()->resizeSection(0, metrics.horizontalAdvance('x') * 45);
    view->header()->setSectionResizeMode(0, QHeaderView::Interactive);
  }
  if (dialog.exec() == QDialog::Accepted) chooseSources(dialog.selectedFiles());
}

void TMainForm::browseDestination() {
  if (severalSources_) {
    QString folder = QFileDialog::getExistingDirectory(this, "Select Destination Directory",
                                                       startDirectory());
    if (folder.isEmpty()) return;
    ui_->DstAnalyzerFile->setText(folder.endsWith('/') ? folder : folder + '/');
  } else {
    QString preset = QDir(startDirectory()).filePath(QFileInfo(ui_->DstAnalyzerFile->text()).fileName());
    QString path = QFileDialog::getSaveFileName(this, "Select Destination File", preset,
                                                "Any File (*)", nullptr,
                                                QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) return;
    ui_->DstAnalyzerFile->setText(path);
  }
  showSourceFacts(true);
}

QString TMainForm::startDirectory() const {
  return QFileInfo(lastDirectory_).isDir() ? lastDirectory_ : QDir::currentPath();
}

void TMainForm::optionsClicked() {
  if (targetAnalyzer_ == Analyzer::Ascii)
    textDialog_->edit();
  else if (targetAnalyzer_ == Analyzer::Tcpdump)
    tcpdumpDialog_->edit(tcpdumpSwap_, tcpdumpModified_);
}

void TMainForm::helpTopics() { showDocument(HelpFilePath(programDirectory_)); }

void TMainForm::readme() { showDocument(ReadmeFilePath(programDirectory_)); }

void TMainForm::showDocument(const QString& path) {
  // A missing document is an error; a desktop without a viewer is not.
  if (OpenDocument(path, openUrl_)) return;
  if (!documentWindow_) documentWindow_ = std::make_unique<DocumentWindow>(this);
  documentWindow_->showDocument(path);
}

void TMainForm::openWebPage(const char* url) { openUrl_(QUrl(QString::fromLatin1(url))); }

void TMainForm::showAbout() {
  QMessageBox::about(this, "About Morphalite",
                     QString("<b>Morphalite</b> %1<br>Network analyzer trace file converter.<br>"
                             "Corvantique")
                         .arg(MORPHALITE_VERSION));
}

}  // namespace morph
