#include "windows/customwindows.h"

#include <QFile>
#include <QGridLayout>
#include <QMenuBar>
#include <QPointer>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QTimer>
#include <cmath>

#include "core/basics.h"
#include "core/codeDBase.h"
#include "core/controls.h"
#include "core/shownvalue.h"
#include "core/textfit.h"
#include "windows/customfile.h"

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

// A configuration file is a few hundred bytes; reading stops well past that.
constexpr qint64 MaxConfigBytes = 1 << 20;

// Servo input kinds are offered on EA controllers only.
bool servoInputsOffered() { return IsEaModel(ControllerModel); }
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

QString CustomWindow::numberEntryMessage(int kind) const {
    switch (kind) {
    case kindFlag: return QStringLiteral("No such FLAG exist.");
    case kindDigitalInput: return QStringLiteral("No such DIGITAL INPUT exists.");
    case kindDigitalOutput: return QStringLiteral("No such DIGITAL OUTPUT exists.");
    case kindAnalogInput: return QStringLiteral("No such ANALOG INPUT exists.");
    case kindAnalogOutput: return QStringLiteral("No such ANALOG OUTPUT exists.");
    case kindRegister: return QStringLiteral("No such REGISTER exists.");
    case kindServoPosition: return QStringLiteral("No such SERVO exists.");
    default: return QStringLiteral("No such servo motor exist.");
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
        onKeyPress(Text1[r], [this, r](int &key) { Text1_KeyPress(r, key); });
        onLostFocus(Text1[r], [this, r] { Text1_LostFocus(r); });
        onKeyPress(Text2[r], [this, r](int &key) { Text2_KeyPress(r, key); });
        onKeyDown(Text2[r], [this, r](int &code, int shift) { Text2_KeyDown(r, code, shift); });
        onLostFocus(Text2[r], [this, r] { Text2_LostFocus(r); });
        // Widths as designed (name 2772, kind 1932, number 732 and value
        // 1212 twips), widened where the widest text would not fit.
        Label1[r]->setMinimumWidth(2772 / TwipsPerPixel);
        reserveText(Label1[r], WidestSymbolName);
        Combo1[r]->setMinimumWidth(1932 / TwipsPerPixel);
        Text1[r]->setMinimumWidth(732 / TwipsPerPixel);
        reserveText(Text1[r], QStringLiteral("40000"));
        Text2[r]->setMinimumWidth(1212 / TwipsPerPixel);
        reserveText(Text2[r], WidestRegisterValue);
        // Name and kind share a place: one of them shows, by the view.
        grid->addWidget(Label1[r], r, 0);
        grid->addWidget(Combo1[r], r, 0);
        grid->addWidget(Text1[r], r, 1);
        grid->addWidget(Text2[r], r, 2);
    }
    // Extra width goes to the columns in the proportions of their design.
    grid->setColumnStretch(0, 2772);
    grid->setColumnStretch(1, 732);
    grid->setColumnStretch(2, 1212);

    auto *bar = new QMenuBar(this);
    QMenu *file = named(bar->addMenu(QStringLiteral("&File")), QStringLiteral("mnuFile"));
    const char *const fileItems[8] = {nullptr, "&New", "&Open ...", "-", "Sa&ve", "Sav&e As ...", "-", "E&xit"};
    for (int i = 1; i <= 7; ++i) {
        QAction *item = QString::fromLatin1(fileItems[i]) == u"-" ? file->addSeparator()
                                                                   : file->addAction(QString::fromLatin1(fileItems[i]));
        Filemenu[i] = named(item, QStringLiteral("Filemenu"), i);
        connect(item, &QAction::triggered, this, [this, i] { Filemenu_Click(i); });
    }
    QMenu *display = named(bar->addMenu(QStringLiteral("&Display")), QStringLiteral("mnuDisplay"));
    DisplayMenu[1] = named(display->addAction(QStringLiteral("Display &Labels")), QStringLiteral("DisplayMenu"), 1);
    DisplayMenu[2] = named(display->addAction(QStringLiteral("Display &Resources")), QStringLiteral("DisplayMenu"), 2);
    for (int i = 1; i <= 2; ++i) {
        DisplayMenu[i]->setCheckable(true);
        connect(DisplayMenu[i], &QAction::triggered, this, [this, i] { DisplayMenu_Click(i); });
    }
    grid->setMenuBar(bar);
}

