#include "dialogs/dialogs.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolTip>
#include <QVBoxLayout>

#include "board/commandline.h"
#include "board/procedures.h"
#include "board/settingtable.h"
#include "core/settings.h"
#include "dialogs/beep.h"
#include "dialogs/fonts.h"
#include "version.h"

namespace {

TIntegerField* MakeInt(QWidget* parent, int min, int max, int radix) {
    auto* e = new TIntegerField(parent);
    e->SetRadix(radix);
    e->SetRange(min, max);
    return e;
}

QFrame* MakeLine(QWidget* parent) {
    auto* f = new QFrame(parent);
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}

// A field with its unit right after it.
QHBoxLayout* WithUnit(QWidget* field, const QString& unit, QWidget* parent) {
    auto* row = new QHBoxLayout;
    row->addWidget(field);
    row->addWidget(new QLabel(unit, parent));
    row->addStretch();
    return row;
}

QPushButton* MakeButton(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setAutoDefault(false);
    return b;
}

// Adds `fields` to `row` with a "-" label between each two, then the stretch; returns the last
// label.
QLabel* AddDashedFields(QHBoxLayout* row, std::initializer_list<QWidget*> fields, QWidget* parent) {
    QLabel* dash = nullptr;
    for (QWidget* f : fields) {
        if (f != *fields.begin()) {
            dash = new QLabel(QStringLiteral("-"), parent);
            row->addWidget(dash);
        }
        row->addWidget(f);
    }
    row->addStretch();
    return dash;
}

}  // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/netboard-config-%1.png").arg(size), QSize(size, size));
    return icon;
}

void CenterOnScreen(QWidget* w) {
    QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect avail = screen->availableGeometry();
    const QSize size = w->frameGeometry().size();
    w->move(avail.center() - QPoint(size.width() / 2, size.height() / 2));
}

