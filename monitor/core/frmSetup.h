// The communication setup window: the connection kind and its settings, what
// the last connection check learnt about the controller, the controller's own
// network addresses and its run-control input configuration.
//
// The window keeps no settings of its own: it loads its fields from the
// connection globals, writes edits back into them and, on closing, hands the
// reconnection to the main window. Two hidden fields serve the rest of the
// program: writing into txtLoadCommand reloads the window, and raising the
// counter in txtResolveIP resolves the typed address into ControllerIP.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/controls.h"
#include "core/forms.h"

class QVBoxLayout;

class frmSetup : public Form {
    Q_OBJECT
public:
    frmSetup();

    // Connection group.
    QComboBox *Combo1 = nullptr;  // connection kind; list index = CommPort
    QComboBox *Combo2 = nullptr;  // serial baud rate
    QLineEdit *Text3 = nullptr;   // controller IP address or host name
    QCheckBox *chkSearch = nullptr;
    QLineEdit *Text1 = nullptr;      // host node
    QLineEdit *Text2 = nullptr;      // target node
    QLineEdit *txtAdapter = nullptr;  // network adapter
    QLineEdit *Text4 = nullptr;      // timeout (ms)
    QPushButton *ExitButton = nullptr;

    // Controller information and input status groups.
    QGroupBox *InfoFrame = nullptr;
    QGroupBox *InputFrame = nullptr;
    std::array<QLabel *, 12> Label14{};
    std::array<SSCommand *, 4> Command3d1{};
    std::array<QLabel *, 4> Label19{};

    // The controller network address panel.
    QGroupBox *Frame1 = nullptr;
    std::array<QLineEdit *, 13> txtAddress{};  // 0..11 octets, 12 the node
    QLabel *lblMacID = nullptr;
    QPushButton *cmdLoadIP = nullptr;

    // Hidden service fields.
    QLineEdit *txtResolveIP = nullptr;
    QLineEdit *txtLoadCommand = nullptr;

    // Frame1's height in twips: 255 closed, 2500 open.
    int32_t Frame1Height() const { return frame1Height_; }

    // True when the text is a dotted IPv4 address: no dot first or last,
    // only digits and dots, three dots, each group 0..255 (empty reads 0).
    static bool IsIP(const QString &text);
    // Derives ControllerIPText, ControllerIP and ResolvingHost from the
    // address field; a text that gives no usable address leaves ControllerIP
    // empty, so that nothing is opened.
    void ResolveAddress();
    // Fills the address panel from the controller.
    void GetAddresses();

    void Combo1_Click();
    void Combo2_Click();
    void ExitButton_Click();
    void Frame1_Click();
    void cmdLoadIP_Click();
    void Command3d1_Click(int index);

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The connection settings as they stood when the load procedure last ran.
    struct Snapshot {
        int32_t commPort = 0;
        int32_t baudRate = 0;
        QString controllerIP;
        int32_t targetNode = 0;
        int32_t hostNode = 0;
    };

    void loadProcedure();
    void enableByKind();
    void showControllerInfo();
    void showInputConfiguration(bool known);
    // The steps of buildControls, in the window's order.
    void buildConnectionGroup(QVBoxLayout *outer);
    void buildInfoFrame(QVBoxLayout *outer);
    void buildInputFrame(QVBoxLayout *outer);
    void buildAddressPanel();
    void wireAddressBoxes();
    void buildServiceFields();
    void wireChoices();
    void placeFrame1();
    void setAddressFromBoxes();
    // A failed write of the address panel, in a box.
    void reportFailure(const QString &text);
    // The toggle of input i from InputStatusBits, while the link holds.
    void showInput(int i);
    // The outcome of a toggle's configuration write, in the status line.
    void configStatus(const QString &text);
    // The time-out typed into its field (the one in use when nothing was
    // typed), or nothing (and a box saying so) when the field holds no
    // whole number of milliseconds it takes.
    std::optional<int32_t> typedTimeout();
    void nodeField(QLineEdit *field, std::function<void()> enter);
    int32_t limitField(QLineEdit *field, int32_t limit);
    void hostNodeEnter();
    void commitTargetNode();
    void adapterEnter();

    Snapshot SetupSnapshot;
    bool EditStarted = false;
    bool inputsKnown_ = false;  // the controller's input configuration was read
    int32_t frame1Height_ = 255;
    QWidget *frame1Slot_ = nullptr;  // Frame1's place among the groups
    QWidget *frame1Body_ = nullptr;
};
