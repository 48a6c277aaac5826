#include "dialogs/errorbox.h"

#include "core/caption.h"
#include "dialogs/messagebox.h"

void ShowErrorBox(QWidget* parent, const QString& message) {
    ShowMessageBox(parent, QString::fromUtf8(kProgramCaption), message, QMessageBox::Critical);
}
