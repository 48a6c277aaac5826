#include "dialogs/savefiledialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>

namespace {

// Icons and types by what the directory entry says, never by the file's bytes.
class TNameOnlyIconProvider : public QFileIconProvider {
  public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override {
        return icon(info.isDir() ? QAbstractFileIconProvider::Folder
                                 : QAbstractFileIconProvider::File);
    }
    QString type(const QFileInfo& info) const override {
        if (info.isDir())
            return QStringLiteral("フォルダ");
        return info.suffix().isEmpty() ? QStringLiteral("ファイル")
                                       : info.suffix().toUpper() + QStringLiteral(" ファイル");
    }
};

}  // namespace

QString AskSaveFileName(QWidget* parent, const QString& caption, const QString& name,
                        const QString& filter) {
    TNameOnlyIconProvider icons;
    QFileDialog dialog(parent, caption, QDir::home().filePath(name), filter);
    // A dialog of the desktop's own would look into the files it lists.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&icons);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
