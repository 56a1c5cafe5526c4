#include "ui/desktop/prompter.h"

#include <QMessageBox>
#include <QPushButton>

namespace morph {
namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void BoxPrompter::message(QWidget* parent, const QString& caption, const QString& text,
                          MessageIcon icon) {
  QMessageBox box(BoxIcon(icon), caption, text, QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void BoxPrompter::failure(QWidget* parent, const QString& caption, const QString& text,
                          const QString& detail, MessageIcon icon) {
  QMessageBox box(BoxIcon(icon), caption, text, QMessageBox::Ok, parent);
  box.setInformativeText(detail);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

Answer BoxPrompter::ask(QWidget* parent, const QString& caption, const QString& text,
                        bool yesToAll) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                  parent);
  if (yesToAll) box.addButton(QMessageBox::YesToAll);
  // Enter must never overwrite or create anything by accident.
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  box.setWindowModality(Qt::ApplicationModal);
  switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::YesToAll: return Answer::YesToAll;
    default: return Answer::No;
  }
}

}  // namespace morph
