// The main window: choose sources, see their facts, pick a target and the
// options, convert. Identification, the target lists, destination names and
// the conversion itself come from the engine; the window runs the user's
// checks and shows the results.
#pragma once
#include <QMainWindow>
#include <QStringList>
#include <memory>

#include "engine/format.h"
#include "engine/job.h"
#include "engine/state.h"
#include "engine/targets.h"
#include "ui/desktop/batch_results.h"
#include "ui/desktop/desktop_settings.h"
#include "ui/desktop/help.h"

class QFileDialog;

namespace Ui {
class MainWindow;
}

namespace morph {

class ElidedLabel;
class Prompter;
class ProgressWindow;
class TcpdumpOptionsDialog;
class TextOptionsDialog;

// The open-dialog patterns of one analyzer's files, its usual suffix first
// ("*.dmp", "*.pcap", "*.cap" for libpcap). The one place that knows them.
QStringList SourcePatterns(AnalyzerType analyzer);
// The filters of the source open dialog.
QStringList OpenDialogFilters(const CapabilitySets& caps);

// Gives the columns of Qt's own file dialog (once shown) room for their texts.
void WidenFileDialogColumns(QFileDialog& dialog);

// Which settings dialog a target has, as its format's descriptor says.
OptionsDialog OptionsDialogFor(AnalyzerType target);

// A failure message of a conversion made to name its file: a temporary's
// name becomes the target's, and a message naming neither file gets the
// source's (a read error) or the target's path.
QString NamingTheFile(const QString& message, const QString& sourcePath,
                      const QString& targetPath);

// The one-line result of a conversion for the status bar: what became of
// it, frames written, the target's name and the time taken, and the reason
// of a failure.
QString ConversionResultLine(const JobResult& result, double seconds);

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // settingsFile: the INI file read now and written when the window goes.
  MainWindow(Prompter& prompter, QString settingsFile, QWidget* parent = nullptr);
  ~MainWindow() override;

  // ---- What the user does ----
  // Open dialog, drag and drop: one or several paths. Refused while a
  // conversion runs.
  void chooseSources(const QStringList& paths);
  // Adds files to the list of several sources (Add..., a drop on the list).
  void addSources(const QStringList& paths);
  // Removes the selected files from the list of several sources.
  void removeSelectedSources();
  // An item of "&Reopen" (0 to 7).
  void openRecent(int index);
  // Leaving the source field after typing.
  void sourceFieldLeft();
  // The Convert button.
  void convertClicked();
  // Shift and a left click on "Analyzer:": FireBerd DNA-323 joins or leaves
  // the Ethernet targets.
  void toggleUnsupportedTargets();
  // Command-line start: SOURCE opens it, SOURCE CODE converts it and ends.
  // Returns true when the program should end now, with the conversion's
  // outcome in *outcome.
  bool handleStartArguments(const QStringList& args, Outcome* outcome);
  // The settings button: the dialog of the chosen target.
  void optionsClicked();
  void helpTopics();
  void readme();
  // The window that shows help and read-me when no viewer opens them.
  DocumentWindow* documentWindow() { return documentWindow_.get(); }

  // ---- The window's own steps ----
  bool processSource(bool openOnly, unsigned holdMilliseconds);
  void showSourceFacts(bool show);
  void fillTargetList();
  void selectTarget(bool fromSource);
  QString defaultTargetName(const QString& path) const;
  DestinationRequest destinationRequest(const QString& path) const;

  // ---- State, for the settings and tests ----
  DesktopSettings currentSettings() const;
  const QStringList& recentFiles() const { return recentFiles_; }
  const QStringList& sources() const { return sources_; }
  // What became of each file of the last conversion run.
  const std::vector<BatchEntry>& lastRun() const { return lastRun_; }
  // The result view of the last run of several files (null before one).
  ResultsDialog* resultsDialog() { return results_.get(); }
  // The lasting result line of the status bar, in full.
  QString resultLine() const;
  bool busy() const { return busy_; }
  AnalyzerType targetAnalyzer() const { return targetAnalyzer_; }
  TargetClass targetClass() const { return targetClass_; }
  bool severalSources() const { return severalSources_; }
  ConversionState& sourceFacts() { return facts_; }
  bool tcpdumpSwapBytes() const { return tcpdumpSwap_; }
  bool tcpdumpModified() const { return tcpdumpModified_; }
  const CapabilitySets& capabilities() const { return caps_; }
  ProgressWindow& progressWindow() { return *progress_; }
  TcpdumpOptionsDialog& tcpdumpOptionsDialog() { return *tcpdumpDialog_; }
  TextOptionsDialog& textOptionsDialog() { return *textDialog_; }
  Outcome lastOutcome() const { return lastOutcome_; }
  // Where help, read-me and web pages are opened (tests replace it).
  void setUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }
  void setProgramDirectory(const QString& directory) { programDirectory_ = directory; }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void connectControls();
  void refreshRecentMenu();
  void sourceTextEdited(const QString& text);
  void browseSource(bool adding = false);
  void browseDestination();
  void updateConvertButton();
  void updateOptionsButton();
  void setBusy(bool busy);
  bool convertSource(unsigned holdMilliseconds);
  void runBatch(const QStringList& batch);
  void refuseWhileBusy();
  void showSourceList(bool several);
  void showRefusal(const QString& reason);
  void setResultLine(const QString& line);
  void recordEntry(BatchEntry entry);
  JobRequest conversionRequest(unsigned holdMilliseconds) const;
  bool ensureDestinationDirectory();
  void mediaBoxClicked(bool ethernetBox);
  void openWebPage(const char* url);
  void showAbout();
  void showDocument(const QString& path);
  void fitFieldsToTheirTexts();
  QString startDirectory() const;

  std::unique_ptr<Ui::MainWindow> ui_;
  Prompter& prompter_;
  QString settingsFile_;
  std::unique_ptr<ProgressWindow> progress_;
  std::unique_ptr<TextOptionsDialog> textDialog_;
  std::unique_ptr<TcpdumpOptionsDialog> tcpdumpDialog_;
  std::unique_ptr<DocumentWindow> documentWindow_;

  CapabilitySets caps_ = DefaultCapabilities();
  ConversionState facts_;  // what identification learnt of the current source
  QString sourceFileName_, targetFileName_;
  AnalyzerType targetAnalyzer_ = Analyzer::Ostrawind;
  TargetClass targetClass_ = TargetClass::Lan;
  QStringList recentFiles_;
  QString lastDirectory_;
  QString lastDestinationDirectory_;
  QString proposedDestination_;  // the destination the window last proposed
  QStringList sources_;  // the files of several sources, in order
  std::vector<BatchEntry> lastRun_;
  std::unique_ptr<ResultsDialog> results_;
  ElidedLabel* resultLabel_ = nullptr;
  bool tcpdumpSwap_ = true, tcpdumpModified_ = false;
  bool severalSources_ = false;
  bool sourceEdited_ = false;
  bool overwriteAll_ = false;
  bool nameFromSource_ = false;
  bool fillingList_ = false;
  bool busy_ = false;  // a conversion is running
  Outcome lastOutcome_ = Outcome::SourceRefused;
  UrlOpener openUrl_ = DesktopUrlOpener();
  QString programDirectory_;
};

}  // namespace morph
