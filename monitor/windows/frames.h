// The monitor's windows, all in one header for the main window.
//
// MonitorFrame is a frame of a window still to be built: its name, its
// caption word and its settings section with the window's geometry. The
// resource monitor windows below are built on ResourceWindow instead.
#pragma once

#include <QLabel>
#include <QString>
#include <cstdint>

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

// The resource monitor windows.
#include "windows/analogwindows.h"
#include "windows/customwindows.h"
#include "windows/digitalwindows.h"
#include "windows/frmFlag.h"
#include "windows/frmRegbits.h"
#include "windows/frmStatus.h"
#include "windows/registerwindows.h"
#include "windows/servowindows.h"
