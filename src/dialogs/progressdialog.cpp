#include "dialogs/progressdialog.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

#include "dialogs/dialogs.h"
#include "dialogs/fonts.h"

TProgressDialog::TProgressDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setFont(DialogFont());

    auto* border = new QFrame(this);
    border->setFrameStyle(QFrame::Panel | QFrame::Raised);
    border->setLineWidth(2);

    caption_ = new QLabel(border);
    caption_->setObjectName(QStringLiteral("Caption"));
    caption_->setAutoFillBackground(true);
    caption_->setContentsMargins(6, 3, 6, 3);
    QPalette pal = caption_->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Highlight));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::HighlightedText));
    caption_->setPalette(pal);
    QFont bold = caption_->font();
    bold.setBold(true);
    caption_->setFont(bold);
    caption_->installEventFilter(this);

    message_ = new QLabel(border);
    message_->setAlignment(Qt::AlignCenter);
    message_->setMinimumWidth(280);

    panel_ = new QFrame(border);
    panel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar_ = new QProgressBar(panel_);
    bar_->setValue(0);  // the range is the default one, 0 to 100
    auto* panelLayout = new QVBoxLayout(panel_);
    panelLayout->addWidget(bar_);

    cancel_ = new QPushButton(QStringLiteral("&Cancel"), border);
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &TProgressDialog::reject);

    auto* inner = new QVBoxLayout;
    inner->setContentsMargins(9, 8, 9, 9);
    inner->addWidget(message_);
    inner->addWidget(panel_);
    inner->addWidget(cancel_, 0, Qt::AlignHCenter);
    auto* framed = new QVBoxLayout(border);
    framed->setContentsMargins(2, 2, 2, 2);
    framed->setSpacing(0);
    framed->addWidget(caption_);
    framed->addLayout(inner);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(border);
    setWindowTitle(QStringLiteral("変換実行中"));
}

void TProgressDialog::reject() {
    running_ = false;
}

void TProgressDialog::showEvent(QShowEvent* event) {
    running_ = true;
    QDialog::showEvent(event);
    CenterOnScreen(this);
}

void TProgressDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowTitleChange)
        caption_->setText(windowTitle());
    QDialog::changeEvent(event);
}

bool TProgressDialog::eventFilter(QObject* watched, QEvent* event) {
    // Dragging the caption strip moves the window, as a title bar would.
    if (watched == caption_ && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TProgressDialog::closeEvent(QCloseEvent* event) {
    // Only the caller closes this window; a close request from the window system is a Cancel.
    // (QDialog's own handler would turn every close into reject(), that is, into Cancel.)
    event->setAccepted(!event->spontaneous());
    if (event->spontaneous())
        reject();
}
