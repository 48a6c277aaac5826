#include "label/labelrender.h"

#include <dlfcn.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

struct TLoadedRender {
    const TLabelRender* table = nullptr;
    QString error;
};

TLoadedRender LoadRenderModule() {
    const QDir programs =
        QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).dir();
    const QString name = QStringLiteral(NB_LABEL_MODULE_NAME);
    QStringList tried;
    for (const QString& path :
         {programs.filePath(name),
          programs.filePath(QStringLiteral(NB_LABEL_MODULE_INSTALLED "/") + name),
          QStringLiteral(NB_LABEL_MODULE_BUILT)}) {
        if (!QFileInfo::exists(path)) {
            tried << path + QStringLiteral(" がありません");
            continue;
        }
        // Never closed: its functions serve until the process ends.
        void* module = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        using TEntry = const TLabelRender* (*)();
        const auto entry =
            module ? reinterpret_cast<TEntry>(::dlsym(module, kLabelRenderEntry)) : nullptr;
        if (entry)
            return {entry(), {}};
        tried << QString::fromLocal8Bit(::dlerror());
    }
    return {nullptr, QStringLiteral("ラベルを描く部品を読み込めません: ") +
                         tried.join(QStringLiteral("、"))};
}

}  // namespace

const TLabelRender* LoadLabelRender(QString* error) {
    static const TLoadedRender loaded = LoadRenderModule();
    if (!loaded.table)
        *error = loaded.error;
    return loaded.table;
}
