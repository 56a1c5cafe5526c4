#include "ui/desktop/text_options.h"

#include "ui_text_options.h"

namespace morph {

TextOptionsDialog::TextOptionsDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TextOptionsDialog>()) {
  ui_->setupUi(this);
  connect(ui_->OkayButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  // Cancel (button, Escape or the frame) restores the choice made before.
  connect(this, &QDialog::rejected, this, [this] { setOptions(optionsAtShow_); });
}

TextOptionsDialog::~TextOptionsDialog() = default;

TextDumpOptions TextOptionsDialog::options() const {
  TextDumpOptions o;
  o.descriptiveHeader = ui_->IncludeHeaderCheckBox->isChecked();
  o.fieldHeaders = ui_->IncludeFieldHeadersCheckBox->isChecked();
  o.delimiter = ui_->OutputTypeComma->isChecked()   ? TextDumpOptions::Delimiter::Comma
                : ui_->OutputTypeFixed->isChecked() ? TextDumpOptions::Delimiter::Fixed
                                                    : TextDumpOptions::Delimiter::Tab;
  o.frameNumber = ui_->FrameNumberCheckBox->isChecked();
  o.frameLength = ui_->FrameLenCheckBox->isChecked();
  o.timestampDate = ui_->TimeStampDateCheckBox->isChecked();
  o.timestampMicros = ui_->TimestampCheckBox->isChecked();
  o.dataHex = ui_->FrameDataCheckBox->isChecked();
  o.dataAscii = ui_->FrameDataASCIICheckBox->isChecked();
  return o;
}

void TextOptionsDialog::setOptions(const TextDumpOptions& o) {
  ui_->IncludeHeaderCheckBox->setChecked(o.descriptiveHeader);
  ui_->IncludeFieldHeadersCheckBox->setChecked(o.fieldHeaders);
  switch (o.delimiter) {
    case TextDumpOptions::Delimiter::Tab: ui_->OutputTypeTab->setChecked(true); break;
    case TextDumpOptions::Delimiter::Comma: ui_->OutputTypeComma->setChecked(true); break;
    case TextDumpOptions::Delimiter::Fixed: ui_->OutputTypeFixed->setChecked(true); break;
  }
  ui_->FrameNumberCheckBox->setChecked(o.frameNumber);
  ui_->FrameLenCheckBox->setChecked(o.frameLength);
  ui_->TimeStampDateCheckBox->setChecked(o.timestampDate);
  ui_->TimestampCheckBox->setChecked(o.timestampMicros);
  ui_->FrameDataCheckBox->setChecked(o.dataHex);
  ui_->FrameDataASCIICheckBox->setChecked(o.dataAscii);
}

void TextOptionsDialog::showEvent(QShowEvent* event) {
  optionsAtShow_ = options();
  QDialog::showEvent(event);
}

bool TextOptionsDialog::edit() { return exec() == QDialog::Accepted; }

}  // namespace morph