TEntryDialog::TEntryDialog(QWidget* parent) : QDialog(parent) {
    setFont(DialogFont());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

void TEntryDialog::AddButtonRow(QBoxLayout* into, const QString& okText, QPushButton** ok,
                                QPushButton** cancel) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    *ok = MakeButton(okText, this);
    (*ok)->setDefault(true);
    *cancel = MakeButton(QStringLiteral("キャンセル"), this);
    row->addWidget(*ok);
    row->addWidget(*cancel);
    into->addLayout(row);
    connect(*ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(*cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TEntryDialog::Bind(Member member, std::function<void(int)> set, std::function<int()> get) {
    bindings_.push_back(Binding{member, std::move(set), std::move(get)});
}

const TEntryDialog::Binding* TEntryDialog::Bound(Member member) const {
    for (const Binding& b : bindings_)
        if (b.member == member)
            return &b;
    return nullptr;
}

TIntegerField* TEntryDialog::IntField(Member member, int radix) {
    const TBoardSetting* s = SettingOfMember(member);
    TIntegerField* e = MakeInt(this, s->min, s->max, radix);
    Bind(
        member, [e](int v) { e->SetValue(v); }, [e] { return e->Value(); });
    return e;
}

QHBoxLayout* TEntryDialog::AddressRow(Member first, const QString& name,
                                      const std::array<TNumberTextField**, 4>& fields) {
    const TBoardSetting* s = SettingOfMember(first);
    auto* row = new QHBoxLayout;
    std::array<TNumberTextField*, 4> all{};
    for (int i = 0; i < 4; ++i) {
        TNumberTextField* e = new TNumberTextField(this);
        e->SetRange(QString::number(s->min), QString::number(s->max));
        e->SetFieldName(QStringLiteral("%1（%2）").arg(name).arg(i + 1));
        e->setFixedWidth(40);
        Bind(
            s->members[static_cast<size_t>(i)], [e](int v) { e->setText(DecText(v)); },
            [e] { return e->IntValue(); });
        if (i)
            row->addWidget(new QLabel(QStringLiteral("："), this));
        row->addWidget(e);
        *fields[static_cast<size_t>(i)] = all[static_cast<size_t>(i)] = e;
    }
    TNumberTextField::JoinAddressRow(all);
    row->addStretch();
    return row;
}

void TEntryDialog::Name(std::initializer_list<std::pair<QObject*, const char*>> widgets) {
    for (const auto& [w, name] : widgets)
        w->setObjectName(QLatin1String(name));
}

void TEntryDialog::SetMember(Member member, int value) {
    if (const Binding* b = Bound(member))
        b->set(value);
}

void TEntryDialog::FillFrom(const TBoardParams& p, bool withMac) {
    for (const TBoardSetting& s : kBoardSettings)
        for (Member m : s.members)
            if (m && (withMac || s.form != TSettingForm::MacAddress))
                SetMember(m, p.*m);
}

void TEntryDialog::CopyTo(TBoardParams* p) {
    for (const TBoardSetting& s : kBoardSettings)
        for (Member m : s.members)
            if (const Binding* b = m ? Bound(m) : nullptr)
                p->*m = b->get();
}

void TEntryDialog::accept() {
    // A number text field keeps the focus while its number is out of range; accepting the
    // dialog with such a number would send it to the board, so the dialog refuses too.
    // The field that has the focus keeps it if it is one of them.
    auto* focused = qobject_cast<TNumberTextField*>(focusWidget());
    for (TNumberTextField* f : findChildren<TNumberTextField*>()) {
        if (f->isVisible() && !f->InRange()) {
            TNumberTextField* refused = focused && !focused->InRange() ? focused : f;
            SystemBeep();
            refused->TakeFocusBack();
            // The operator is told at the field which value and why, not only beeped at.
            refused->setToolTip(refused->RangeRefusal());
            QToolTip::showText(refused->mapToGlobal(QPoint(0, refused->height())),
                               refused->toolTip(), refused);
            return;
        }
    }
    QDialog::accept();
}

void TEntryDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CenterOnScreen(this);
}

// ---------------------------------------------------------------------------------------------
// Board parameter dialog

TSettingsDialog::TSettingsDialog(QWidget* parent) : TEntryDialog(parent) {
    setWindowTitle(QStringLiteral("ネットワークボードの設定"));
    auto* top = new QVBoxLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);

    // MAC row
    macLabel_ = new QLabel(QStringLiteral("MACアドレス"), this);
    top->addWidget(macLabel_);
    // The first three bytes are fixed; they hold what a MAC address byte holds, and are shown,
    // never typed, never read back.
    const TBoardSetting* mac = SettingOfMember(&TBoardParams::MacAddr_1);
    TIntegerField** const fixed[] = {&macFixed1_, &macFixed2_, &macFixed3_};
    const int fixedValues[] = {2, 90, 195};
    for (int i = 0; i < 3; ++i) {
        *fixed[i] = MakeInt(this, mac->min, mac->max, -16);
        (*fixed[i])->SetEditorEnabled(false);
        (*fixed[i])->SetValue(fixedValues[i]);
    }
    mac1_ = IntField(&TBoardParams::MacAddr_1, -16);
    mac2_ = IntField(&TBoardParams::MacAddr_2, -16);
    mac3_ = IntField(&TBoardParams::MacAddr_3, -16);
    macRow_ = new QHBoxLayout;
    macLastDash_ =
        AddDashedFields(macRow_, {macFixed1_, macFixed2_, macFixed3_, mac1_, mac2_, mac3_}, this);
    top->addLayout(macRow_);
    macLine_ = MakeLine(this);
    top->addWidget(macLine_);

    // The labelled rows of the grid: a single field in the second column, a row of fields (or
    // a field with its unit) across the second and third.
    auto* grid = new QGridLayout;
    int r = 0;
    const auto fieldRow = [&](const QString& label, QWidget* field) {
        grid->addWidget(new QLabel(label, this), r, 0);
        grid->addWidget(field, r++, 1);
    };
    const auto wideRow = [&](const QString& label, QLayout* fields) {
        grid->addWidget(new QLabel(label, this), r, 0);
        grid->addLayout(fields, r++, 1, 1, 2);
    };
    const QString ownIp = QStringLiteral("TCP/IP");
    wideRow(ownIp,
            AddressRow(&TBoardParams::TCPIP1_1, ownIp, {&ownIp1_, &ownIp2_, &ownIp3_, &ownIp4_}));
    ownPort_ = IntField(&TBoardParams::TCPPort1);
    fieldRow(QStringLiteral("PORT"), ownPort_);
    const QString destIp = QStringLiteral("TCP/IP（接続先）");
    wideRow(destIp, AddressRow(&TBoardParams::TCPIP2_1, destIp,
                               {&destIp1_, &destIp2_, &destIp3_, &destIp4_}));
    destPort_ = IntField(&TBoardParams::TCPPort2);
    fieldRow(QStringLiteral("PORT（接続先）"), destPort_);
    mask_ = IntField(&TBoardParams::TCPmask);
    wideRow(QStringLiteral("マスク長"), WithUnit(mask_, QStringLiteral("(マスク有効桁数)"), this));
    autoConnect_ = new QCheckBox(QStringLiteral("自動接続モード使用"), this);
    grid->addWidget(autoConnect_, r++, 0, 1, 3);
    speed_ = new QComboBox(this);
    speed_->addItems(
        {QStringLiteral("9600bps"), QStringLiteral("19.2kbps"), QStringLiteral("38.4kbps")});
    speed_->setPlaceholderText(QStringLiteral("19200"));
    speed_->setCurrentIndex(-1);
    fieldRow(QStringLiteral("通信スピード"), speed_);
    txTiming_ = IntField(&TBoardParams::TxTiming);
    wideRow(QStringLiteral("送信タイミング"), WithUnit(txTiming_, QStringLiteral("ms"), this));
    auto* keepBox = new QGroupBox(QStringLiteral("キープ・アライブ"), this);
    auto* keepRow = new QHBoxLayout(keepBox);
    keepOff_ = new QRadioButton(QStringLiteral("OFF"), keepBox);
    keepOn_ = new QRadioButton(QStringLiteral("ON"), keepBox);
    keepRow->addWidget(keepOff_);
    keepRow->addWidget(keepOn_);
    keep_ = new QButtonGroup(this);
    keep_->addButton(keepOff_, 0);
    keep_->addButton(keepOn_, 1);
    grid->addWidget(keepBox, r++, 0, 1, 3);
    idleTimer_ = IntField(&TBoardParams::ChkTiming);
    wideRow(QStringLiteral("無通信監視タイマー"),
            WithUnit(idleTimer_, QStringLiteral("min"), this));
    top->addLayout(grid);

    factoryButton_ = MakeButton(QStringLiteral("出荷時設定"), this);
    factoryButton_->hide();
    auto* defaultRow = new QHBoxLayout;
    defaultRow->addWidget(factoryButton_);
    defaultRow->addStretch();
    top->addLayout(defaultRow);
    top->addWidget(MakeLine(this));
    AddButtonRow(top, QStringLiteral("設定"), &okButton_, &cancelButton_);

    connect(factoryButton_, &QPushButton::clicked, this, [this] { FillFactorySettings(); });

    Bind(
        &TBoardParams::fAutoConnect, [this](int v) { autoConnect_->setChecked(v != 0); },
        [this] { return autoConnect_->isChecked() ? 1 : 0; });
    Bind(
        &TBoardParams::SpeedIndex, [this](int v) { SetSpeedIndex(v); },
        [this] { return SpeedIndex(); });
    Bind(
        &TBoardParams::fKeepAlive, [this](int v) { SetKeepIndex(v); },
        [this] { return KeepIndex(); });
    Name(
        {{macFixed1_, "EdMacAdr01"},    {macFixed2_, "EdMacAdr02"}, {macFixed3_, "EdMacAdr03"},
         {mac1_, "EdMacAdr1"},          {mac2_, "EdMacAdr2"},       {mac3_, "EdMacAdr3"},
         {macLabel_, "Label11"},        {macLastDash_, "Label18"},  {macLine_, "MacLine"},
         {ownIp1_, "EdTCPIP1_1"},       {ownIp2_, "EdTCPIP1_2"},    {ownIp3_, "EdTCPIP1_3"},
         {ownIp4_, "EdTCPIP1_4"},       {ownPort_, "EdPort1"},      {destIp1_, "EdTCPIP2_1"},
         {destIp2_, "EdTCPIP2_2"},      {destIp3_, "EdTCPIP2_3"},   {destIp4_, "EdTCPIP2_4"},
         {destPort_, "EdPort2"},        {mask_, "Edmask"},          {autoConnect_, "CBAutoConnect"},
         {speed_, "ComboBox1"},         {keep_, "RGKeep"},          {keepOff_, "RGKeepOff"},
         {keepOn_, "RGKeepOn"},         {txTiming_, "EdTxTiming"},  {idleTimer_, "EdChkTimer"},
         {factoryButton_, "BtDefault"}, {okButton_, "OKBtn"},       {cancelButton_, "CancelBtn"}});
}

void TSettingsDialog::HideMacRow() {
    for (int i = 0; i < macRow_->count(); ++i)
        if (QWidget* w = macRow_->itemAt(i)->widget())
            w->hide();
    macLabel_->hide();
    macLine_->hide();
}

int TSettingsDialog::SpeedIndex() const {
    return speed_->currentIndex();
}

void TSettingsDialog::SetSpeedIndex(int index) {
    // netboard-cli reads a settings file by the same rule.
    index = ChoiceValue(&TBoardParams::SpeedIndex, index);
    // The list shows its placeholder while nothing is selected; an empty one would select the
    // first entry instead, so a blank stands for no text.
    if (index == kNoChoice)
        speed_->setPlaceholderText(QStringLiteral(" "));
    speed_->setCurrentIndex(index);
}

int TSettingsDialog::KeepIndex() const {
    return keep_->checkedId();
}

void TSettingsDialog::SetKeepIndex(int index) {
    // Below 0 means none; beyond the last button selects the last one (netboard-cli reads a
    // settings file by the same rule).
    index = ChoiceValue(&TBoardParams::fKeepAlive, index);
    if (index == kNoChoice) {
        keep_->setExclusive(false);
        keepOff_->setChecked(false);
        keepOn_->setChecked(false);
        keep_->setExclusive(true);
        return;
    }
    keep_->button(index)->setChecked(true);
}

void TSettingsDialog::FillFactorySettings() {
    // The factory settings are the record's defaults.
    FillFrom(TBoardParams{}, false);
}

void TSettingsDialog::PrepareForCheckAndSet(bool disableMac, bool showDefault) {
    // The first three are never typed into anyway.
    for (TIntegerField* e : {macFixed1_, macFixed2_, macFixed3_, mac1_, mac2_, mac3_}) {
        e->SetEditorEnabled(false);
        if (disableMac)
            e->setEnabled(false);
    }
    factoryButton_->setVisible(showDefault);
}

void TSettingsDialog::FillFromBoard(const TBoardReadback& board) {
    for (int i = 0; i < kBoardSettingCount; ++i) {
        const std::optional<TReplyValues>& values = board.values[static_cast<size_t>(i)];
        if (!values)
            continue;
        const TBoardSetting& s = kBoardSettings[i];
        if (s.form == TSettingForm::MacAddress && values->size() == 6) {
            // The first three groups are shown only; the record never takes them.
            macFixed1_->SetValue((*values)[0]);
            macFixed2_->SetValue((*values)[1]);
            macFixed3_->SetValue((*values)[2]);
        }
        const std::vector<int> members = MemberValuesOfReply(s, *values);
        for (size_t m = 0; m < members.size(); ++m)
            SetMember(s.members[m], members[m]);
    }
}

// ---------------------------------------------------------------------------------------------
// MAC address dialog

TMacAddressDialog::TMacAddressDialog(QWidget* parent) : TEntryDialog(parent) {
    setWindowTitle(QStringLiteral("MACアドレスの再設定"));
    auto* top = new QVBoxLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);
    top->addWidget(new QLabel(QStringLiteral("MACアドレス"), this));
    auto* row = new QHBoxLayout;
    fixedPrefix_ = new QLabel(QStringLiteral("02-5A-C3-"), this);
    mac1_ = IntField(&TBoardParams::MacAddr_1, -16);
    mac2_ = IntField(&TBoardParams::MacAddr_2, -16);
    mac3_ = IntField(&TBoardParams::MacAddr_3, -16);
    row->addWidget(fixedPrefix_);
    AddDashedFields(row, {mac1_, mac2_, mac3_}, this);
    top->addLayout(row);
    AddButtonRow(top, QStringLiteral("設定"), &okButton_, &cancelButton_);
    Name({{mac1_, "EdMacAdr1"},
          {mac2_, "EdMacAdr2"},
          {mac3_, "EdMacAdr3"},
          {fixedPrefix_, "FixedPrefix"},
          {okButton_, "OKBtn"},
          {cancelButton_, "CancelBtn"}});
}

