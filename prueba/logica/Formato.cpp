// Formato.cpp: reading and writing amounts and dates as the form shows them.
#include "Formato.h"

#include <QRegularExpression>
#include <cmath>

namespace prueba {

std::optional<double> LeerMonto(const QString& texto, const QLocale& locale) {
  QString t = texto.trimmed();
  bool negativo = false;
  if (t.size() >= 2 && t.front() == u'(' && t.back() == u')') {
    t = t.mid(1, t.size() - 2).trimmed();
    negativo = true;
  }
  if (t.isEmpty()) return std::nullopt;
  bool ok = false;
  const double v = locale.toDouble(t, &ok);
  if (!ok || !std::isfinite(v)) return std::nullopt;
  return negativo ? -v : v;
}

QString FormatoMonto(double monto, const QLocale& locale) {
  QLocale l = locale;
  l.setNumberOptions(l.numberOptions() & ~QLocale::OmitGroupSeparator);
  QString cifras = l.toString(std::fabs(monto), 'f', 2);
  // A negative that rounds to zero shows as zero, as the format's first section would.
  if (monto < 0 && cifras != l.toString(0.0, 'f', 2)) return u'(' + cifras + u')';
  return cifras;
}

QChar SeparadorFecha(const QLocale& locale) {
  for (QChar c : locale.dateFormat(QLocale::ShortFormat))
    if (!c.isLetter() && !c.isSpace() && c != u'\'') return c;
  return u'/';
}

QString FormatoFecha(const QDate& fecha, const QLocale& locale) {
  const QChar s = SeparadorFecha(locale);
  return QStringLiteral("%1%2%3%4%5")
      .arg(fecha.day(), 2, 10, QChar(u'0'))
      .arg(s)
      .arg(fecha.month(), 2, 10, QChar(u'0'))
      .arg(s)
      .arg(fecha.year(), 4, 10, QChar(u'0'));
}

std::optional<QDate> LeerFecha(const QString& texto, const QLocale& locale) {
  const QString separadores =
      QRegularExpression::escape(QString(SeparadorFecha(locale)) + QStringLiteral("/.-"));
  static const QString kPatron = QStringLiteral("^(\\d{1,2})[%1](\\d{1,2})[%1](\\d{2}|\\d{4})$");
  const QRegularExpression patron(kPatron.arg(separadores));
  const auto m = patron.match(texto.trimmed());
  if (!m.hasMatch()) return std::nullopt;
  int anio = m.captured(3).toInt();
  if (m.captured(3).size() == 2) anio += anio < 30 ? 2000 : 1900;
  const QDate d(anio, m.captured(2).toInt(), m.captured(1).toInt());
  if (!d.isValid()) return std::nullopt;
  return d;
}

}  // namespace prueba
