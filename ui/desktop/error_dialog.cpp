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

ErrorDialog::ErrorDialog(std::function<void()> endProgram, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ErrorDialog>()),
      endProgram_(std::move(endProgram)) {
  ui_->setupUi(this);
  connect(ui_->DetailsButton, &QToolButton::toggled, this, [this](bool open) {
    ui_->DetailsButton->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    ui_->DetailText->setVisible(open);
  });
  ui_->HeadingLabel->setText(ui_->HeadingLabel->text().replace("%s", "Morphalite"));
  // Enter and Escape both reach the one button.
  ui_->AbortButton->setAutoDefault(true);
  connect(ui_->AbortButton, &QPushButton::clicked, this, [this] {
    accept();
    if (endProgram_) endProgram_();
  });
}

ErrorDialog::~ErrorDialog() = default;

void ErrorDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    ui_->AbortButton->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void ErrorDialog::fill(const QString& errorClass, const QString& module,
                                 const QString& message, const QString& detail) {
  ui_->ExceptionLabel->setText(
      QString("Exception %1 in Module %2.").arg(errorClass, module.left(kMaxModuleName)).left(kMaxLine));
  ui_->MessageLabel->setText(ErrorMessageLine(message));
  ui_->DetailText->setPlainText(detail);
  ui_->DetailsButton->setChecked(false);
  ui_->DetailsButton->setVisible(!detail.isEmpty());
}

}  // namespace morph