void CustomWindow::selectKind(int r, int kind) {
    {
        const QSignalBlocker block(Combo1[r]);
        Combo1[r]->setCurrentIndex(kind);
    }
    Combo1_Click(r);
}

void CustomWindow::nameRow(int r, bool secondRegisters) {
    CustomResourceRow &row = (*own_.rows)[r];
    row.name = kindText(row.kind) + numberWithBlank(row.number);
    if (SymbolSnapshot *symbols = kindSymbols(row.kind)) {
        const QString criteria = QStringLiteral("Number =") + numberWithBlank(row.number);
        QString name;
        if (FindSymbolName(*symbols, criteria, name) ||
            (secondRegisters && row.kind == kindRegister && FindSymbolName(SymRegisters2, criteria, name)))
            row.name = name;
    }
    Label1[r]->setText(row.name);
}

void CustomWindow::Combo1_Click(int r) {
    CustomResourceRow &row = (*own_.rows)[r];
    row.kind = static_cast<int16_t>(std::max(0, Combo1[r]->currentIndex()));
    if (row.kind == kindNotSelected) {
        row.name = kindText(kindNotSelected);
        Label1[r]->setText(row.name);
        return;
    }
    if (rowsChecked_ && row.number > kindBound(row.kind)) {
        MsgBox(kindChangeMessage(row.kind), row.kind == kindServoFwdLimit ? mbOKOnly : mbOKOnly + mbExclamation);
        row.kind = kindNotSelected;
        selectKind(r, kindNotSelected);
        return;
    }
    nameRow(r, true);
    // The box showed the row's resource of before.
    showUnknown(r);
}

void CustomWindow::showRow(int r) {
    const int kinds = Combo1[r]->count();
    const CustomResourceRow &row = (*own_.rows)[r];
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
    Text1[r]->setText(QString::number(row.number));
    Label1[r]->setText(row.name);
}

void CustomWindow::showView(bool resources) {
    DisplayMenu[1]->setChecked(!resources);
    DisplayMenu[2]->setChecked(resources);
    for (int r = 0; r < 16; ++r) {
        Combo1[r]->setVisible(resources);
        Text1[r]->setVisible(resources);
        Label1[r]->setVisible(!resources);
    }
}

void CustomWindow::Form_Load() {
    *own_.loadedFlag = true;
    if (!own_.path->isEmpty()) LoadConfig(*own_.path);
    placeWindow(*this, readGeometry(traits_.settings));
    // Until the controller is identified its counts and model are not known:
    // the rows stand as they are, every kind offered, and are checked once
    // the controller is identified (CheckCustomRowsLater).
    rowsChecked_ = ControllerIdentified;
    const int kinds = !rowsChecked_ || servoInputsOffered() ? 13 : 9;
    for (int r = 0; r < 16; ++r) {
        {
            const QSignalBlocker block(Combo1[r]);
            Combo1[r]->clear();
            for (int k = 0; k < kinds; ++k) Combo1[r]->addItem(kindText(k));
        }
        Combo1[r]->hide();
        showRow(r);
        Text1[r]->hide();
        // A row's value shows "*" until the polling loop has read it.
        Text2[r]->clear();
        showUnknown(r);
        Label1[r]->show();
    }
    showView(false);
    // Unchecked rows are the file's own: there is nothing to save yet.
    ConfigSaved = !rowsChecked_;
}

void CustomWindow::checkRows() {
    if (!*own_.loadedFlag || rowsChecked_ || !ControllerIdentified) return;
    rowsChecked_ = true;
    const int kinds = servoInputsOffered() ? 13 : 9;
    for (int r = 0; r < 16; ++r) {
        {
            const QSignalBlocker block(Combo1[r]);
            while (Combo1[r]->count() > kinds) Combo1[r]->removeItem(Combo1[r]->count() - 1);
        }
        const int16_t before = (*own_.rows)[r].kind;
        showRow(r);
        if ((*own_.rows)[r].kind != before) ConfigSaved = false;
        // A row's message box lets other events run: the window may be gone.
        if (!*own_.loadedFlag) return;
    }
}