// ---------------------------------------------------------------------------------------------
// Telnet target dialog

TTelnetTargetDialog::TTelnetTargetDialog(QWidget* parent) : TEntryDialog(parent) {
    setWindowTitle(QStringLiteral("TCP/IP アドレスの設定"));
    auto* top = new QHBoxLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);
    auto* left = new QVBoxLayout;
    const QString target = QStringLiteral("Telnet先のTCP/IP");
    left->addWidget(new QLabel(target, this));
    left->addLayout(
        AddressRow(&TBoardParams::TCPIP1_1, target, {&ownIp1_, &ownIp2_, &ownIp3_, &ownIp4_}));
    left->addStretch();
    AddButtonRow(left, QStringLiteral("OK"), &okButton_, &cancelButton_);
    top->addLayout(left);
    auto* right = new QVBoxLayout;
    boardButton_ = MakeButton(QStringLiteral("Default1(Board)"), this);
    resetButton_ = MakeButton(QStringLiteral("Default2(Reset)"), this);
    right->addWidget(boardButton_);
    right->addWidget(resetButton_);
    right->addStretch();
    top->addLayout(right);
    connect(boardButton_, &QPushButton::clicked, this, [this] { FillBoardAddress(); });
    connect(resetButton_, &QPushButton::clicked, this, [this] { FillResetAddress(); });
    Name({{ownIp1_, "EdTCPIP1_1"},
          {ownIp2_, "EdTCPIP1_2"},
          {ownIp3_, "EdTCPIP1_3"},
          {ownIp4_, "EdTCPIP1_4"},
          {boardButton_, "BtBoard"},
          {resetButton_, "BtReset"},
          {okButton_, "OKBtn"},
          {cancelButton_, "CancelBtn"}});
}

