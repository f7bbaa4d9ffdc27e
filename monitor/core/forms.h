// The forms layer: every window of the program is a Form.
//
// A Form is a top-level widget (not a dialog, so Enter and Esc never close
// it) whose objectName is the window's name; its controls carry their own
// names as objectName, an element of a control array its array name and index
// ("Text1(3)"). The window registry owns one object per window for the life of
// the program: touching a window that is not loaded creates it hidden and runs
// its load procedure; unloading runs the unload procedure and hides it, and
// the object is never deleted while the program runs.
#pragma once

#include <QPoint>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <typeindex>
#include <utility>
#include <vector>

class QLineEdit;

// Twips per pixel, fixed.
inline constexpr int TwipsPerPixel = 15;

// The program's font, the same on every display: DejaVu Sans at a fixed
// pixel size, which the windows' layouts are made for. Set once at start,
// before the first window is built.
void useDesignFont();

// Name of an element of a control array: "Text1(3)".
QString controlName(const QString &array, int index);

// Window states as the windows store them.
enum : int { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

class Form : public QWidget {
    Q_OBJECT
public:
    explicit Form(const QString &name, Qt::WindowFlags flags = Qt::Window);
    ~Form() override;

    bool loaded() const { return loaded_; }

    // Builds the controls once (first load only), then runs Form_Load.
    // Loading a loaded window does nothing.
    void Load();
    // Runs Form_Unload; unless it cancels, hides the window and marks it
    // unloaded. True when the window is unloaded afterwards.
    bool Unload();
    // Loads the window if need be and shows it modeless.
    void Show();
    // Loads the window if need be and shows it modally: returns when the
    // window has been unloaded (or hidden). Tests replace the wait with a
    // modal runner.
    void ShowModal();
    void Hide();

    QString Caption();
    void setCaption(const QString &text);

    // Geometry in twips. A value that the window was given and that the user
    // has not changed since is handed back exactly as given.
    int32_t Top();
    int32_t Left();
    int32_t Height();
    int32_t Width();
    void setTop(int32_t twips);
    void setLeft(int32_t twips);
    void setHeight(int32_t twips);
    void setWidth(int32_t twips);
    void Move(int32_t left, int32_t top, int32_t width, int32_t height);
    int WindowState() const;

    // A control by name (the window is loaded first); nullptr when absent.
    template <class W = QWidget> W *control(const QString &name) {
        Load();
        if (objectName() == name) return qobject_cast<W *>(this);
        return findChild<W *>(name);
    }
    template <class W = QWidget> W *control(const QString &array, int index) {
        return control<W>(controlName(array, index));
    }

    // DDE: the window's link topic (empty: other programs cannot talk to it)
    // and its link events. A conversation is accepted unless LinkOpen sets
    // cancel; an execute command is refused unless the window takes it; a
    // poked text goes into its box unless the window refuses it. A window
    // that refuses with refuseLink gives the client the reason.
    QString LinkTopic() const { return property("LinkTopic").toString(); }
    void setLinkTopic(const QString &topic) { setProperty("LinkTopic", topic); }
    virtual void Form_LinkOpen(int16_t &cancel) { cancel = 0; }
    virtual void Form_LinkClose() {}
    virtual void Form_LinkExecute(const QString &command, int16_t &cancel) {
        (void)command;
        cancel = -1;
    }
    virtual void Form_LinkPoke(QLineEdit *box, const QString &text, int16_t &cancel);
    void refuseLink(int16_t &cancel, const QString &why) {
        cancel = -1;
        linkRefusal_ = why;
    }
    // The reason of the last refusal (empty when none was given), once.
    QString takeLinkRefusal() { return std::exchange(linkRefusal_, QString()); }

Q_SIGNALS:
    void unloaded();

protected:
    // Creates the controls; runs once per object, before the first load.
    virtual void buildControls() {}
    // The window's load and unload procedures. Setting cancel to a nonzero
    // value keeps the window loaded.
    virtual void Form_Load() {}
    virtual void Form_Unload(int &cancel) { (void)cancel; }

    void closeEvent(QCloseEvent *event) override;

    // Gives a child its name (and an array element its indexed name).
    template <class W> W *named(W *w, const QString &name) {
        w->setObjectName(name);
        return w;
    }
    template <class W> W *named(W *w, const QString &array, int index) {
        w->setObjectName(controlName(array, index));
        w->setProperty("Index", index);
        return w;
    }

private:
    struct Axis {
        bool given = false;
        int32_t twips = 0;
        int pixels = 0;
    };
    int32_t readAxis(Axis &a, int current);
    void applyGeometry();

    bool built_ = false;
    bool loaded_ = false;
    bool inLoad_ = false;
    bool placePending_ = false;  // a position given before the window was shown
    Axis top_, left_, height_, width_;
    QString linkRefusal_;
};

// Runs a modal window in place of the wait for the user (tests).
class ModalRunner {
public:
    virtual ~ModalRunner() = default;
    virtual void run(Form &form) = 0;
};
void installModalRunner(ModalRunner *runner);

// The registry of windows.
class FormRegistry {
public:
    // Windows created so far, in order of creation.
    static std::vector<Form *> all();
    // A created window by its name (matched without regard to case).
    static Form *find(const QString &name);
    // Deletes every window (end of the program, and between tests).
    static void destroyAll();

    template <class T> static T &object() {
        auto &m = map();
        auto it = m.find(std::type_index(typeid(T)));
        if (it != m.end()) return *static_cast<T *>(it->second);
        T *f = new T();
        m.emplace(std::type_index(typeid(T)), f);
        order().push_back(f);
        return *f;
    }
    template <class T> static T *existing() {
        auto &m = map();
        auto it = m.find(std::type_index(typeid(T)));
        return it == m.end() ? nullptr : static_cast<T *>(it->second);
    }

private:
    static std::map<std::type_index, Form *> &map();
    static std::vector<Form *> &order();
};

// The window, loaded (touching a window loads it).
template <class T> T &form() {
    T &f = FormRegistry::object<T>();
    f.Load();
    return f;
}
// True when the window exists and is loaded; creates nothing.
template <class T> bool formLoaded() {
    T *f = FormRegistry::existing<T>();
    return f && f->loaded();
}
// Unloads the window when it is loaded; creates nothing.
template <class T> bool unloadForm() {
    T *f = FormRegistry::existing<T>();
    return !f || !f->loaded() || f->Unload();
}

// A timer of a window, with these rules: enabling a running timer does not
// restart it, setting the interval of an enabled timer restarts it, and an
// interval of 0 never ticks.
class FormTimer : public QObject {
    Q_OBJECT
public:
    FormTimer(QObject *parent, const QString &name, int interval = 0, bool enabled = false);
    bool Enabled() const { return enabled_; }
    void setEnabled(bool on);
    int Interval() const { return interval_; }
    void setInterval(int ms);
    bool isTicking() const { return timer_.isActive(); }

Q_SIGNALS:
    void Timer();

private:
    void update(bool restart);
    QTimer timer_;
    bool enabled_ = false;
    int interval_ = 0;
};

// Calls handler when the widget loses the focus to another control of its own
// window. Focus lost to a popup, a menu, a message box or another window does
// not count, so a box never re-runs the handler that raised it.
void onLostFocus(QWidget *w, std::function<void()> handler);
