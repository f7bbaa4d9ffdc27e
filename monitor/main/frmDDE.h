// The DDE setup window: the user's page for the DDE link and, through its
// controls, the items that other programs read, poke and link to. The window
// is loaded hidden at start-up and stays loaded for the whole run.
//
// Typing into a box starts an edit (DdeWriteSuppress) that lasts until Enter
// or leaving the box commits it; while an edit is in progress, a change of a
// box's text (a client's poke, the program's own writes) does nothing.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <array>
#include <cstdint>
#include <optional>

#include "core/basics.h"
#include "core/controls.h"
#include "core/forms.h"

class frmDDE : public Form {
    Q_OBJECT
public:
    frmDDE();

    // Flag, register and 50-register page.
    QLineEdit *FlagAddress = nullptr;
    QLineEdit *FlagWrite = nullptr;
    std::array<QLabel *, 33> FlagValue{};  // items 1..32
    // Captions; Label1(2)..Label1(5) are the flag group headings.
    std::array<QLabel *, 16> Label1{};
    QLineEdit *RegAddress = nullptr;
    QLineEdit *RegWrite = nullptr;
    QLineEdit *RegRead = nullptr;
    QLineEdit *Reg50Address = nullptr;
    std::array<QLabel *, 10> Label2{};    // row headings of the 50 values
    std::array<QLabel *, 51> RegValue{};  // items 1..50

    // Block write page.
    std::array<QLineEdit *, 17> BlockAddress{};  // rows 1..16
    std::array<QLineEdit *, 17> BlockWrite{};
    std::array<QLabel *, 17> BlockRead{};
    QLineEdit *DDENode = nullptr;
    QScrollBar *HScroll1 = nullptr;  // polling interval, 10..32000 ms
    QLabel *DdeInterval = nullptr;

    QLineEdit *WriteBox = nullptr;  // any change runs the block write
    QLabel *Message = nullptr;
    SSCommand *Command3d1 = nullptr;  // "Start DDE" / "Cancel DDE"
    SSCommand *Command3d2 = nullptr;  // "E&xit"
    SSCommand *Command3d3 = nullptr;  // "&Write Block Data"
    QTabWidget *SSTab1 = nullptr;

    // A client's link opens or closes: serving on or off, with its texts.
    void LinkOpen();
    void LinkClose();
    void Form_LinkOpen(int16_t &cancel) override;
    void Form_LinkClose() override;
    // "START", "EXIT" and "DOWNLOAD", in any case; any other text is refused,
    // and so is a DOWNLOAD that cannot write now, with the reason.
    void Form_LinkExecute(const QString &command, int16_t &cancel) override;
    // A poked address that the controller does not have (its model, or the
    // requests, cannot carry it) is refused with the reason; the box keeps
    // its address.
    void Form_LinkPoke(QLineEdit *box, const QString &text, int16_t &cancel) override;
    // The number of an address box whose item is on: above 0 and no higher
    // than the controller has; nullopt otherwise.
    std::optional<double> itemAddress(const QLineEdit *box) const;
    void Command3d1_Click();
    void Command3d2_Click();
    void Command3d3_Click();
    // Writes every block row that holds a value, rows 1 to 16; the reason
    // why a row was not written (the last such), or empty.
    QString BlockWriteRows();

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;

private:
    enum class Box { FlagAddress, FlagWrite, RegAddress, RegWrite, Reg50Address, DDENode, BlockAddress, Other };

    // What an address box names, and the highest number the controller has
    // there (as far as its model and the requests carry).
    struct AddressKind {
        QString noun, plural;
        int32_t highest;
        BoxBits bits;      // the width of the number the window keeps
        bool offBelowOne;  // 0 or less switches the item off
    };
    std::optional<AddressKind> addressKind(const QLineEdit *box) const;
    // Why the text cannot stand in the address box; empty when it can. Typed
    // and poked addresses go by the same rule.
    QString addressRefusal(const QLineEdit *box, const QString &text) const;
    bool commitAddress(QLineEdit *box);
    int32_t committedAddress(QLineEdit *box);

    void showServing(bool on);
    void setServing(bool on);
    void serveByHand(bool on);
    std::optional<int32_t> registerToWrite(const QLineEdit *box);
    std::optional<int32_t> valueToWrite(const QLineEdit *box, BoxBits bits, const QString &failed);
    void buildFlagPage(QWidget *page);
    void buildBlockPage(QWidget *page);
    void editRules(QLineEdit *box, Box kind);
    void commitOnEnter(Box kind, int &keyAscii);
    void commitOnLeave(Box kind);
    void changed(Box kind);
    void commitFlagAddress();
    void commitRegAddress();
    void commitReg50Address();
    void commitRegWrite();
    void renumberRows();
    void writeFlag(int32_t value);
    void writeRegister(int32_t reg, int32_t value);
    // A write the controller did not take: the words and why, in the main
    // window's status line.
    void writeFailed(const QString &words);
    void status(const QString &text);

    QString textBeforeEdit_;    // of the box being edited
    QString problem_;           // the last failure shown in the status line
    int links_ = 0;             // open conversations on this topic
    bool heldByLinks_ = false;  // serving is on because a link switched it on
};