void CheckCustomRowsLater() {
    const auto later = [](CustomWindow &w) {
        QTimer::singleShot(0, &w, [w = QPointer<CustomWindow>(&w)] {
            if (w) w->checkRows();
        });
    };
    if (Custom1Loaded) later(form<frmCustom1>());
    if (Custom2Loaded) later(form<frmCustom2>());
}

void CustomWindow::Form_Unload(int &cancel) {
    *own_.loadedFlag = false;
    if (!ConfigSaved || !Combo1[1]->isHidden()) {
        const QString prompt = own_.path->isEmpty() ? own_.savePrompt : QStringLiteral("Save Changes to ") + *own_.path;
        if (MsgBox(prompt, mbYesNo) == mbYes && !SaveCurrentConfig()) {
            // Yes, but nothing was saved (the file could not be written, or
            // no file was chosen): the window stays open with its rows, so
            // that closing it loses nothing the user asked to keep.
            *own_.loadedFlag = true;
            cancel = 1;
            return;
        }
    }
    standardUnload();
}

// ---- Number and value entries ---------------------------------------------------------

void CustomWindow::Text1_KeyPress(int r, int &keyAscii) {
    if (keyAscii == 13) {
        keyAscii = 0;
        numberEntered(r);
        return;
    }
    if (!*own_.editing) {
        Text1[r]->clear();
        *own_.editing = true;
        // The second window leaves the edit row where a value box put it.
        if (own_.number == 1) *own_.editIndex = static_cast<int16_t>(r);
    }
}

void CustomWindow::Text1_LostFocus(int r) {
    // The second window keeps the text typed into a "Not Selected" row.
    if (own_.number == 2 && (*own_.rows)[r].kind == kindNotSelected) {
        *own_.editing = false;
        return;
    }
    numberEntered(r);
}

void CustomWindow::numberEntered(int r) {
    CustomResourceRow &row = (*own_.rows)[r];
    const int32_t before = row.number;
    const double typed = leadingNumber(Text1[r]->text());
    if (typed < 1) {
        row.number = 1;
        Text1[r]->setText(QStringLiteral("1"));
    } else if (typed > 65535) {
        row.number = 65535;
    } else {
        row.number = static_cast<int32_t>(std::nearbyint(typed));
    }
    // The entry ends on every way out: an edit flag left standing would hold
    // the poll off a row, and let the next value box take its first key as
    // an addition to the polled value.
    *own_.editing = false;
    if (row.kind == kindNotSelected) {
        row.number = 1;
        Text1[r]->setText(QStringLiteral("1"));
        row.name = kindText(kindNotSelected);
        Label1[r]->setText(row.name);
        return;
    }
    if (row.number > kindBound(row.kind)) {
        MsgBox(numberEntryMessage(row.kind), mbOKOnly + mbExclamation);
        row.number = 1;
        Text1[r]->setText(QStringLiteral("1"));
        return;
    }
    nameRow(r, false);
    // Another resource: its value is not read yet.
    if (row.number != before) showUnknown(r);
}

void CustomWindow::Text2_KeyPress(int r, int &keyAscii) {
    // The second window records the row at every key, Enter included.
    if (own_.number == 2) *own_.editIndex = static_cast<int16_t>(r);
    if (keyAscii == 13) {
        keyAscii = 0;
        valueEntered(r);
        return;
    }
    if (!*own_.editing) StartEntry(*own_.editing, *own_.editIndex, Text2[r], r);
}

void CustomWindow::Text2_KeyDown(int r, int &keyCode, int) {
    if (keyCode == KeyCodes::Delete) StartEntry(*own_.editing, *own_.editIndex, Text2[r], r);
}

void CustomWindow::Text2_LostFocus(int r) { AbandonEntry(*own_.editing, Text2[r]); }

