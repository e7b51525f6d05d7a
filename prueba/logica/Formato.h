// Formato.h: the amount and date formats of the form's two display-formatted fields.
#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <optional>

namespace prueba {

// The amount the text stands for under the locale's number rules (group separators allowed, a value in
// parentheses is negative, as the display format writes it). Empty text, or a text the locale reads as
// infinite or not a number, has no amount.
std::optional<double> LeerMonto(const QString& texto, const QLocale& locale);

// "#,##0.00;(#,##0.00)" with the locale's separators: 1234.5 -> "1,234.50", -3 -> "(3.00)".
QString FormatoMonto(double monto, const QLocale& locale);

// The locale's date separator ('/' when its short format shows none).
QChar SeparadorFecha(const QLocale& locale);
// "dd/mm/yyyy" with the locale's date separator.
QString FormatoFecha(const QDate& fecha, const QLocale& locale);
// A date typed as day, month and year (two- or four-digit year) separated by the locale's separator
// or '/', '-' or '.'.
std::optional<QDate> LeerFecha(const QString& texto, const QLocale& locale);

}  // namespace prueba
