#include "ui/desktop/error_dialog.h"

#include <QKeyEvent>

#include "ui_error_dialog.h"

namespace morph {
namespace {
constexpr int kMaxLine = 255;
constexpr int kMaxModuleName = 63;
}  // namespace

QString ErrorMessageLine(const QString& message) {
  QString line = message;
  if (!line.isEmpty() && !line.endsWith('.')) line += '.';
  return line.left(kMaxLine);
}

TErrorInformationForm::TErrorInformationForm(std::function<void()> endProgram, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::TErrorInformationForm>()),
      endProgram_(std::move(endProgram)) {
  ui_->setupUi(this);
  connect(ui_->DetailsButton, &QToolButton::toggled, this, [this](bool open) {
    ui_->DetailsButton->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    ui_->DetailText->setVisible(open);
  });
  ui_->Label1->setText(ui_->Label1->text().replace("%s", "Morphalite"));
  // Enter and Escape both reach the one button.
  ui_->AbortButton->setAutoDefault(true);
  connect(ui_->AbortButton, &QPushButton::clicked, this, [this] {
    accept();
    if (endProgram_) endProgram_();
  });
}

TErrorInformationForm::~TErrorInformationForm() = default;

void TErrorInformationForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    ui_->AbortButton->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TErrorInformationForm::fill(const QString& errorClass, const QString& module,
                                 const QString& message, const QString& detail) {
  ui_->ErrorInfo1->setText(
      QString("Exception %1 in Module %2.").arg(errorClass, module.left(kMaxModuleName)).left(kMaxLine));
  ui_->ErrorInfo2->setText(ErrorMessageLine(message));
  ui_->DetailText->setPlainText(detail);
  ui_->DetailsButton->setChecked(false);
  ui_->DetailsButton->setVisible(!detail.isEmpty());
}

}  // namespace morph
