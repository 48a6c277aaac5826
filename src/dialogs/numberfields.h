// The two numeric entry fields of the dialogs.
//
// TIntegerField holds a signed 32-bit value in a number base: |Radix| (2..36) is the base; a
// negative radix means a signed value (+ and - may be typed), a positive one a value shown and
// compared as unsigned. The text shows the value without leading zeros, letters in upper case. Only
// digits of the base (letters in either case, turned to upper case) and, when signed, the sign
// characters can be typed; other printable keys are refused with the beep. A value that is set,
// or left in the field when the focus moves away, outside MinValue..MaxValue becomes the nearer
// bound, with the beep. Up/down buttons and the Up/Down keys step by 1 and stop at the bounds.
// With EditorEnabled false nothing can be typed, pasted or cut, but the buttons still step it;
// such a field, like a disabled one, takes no focus, so that the dialog opens on (and Tab goes
// to) the fields the operator can change.
//
// TNumberTextField is a plain text field for integers: it accepts only "+-0123456789" (other keys
// are refused with the beep); while its number lies outside MinText..MaxText the focus is kept in
// it, but never taken back from another field that keeps it for the same reason. An empty
// field counts as 0 for that check; its text is converted by IntValue(), whose error names the
// field. Four fields joined as an address row take a whole dotted address pasted into any of
// them: each gets its number, held to the rules of typed keys.
//
// Both fields hold pasted, dropped and input-method text to the rules of typed keys: full-width
// digits count as their ASCII digits, and text with any other character is refused whole, with
// the beep.
//
// TIntegerField is as wide as the longest value of its range in its base.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <array>
#include <cstdint>

class QToolButton;

namespace numberfields {
// The value as text in base |radix|: signed (with "-") for a negative radix, as unsigned
// 32 bits for a positive one; upper-case letters, no leading zeros.
QString Format(int value, int radix);
}  // namespace numberfields

class TIntegerField : public QWidget {
    Q_OBJECT

  public:
    explicit TIntegerField(QWidget* parent = nullptr);

    int Radix() const { return radix_; }
    void SetRadix(int radix);
    int MinValue() const { return min_; }
    int MaxValue() const { return max_; }
    void SetRange(int min, int max);
    bool EditorEnabled() const { return editorEnabled_; }
    void SetEditorEnabled(bool on);

    // The value of the text in the field (applying the range as leaving the field does).
    int Value();
    // Sets the value; outside the range it becomes the nearer bound, with the beep.
    void SetValue(int v);
    QString Text() const;
    QLineEdit* Editor() const { return edit_; }
    QToolButton* UpButton() const { return up_; }
    QToolButton* DownButton() const { return down_; }

    // Steps the value by `delta` (+1 or -1), stopping at the bounds.
    void Step(int delta);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // The value as the range compares it: signed, or as unsigned 32 bits.
    int64_t Wide(int v) const {
        return radix_ < 0 ? int64_t{v} : int64_t{static_cast<uint32_t>(v)};
    }
    // `v` within the range, compared as Wide() gives it, as the field's value; with `beep`, a
    // value that had to be moved sounds the beep.
    int Clamp(int64_t v, bool beep = false) const;
    // Puts the text's value in range and shows it; beeps when it had to be changed.
    void Commit();
    void Show(int v);
    // Sizes the text to the longest value of the range in the current base.
    void FitWidth();

    QLineEdit* edit_;
    QToolButton* up_;
    QToolButton* down_;
    class QValidator* validator_ = nullptr;  // owned by edit_; holds pasted text to the radix
    int radix_ = -10;
    int min_ = -2147483647;
    int max_ = 2147483647;
    int value_ = 0;
    bool editorEnabled_ = true;
};

class TNumberTextField : public QLineEdit {
    Q_OBJECT

  public:
    explicit TNumberTextField(QWidget* parent = nullptr);

    void SetRange(const QString& minText, const QString& maxText);
    // The leading number of the text (an optional sign and digits; empty or no digits count
    // as 0) lies within the range.
    bool InRange() const;
    // What a field outside its range is refused with: its name, its text and the range.
    QString RangeRefusal() const;

    // The name conversion errors give the field ("TCP/IP（1）").
    void SetFieldName(const QString& name) { fieldName_ = name; }
    // The text as a decimal integer; anything else throws EConvertError, the field's name
    // before the conversion's own text.
    int IntValue() const;

    // Joins four fields into an address row (left to right).
    static void JoinAddressRow(const std::array<TNumberTextField*, 4>& row);
    // Pastes the clipboard's text: a whole address spreads over the address row, anything else
    // goes in as a typed text would (and is refused as it would be).
    void Paste();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // Spreads a dotted address of four numbers over the address row; false (nothing changed)
    // for any other text or a field outside a row.
    bool PasteAddress(const QString& text);

    // Puts the focus back into this field; a field that loses the focus meanwhile does not
    // take it back in turn.
    void TakeFocusBack();
    friend class TEntryDialog;

    QString minText_ = QStringLiteral("0");
    QString maxText_ = QStringLiteral("255");
    QString fieldName_;
    std::array<TNumberTextField*, 4> row_{};  // siblings, destroyed with this field's dialog
};
