#include "dialogs/numberfields.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValidator>
#include <algorithm>

#include "core/exceptions.h"
#include "dialogs/beep.h"

namespace numberfields {

namespace {
int Base(int radix) {
    const int b = radix < 0 ? -radix : radix;
    return b < 2 ? 10 : b > 36 ? 36 : b;
}
int DigitValue(QChar c) {
    const ushort u = c.toUpper().unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'Z')
        return u - 'A' + 10;
    return -1;
}

// The number at the start of `text`: a sign where `sign` allows one, then the digits of `base`
// up to the first other character (no digits give 0); `end` receives where they end. The
// number saturates beyond 32 bits, so that an overlong one still clamps to the right bound.
int64_t LeadingNumber(const QString& text, bool sign = true, int base = 10,
                      qsizetype* end = nullptr) {
    qsizetype i = 0;
    const bool negative = sign && !text.isEmpty() && text[0] == '-';
    if (sign && !text.isEmpty() && (text[0] == '+' || negative))
        ++i;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i]);
        if (d < 0 || d >= base)
            break;
        v = std::min(v * base + d, int64_t{1} << 40);
    }
    if (end)
        *end = i;
    return negative ? -v : v;
}

// A full-width digit as its ASCII digit; any other character as it is.
QChar Narrow(QChar c) {
    const ushort u = c.unicode();
    return u >= 0xFF10 && u <= 0xFF19 ? QChar(u - 0xFF10 + '0') : c;
}

// Whether `c` can be typed into a field of this radix.
bool Typeable(QChar c, int radix) {
    c = Narrow(c);
    if (radix < 0 && (c == '+' || c == '-'))
        return true;
    const int d = DigitValue(c);
    return d >= 0 && d < Base(radix);
}

}  // namespace

QString Format(int value, int radix) {
    const int base = Base(radix);
    if (radix < 0)
        return QString::number(static_cast<qlonglong>(value), base).toUpper();
    return QString::number(static_cast<qulonglong>(static_cast<uint32_t>(value)), base).toUpper();
}

}  // namespace numberfields

namespace {

// Holds a field's text to a character rule whichever way the text comes in (typed, pasted,
// dropped or composed by an input method): full-width digits become ASCII digits, letters
// upper case, and a change that brings in any other character is refused whole (the field
// then emits inputRejected, which sounds the beep).
class CharRuleValidator : public QValidator {
  public:
    // `allowed` tells whether a character may stand in a field of the radix given.
    CharRuleValidator(bool (*allowed)(QChar, int), int radix, QObject* parent)
        : QValidator(parent), allowed_(allowed), radix_(radix) {}
    // The validator keeps its own copy of the radix: the line edit may ask it while the field
    // that owns both is being destroyed.
    void SetRadix(int radix) { radix_ = radix; }

    State validate(QString& input, int& /*pos*/) const override {
        for (qsizetype i = 0; i < input.size(); ++i) {
            const QChar c = numberfields::Narrow(input[i]).toUpper();
            if (!allowed_(c, radix_))
                return Invalid;
            if (c != input[i])
                input[i] = c;
        }
        // Acceptable, not Intermediate: Enter in the field must still reach the dialog.
        return Acceptable;
    }

  private:
    bool (*allowed_)(QChar, int);
    int radix_;
};

// An input method's composition replaces the selection as soon as it starts; when its text is
// then refused, the field gets back what it held before the composition began (not an empty
// field, which would count as 0).
class CompositionGuard : public QObject {
  public:
    explicit CompositionGuard(QLineEdit* edit) : QObject(edit), edit_(edit) {
        edit->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != edit_ || event->type() != QEvent::InputMethod)
            return false;
        auto* im = static_cast<QInputMethodEvent*>(event);
        if (!composing_)
            before_ = edit_->text();
        composing_ = !im->preeditString().isEmpty();
        QString commit = im->commitString();
        int pos = 0;
        if (commit.isEmpty() || !edit_->validator() ||
            edit_->validator()->validate(commit, pos) != QValidator::Invalid)
            return false;
        const QString before = before_;  // the event below passes through here again
        QInputMethodEvent end;           // ends the composition without text
        QCoreApplication::sendEvent(edit_, &end);
        edit_->setText(before);
        SystemBeep();
        return true;
    }

