#include "windows/frames.h"

#include <QVBoxLayout>

#include "core/globals.h"
#include "core/settings.h"

MonitorFrame::MonitorFrame(const QString &name, const QString &captionWord, bool *openFlag, const QString &section,
                           FrameGeometry defaults)
    : Form(name), word_(captionWord), open_(openFlag), section_(section), defaults_(defaults) {}

void MonitorFrame::buildControls() {
    auto *layout = new QVBoxLayout(this);
    // The DDE window's status label; harmless on the others.
    layout->addWidget(named(new QLabel(this), QStringLiteral("Message")));
    for (int i = 0; i < 16; ++i) {
        Label1[size_t(i)] = named(new QLabel(this), QStringLiteral("Label1"), i);
        Label2[size_t(i)] = named(new QLabel(this), QStringLiteral("Label2"), i);
        Text1[size_t(i)] = named(new QLineEdit(this), QStringLiteral("Text1"), i);
        Text2[size_t(i)] = named(new QLineEdit(this), QStringLiteral("Text2"), i);
        SSCommand1[size_t(i)] = named(new SSCommand(QString(), this), QStringLiteral("SSCommand1"), i);
        SSPanel1[size_t(i)] = named(new SSPanel(QString(), this), QStringLiteral("SSPanel1"), i);
    }
    VScroll1 = named(new QScrollBar(Qt::Vertical, this), QStringLiteral("VScroll1"));
    VScroll1->setRange(1, 31985);
    layout->addStretch();
}

void MonitorFrame::Form_Load() {
    setCaption(word_ + ConnectionTitle);
    if (!section_.isEmpty()) {
        FrameGeometry g = defaults_;
        readSettingsSection(section_, section_, [&](int32_t key) {
            QueryLongValue(key, QStringLiteral("Height"), g.height);
            QueryLongValue(key, QStringLiteral("Left"), g.left);
            QueryLongValue(key, QStringLiteral("Top"), g.top);
            QueryLongValue(key, QStringLiteral("Width"), g.width);
        });
        Move(g.left, g.top, g.width, g.height);
    }
    if (open_ && (open_ == &RegbitsWindowOpen || open_ == &Custom1Loaded || open_ == &Custom2Loaded)) *open_ = true;
}

void MonitorFrame::Form_Unload(int &) {
    if (open_) *open_ = false;
    if (section_.isEmpty()) return;
    if (WindowState() != wsNormal) return;
    const int32_t h = Height(), l = Left(), t = Top(), w = Width();
    writeSettingsSection(section_, section_, section_, [&](int32_t key) {
        SetLongValue(key, QStringLiteral("Height"), h);
        SetLongValue(key, QStringLiteral("Left"), l);
        SetLongValue(key, QStringLiteral("Top"), t);
        SetLongValue(key, QStringLiteral("Width"), w);
    });
}

namespace {
constexpr FrameGeometry Std{1668, 924, 5184, 5000};
inline bool NoFlag = false;
}  // namespace

#define S QStringLiteral
frmReg::frmReg() : MonitorFrame(S("frmReg"), S("Registers"), &RegWindowOpen, S("Registers"), Std) {}
frmRam::frmRam() : MonitorFrame(S("frmRam"), S("NVRegisters"), &RamWindowOpen, S("NVram"), {1668, 924, 4956, 5000}) {}
frmRegbits::frmRegbits() : MonitorFrame(S("frmRegbits"), S("Register Bits"), &RegbitsWindowOpen, QString(), Std) {}
frmDigIn::frmDigIn() : MonitorFrame(S("frmDigIn"), S("Digital Inputs"), &DigInWindowOpen, S("Digin"), Std) {}
frmAnalIn::frmAnalIn() : MonitorFrame(S("frmAnalIn"), S("Analog Inputs"), &AnalInWindowOpen, S("Analin"), Std) {}
frmFlag::frmFlag() : MonitorFrame(S("frmFlag"), S("Flags"), &FlagWindowOpen, S("Flags"), Std) {}
frmDigOut::frmDigOut() : MonitorFrame(S("frmDigOut"), S("Digital Outputs"), &DigOutWindowOpen, S("Digout"), Std) {}
frmAnalOut::frmAnalOut()
    : MonitorFrame(S("frmAnalOut"), S("Analog Outputs"), &AnalOutWindowOpen, S("Analout"), Std) {}
frmServo::frmServo() : MonitorFrame(S("frmServo"), S("Motors/Servos"), &ServoWindowOpen, S("Servo"), Std) {}
frmServo2::frmServo2() : MonitorFrame(S("frmServo2"), S("Motors/Servos"), &NoFlag, QString(), Std) {}
frmCustom1::frmCustom1()
    : MonitorFrame(S("frmCustom1"), S("Custom Screen 1"), &Custom1Loaded, S("Custom1"), Std) {}
frmCustom2::frmCustom2()
    : MonitorFrame(S("frmCustom2"), S("Custom Screen 2"), &Custom2Loaded, S("Custom2"), Std) {}
frmStatus::frmStatus() : MonitorFrame(S("frmStatus"), S("Step Status"), &StatusPollOn, S("Status"), Std) {}
#undef S