namespace {
// How a value typed into a row of a kind is written: the register it goes to
// (0: through the flag call), the word of its status line, and what the
// field takes. A kind that is written to nothing has no word.
struct KindWrite {
    int32_t reg = 0;
    QString word;
    double lo = Int32Low, hi = Int32High;
};

KindWrite kindWrite(int kind, int32_t n) {
    switch (kind) {
    case kindFlag: return {0, QStringLiteral("Flag #"), 0, 1};
    case kindDigitalOutput: return {1000 + n, QStringLiteral("Output #"), 0, 1};
    case kindAnalogOutput: return {8000 + n, QStringLiteral("Analog Output #"), 0, 10000};
    case kindRegister: return {n, QStringLiteral("Register #")};
    case kindServoPosition: return {14000 + n, QStringLiteral("Servo Position #")};
    default: return {};
    }
}
}  // namespace

void CustomWindow::showUnknown(int r) {
    const CustomResourceRow &row = (*own_.rows)[r];
    if (row.kind < kindFlag || row.kind > kindServoFwdLimit) return;
    ShownValue::show(Text2[r], NoState);
    // A digital point's label names its state: back to the row's own name.
    if (row.kind == kindDigitalInput || row.kind == kindDigitalOutput) Label1[r]->setText(row.name);
}

void CustomWindow::valueEntered(int r) {
    const CustomResourceRow &row = (*own_.rows)[r];
    const int32_t n = row.number;
    const KindWrite kind = kindWrite(row.kind, n);
    if (kind.word.isEmpty()) {
        // Nothing is written to a read-only kind: the box shows its value again.
        *own_.editing = false;
        ShownValue::restore(Text2[r]);
        return;
    }
    // A writable row takes only a number the user typed, and only one its
    // field takes; otherwise the entry goes on.
    if (!TypedNumberEntered(Text2[r])) return;
    const QString field = kind.word + QString::number(n);
    const auto value = TypedValue(Text2[r], field, kind.lo, kind.hi);
    if (!value) return;
    *own_.editing = false;
    // Without a link nothing is sent: the status line says why.
    const WriteOutcome outcome = ReportWrite(
        [&] {
            return kind.reg == 0 ? OrvComm::ZqPutFlag(ConnectionHandle, n, *value)
                                 : OrvComm::ZqPutRegister(ConnectionHandle, kind.reg, *value);
        },
        field + QStringLiteral(" updated."), QStringLiteral("Failed to update value."), Text2[r]);
    if (row.kind != kindDigitalOutput) return;
    // The output's label names the state it is known to have: the one
    // written when the controller took it, else the one it showed.
    if (outcome == WriteOutcome::Taken) {
        OutputDisplay = OutputSymbolName(n, *value);
        Label1[r]->setText(OutputDisplay.name);
    } else if (outcome == WriteOutcome::Unknown) {
        showUnknown(r);
    }
}

// ---- Menus ------------------------------------------------------------------------------------

void CustomWindow::DisplayMenu_Click(int i) {
    const Hourglass busy;
    showView(i == 2);
    ConfigSaved = false;
}

void CustomWindow::Filemenu_Click(int i) {
    switch (i) {
    case 1:
        own_.path->clear();
        for (CustomResourceRow &row : *own_.rows) row = {kindText(kindNotSelected), kindNotSelected, 1};
        Form_Load();
        break;
    case 2: OpenConfig(); break;
    case 4: SaveCurrentConfig(); break;
    case 5: SaveConfigAs(); break;
    case 7: Unload(); break;
    default: break;
    }
}

// ---- The configuration file ----------------------------------------------------------------

void CustomWindow::prepareDialog() {
    CMDialog1.FileName = *own_.path;
    CMDialog1.DefaultExt = QStringLiteral("CFG");
    CMDialog1.Filter = QStringLiteral("Config Files(*.CFG)|*.CFG|All Files(*.*)|*.*");
    CMDialog1.FilterIndex = 1;
}

namespace {
// Reads a configuration file into the rows; a missing or unreadable file
// reads nothing.
CustomFileRead readConfig(const QString &path, std::array<CustomResourceRow, 16> &rows) {
    const Hourglass busy;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return ReadCustomFile(file.read(MaxConfigBytes), rows);
}
}  // namespace

