#include "dialogs/errorbox.h"

#include <QMessageBox>

void ShowErrorBox(QWidget* parent, const QString& message) {
    QMessageBox::critical(parent, QString::fromUtf8(kProgramCaption), message);
}
