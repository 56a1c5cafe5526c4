#include "ui/desktop/tcpdump_options.h"

#include "ui_tcpdump_options.h"

namespace morph {

TcpdumpOptionsDialog::TcpdumpOptionsDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TcpdumpOptionsDialog>()) {
  ui_->setupUi(this);
  // Choosing a variant proposes its usual byte order; the user may change it after.
  connect(ui_->StandardLayout, &QRadioButton::clicked, this,
          [this] { ui_->SwapBytesYes->setChecked(true); });
  connect(ui_->ModifiedLayout, &QRadioButton::clicked, this,
          [this] { ui_->SwapBytesNo->setChecked(true); });
  connect(ui_->OkayButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

TcpdumpOptionsDialog::~TcpdumpOptionsDialog() = default;

void TcpdumpOptionsDialog::load(bool swapBytes, bool modified) {
  (modified ? ui_->ModifiedLayout : ui_->StandardLayout)->setChecked(true);
  (swapBytes ? ui_->SwapBytesYes : ui_->SwapBytesNo)->setChecked(true);
}

bool TcpdumpOptionsDialog::swapBytes() const { return ui_->SwapBytesYes->isChecked(); }
bool TcpdumpOptionsDialog::modified() const { return ui_->ModifiedLayout->isChecked(); }

bool TcpdumpOptionsDialog::edit(bool& swap, bool& modifiedVariant) {
  load(swap, modifiedVariant);
  if (exec() != QDialog::Accepted) return false;
  swap = swapBytes();
  modifiedVariant = modified();
  return true;
}

}  // namespace morph
