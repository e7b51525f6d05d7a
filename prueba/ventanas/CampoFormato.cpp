// CampoFormato.cpp: display formatting of the amount and date fields.
#include "CampoFormato.h"

#include <QLocale>

#include "Formato.h"

namespace prueba {

CampoFormato::CampoFormato(Formato formato, QWidget* parent) : QLineEdit(parent), formato_(formato) {
  connect(this, &QLineEdit::editingFinished, this, &CampoFormato::Aplicar);
}

QString CampoFormato::FormatoVisible() const {
  return formato_ == Formato::kMonto ? QStringLiteral("#,##0.00;(#,##0.00)") : QStringLiteral("dd/mm/yyyy");
}

void CampoFormato::Aplicar() {
  const QLocale locale;
  if (formato_ == Formato::kMonto) {
    if (auto m = LeerMonto(text(), locale)) setText(FormatoMonto(*m, locale));
  } else if (auto f = LeerFecha(text(), locale)) {
    setText(FormatoFecha(*f, locale));
  }
}

void CampoFormato::focusOutEvent(QFocusEvent* e) {
  Aplicar();
  QLineEdit::focusOutEvent(e);
}

}  // namespace prueba
