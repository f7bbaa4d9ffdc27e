// The servo windows: frmServo shows axes 1 to 16 and frmServo2 axes 17 to 32,
// one row per axis with its name, its position and its following error. They
// share one settings section, which only frmServo writes, and one open flag,
// which only frmServo's unload clears.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <array>

#include "windows/resourcewindow.h"

class ServoWindow : public ResourceWindow {
    Q_OBJECT
public:
    ServoWindow(const QString &name, int firstServo);

    std::array<QLabel *, 16> Label4{};    // axis names
    std::array<QLineEdit *, 16> Text1{};  // positions, filled by the polling loop
    std::array<QLineEdit *, 16> Text2{};  // following errors, filled by the polling loop
    QLabel *Label1 = nullptr;             // "Name:"
    QLabel *Label2 = nullptr;             // "Position:"
    QLabel *Label3 = nullptr;             // "Error:"

    int firstServo() const { return first_; }

    void Text1_KeyPress(int index, int &keyAscii);
    void Text1_LostFocus(int index);

protected:
    void buildControls() override;
    void fillRow(int r);

private:
    void writeEntry(int index);
    int first_;
    // The servo (number minus one) whose box the edit in progress started
    // in, -1 for none. Both windows share the edit flag, and a box of the
    // other window never loses the focus to this one.
    inline static int editStartedAt_ = -1;
};

class frmServo : public ServoWindow {
    Q_OBJECT
public:
    frmServo();

protected:
    // Each step of the load goes on after a step that fails.
    void Form_Load() override;
};

class frmServo2 : public ServoWindow {
    Q_OBJECT
public:
    frmServo2();

protected:
    // Opens 400 twips above and 200 left of the first window's place.
    void Form_Load() override;
    // Saves nothing and leaves the serving of both windows to frmServo.
    void Form_Unload(int &) override {}
};
