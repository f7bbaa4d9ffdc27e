#include "windows/customwindows.h"

#include <QGridLayout>
#include <QMenuBar>
#include <QSignalBlocker>
#include <optional>

#include "core/basics.h"

namespace {
const char *const KindTexts[13] = {"Not Selected",   "Flag",           "Digital Input",  "Digital Output",
                                   "Analog Input",   "Analog Output",  "Register",       "Servo Position",
                                   "Servo Error",    "Servo Home Inp", "Servo Start Inp", "Servo Revl Inp",
                                   "Servo Fwdl Inp"};

// The highest number a row of the kind may have.
int32_t kindBound(int kind) {
    switch (kind) {
    case kindFlag: return NumFlags;
    case kindDigitalInput:
    case kindDigitalOutput: return 1000;
    case kindAnalogInput:
    case kindAnalogOutput: return 256;
    case kindRegister: return RegisterLimit;
    default: return NumServos;
    }
}

SymbolSnapshot *kindSymbols(int kind) {
    switch (kind) {
    case kindFlag: return &SymFlags;
    case kindDigitalInput: return &SymDigitalInputs;
    case kindDigitalOutput: return &SymDigitalOutputs;
    case kindAnalogInput: return &SymAnalogInputs;
    case kindAnalogOutput: return &SymAnalogOutputs;
    case kindRegister: return &SymRegisters;
    case kindServoPosition: return &SymServos;
    default: return nullptr;
    }
}

// Servo input kinds are offered on EA controllers only.
bool servoInputsOffered() { return ControllerModel == 3 || ControllerModel > 4; }
}  // namespace

QString CustomWindow::kindText(int kind) {
    return kind >= 0 && kind <= 12 ? QString::fromLatin1(KindTexts[kind]) : QString();
}

CustomWindow::CustomWindow(const QString &name, Traits traits, Own own)
    : ResourceWindow(name, std::move(traits)), own_(std::move(own)) {
    setWindowTitle(QStringLiteral("Custom Resource Form %1").arg(own_.number));
}

QString CustomWindow::kindChangeMessage(int kind) const {
    switch (kind) {
    case kindFlag: return own_.flagKindMessage;
    case kindDigitalInput: return QStringLiteral("No such digital input exists.");
    case kindDigitalOutput: return QStringLiteral("No such digital output exists.");
    case kindAnalogInput: return QStringLiteral("No such analog input exists.");
    case kindAnalogOutput: return QStringLiteral("No such analog output exists.");
    case kindRegister: return QStringLiteral("No such register exists.");
    case kindServoPosition: return own_.servoKindMessage;
    default: return QStringLiteral("No such servo motor exists.");
    }
}

void CustomWindow::buildControls() {
    auto *grid = new QGridLayout(this);
    grid->setVerticalSpacing(1);
    for (int r = 0; r < 16; ++r) {
        Label1[r] = named(new QLabel(this), QStringLiteral("Label1"), r);
        Combo1[r] = named(new QComboBox(this), QStringLiteral("Combo1"), r);
        Text1[r] = named(new QLineEdit(this), QStringLiteral("Text1"), r);
        Text2[r] = named(new QLineEdit(this), QStringLiteral("Text2"), r);
        connect(Combo1[r], &QComboBox::activated, this, [this, r] { Combo1_Click(r); });
        // Name and kind share a place: one of them shows, by the view.
        grid->addWidget(Label1[r], r, 0);
        grid->addWidget(Combo1[r], r, 0);
        grid->addWidget(Text1[r], r, 1);
        grid->addWidget(Text2[r], r, 2);
    }
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(2, 1);

    auto *bar = new QMenuBar(this);
    QMenu *file = named(bar->addMenu(QStringLiteral("&File")), QStringLiteral("mnuFile"));
    const char *const fileItems[8] = {nullptr, "&New", "&Open ...", "-", "Sa&ve", "Sav&e As ...", "-", "E&xit"};
    for (int i = 1; i <= 7; ++i) {
        QAction *item = QString::fromLatin1(fileItems[i]) == u"-" ? file->addSeparator()
                                                                   : file->addAction(QString::fromLatin1(fileItems[i]));
        Filemenu[i] = named(item, QStringLiteral("Filemenu"), i);
    }
    QMenu *display = named(bar->addMenu(QStringLiteral("&Display")), QStringLiteral("mnuDisplay"));
    DisplayMenu[1] = named(display->addAction(QStringLiteral("Display &Labels")), QStringLiteral("DisplayMenu"), 1);
    DisplayMenu[2] = named(display->addAction(QStringLiteral("Display &Resources")), QStringLiteral("DisplayMenu"), 2);
    for (int i = 1; i <= 2; ++i) DisplayMenu[i]->setCheckable(true);
    grid->setMenuBar(bar);
}

