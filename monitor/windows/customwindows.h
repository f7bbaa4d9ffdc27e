// The two custom windows: sixteen rows, each showing one controller resource
// of the kind and number the user chose for it (Custom1Rows, Custom2Rows),
// with its name and its value. Labels view: name and value; Resources view:
// kind, number and value.
#pragma once

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <array>

#include "core/globals.h"
#include "core/msgbox.h"
#include "windows/resourcewindow.h"

// The kind of a custom row; also its index in the row's kind list.
enum ResourceKind : int16_t {
    kindNotSelected = 0,
    kindFlag = 1,
    kindDigitalInput = 2,
    kindDigitalOutput = 3,
    kindAnalogInput = 4,
    kindAnalogOutput = 5,
    kindRegister = 6,
    kindServoPosition = 7,
    kindServoError = 8,
    kindServoHomeInput = 9,
    kindServoStartInput = 10,
    kindServoRevLimit = 11,
    kindServoFwdLimit = 12,
};

class CustomWindow : public ResourceWindow {
    Q_OBJECT
public:
    struct Own {
        int number;                                 // 1 or 2
        std::array<CustomResourceRow, 16> *rows;    // Custom1Rows
        bool *loadedFlag;                           // Custom1Loaded
        QString flagKindMessage;                    // kind-change message of a flag row
        QString servoKindMessage;                   // kind-change message of a servo position row
    };
    CustomWindow(const QString &name, Traits traits, Own own);

    std::array<QLabel *, 16> Label1{};     // row names (Labels view)
    std::array<QComboBox *, 16> Combo1{};  // row kinds (Resources view)
    std::array<QLineEdit *, 16> Text1{};   // row numbers (Resources view)
    std::array<QLineEdit *, 16> Text2{};   // row values, filled by the polling loop
    std::array<QAction *, 8> Filemenu{};   // [1..7]; 3 and 6 are separators
    std::array<QAction *, 3> DisplayMenu{};  // [1] "Display &Labels", [2] "Display &Resources"
    CommonDialog CMDialog1;
    // True after the configuration was written to its file.
    bool ConfigSaved = false;

    // A kind chosen for row r (by the user, or by the load).
    void Combo1_Click(int r);

    // The list text of each kind.
    static QString kindText(int kind);

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;

private:
    QString kindChangeMessage(int kind) const;
    void selectKind(int r, int kind);
    Own own_;
};

class frmCustom1 : public CustomWindow {
    Q_OBJECT
public:
    frmCustom1();
};

class frmCustom2 : public CustomWindow {
    Q_OBJECT
public:
    frmCustom2();
};