void TTelnetTargetDialog::FillBoardAddress() {
    // The board's own address as it leaves the factory.
    FillFrom(TBoardParams{});
}

void TTelnetTargetDialog::FillResetAddress() {
    ownIp1_->setText(QStringLiteral("192"));
    ownIp2_->setText(QStringLiteral("168"));
    ownIp3_->setText(QStringLiteral("0"));
    ownIp4_->setText(QStringLiteral("1"));
}

// ---------------------------------------------------------------------------------------------
// Integer entry dialog

TNumberDialog::TNumberDialog(QWidget* parent, const QString& title, const QString& prompt, int min,
                             int max, int value)
    : TEntryDialog(parent) {
    setWindowTitle(title);
    auto* top = new QVBoxLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);
    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::StyledPanel);
    auto* inner = new QVBoxLayout(panel);
    prompt_ = new QLabel(prompt, panel);
    number_ = MakeInt(panel, min, max, 10);
    number_->SetValue(value);
    inner->addWidget(prompt_);
    inner->addWidget(number_);
    top->addWidget(panel);
    AddButtonRow(top, QStringLiteral("OK"), &okButton_, &cancelButton_);
    Name({{prompt_, "STTitle"},
          {number_, "IntEd"},
          {okButton_, "OKBtn"},
          {cancelButton_, "CancelBtn"}});
}

