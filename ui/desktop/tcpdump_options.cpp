#include "ui/desktop/tcpdump_options.h"

#include "ui_tcpdump_options.h"

namespace morph {

TtcpdumpOptions::TtcpdumpOptions(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TtcpdumpOptions>()) {
  ui_->setupUi(this);
  // Choosing a variant proposes its usual byte order; the user may change it after.
  connect(ui_->tcpdumpTypeStandard, &QRadioButton::clicked, this,
          [this] { ui_->SwapBytesYes->setChecked(true); });
  connect(ui_->tcpdumpTypeModified, &QRadioButton::clicked, this,
          [this] { ui_->SwapBytesNo->setChecked(true); });
  connect(ui_->OkayButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

TtcpdumpOptions::~TtcpdumpOptions() = default;

void TtcpdumpOptions::load(bool swapBytes, bool modified) {
  (modified ? ui_->tcpdumpTypeModified : ui_->tcpdumpTypeStandard)->setChecked(true);
  (swapBytes ? ui_->SwapBytesYes : ui_->SwapBytesNo)->setChecked(true);
}

bool TtcpdumpOptions::swapBytes() const { return ui_->SwapBytesYes->isChecked(); }
bool TtcpdumpOptions::modified() const { return ui_->tcpdumpTypeModified->isChecked(); }

bool TtcpdumpOptions::edit(bool& swap, bool& modifiedVariant) {
  load(swap, modifiedVariant);
  if (exec() != QDialog::Accepted) return false;
  swap = swapBytes();
  modifiedVariant = modified();
  return true;
}

}  // namespace morph
