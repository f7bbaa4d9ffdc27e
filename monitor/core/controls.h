// Controls that the windows share beyond Qt's own: the 3-D command button
// and panel, and the key and click events of the windows' text boxes and
// labels in the form the windows' handlers take them.
//
// Key events come in two steps, as the windows expect them: KeyDown with a
// key code for every key pressed, then KeyPress with the character code
// (KeyAscii) for keys that type a character, Enter (13), Backspace (8) and
// Esc (27). A KeyPress handler that sets KeyAscii to 0 swallows the key; one
// that changes it types the other character instead. A KeyDown handler that
// sets KeyCode to 0 swallows the key as well.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <cstdint>
#include <functional>

// Key codes of KeyDown for the keys the windows test.
namespace KeyCodes {
inline constexpr int Back = 8;
inline constexpr int Tab = 9;
inline constexpr int Return = 13;
inline constexpr int Escape = 27;
inline constexpr int PageUp = 33;
inline constexpr int PageDown = 34;
inline constexpr int End = 35;
inline constexpr int Home = 36;
inline constexpr int Left = 37;
inline constexpr int Up = 38;
inline constexpr int Right = 39;
inline constexpr int Down = 40;
inline constexpr int Insert = 45;
inline constexpr int Delete = 46;
}  // namespace KeyCodes

// Shift state of KeyDown: added together.
enum : int { ShiftMask = 1, CtrlMask = 2, AltMask = 4 };

void onKeyPress(QWidget *w, std::function<void(int &keyAscii)> handler);
void onKeyDown(QWidget *w, std::function<void(int &keyCode, int shift)> handler);
// A click on a control that has no click of its own (a label, a panel).
void onClick(QWidget *w, std::function<void()> handler);

// The 3-D style values of the 3-D controls' text.
enum : int { Font3DNone = 0, Font3DRaisedLight = 1, Font3DRaisedHeavy = 2, Font3DInsetLight = 3, Font3DInsetHeavy = 4 };

// A 3-D command button: a caption, a text colour (0x00BBGGRR) and a 3-D
// text style.
class SSCommand : public QPushButton {
    Q_OBJECT
public:
    explicit SSCommand(const QString &caption = QString(), QWidget *parent = nullptr);
    QString Caption() const { return text(); }
    void setCaption(const QString &caption) { setText(caption); }
    int32_t ForeColor() const { return foreColor_; }
    void setForeColor(int32_t bgr);
    int Font3D() const { return font3D_; }
    void setFont3D(int style);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void restyle();
    int32_t foreColor_ = 0;
    int font3D_ = Font3DNone;
};

// A 3-D panel: a framed caption with a text colour and a 3-D text style, and
// a flood bar that fills a share of the panel (FloodPercent 0..100, shown
// while FloodType is not 0).
class SSPanel : public QLabel {
    Q_OBJECT
public:
    explicit SSPanel(const QString &caption = QString(), QWidget *parent = nullptr);
    QString Caption() const { return text(); }
    void setCaption(const QString &caption) { setText(caption); }
    int32_t ForeColor() const { return foreColor_; }
    void setForeColor(int32_t bgr);
    int Font3D() const { return font3D_; }
    void setFont3D(int style) { font3D_ = style; }
    int FloodType() const { return floodType_; }
    void setFloodType(int type);
    int FloodPercent() const { return floodPercent_; }
    // The percentage the flood bar shows in its middle ("42%"); empty while
    // there is no bar or the panel has a caption of its own.
    QString FloodText() const;
    void setFloodPercent(int percent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void restyle();
    int32_t foreColor_ = 0;
    int font3D_ = Font3DNone;
    int floodType_ = 0;
    int floodPercent_ = 0;
};

// The hourglass pointer for as long as it lives.
struct Hourglass {
    Hourglass();
    ~Hourglass();
    Hourglass(const Hourglass &) = delete;
    Hourglass &operator=(const Hourglass &) = delete;
};

// A colour kept as 0x00BBGGRR, as a Qt colour.
QColor colourFromBgr(int32_t bgr);