  private:
    QLineEdit* edit_;
    QString before_;
    bool composing_ = false;
};

// A key that types one printable character (not a shortcut with Ctrl or Alt).
bool TypesCharacter(const QKeyEvent* k) {
    const QString t = k->text();
    return t.size() == 1 && t[0].isPrint() &&
           !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

CharRuleValidator* HoldToCharRule(QLineEdit* edit, bool (*allowed)(QChar, int), int radix) {
    auto* v = new CharRuleValidator(allowed, radix, edit);
    edit->setValidator(v);
    new CompositionGuard(edit);
    QObject::connect(edit, &QLineEdit::inputRejected, edit, [] { SystemBeep(); });
    return v;
}

}  // namespace

TIntegerField::TIntegerField(QWidget* parent)
    : QWidget(parent),
      edit_(new QLineEdit(this)),
      up_(new QToolButton(this)),
      down_(new QToolButton(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(edit_);
    auto* buttons = new QVBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(0);
    for (QToolButton* b : {up_, down_}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        b->setFixedSize(16, 11);
        buttons->addWidget(b);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    row->addLayout(buttons);
    setFocusProxy(edit_);
    edit_->installEventFilter(this);
    validator_ = HoldToCharRule(edit_, numberfields::Typeable, radix_);
    connect(up_, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    Show(0);
    FitWidth();
}

void TIntegerField::SetRadix(int radix) {
    radix_ = radix;
    static_cast<CharRuleValidator*>(validator_)->SetRadix(radix);
    Show(value_);
    FitWidth();
}

void TIntegerField::FitWidth() {
    // As wide as the longest text of the range, plus the frame and the text margins.
    const QFontMetrics fm(edit_->font());
    const int text = std::max(fm.horizontalAdvance(numberfields::Format(min_, radix_)),
                              fm.horizontalAdvance(numberfields::Format(max_, radix_)));
    const int frame = edit_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit_);
    edit_->setFixedWidth(text + 2 * frame + 10);
}

void TIntegerField::SetRange(int min, int max) {
    min_ = min;
    max_ = max;
    FitWidth();
}

void TIntegerField::SetEditorEnabled(bool on) {
    editorEnabled_ = on;
    edit_->setReadOnly(!on);
    edit_->setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus);
}

QString TIntegerField::Text() const {
    return edit_->text();
}

void TIntegerField::Show(int v) {
    value_ = v;
    edit_->setText(numberfields::Format(v, radix_));
}

int TIntegerField::Clamp(int64_t v, bool beep) const {
    const int64_t lo = Wide(min_);
    const int64_t hi = Wide(max_);
    const int64_t c = v < lo ? lo : v > hi ? hi : v;
    if (beep && c != v)
        SystemBeep();
    return static_cast<int>(static_cast<uint32_t>(c));
}

void TIntegerField::SetValue(int v) {
    Show(Clamp(Wide(v), true));
}

void TIntegerField::Commit() {
    // An empty field, or a lone sign, is 0; only digits of the base can be typed, and any
    // other text counts as 0 too.
    qsizetype end = 0;
    int64_t parsed =
        numberfields::LeadingNumber(edit_->text(), radix_ < 0, numberfields::Base(radix_), &end);
    if (end != edit_->text().size())
        parsed = 0;
    const int v = Clamp(parsed, true);
    // A clamped value is always shown anew, its text being another number's.
    if (edit_->text() != numberfields::Format(v, radix_))
        Show(v);
    value_ = v;
}

int TIntegerField::Value() {
    Commit();
    return value_;
}

void TIntegerField::Step(int delta) {
    if (!isEnabled())
        return;
    Commit();
    Show(Clamp(Wide(value_) + delta));
}

bool TIntegerField::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edit_)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Up || k->key() == Qt::Key_Down) {
            Step(k->key() == Qt::Key_Up ? +1 : -1);
            return true;
        }
        if (TypesCharacter(k)) {
            if (!editorEnabled_)
                return true;  // read-only: nothing is typed
            if (!numberfields::Typeable(k->text()[0], radix_)) {
                SystemBeep();
                return true;
            }
            edit_->insert(k->text().toUpper());
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        Commit();
    }
    return QWidget::eventFilter(watched, event);
}

