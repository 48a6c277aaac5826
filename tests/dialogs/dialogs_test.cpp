// The numeric entry fields and the entry dialogs, driven through real key and mouse events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>
#include <memory>

#include "core/exceptions.h"
#include "core/settings.h"
#include "dialogs/beep.h"
#include "dialogs/dialogs.h"
#include "dialogs/errorbox.h"
#include "dialogs/numberfields.h"
#include "dialogs/progressdialog.h"
#include "support/modal.h"
#include "support/widgets.h"

namespace {

// A window with two fields, so that the focus can leave the first one.
struct Form {
    QWidget window;
    TIntegerField* edit = new TIntegerField(&window);
    TNumberTextField* fmt = new TNumberTextField(&window);
    QLineEdit* other = new QLineEdit(&window);
    Form() {
        auto* l = new QVBoxLayout(&window);
        l->addWidget(edit);
        l->addWidget(fmt);
        l->addWidget(other);
        window.show();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void Type(QWidget* w, const QString& text) {
        w->setFocus();
        QTest::keyClicks(w, text);
    }
};

TEST(IntEditFormat, RadixDisplay) {
    EXPECT_EQ(numberfields::Format(10, -16), "A");
    EXPECT_EQ(numberfields::Format(255, -16), "FF");
    EXPECT_EQ(numberfields::Format(-255, -16), "-FF");
    EXPECT_EQ(numberfields::Format(-1, 10), "4294967295");
    EXPECT_EQ(numberfields::Format(-1, 16), "FFFFFFFF");
    EXPECT_EQ(numberfields::Format(INT32_MIN, -10), "-2147483648");
    EXPECT_EQ(numberfields::Format(35, -36), "Z");
}

TEST(IntEdit, KeysOfTheRadixOnlyUppercasedAndOthersBeep) {
    Form f;
    f.edit->SetRadix(-16);
    f.edit->SetRange(0, 255);
    f.edit->Editor()->clear();
    const int beeps = SystemBeepCount();
    f.Type(f.edit->Editor(), "c");
    f.Type(f.edit->Editor(), "G");
    f.Type(f.edit->Editor(), ".");
    f.Type(f.edit->Editor(), "9");
    EXPECT_EQ(f.edit->Text(), "C9");
    EXPECT_EQ(SystemBeepCount() - beeps, 2);
    EXPECT_EQ(f.edit->Value(), 201);
}

TEST(IntEdit, SignOnlyForSignedRadix) {
    Form f;
    f.edit->SetRadix(10);
    f.edit->SetRange(0, 255);
    f.edit->Editor()->clear();
    const int beeps = SystemBeepCount();
    f.Type(f.edit->Editor(), "-+7a");
    EXPECT_EQ(f.edit->Text(), "7");
    EXPECT_EQ(SystemBeepCount() - beeps, 3);
    f.edit->SetRadix(-10);
    f.edit->SetRange(-100, 100);
    f.edit->Editor()->clear();
    f.Type(f.edit->Editor(), "-12");
    EXPECT_EQ(f.edit->Value(), -12);
}

TEST(IntEdit, LeavingTheFieldClampsToTheNearerBoundWithBeep) {
    Form f;
    f.edit->SetRadix(-16);
    f.edit->SetRange(0, 255);
    f.edit->Editor()->clear();
    f.Type(f.edit->Editor(), "300");
    const int beeps = SystemBeepCount();
    f.other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(f.edit->Text(), "FF");
    EXPECT_EQ(SystemBeepCount() - beeps, 1);
    // An overlong number still goes to the upper bound; an empty field is 0.
    f.edit->Editor()->clear();
    f.Type(f.edit->Editor(), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(f.edit->Value(), 255);
    f.edit->Editor()->clear();
    EXPECT_EQ(f.edit->Value(), 0);
    EXPECT_EQ(f.edit->Text(), "0");
}

TEST(IntEdit, SetValueClampsAndUnsignedComparesUnsigned) {
    Form f;
    f.edit->SetRadix(-16);
    f.edit->SetRange(0, 255);
    int beeps = SystemBeepCount();
    f.edit->SetValue(300);
    EXPECT_EQ(f.edit->Text(), "FF");
    EXPECT_EQ(SystemBeepCount() - beeps, 1);
    f.edit->SetValue(10);
    EXPECT_EQ(f.edit->Text(), "A");
    // -1 in an unsigned field is 4294967295: above the maximum.
    f.edit->SetRadix(10);
    beeps = SystemBeepCount();
    f.edit->SetValue(-1);
    EXPECT_EQ(f.edit->Text(), "255");
    EXPECT_EQ(SystemBeepCount() - beeps, 1);
    f.edit->SetValue(0);
    EXPECT_EQ(f.edit->Value(), 0);
}

TEST(IntEdit, ArrowsAndButtonsStepAndStopAtTheBounds) {
    Form f;
    f.edit->SetRadix(10);
    f.edit->SetRange(0, 2);
    f.edit->SetValue(1);
    f.edit->Editor()->setFocus();
    QTest::keyClick(f.edit->Editor(), Qt::Key_Up);
    QTest::keyClick(f.edit->Editor(), Qt::Key_Up);
    EXPECT_EQ(f.edit->Value(), 2);
    QTest::mouseClick(f.edit->DownButton(), Qt::LeftButton);
    QTest::mouseClick(f.edit->DownButton(), Qt::LeftButton);
    QTest::mouseClick(f.edit->DownButton(), Qt::LeftButton);
    EXPECT_EQ(f.edit->Value(), 0);
    QTest::mouseClick(f.edit->UpButton(), Qt::LeftButton);
    EXPECT_EQ(f.edit->Value(), 1);
}

TEST(IntEdit, EditorDisabledRefusesTypingPastingCuttingButSteps) {
    Form f;
    f.edit->SetRadix(-16);
    f.edit->SetRange(0, 255);
    f.edit->SetValue(0x5A);
    f.edit->SetEditorEnabled(false);
    QApplication::clipboard()->setText("12");
    f.edit->Editor()->setFocus();
    f.edit->Editor()->selectAll();
    QTest::keyClicks(f.edit->Editor(), "7");
    QTest::keyClick(f.edit->Editor(), Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(f.edit->Editor(), Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(f.edit->Editor(), Qt::Key_Backspace);
    EXPECT_EQ(f.edit->Text(), "5A");
    QTest::keyClick(f.edit->Editor(), Qt::Key_Up);
    EXPECT_EQ(f.edit->Text(), "5B");
    QTest::mouseClick(f.edit->DownButton(), Qt::LeftButton);
    EXPECT_EQ(f.edit->Value(), 0x5A);
    // A disabled field does nothing, buttons included.
    f.edit->setEnabled(false);
    EXPECT_FALSE(f.edit->UpButton()->isEnabled());
    f.edit->Step(+1);
    EXPECT_EQ(f.edit->Value(), 0x5A);
}

TEST(FmtEdit, DigitsAndSignsOnlyAndFocusKeptWhileOutOfRange) {
    Form f;
    const int beeps = SystemBeepCount();
    f.Type(f.fmt, "2a5.6");
    EXPECT_EQ(f.fmt->text(), "256");
    EXPECT_EQ(SystemBeepCount() - beeps, 2);
    f.other->setFocus();
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_TRUE(f.fmt->hasFocus());
    QTest::keyClick(f.fmt, Qt::Key_Backspace);
    f.other->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(f.other->hasFocus());
    // Empty counts as 0; a text such as 1-2 passes on its leading number.
    f.fmt->clear();
    EXPECT_TRUE(f.fmt->InRange());
    f.fmt->setText("1-2");
    EXPECT_TRUE(f.fmt->InRange());
    f.fmt->setText("-1");
    EXPECT_FALSE(f.fmt->InRange());
    f.fmt->setText("99999999999999999999");
    EXPECT_FALSE(f.fmt->InRange());
}

TEST(NumberFields, PastedAndComposedTextObeyTheTypedKeyRules) {
    enum Route { kPaste, kCompose };
    const struct {
        int radix;  // 0: the number text field
        Route route;
        const char* text;
        const char* shown;  // after the field held "7", all selected
        int beeps;
    } rows[] = {
        {10, kPaste, "abc", "7", 1},     {10, kPaste, "12x", "7", 1},
        {10, kPaste, "0x10", "7", 1},    {10, kPaste, "１２３", "123", 0},
        {10, kPaste, "45", "45", 0},     {10, kCompose, "１２３", "123", 0},
        {10, kCompose, "abc", "7", 1},   {10, kCompose, "-1", "7", 1},
        {-16, kPaste, "fe", "FE", 0},    {-16, kCompose, "ｆ", "7", 1},
        {-10, kCompose, "-１", "-1", 0}, {0, kPaste, "abc", "7", 1},
        {0, kPaste, "１２", "12", 0},    {0, kCompose, "２５５", "255", 0},
        {0, kCompose, "1.5", "7", 1},
    };
    for (const auto& row : rows) {
        Form f;
        QLineEdit* line = row.radix ? f.edit->Editor() : f.fmt;
        f.edit->SetRadix(row.radix ? row.radix : 10);
        f.edit->SetRange(-100, 65535);
        line->setText("7");
        line->setFocus();
        line->selectAll();
        const QString text = QString::fromUtf8(row.text);
        const int beeps = SystemBeepCount();
        if (row.route == kPaste) {
            QApplication::clipboard()->setText(text);
            QTest::keyClick(line, Qt::Key_V, Qt::ControlModifier);
        } else {
            // Composing replaces the selection at once; the commit comes after.
            QInputMethodEvent preedit(QStringLiteral("ａ"), {});
            QApplication::sendEvent(line, &preedit);
            QInputMethodEvent commit;
            commit.setCommitString(text);
            QApplication::sendEvent(line, &commit);
        }
        EXPECT_EQ(line->text(), row.shown) << row.radix << " " << row.text;
        EXPECT_EQ(SystemBeepCount() - beeps, row.beeps) << row.radix << " " << row.text;
    }
}

TEST(SetTCPIPDlg, TwoOutOfRangeFieldsDoNotFightForTheFocus) {
    TTelnetTargetDialog d;
    TBoardParams p;
    p.TCPIP1_1 = 300;
    p.TCPIP1_2 = 999;
    d.FillFrom(p);
    d.show();
    QApplication::setActiveWindow(&d);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    Child<TNumberTextField>(&d, "EdTCPIP1_1")->setFocus();
    int changes = 0;
    QObject::connect(qApp, &QApplication::focusChanged, &d, [&] { ++changes; });
    QTest::mouseClick(Child<TNumberTextField>(&d, "EdTCPIP1_2"), Qt::LeftButton);
    // A field takes the focus back from a zero-time timer; a fight would go on round after round.
    const auto rounds = [] {
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
    };
    rounds();
    // The field being left keeps the focus; the other one does not take it back.
    EXPECT_TRUE(Child<TNumberTextField>(&d, "EdTCPIP1_1")->hasFocus());
    EXPECT_LE(changes, 2);
    // Once the first is put right, the focus can move to the second, which then holds it.
    Child<TNumberTextField>(&d, "EdTCPIP1_1")->setText("30");
    QTest::mouseClick(Child<TNumberTextField>(&d, "EdTCPIP1_2"), Qt::LeftButton);
    QTest::mouseClick(Child<TNumberTextField>(&d, "EdTCPIP1_3"), Qt::LeftButton);
    rounds();
    EXPECT_TRUE(Child<TNumberTextField>(&d, "EdTCPIP1_2")->hasFocus());
}

TEST(ParaSet1Dlg, CreationStateFillAndCopyBack) {
    TSettingsDialog d;
    // The state before anything fills it.
    EXPECT_EQ(Child<TIntegerField>(&d, "EdMacAdr01")->Text(), "2");
    EXPECT_EQ(Child<TIntegerField>(&d, "EdMacAdr02")->Text(), "5A");
    EXPECT_EQ(Child<TIntegerField>(&d, "EdMacAdr03")->Text(), "C3");
    EXPECT_FALSE(Child<TIntegerField>(&d, "EdMacAdr01")->EditorEnabled());
    EXPECT_EQ(Child<TNumberTextField>(&d, "EdTCPIP1_1")->text(), "");
    EXPECT_EQ(Child<TIntegerField>(&d, "EdPort1")->Text(), "0");
    EXPECT_EQ(Child<QComboBox>(&d, "ComboBox1")->currentIndex(), -1);
    EXPECT_EQ(Child<QComboBox>(&d, "ComboBox1")->placeholderText(), "19200");
    EXPECT_EQ(d.KeepIndex(), -1);
    EXPECT_FALSE(Child<QCheckBox>(&d, "CBAutoConnect")->isChecked());
    EXPECT_TRUE(Child<QPushButton>(&d, "BtDefault")->isHidden());

    TBoardParams p;
    p.MacAddr_1 = 300;  // shown as FF, with a beep
    p.TCPIP2_4 = 9;
    p.SpeedIndex = 2;
    p.fKeepAlive = 0;
    p.fAutoConnect = 5;
    p.TCPmask = 40;
    const int beeps = SystemBeepCount();
    d.FillFrom(p);
    EXPECT_EQ(SystemBeepCount() - beeps, 2);
    EXPECT_EQ(Child<TIntegerField>(&d, "EdMacAdr1")->Text(), "FF");
    EXPECT_EQ(Child<TIntegerField>(&d, "EdMacAdr3")->Text(), "C9");
    EXPECT_EQ(Child<TNumberTextField>(&d, "EdTCPIP2_4")->text(), "9");
    EXPECT_EQ(Child<QComboBox>(&d, "ComboBox1")->currentText(), "38.4kbps");
    EXPECT_TRUE(Child<QRadioButton>(&d, "RGKeepOff")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(&d, "CBAutoConnect")->isChecked());

    TBoardParams out;
    d.CopyTo(&out);
    EXPECT_EQ(out.MacAddr_1, 255);
    EXPECT_EQ(out.MacAddr_3, 201);
    EXPECT_EQ(out.TCPIP2_4, 9);
    EXPECT_EQ(out.TCPmask, 32);
    EXPECT_EQ(out.SpeedIndex, 2);
    EXPECT_EQ(out.fKeepAlive, 0);
    EXPECT_EQ(out.fAutoConnect, 1);

    // Unselected list and radio buttons read back as -1.
    d.SetSpeedIndex(7);
    d.SetKeepIndex(-1);
    d.CopyTo(&out);
    EXPECT_EQ(out.SpeedIndex, -1);
    EXPECT_EQ(out.fKeepAlive, -1);
}

TEST(ParaSet1Dlg, ConversionErrorStopsTheCopyHalfway) {
    TSettingsDialog d;
    TBoardParams p;
    p.TCPIP1_1 = 1;
    d.FillFrom(p);
    Child<TNumberTextField>(&d, "EdTCPIP1_2")->setText("1-2");
    Child<TIntegerField>(&d, "EdPort1")->SetValue(1234);
    TBoardParams out;
    out.TCPIP1_1 = 99;
    out.TCPPort1 = 99;
    try {
        d.CopyTo(&out);
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "TCP/IP（2）: '1-2' は整数ではありません");
    }
    EXPECT_EQ(out.TCPIP1_1, 1);   // before the bad field
    EXPECT_EQ(out.TCPPort1, 99);  // after it
}

TEST(ParaSet1Dlg, FactorySettingsFillFieldsNotMacAndCancelChangesNothing) {
    TSettingsDialog d;
    TBoardParams p;
    p.TCPIP1_1 = 192;
    p.TCPPort2 = 1;
    p.MacAddr_2 = 7;
    p.SpeedIndex = 0;
    d.FillFrom(p);
    Child<QPushButton>(&d, "BtDefault")->show();
    d.show();
    QTest::mouseClick(Child<QPushButton>(&d, "BtDefault"), Qt::LeftButton);
    EXPECT_EQ(Child<TNumberTextField>(&d, "EdTCPIP1_1")->text(), "10");
    EXPECT_EQ(Child<TNumberTextField>(&d, "EdTCPIP2_4")->text(), "171");
    EXPECT_EQ(Child<TIntegerField>(&d, "EdPort2")->Value(), 3335);
    EXPECT_EQ(d.SpeedIndex(), 1);
    EXPECT_EQ(d.KeepIndex(), 1);
    EXPECT_EQ(Child<TIntegerField>(&d, "EdMacAdr2")->Value(), 7);
    QTest::mouseClick(Child<QPushButton>(&d, "CancelBtn"), Qt::LeftButton);
    EXPECT_EQ(d.result(), QDialog::Rejected);
}

TEST(ParaSet1Dlg, HidesTheMacRowAndRefusesOutOfRangeNumbers) {
    TSettingsDialog d;
    d.HideMacRow();
    d.FillFrom(TBoardParams());
    d.show();
    EXPECT_FALSE(Child<TIntegerField>(&d, "EdMacAdr1")->isVisible());
    EXPECT_FALSE(Child<QLabel>(&d, "Label11")->isVisible());
    EXPECT_FALSE(Child<QLabel>(&d, "Label18")->isVisible());
    EXPECT_TRUE(Child<TNumberTextField>(&d, "EdTCPIP1_1")->isVisible());
    Child<TNumberTextField>(&d, "EdTCPIP1_3")->setText("256");
    QTest::mouseClick(Child<QPushButton>(&d, "OKBtn"), Qt::LeftButton);
    EXPECT_TRUE(d.isVisible());  // not accepted
    Child<TNumberTextField>(&d, "EdTCPIP1_3")->setText("255");
    QTest::mouseClick(Child<QPushButton>(&d, "OKBtn"), Qt::LeftButton);
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST(SetTCPIPDlg, PresetsAndCopy) {
    TTelnetTargetDialog d;
    EXPECT_EQ(d.windowTitle(), "TCP/IP アドレスの設定");
    d.FillFrom(TBoardParams());
    QTest::mouseClick(Child<QPushButton>(&d, "BtReset"), Qt::LeftButton);
    TBoardParams p;
    d.CopyTo(&p);
    EXPECT_EQ(p.OwnIpText(), "192.168.0.1");
    QTest::mouseClick(Child<QPushButton>(&d, "BtBoard"), Qt::LeftButton);
    d.CopyTo(&p);
    EXPECT_EQ(p.OwnIpText(), "10.16.77.170");
}

TEST(SetMac1Dlg, ShowsTheFixedPrefixAndHexBytes) {
    TMacAddressDialog d;
    TBoardParams p;
    p.MacAddr_1 = 10;
    p.MacAddr_2 = 11;
    p.MacAddr_3 = 12;
    d.FillFrom(p);
    EXPECT_EQ(Child<QLabel>(&d, "FixedPrefix")->text(), "02-5A-C3-");
    EXPECT_EQ(Child<TIntegerField>(&d, "EdMacAdr1")->Text(), "A");
    EXPECT_EQ(Child<TIntegerField>(&d, "EdMacAdr3")->Text(), "C");
    Child<TIntegerField>(&d, "EdMacAdr3")->SetValue(13);
    d.CopyTo(&p);
    EXPECT_EQ(p.MacAddr_3, 13);
}

TEST(Dialogs, KeepAFixedSizeThatFitsTheirFields) {
    const struct {
        const char* name;
        std::function<QDialog*()> make;
        int maxWidth;
    } rows[] = {
        {"parameter", [] { return new TSettingsDialog; }, 420},
        {"parameter without MAC",
         [] {
             auto* d = new TSettingsDialog;
             d->HideMacRow();
             return d;
         },
         420},
        {"MAC", [] { return new TMacAddressDialog; }, 420},
        {"telnet target", [] { return new TTelnetTargetDialog; }, 420},
        {"integer", [] { return new TNumberDialog(nullptr, "", "", 0, 255, 1); }, 420},
        {"progress", [] { return new TProgressDialog; }, 420},
        {"about", [] { return new TAboutBox; }, 420},
    };
    for (const auto& row : rows) {
        std::unique_ptr<QDialog> d(row.make());
        d->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
        EXPECT_EQ(d->minimumSize(), d->maximumSize()) << row.name;
        EXPECT_EQ(d->size(), d->minimumSize()) << row.name;
        EXPECT_LE(d->width(), row.maxWidth) << row.name;
        EXPECT_FALSE(d->windowFlags() & Qt::WindowMaximizeButtonHint) << row.name;
        // Each integer field is as wide as its widest value, and not much wider.
        for (TIntegerField* e : d->findChildren<TIntegerField*>()) {
            if (!e->isVisible())
                continue;
            const QFontMetrics fm(e->Editor()->font());
            const int widest =
                std::max(fm.horizontalAdvance(numberfields::Format(e->MinValue(), e->Radix())),
                         fm.horizontalAdvance(numberfields::Format(e->MaxValue(), e->Radix())));
            EXPECT_GE(e->Editor()->width(), widest) << row.name;
            EXPECT_LE(e->width(), widest + 40) << row.name;
        }
    }
    // The progress window has no close box and no system menu, whatever the window manager
    // adds to titled windows: it shows its caption itself.
    TProgressDialog progress;
    EXPECT_TRUE(progress.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(progress.Caption()->text(), "変換実行中");
    progress.setWindowTitle("しばらくお待ちください");
    EXPECT_EQ(progress.Caption()->text(), "しばらくお待ちください");
}

TEST(AboutBox, ShowsTheBuildsVersionTexts) {
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), "バージョン情報");
    EXPECT_TRUE(Child<QLabel>(&box, "Version")->text().startsWith("     Version "));
    EXPECT_GT(Child<QLabel>(&box, "Version")->text().size(), 13);
    EXPECT_FALSE(Child<QLabel>(&box, "ProductName")->text().isEmpty());
    EXPECT_EQ(Child<QLabel>(&box, "Copyright")->text(), VersionInfo(4));
    EXPECT_EQ(Child<QLabel>(&box, "Comments")->text(), VersionInfo(1));
    EXPECT_EQ(VersionInfo(99), VersionInfo(6));
    // The program's own icon, not one of the style's.
    EXPECT_EQ(ProgramIcon().availableSizes().size(), 4);
    const QPixmap shown = box.findChild<QLabel*>("ProgramIcon")->pixmap();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.toImage(), ProgramIcon().pixmap(32, 32).toImage());
}

// Shows the dialog and waits until it is the active window, as an operator would find it.
void ShowActive(QDialog* d) {
    d->show();
    QApplication::setActiveWindow(d);
    ASSERT_TRUE(QTest::qWaitForWindowActive(d));
}

// Shows `text` in the error box and runs `look` on the box before closing it.
void LookAtErrorBox(const QString& text, const std::function<void(QMessageBox*)>& look,
                    QWidget* parent = nullptr) {
    OnNextModal([look](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        look(box);
        box->close();
    });
    ShowErrorBox(parent, text);
    CancelModalWatchers();
}

// What the operator sees and does, one row per detail of the dialogs and boxes.
TEST(OperatorView, DialogsAndBoxes) {
    const struct {
        const char* name;
        std::function<void()> check;
    } rows[] = {
        {"no line above the fields when the MAC row is hidden",
         [] {
             TSettingsDialog d;
             d.HideMacRow();
             d.FillFrom(TBoardParams());
             ShowActive(&d);
             for (QFrame* f : d.findChildren<QFrame*>()) {
                 if (f->frameShape() == QFrame::HLine && f->isVisible()) {
                     EXPECT_GT(f->y(), Child<TNumberTextField>(&d, "EdTCPIP1_1")->y());
                 }
             }
         }},
        {"a box is as wide as its caption and the window manager's buttons",
         [] {
             LookAtErrorBox("NULL", [](QMessageBox* box) {
                 QFont bold = box->font();
                 bold.setBold(true);
                 const int caption = QFontMetrics(bold).horizontalAdvance(box->windowTitle());
                 EXPECT_GE(box->width(), caption + 90);
             });
         }},
        {"a line that fits the screen is not wrapped",
         [] {
             const QString line = QString(40, QChar(0x8a2d)) + QStringLiteral("。");
             LookAtErrorBox(line + "\nす。", [line](QMessageBox* box) {
                 auto* label = box->findChild<QLabel*>("qt_msgbox_label");
                 ASSERT_NE(label, nullptr);
                 EXPECT_GE(label->width(), QFontMetrics(label->font()).horizontalAdvance(line));
                 EXPECT_TRUE(box->screen()->availableGeometry().contains(box->geometry()));
             });
         }},
        {"a box over a window not shown yet (the settings file's error at start) stands mid-screen",
         [] {
             QWidget hidden;
             hidden.resize(510, 450);
             LookAtErrorBox(
                 "NULL",
                 [](QMessageBox* box) {
                     const QRect screen = box->screen()->availableGeometry();
                     EXPECT_LT((box->geometry().center() - screen.center()).manhattanLength(), 40);
                 },
                 &hidden);
         }},
        {"a field that is not a number is named",
         [] {
             TSettingsDialog d;
             d.FillFrom(TBoardParams());
             ShowActive(&d);
             Child<TNumberTextField>(&d, "EdTCPIP2_3")->setFocus();
             QTest::keyClick(Child<TNumberTextField>(&d, "EdTCPIP2_3"), Qt::Key_A,
                             Qt::ControlModifier);
             QTest::keyClick(Child<TNumberTextField>(&d, "EdTCPIP2_3"), Qt::Key_Backspace);
             TBoardParams p;
             try {
                 d.CopyTo(&p);
                 ADD_FAILURE();
             } catch (const EConvertError& e) {
                 EXPECT_EQ(e.Message(), "TCP/IP（接続先）（3）: '' は整数ではありません");
             }
         }},
        {"with MAC address: opens on the first field that can change, Tab skips read-only",
         [] {
             TSettingsDialog d;
             d.FillFrom(TBoardParams());
             ShowActive(&d);
             EXPECT_EQ(QApplication::focusWidget(),
                       Child<TIntegerField>(&d, "EdMacAdr1")->Editor());
             for (int i = 0; i < 3; ++i)
                 QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
             EXPECT_EQ(QApplication::focusWidget(), Child<TNumberTextField>(&d, "EdTCPIP1_1"));
         }},
        {"check-and-set: opens on the own address",
         [] {
             TSettingsDialog d;
             d.PrepareForCheckAndSet(false, false);
             ShowActive(&d);
             EXPECT_EQ(QApplication::focusWidget(), Child<TNumberTextField>(&d, "EdTCPIP1_1"));
         }},
        {"a whole address pasted fills its row; a partial one is refused",
         [] {
             TTelnetTargetDialog d;
             d.FillFrom(TBoardParams());
             ShowActive(&d);
             Child<TNumberTextField>(&d, "EdTCPIP1_1")->setFocus();
             QApplication::clipboard()->setText(" 192.168.０.300\n");
             QTest::keyClick(Child<TNumberTextField>(&d, "EdTCPIP1_1"), Qt::Key_V,
                             Qt::ControlModifier);
             TNumberTextField* const row[] = {Child<TNumberTextField>(&d, "EdTCPIP1_1"),
                                              Child<TNumberTextField>(&d, "EdTCPIP1_2"),
                                              Child<TNumberTextField>(&d, "EdTCPIP1_3"),
                                              Child<TNumberTextField>(&d, "EdTCPIP1_4")};
             QStringList texts;
             for (TNumberTextField* f : row)
                 texts << f->text();
             EXPECT_EQ(texts.join('|'), "192|168|0|300");
             EXPECT_EQ(QApplication::focusWidget(),
                       Child<TNumberTextField>(&d, "EdTCPIP1_4"));  // out of range: kept there
             const int beeps = SystemBeepCount();
             QApplication::clipboard()->setText("10.1.2");
             Child<TNumberTextField>(&d, "EdTCPIP1_4")->selectAll();
             QTest::keyClick(Child<TNumberTextField>(&d, "EdTCPIP1_4"), Qt::Key_V,
                             Qt::ControlModifier);
             EXPECT_EQ(Child<TNumberTextField>(&d, "EdTCPIP1_4")->text(), "300");
             EXPECT_EQ(SystemBeepCount() - beeps, 1);
         }},
        {"a value out of range keeps the dialog open and says why at its field",
         [] {
             TTelnetTargetDialog d;
             d.FillFrom(TBoardParams());
             ShowActive(&d);
             auto* last = Child<TNumberTextField>(&d, "EdTCPIP1_4");
             last->setFocus();
             last->selectAll();
             QTest::keyClicks(last, "300");
             QTest::keyClick(last, Qt::Key_Return);
             EXPECT_TRUE(d.isVisible());
             EXPECT_TRUE(last->toolTip().contains("300 は 0～255 の範囲で入力してください"))
                 << last->toolTip().toStdString();
             d.reject();
         }},
        {"a speed index outside the list shows no entry and no speed",
         [] {
             TSettingsDialog d;
             TBoardParams p;
             p.SpeedIndex = 9;
             d.FillFrom(p);
             EXPECT_EQ(Child<QComboBox>(&d, "ComboBox1")->currentIndex(), -1);
             EXPECT_EQ(Child<QComboBox>(&d, "ComboBox1")->placeholderText().trimmed(), "");
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.check();
    }
}

}  // namespace