void CustomWindow::LoadConfig(const QString &path) {
    const CustomFileRead read = readConfig(path, *own_.rows);
    if (read.badLine == 0) return;
    // The refused file stops being the window's, so that a later Save
    // cannot write rows that never came from it over it.
    if (*own_.path == path) own_.path->clear();
    MsgBox(CustomFileRefusal(path, read) +
               QStringLiteral(": the rows were left as they were, and Save asks for a file."),
           mbOKOnly + mbExclamation);
}

void CustomWindow::OpenConfig() {
    prepareDialog();
    // A cancelled dialog changes nothing: neither the remembered file nor
    // the rows.
    if (!CMDialog1.ShowOpen(this)) return;
    const QString chosen = CMDialog1.FileName;
    if (chosen.isEmpty()) return;
    // A file refused as corrupt is taken neither in part nor as the
    // window's file, so that a later Save cannot overwrite it with rows
    // that never came from it.
    std::array<CustomResourceRow, 16> rows = *own_.rows;
    const CustomFileRead read = readConfig(chosen, rows);
    if (read.badLine > 0) {
        MsgBox(CustomFileRefusal(chosen, read) + QStringLiteral(": the file was not opened and the window is unchanged."),
               mbOKOnly + mbExclamation);
        return;
    }
    *own_.path = chosen;
    *own_.rows = rows;
    repaint();
    for (int r = 0; r < 16; ++r) showRow(r);
}

bool CustomWindow::SaveCurrentConfig() { return own_.path->isEmpty() ? SaveConfigAs() : SaveConfig(*own_.path); }

bool CustomWindow::SaveConfigAs() {
    prepareDialog();
    if (!CMDialog1.ShowSave(this)) return false;
    *own_.path = CMDialog1.FileName;
    repaint();
    return !own_.path->isEmpty() && SaveConfig(*own_.path);
}

bool CustomWindow::SaveConfig(const QString &path) {
    bool saved = false;
    {
        const Hourglass busy;
        // Written beside the old file and put in its place only when whole:
        // a failed save leaves the old file as it was.
        QSaveFile file(path);
        const QByteArray text = CustomFileText(*own_.rows);
        saved = file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
    }
    if (!saved) {
        MsgBox(own_.saveError);
        return false;
    }
    ConfigSaved = true;
    return true;
}

frmCustom1::frmCustom1()
    : CustomWindow(QStringLiteral("frmCustom1"),
                   {{QStringLiteral("Custom1"), QStringLiteral("Custom1"), {2064, 2940, 4656, 5200},
                     {2064, 2940, 4656, 5200}, {2064, 2940, 4656, 4416}},
                    &Custom1WindowOpen, QStringLiteral("Custom Resource Form unloaded."), false, QStringLiteral("ORVcust1")},
                   {1, &Custom1Rows, &Custom1Loaded, QStringLiteral("No such FLAG exists."),
                    QStringLiteral("No such servo motor exists."), &CustomScreen1Path, &Custom1EditInProgress,
                    &Custom1EditIndex, QStringLiteral("Save Changes to Custom Form 1?"),
                    QStringLiteral("Error Saving File")}) {}

frmCustom2::frmCustom2()
    : CustomWindow(QStringLiteral("frmCustom2"),
                   {{QStringLiteral("Custom2"), QStringLiteral("Custom2"), {2064, 2940, 4656, 5200},
                     {2064, 2940, 4656, 5200}, {2064, 2940, 4656, 4416}},
                    &Custom2WindowOpen, QStringLiteral("Custom Resource Form unloaded."), false, QStringLiteral("ORVcust1")},
                   {2, &Custom2Rows, &Custom2Loaded, QStringLiteral("No such FLAG exist."),
                    QStringLiteral("No such servo motor exist."), &CustomScreen2Path, &Custom2EditInProgress,
                    &Custom2EditIndex, QStringLiteral("Save Changes to Custom Form 2?"),
                    QStringLiteral("Error Saving File!")}) {}
