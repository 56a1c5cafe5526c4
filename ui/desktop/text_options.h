// The fields and delimiter of the text dump target. The choice lasts for
// the program run and is not saved.
#pragma once
#include <QDialog>
#include <memory>

#include "formats/text_dump.h"

namespace Ui {
class TextOptionsDialog;
}

namespace morph {

class TextOptionsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TextOptionsDialog(QWidget* parent = nullptr);
  ~TextOptionsDialog() override;

  // What the controls say now.
  TextDumpOptions options() const;
  void setOptions(const TextDumpOptions& options);

  // Runs the dialog; Cancel puts the controls back as they were.
  bool edit();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<Ui::TextOptionsDialog> ui_;
  TextDumpOptions optionsAtShow_;
};

}  // namespace morph