int TNumberDialog::Value() const {
    return number_->Value();
}

// ---------------------------------------------------------------------------------------------
// About box

QString VersionInfo(int key) {
    switch (key) {
        case 0:
            return QString();  // no company name is recorded
        case 1:
            return QString::fromUtf8(nb::version::FileDescription);
        case 2:
            return QString::fromUtf8(nb::version::FileVersion);
        case 3:
        case 5:
            return QStringLiteral("netboard-config");
        case 4:
            return QString::fromUtf8(nb::version::LegalCopyright);
        case 7:
            return QString::fromUtf8(nb::version::ProductName);
        default:
            return QString::fromUtf8(nb::version::FileVersion);  // ProductVersion
    }
}

TAboutBox::TAboutBox(QWidget* parent) : TEntryDialog(parent) {
    setWindowTitle(QStringLiteral("バージョン情報"));
    auto* top = new QVBoxLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    productName_ = new QLabel(VersionInfo(7), this);
    version_ = new QLabel(QStringLiteral("     Version ") + VersionInfo(2), this);
    copyright_ = new QLabel(VersionInfo(4), this);
    texts->addWidget(productName_);
    texts->addWidget(version_);
    texts->addWidget(copyright_);
    row->addLayout(texts);
    top->addLayout(row);
    comments_ = new QLabel(VersionInfo(1), this);
    comments_->setAlignment(Qt::AlignCenter);
    top->addWidget(comments_);
    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);
    buttons->addStretch();
    top->addLayout(buttons);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    Name({{productName_, "ProductName"},
          {version_, "Version"},
          {copyright_, "Copyright"},
          {comments_, "Comments"},
          {okButton_, "OKButton"}});
}
