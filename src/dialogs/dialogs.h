// The entry dialogs and the about box. Each is created by the command that needs it, filled
// from the board parameter record in one place, shown modally, and copied back in one place
// only when it is accepted.
#pragma once

#include <QDialog>
#include <QIcon>
#include <functional>
#include <vector>

#include "core/settings.h"
#include "dialogs/numberfields.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;
class QHBoxLayout;
struct TBoardReadback;

// Base of the entry dialogs and the about box: the dialog font, centred on the screen, and no
// acceptance while one of its number text fields holds a number outside its range (the focus
// goes back there).
//
// Each field that shows a member of the board parameter record is bound to it, with the range
// the settings table gives; filling and copying back run over the bound fields in the table's
// order.
class TEntryDialog : public QDialog {
    Q_OBJECT

  public:
    explicit TEntryDialog(QWidget* parent);
    void accept() override;

    // Fills every bound field from the record; without `withMac` the MAC address fields keep
    // what they hold.
    void FillFrom(const TBoardParams& p, bool withMac = true);
    // Copies every bound field into the record in the table's order. A number text field that
    // is not a decimal integer throws EConvertError naming the field; the members before it
    // keep their new values.
    void CopyTo(TBoardParams* p);

  protected:
    void showEvent(QShowEvent* event) override;
    // Appends a right-aligned row with the accepting button (the default one) and
    // "キャンセル" (also Escape).
    void AddButtonRow(class QBoxLayout* into, const QString& okText, QPushButton** ok,
                      QPushButton** cancel);

    using Member = int TBoardParams::*;
    // Binds `member` to the field that shows it.
    void Bind(Member member, std::function<void(int)> set, std::function<int()> get);
    // An integer field bound to `member`, with the member's range.
    TIntegerField* IntField(Member member, int radix = -10);
    // A row of four number text fields with "：" between them, stored into `fields` and bound
    // to the four members of the address setting that `first` belongs to; a whole address
    // pasted into one of them fills the row. `name` names the fields in conversion errors
    // ("TCP/IP（1）").
    QHBoxLayout* AddressRow(Member first, const QString& name,
                            const std::array<TNumberTextField**, 4>& fields);
    // Sets the bound field of `member`, if there is one.
    void SetMember(Member member, int value);
    // Gives each widget its object name, by which tests and tools find it.
    static void Name(std::initializer_list<std::pair<QObject*, const char*>> widgets);

  private:
    struct Binding {
        Member member;
        std::function<void(int)> set;
        std::function<int()> get;
    };
    const Binding* Bound(Member member) const;
    std::vector<Binding> bindings_;
};

// The board parameter dialog.
class TSettingsDialog : public TEntryDialog {
    Q_OBJECT

  public:
    explicit TSettingsDialog(QWidget* parent = nullptr);

    // Hides the MAC row: the six MAC fields, the five "-" labels, the "MACアドレス" label and
    // the line under them.
    void HideMacRow();
    // The list's entry index and the radio buttons' index (-1 when none is selected). An index
    // that names no entry leaves the list without a selection and without text, since the
    // speed line then asks for 9600 bit/s, whatever a text would say.
    int SpeedIndex() const;
    void SetSpeedIndex(int index);
    int KeepIndex() const;
    void SetKeepIndex(int index);

    // "出荷時設定": the factory settings into the fields (not the MAC fields).
    void FillFactorySettings();

    // The dialog of a check-and-set: the MAC fields cannot be typed into (with `disableMac` all
    // six are disabled too), and "出荷時設定" is shown when `showDefault`. The fields keep their
    // creation state until FillFromBoard fills them.
    void PrepareForCheckAndSet(bool disableMac, bool showDefault);
    // Fills the fields whose values the board gave; the others keep what they hold.
    void FillFromBoard(const TBoardReadback& board);

  private:
    TIntegerField* macFixed1_;
    TIntegerField* macFixed2_;
    TIntegerField* macFixed3_;
    TIntegerField* mac1_;
    TIntegerField* mac2_;
    TIntegerField* mac3_;
    QLabel* macLabel_;     // "MACアドレス"
    QLabel* macLastDash_;  // the last "-" label of the MAC row
    QFrame* macLine_;      // the line under the MAC row
    TNumberTextField* ownIp1_;
    TNumberTextField* ownIp2_;
    TNumberTextField* ownIp3_;
    TNumberTextField* ownIp4_;
    TIntegerField* ownPort_;
    TNumberTextField* destIp1_;
    TNumberTextField* destIp2_;
    TNumberTextField* destIp3_;
    TNumberTextField* destIp4_;
    TIntegerField* destPort_;
    TIntegerField* mask_;
    QCheckBox* autoConnect_;
    QComboBox* speed_;
    QButtonGroup* keep_;
    QRadioButton* keepOff_;
    QRadioButton* keepOn_;
    TIntegerField* txTiming_;
    TIntegerField* idleTimer_;
    QPushButton* factoryButton_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
    QHBoxLayout* macRow_;  // the six MAC fields and the "-" labels between them
};

// The MAC address dialog.
class TMacAddressDialog : public TEntryDialog {
    Q_OBJECT

  public:
    explicit TMacAddressDialog(QWidget* parent = nullptr);

  private:
    TIntegerField* mac1_;
    TIntegerField* mac2_;
    TIntegerField* mac3_;
    QLabel* fixedPrefix_;  // "02-5A-C3-"
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

// The telnet target dialog.
class TTelnetTargetDialog : public TEntryDialog {
    Q_OBJECT

  public:
    explicit TTelnetTargetDialog(QWidget* parent = nullptr);

    void FillBoardAddress();  // "Default1(Board)": 10.16.77.170
    void FillResetAddress();  // "Default2(Reset)": 192.168.0.1

  private:
    TNumberTextField* ownIp1_;
    TNumberTextField* ownIp2_;
    TNumberTextField* ownIp3_;
    TNumberTextField* ownIp4_;
    QPushButton* boardButton_;
    QPushButton* resetButton_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

// The integer entry dialog: a title line and one integer field.
class TNumberDialog : public TEntryDialog {
    Q_OBJECT

  public:
    // `title` and `prompt` above a decimal field holding `value` within `min`..`max`.
    TNumberDialog(QWidget* parent, const QString& title, const QString& prompt, int min, int max,
                  int value);
    int Value() const;

  private:
    QLabel* prompt_;
    TIntegerField* number_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

// The about box: product name, version, legal notice and description of this build.
class TAboutBox : public TEntryDialog {
    Q_OBJECT

  public:
    explicit TAboutBox(QWidget* parent = nullptr);

  private:
    QLabel* productName_;
    QLabel* version_;
    QLabel* copyright_;
    QLabel* comments_;
    QPushButton* okButton_;
};

// The text of one version key of this build (0 CompanyName, 1 FileDescription, 2 FileVersion,
// 3 InternalName, 4 LegalCopyright, 5 OriginalFilename, 6 ProductVersion, 7 ProductName; any
// larger number ProductVersion).
QString VersionInfo(int key);

void CenterOnScreen(QWidget* w);

// The program's own icon, in every size it is drawn in.
QIcon ProgramIcon();
