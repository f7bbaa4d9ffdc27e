// The program transfer window: two numbered buttons that start the upload and
// the download of a step program, the status label of the transfers, and the
// file dialogs for program object files.
#pragma once

#include <QString>
#include <array>

#include "core/forms.h"
#include "core/msgbox.h"

class QLabel;
class QPushButton;

class frmLoadMain : public Form {
    Q_OBJECT
public:
    frmLoadMain();

    // Command1(4) "&1" starts the upload, Command1(3) "&2" the download;
    // Label1(4) and Label1(3) stand beside them. Indices 0..2 are unused.
    std::array<QPushButton *, 5> Command1{};
    std::array<QLabel *, 5> Label1{};
    QPushButton *ExitButton = nullptr;
    QLabel *Label2 = nullptr;  // status line of the transfers
    CommonDialog CMDialog1;

    void ExitButton_Click();
    // Button 3 downloads a program, button 4 uploads one.
    void Command1_Click(int index);

    // Asks for an existing object file to download, again until one is
    // chosen; the name goes into path and is returned. Cancel returns an
    // empty text.
    QString OpenDSOFile(QString &path);
    // Asks for the object file to upload into, again until one is chosen;
    // an existing file needs the user's agreement to be overwritten (it is
    // replaced when the upload has succeeded), and a name ending in .txt is
    // refused. The name goes into path and is returned. Cancel returns an
    // empty text.
    QString SaveDSOFile(QString &path);

protected:
    void buildControls() override;
    void Form_Load() override;

private:
    void prepareDialog(const QString &title, const QString &path);
};
