// CampoFormato.h: a line edit that shows its text in a display format once editing ends.
#pragma once

#include <QLineEdit>

namespace prueba {

// Without an input mask any text can be typed; when the field loses the focus or Enter is pressed, a
// text that reads as an amount (or a date) is rewritten in the display format, with the locale's
// separators. Other text is left as typed.
class CampoFormato : public QLineEdit {
  Q_OBJECT
 public:
  enum class Formato { kMonto, kFecha };
  CampoFormato(Formato formato, QWidget* parent = nullptr);

  // The display format as written for this field, and the prompt character (unused without a mask).
  QString FormatoVisible() const;
  QChar CaracterPrompt() const { return u'_'; }

  void Aplicar();

 protected:
  void focusOutEvent(QFocusEvent* e) override;

 private:
  Formato formato_;
};

}  // namespace prueba