void TIntegerField::changeEvent(QEvent* event) {
    // (The buttons, being children, are enabled and disabled with the field.)
    if (event->type() == QEvent::FontChange)
        FitWidth();
    QWidget::changeEvent(event);
}

namespace {

bool FmtTypeable(QChar c, int /*radix*/ = 10) {
    return QStringLiteral("+-0123456789").contains(numberfields::Narrow(c));
}

// Set while a number text field takes the focus back, so that the field losing it does not
// take it back in turn (two fields out of range would pass the focus to and fro for ever).
bool g_takingFocusBack = false;

}  // namespace

TNumberTextField::TNumberTextField(QWidget* parent) : QLineEdit(parent) {
    HoldToCharRule(this, FmtTypeable, 10);
    // A refusal's text stays at the field until its value is within range again.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (InRange())
            setToolTip(QString());
    });
}

void TNumberTextField::SetRange(const QString& minText, const QString& maxText) {
    minText_ = minText;
    maxText_ = maxText;
}

bool TNumberTextField::InRange() const {
    const int64_t v = numberfields::LeadingNumber(text());
    return v >= numberfields::LeadingNumber(minText_) && v <= numberfields::LeadingNumber(maxText_);
}

QString TNumberTextField::RangeRefusal() const {
    return QStringLiteral("%1: %2 は %3～%4 の範囲で入力してください")
        .arg(fieldName_.isEmpty() ? QStringLiteral("入力欄") : fieldName_, text(), minText_,
             maxText_);
}

int TNumberTextField::IntValue() const {
    try {
        return StrToInt(text());
    } catch (const EConvertError& e) {
        if (fieldName_.isEmpty())
            throw;
        throw EConvertError(fieldName_ + QStringLiteral(": ") + e.Message());
    }
}

void TNumberTextField::JoinAddressRow(const std::array<TNumberTextField*, 4>& row) {
    for (TNumberTextField* f : row)
        f->row_ = row;
}

bool TNumberTextField::PasteAddress(const QString& text) {
    if (!row_[0])
        return false;
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    QStringList numbers;
    for (const QString& part : parts) {
        QString number;
        for (QChar c : part) {
            if (!FmtTypeable(c))
                return false;
            number += numberfields::Narrow(c);
        }
        if (std::none_of(number.begin(), number.end(), [](QChar c) { return c.isDigit(); }))
            return false;
        numbers << number;
    }
    for (size_t i = 0; i < row_.size(); ++i)
        row_[i]->setText(numbers[static_cast<int>(i)]);
    // The focus goes where typing would have ended, or to the first number out of range, which
    // would have kept it.
    TNumberTextField* next = row_.back();
    for (TNumberTextField* f : row_) {
        if (!f->InRange()) {
            next = f;
            break;
        }
    }
    next->setFocus(Qt::OtherFocusReason);
    return true;
}

void TNumberTextField::Paste() {
    if (isReadOnly())
        return;
    if (!PasteAddress(QGuiApplication::clipboard()->text()))
        paste();
}

void TNumberTextField::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QAction* a : menu->actions()) {
        // The standard menu's Paste item is the one connected to paste(), by name or by member
        // pointer as the Qt version has it.
        if (disconnect(a, SIGNAL(triggered()), this, SLOT(paste())) ||
            disconnect(a, &QAction::triggered, this, &QLineEdit::paste))
            connect(a, &QAction::triggered, this, [this] { Paste(); });
    }
    menu->popup(event->globalPos());
}

void TNumberTextField::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Paste) {
        Paste();
        return;
    }
    if (TypesCharacter(event) && !FmtTypeable(event->text()[0])) {
        SystemBeep();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TNumberTextField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Moving the focus from inside a focus change confuses the widget that is receiving it;
    // take it back as soon as the change is complete.
    if (!InRange() && !g_takingFocusBack && event->reason() != Qt::ActiveWindowFocusReason &&
        event->reason() != Qt::PopupFocusReason) {
        QTimer::singleShot(0, this, [this] {
            if (!InRange() && isVisible())
                TakeFocusBack();
        });
    }
}

void TNumberTextField::TakeFocusBack() {
    g_takingFocusBack = true;
    setFocus(Qt::OtherFocusReason);
    g_takingFocusBack = false;
}
