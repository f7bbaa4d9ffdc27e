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
        QString *path;                              // CustomScreen1Path
        bool *editing;                              // Custom1EditInProgress
        int16_t *editIndex;                         // Custom1EditIndex
        QString savePrompt;                         // "Save Changes to Custom Form 1?"
        QString saveError;                          // "Error Saving File"
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
    // The number box of row r: the first key starts an entry, Enter (and
    // leaving the box) takes the number.
    void Text1_KeyPress(int r, int &keyAscii);
    void Text1_LostFocus(int r);
    // The value box of row r: Enter writes a number the user typed to the
    // row's resource.
    void Text2_KeyPress(int r, int &keyAscii);
    void Text2_KeyDown(int r, int &keyCode, int shift);
    void Text2_LostFocus(int r);
    // Display menu: item 1 the Labels view, item 2 the Resources view.
    void DisplayMenu_Click(int i);
    // File menu: New, Open, Save, Save As, Exit (items 1, 2, 4, 5, 7).
    void Filemenu_Click(int i);

    // The configuration file (see customfile.h). LoadConfig fills the rows
    // from a file and nothing else; a missing file reads nothing. The saves
    // return True when the file was written.
    void LoadConfig(const QString &path);
    void OpenConfig();
    bool SaveCurrentConfig();
    bool SaveConfigAs();
    bool SaveConfig(const QString &path);

    // The list text of each kind.
    static QString kindText(int kind);

    // Row r while its resource has not been read (a new window or row, a
    // read that failed or was refused, the link gone, a write whose outcome
    // is not known): its value box shows "*", and the label of a digital
    // point, which names the point's state, the row's own name. Rows of no
    // kind are left alone.
    void showUnknown(int r);

    // Rows loaded while the controller was not identified are checked
    // against its counts (as a load would check them) once it is; nothing
    // when they were checked already or the window is not loaded.
    void checkRows();

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;

private:
    QString kindChangeMessage(int kind) const;
    QString numberEntryMessage(int kind) const;
    void selectKind(int r, int kind);
    // Shows row r from the row arrays: its kind (through the kind handling),
    // its number and its name.
    void showRow(int r);
    // The default name of row r and then its symbolic name; registers are
    // also looked up in the second register snapshot when secondRegisters.
    void nameRow(int r, bool secondRegisters);
    void numberEntered(int r);
    void valueEntered(int r);
    void showView(bool resources);
    // Prepares CMDialog1 for the configuration file.
    void prepareDialog();
    Own own_;
    // The rows were checked against the controller's counts.
    bool rowsChecked_ = false;
};

// The connection manager's call once it has identified a controller: each
// loaded custom window checks its rows, after the current handler.
void CheckCustomRowsLater();

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
