// The libpcap output options: byte order and record variant of the files
// the program writes.
#pragma once
#include <QDialog>
#include <memory>

namespace Ui {
class TcpdumpOptionsDialog;
}

namespace morph {

class TcpdumpOptionsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TcpdumpOptionsDialog(QWidget* parent = nullptr);
  ~TcpdumpOptionsDialog() override;

  // Shows the flags in the controls.
  void load(bool swapBytes, bool modified);
  // What the controls say now.
  bool swapBytes() const;
  bool modified() const;

  // Runs the dialog; on OK the two flags take the chosen values.
  bool edit(bool& swapBytes, bool& modified);

 private:
  std::unique_ptr<Ui::TcpdumpOptionsDialog> ui_;
};

}  // namespace morph
