#include "windows/servowindows.h"

#include <QGridLayout>

#include "core/controls.h"
#include "core/globals.h"
#include "core/shownvalue.h"
#include "core/textfit.h"

namespace {
const WindowSettings ServoSettings{QStringLiteral("Servo"), QStringLiteral("Servo"), {1392, 1944, 4776, 5000},
                                   {1392, 1944, 4776, 5000}, {1392, 1944, 4776, 4164}};

// Runs one step of a load that goes on whatever the step does.
template <class F> void step(F f) {
    try {
        f();
    } catch (const std::exception &) {
    }
}
}  // namespace

ServoWindow::ServoWindow(const QString &name, int firstServo)
    : ResourceWindow(name, {ServoSettings, firstServo == 1 ? &ServoWindowOpen : nullptr,
                            QStringLiteral("Servo Form unloaded."), false, QStringLiteral("ORVservo")}),
      first_(firstServo) {}

void ServoWindow::buildControls() {
    auto *grid = new QGridLayout(this);
    grid->setVerticalSpacing(1);
    Label1 = named(new QLabel(QStringLiteral("Name:"), this), QStringLiteral("Label1"));
    Label2 = named(new QLabel(QStringLiteral("Position:"), this), QStringLiteral("Label2"));
    Label3 = named(new QLabel(QStringLiteral("Error:"), this), QStringLiteral("Label3"));
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Label2, 0, 1);
    grid->addWidget(Label3, 0, 2);
    for (int r = 0; r < 16; ++r) {
        Label4[r] = named(new QLabel(this), QStringLiteral("Label4"), r);
        Text1[r] = named(new QLineEdit(this), QStringLiteral("Text1"), r);
        Text2[r] = named(new QLineEdit(this), QStringLiteral("Text2"), r);
        Text2[r]->setReadOnly(true);
        reserveText(Label4[r], WidestSymbolName);
        reserveText(Text1[r], WidestRegisterValue);
        reserveText(Text2[r], WidestRegisterValue);
        onKeyPress(Text1[r], [this, r](int &key) { Text1_KeyPress(r, key); });
        onLostFocus(Text1[r], [this, r] { Text1_LostFocus(r); });
        grid->addWidget(Label4[r], r + 1, 0);
        grid->addWidget(Text1[r], r + 1, 1);
        grid->addWidget(Text2[r], r + 1, 2);
    }
}

void ServoWindow::fillRow(int r) {
    const int32_t n = first_ + r;
    if (n > NumServos) {
        Label4[r]->setText(QStringLiteral("Not Present"));
        Text1[r]->setText(QStringLiteral("N/A"));
        Text2[r]->setText(QStringLiteral("N/A"));
        return;
    }
    QString name;
    if (SymbolFilePath.isEmpty()) {
        name = QStringLiteral("motor/servo_") + QString::number(n);
    } else if (FindSymbolName(SymServos, NumberCriteria(n), name)) {
        Label4[r]->setText(name);
        return;
    } else {
        name = QStringLiteral("servo_") + QString::number(n);
    }
    Label4[r]->setText(name);
    Text1[r]->clear();
    Text2[r]->clear();
}

frmServo::frmServo() : ServoWindow(QStringLiteral("frmServo"), 1) { setWindowTitle(QStringLiteral("ORV Servos")); }

void frmServo::Form_Load() {
    Geometry g = ServoSettings.keyMissing;
    step([&] { g = readGeometry(ServoSettings); });
    step([&] { setTop(g.top); });
    step([&] { setLeft(g.left); });
    step([&] { setHeight(g.height); });
    step([&] { setWidth(g.width); });
    for (int r = 0; r < 16; ++r) step([&] { fillRow(r); });
}

frmServo2::frmServo2() : ServoWindow(QStringLiteral("frmServo2"), 17) {
    setWindowTitle(QStringLiteral("Motors 17-32"));
}

void frmServo2::Form_Load() {
    const Geometry g = readGeometry(ServoSettings);
    placeWindow(*this, {g.top - 400, g.left - 200, g.height, g.width});
    for (int r = 0; r < 16; ++r) fillRow(r);
}

void ServoWindow::Text1_KeyPress(int index, int &keyAscii) {
    const int servo = first_ - 1 + index;  // servo number minus one
    ServoEditIndex = static_cast<int16_t>(servo);
    if (keyAscii == 13) {
        keyAscii = 0;
        if (TypedNumberEntered(Text1[index])) writeEntry(index);
        return;
    }
    if (!ServoEditInProgress || editStartedAt_ != servo) {
        ShownValue::beginEntry(Text1[index]);
        Text1[index]->clear();
        ServoEditInProgress = true;
        editStartedAt_ = servo;
    }
}

void ServoWindow::Text1_LostFocus(int index) {
    if (ServoEditInProgress) editStartedAt_ = -1;
    AbandonEntry(ServoEditInProgress, Text1[index]);
}

void ServoWindow::writeEntry(int index) {
    const int32_t servo = first_ + index;
    // A number the position register cannot hold is not written: the entry goes on.
    const auto value = TypedValue(Text1[index], QStringLiteral("Servo #") + QString::number(servo) +
                                                    QStringLiteral(" position"), Int32Low, Int32High);
    if (!value) return;
    // No connection test: without one the call fails and says so.
    ReportWrite([&] { return OrvComm::ZqPutRegister(ConnectionHandle, 14000 + servo, *value); },
                QStringLiteral("Servo #") + QString::number(servo) + QStringLiteral(" position updated."),
                QStringLiteral("Failed to update servo position value!"), Text1[index]);
    ServoEditInProgress = false;
    editStartedAt_ = -1;
}
