// The monitor windows as frames: each has its name, its caption word, its
// window-open flag and its settings section with the window's geometry. The
// refresh of the polling loop writes into them; their own controls and
// procedures grow on this base.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QString>
#include <array>
#include <cstdint>

#include "core/controls.h"
#include "core/forms.h"

struct FrameGeometry {
    int32_t top, left, height, width;
};

class MonitorFrame : public Form {
    Q_OBJECT
public:
    MonitorFrame(const QString &name, const QString &captionWord, bool *openFlag, const QString &section,
                 FrameGeometry defaults);
    const QString &captionWord() const { return word_; }
    const QString &section() const { return section_; }

    std::array<QLabel *, 16> Label1{}, Label2{};
    std::array<QLineEdit *, 16> Text1{}, Text2{};
    std::array<SSCommand *, 16> SSCommand1{};
    std::array<SSPanel *, 16> SSPanel1{};
    QScrollBar *VScroll1 = nullptr;
    bool HexView = false;

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;

private:
    QString word_;
    bool *open_;
    QString section_;
    FrameGeometry defaults_;
};

#define ORVMON_FRAME(cls)             \
    class cls : public MonitorFrame { \
        Q_OBJECT                      \
    public:                           \
        cls();                        \
    };

ORVMON_FRAME(frmReg)
ORVMON_FRAME(frmRam)
ORVMON_FRAME(frmRegbits)
ORVMON_FRAME(frmDigIn)
ORVMON_FRAME(frmAnalIn)
ORVMON_FRAME(frmFlag)
ORVMON_FRAME(frmDigOut)
ORVMON_FRAME(frmAnalOut)
ORVMON_FRAME(frmServo)
ORVMON_FRAME(frmServo2)
ORVMON_FRAME(frmCustom1)
ORVMON_FRAME(frmCustom2)
ORVMON_FRAME(frmStatus)
