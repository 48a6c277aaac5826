#include "dialogs/messagebox.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <algorithm>

namespace {

// A QMessageBox that sizes itself to its caption and its lines instead of wrapping its text at
// half the screen's width. The box's own sizing runs again on every layout request, so this
// sizing follows it each time.
class TFittedMessageBox : public QMessageBox {
  public:
    using QMessageBox::QMessageBox;

  protected:
    bool event(QEvent* e) override {
        const bool result = QMessageBox::event(e);
        if (e->type() == QEvent::LayoutRequest)
            Fit();
        return result;
    }
    void showEvent(QShowEvent* e) override {
        QMessageBox::showEvent(e);
        Fit();
        // The box was placed for its size before the fitting; place it again, within the
        // screen. A parent not shown yet (a box at start-up) has no place of its own to
        // centre on: the box then stands in the middle of its screen.
        if (e->spontaneous())
            return;
        const QWidget* parent = parentWidget();
        if (!parent || parent->window()->isVisible())
            adjustPosition(parentWidget());
        else if (const QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }

  private:
    void Fit() {
        auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        if (!label || !layout() || !screen || !isVisible())
            return;
        // Within the screen, the window's frame included.
        const int frame = std::max(0, frameGeometry().width() - geometry().width());
        const int limit = screen->availableGeometry().width() - std::max(frame, 16);
        QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
        titleFont.setBold(true);
        // Beside the caption the window manager puts the window icon and the title bar's
        // buttons, with their margins.
        const int button = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
        const int title =
            QFontMetrics(titleFont).horizontalAdvance(windowTitle()) + 5 * button + 24;
        label->setWordWrap(false);
        layout()->invalidate();
        int width = std::max(layout()->totalMinimumSize().width(), title);
        if (width > limit) {
            // Only a line wider than the screen wraps.
            label->setWordWrap(true);
            width = limit;
        }
        const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width)
                                                         : layout()->totalMinimumSize().height();
        if (size() != QSize(width, height) || minimumSize() != maximumSize())
            setFixedSize(width, height);
        // The size is settled; the request the resize posted would only start over.
        QCoreApplication::removePostedEvents(this, QEvent::LayoutRequest);
    }
};

}  // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& caption,
                                           const QString& text, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton) {
    TFittedMessageBox box(icon, caption, text, buttons, parent);
    const std::pair<QMessageBox::StandardButton, const char*> labels[] = {
        {QMessageBox::Yes, "はい"},
        {QMessageBox::No, "いいえ"},
        {QMessageBox::Cancel, "キャンセル"}};
    for (const auto& [which, label] : labels)
        if (QAbstractButton* b = box.button(which))
            b->setText(QString::fromUtf8(label));
    if (defaultButton != QMessageBox::NoButton) {
        box.setDefaultButton(defaultButton);
    } else {
        // As the standard boxes do: the first accepting button is the default one.
        for (QAbstractButton* b : box.buttons()) {
            if (box.buttonRole(b) == QMessageBox::AcceptRole) {
                box.setDefaultButton(qobject_cast<QPushButton*>(b));
                break;
            }
        }
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
