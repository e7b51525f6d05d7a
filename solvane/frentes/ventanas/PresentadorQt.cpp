// Message boxes of the window.
#include "PresentadorQt.h"

#include <QMessageBox>
#include <QPushButton>

namespace solvane {

// Style: low four bits the buttons (0 OK, 4 Yes/No), then the icon (16 stop, 32 question,
// 48 exclamation, 64 information). Returns 1 for OK, 6 for Yes, 7 for No.
int PresentadorQt::Mostrar(const std::string& titulo, const std::string& texto, int estilo) {
  QMessageBox caja(padre_);
  caja.setWindowTitle(QString::fromStdString(titulo));
  caja.setText(QString::fromStdString(texto).replace("\r\n", "\n"));
  caja.setWindowModality(Qt::ApplicationModal);
  switch (estilo & 0x70) {
    case 16:
      caja.setIcon(QMessageBox::Critical);
      break;
    case 32:
      caja.setIcon(QMessageBox::Question);
      break;
    case 48:
      caja.setIcon(QMessageBox::Warning);
      break;
    case 64:
      caja.setIcon(QMessageBox::Information);
      break;
    default:
      caja.setIcon(QMessageBox::NoIcon);
      break;
  }
  if ((estilo & 0x0F) == 4) {
    QPushButton* si = caja.addButton(QStringLiteral("Sí"), QMessageBox::YesRole);
    QPushButton* no = caja.addButton(QStringLiteral("No"), QMessageBox::NoRole);
    caja.setDefaultButton(si);
    caja.setEscapeButton(no);
    caja.exec();
    return caja.clickedButton() == si ? kRespuestaSi : kRespuestaNo;
  }
  QPushButton* aceptar = caja.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
  caja.setDefaultButton(aceptar);
  caja.setEscapeButton(aceptar);
  caja.exec();
  return kRespuestaAceptar;
}

}  // namespace solvane
