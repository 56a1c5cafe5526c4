// Every message box of the window goes through a Prompter, so tests can
// answer questions without a modal loop.
#pragma once
#include <QString>

#include "engine/host.h"

class QWidget;

namespace morph {

class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual void message(QWidget* parent, const QString& caption, const QString& text,
                       MessageIcon icon) = 0;
  // A failed read or write: the fixed message, then the reason behind it.
  virtual void failure(QWidget* parent, const QString& caption, const QString& text,
                       const QString& detail, MessageIcon icon) {
    message(parent, caption, detail.isEmpty() ? text : text + "\n" + detail, icon);
  }
  // Yes and No, and Yes to All when offered.
  virtual Answer ask(QWidget* parent, const QString& caption, const QString& text,
                     bool yesToAll) = 0;
};

// Application-modal QMessageBox boxes.
class BoxPrompter : public Prompter {
 public:
  void message(QWidget* parent, const QString& caption, const QString& text,
               MessageIcon icon) override;
  void failure(QWidget* parent, const QString& caption, const QString& text,
               const QString& detail, MessageIcon icon) override;
  Answer ask(QWidget* parent, const QString& caption, const QString& text,
             bool yesToAll) override;
};

}  // namespace morph