void CustomWindow::selectKind(int r, int kind) {
    {
        const QSignalBlocker block(Combo1[r]);
        Combo1[r]->setCurrentIndex(kind);
    }
    Combo1_Click(r);
}

void CustomWindow::Combo1_Click(int r) {
    CustomResourceRow &row = (*own_.rows)[r];
    row.kind = static_cast<int16_t>(std::max(0, Combo1[r]->currentIndex()));
    if (row.kind == kindNotSelected) {
        row.name = kindText(kindNotSelected);
        Label1[r]->setText(row.name);
        return;
    }
    if (row.number > kindBound(row.kind)) {
        MsgBox(kindChangeMessage(row.kind), row.kind == kindServoFwdLimit ? mbOKOnly : mbOKOnly + mbExclamation);
        row.kind = kindNotSelected;
        selectKind(r, kindNotSelected);
        return;
    }
    row.name = kindText(row.kind) + numberWithBlank(row.number);
    if (SymbolSnapshot *symbols = kindSymbols(row.kind)) {
        const QString criteria = QStringLiteral("Number =") + numberWithBlank(row.number);
        QString name;
        if (FindSymbolName(*symbols, criteria, name) ||
            (row.kind == kindRegister && FindSymbolName(SymRegisters2, criteria, name)))
            row.name = name;
    }
    Label1[r]->setText(row.name);
}

void CustomWindow::Form_Load() {
    *own_.loadedFlag = true;
    // The rows come from the window's configuration file when one is named
    // (CustomScreen1Path / CustomScreen2Path); that file is read by the
    // configuration procedures of the File menu.
    placeWindow(*this, readGeometry(traits_.settings));
    const int kinds = servoInputsOffered() ? 13 : 9;
    for (int r = 0; r < 16; ++r) {
        const CustomResourceRow &row = (*own_.rows)[r];
        {
            const QSignalBlocker block(Combo1[r]);
            Combo1[r]->clear();
            for (int k = 0; k < kinds; ++k) Combo1[r]->addItem(kindText(k));
        }
        Combo1[r]->hide();
        if (row.kind >= 0 && row.kind < kinds) {
            selectKind(r, row.kind);
        } else {
            // A kind the list does not offer (a servo input on a controller
            // without them, or no kind at all) makes the row "Not Selected",
            // as a number beyond the kind's bound does.
            if (row.kind > 0 && row.kind <= 12) MsgBox(kindChangeMessage(row.kind), mbOKOnly + mbExclamation);
            (*own_.rows)[r].kind = kindNotSelected;
            selectKind(r, kindNotSelected);
        }
        Text1[r]->hide();
        Text1[r]->setText(QString::number((*own_.rows)[r].number));
        Text2[r]->clear();
        Label1[r]->show();
        Label1[r]->setText((*own_.rows)[r].name);
    }
    DisplayMenu[1]->setChecked(true);
    DisplayMenu[2]->setChecked(false);
    ConfigSaved = false;
}

void CustomWindow::Form_Unload(int &) {
    *own_.loadedFlag = false;
    // The question whether to save the configuration belongs with the
    // configuration file's procedures.
    standardUnload();
}

frmCustom1::frmCustom1()
    : CustomWindow(QStringLiteral("frmCustom1"),
                   {{QStringLiteral("Custom1"), QStringLiteral("Custom1"), {2064, 2940, 4656, 5200},
                     {2064, 2940, 4656, 5200}, {2064, 2940, 4656, 4416}},
                    &Custom1WindowOpen, QStringLiteral("Custom Resource Form unloaded."), false, QStringLiteral("ORVcust1")},
                   {1, &Custom1Rows, &Custom1Loaded, QStringLiteral("No such FLAG exists."),
                    QStringLiteral("No such servo motor exists.")}) {}

frmCustom2::frmCustom2()
    : CustomWindow(QStringLiteral("frmCustom2"),
                   {{QStringLiteral("Custom2"), QStringLiteral("Custom2"), {2064, 2940, 4656, 5200},
                     {2064, 2940, 4656, 5200}, {2064, 2940, 4656, 4416}},
                    &Custom2WindowOpen, QStringLiteral("Custom Resource Form unloaded."), false, QStringLiteral("ORVcust1")},
                   {2, &Custom2Rows, &Custom2Loaded, QStringLiteral("No such FLAG exist."),
                    QStringLiteral("No such servo motor exist.")}) {}
