#include "core/forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFocusEvent>
#include <QFont>
#include <QLineEdit>
#include <cmath>

#include "core/runtime_error.h"

QString controlName(const QString &array, int index) {
    return QStringLiteral("%1(%2)").arg(array).arg(index);
}

namespace {
ModalRunner *g_modalRunner = nullptr;
int toPixels(int32_t twips) { return static_cast<int>(std::lround(twips / static_cast<double>(TwipsPerPixel))); }
}  // namespace

void useDesignFont() {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(8.25);  // 11 pixels at 96 dpi
    QApplication::setFont(f);
}

void installModalRunner(ModalRunner *runner) { g_modalRunner = runner; }

Form::Form(const QString &name, Qt::WindowFlags flags) : QWidget(nullptr, flags) {
    setObjectName(name);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);
}

Form::~Form() = default;

void Form::Load() {
    if (loaded_ || inLoad_) return;
    inLoad_ = true;
    try {
        if (!built_) {
            built_ = true;
            buildControls();
        }
        loaded_ = true;
        Form_Load();
    } catch (...) {
        inLoad_ = false;
        loaded_ = false;
        throw;
    }
    inLoad_ = false;
}

bool Form::Unload() {
    if (!loaded_) return true;
    int cancel = 0;
    Form_Unload(cancel);
    if (cancel != 0) return false;
    loaded_ = false;
    QWidget::hide();
    Q_EMIT unloaded();
    return true;
}

void Form::Show() {
    Load();
    applyGeometry();
    QWidget::show();
    raise();
}

void Form::ShowModal() {
    Load();
    if (g_modalRunner) {
        g_modalRunner->run(*this);
        return;
    }
    setWindowModality(Qt::ApplicationModal);
    applyGeometry();
    QWidget::show();
    QEventLoop loop;
    auto c1 = connect(this, &Form::unloaded, &loop, &QEventLoop::quit);
    while (loaded_ && isVisible()) loop.exec(QEventLoop::DialogExec);
    disconnect(c1);
    setWindowModality(Qt::NonModal);
}

void Form::Hide() { QWidget::hide(); }

QString Form::Caption() {
    Load();
    return windowTitle();
}

void Form::setCaption(const QString &text) {
    Load();
    setWindowTitle(text);
}

int32_t Form::readAxis(Axis &a, int current) {
    if (a.given && a.pixels == current) return a.twips;
    return current * TwipsPerPixel;
}

int32_t Form::Top() { return readAxis(top_, pos().y()); }
int32_t Form::Left() { return readAxis(left_, pos().x()); }
int32_t Form::Height() { return readAxis(height_, height()); }
int32_t Form::Width() { return readAxis(width_, width()); }

void Form::setTop(int32_t twips) {
    top_ = {true, twips, toPixels(twips)};
    move(pos().x(), top_.pixels);
    placePending_ = !isVisible();
}
void Form::setLeft(int32_t twips) {
    left_ = {true, twips, toPixels(twips)};
    move(left_.pixels, pos().y());
    placePending_ = !isVisible();
}
void Form::setHeight(int32_t twips) {
    height_ = {true, twips, std::max(1, toPixels(twips))};
    resize(width(), height_.pixels);
    height_.pixels = height();  // what the window system granted
}
void Form::setWidth(int32_t twips) {
    width_ = {true, twips, std::max(1, toPixels(twips))};
    resize(width_.pixels, height());
    width_.pixels = width();
}
void Form::Move(int32_t left, int32_t top, int32_t width, int32_t height) {
    setLeft(left);
    setTop(top);
    setWidth(width);
    setHeight(height);
}

void Form::applyGeometry() {
    // A window placed while hidden may be placed again by the window system
    // when it appears; put it where it was told to be. A window the user has
    // moved since stays where it is.
    if (!placePending_) return;
    placePending_ = false;
    move(left_.given ? left_.pixels : pos().x(), top_.given ? top_.pixels : pos().y());
}

int Form::WindowState() const {
    if (isMinimized()) return wsMinimized;
    if (isMaximized()) return wsMaximized;
    return wsNormal;
}

void Form::Form_LinkPoke(QLineEdit *box, const QString &text, int16_t &cancel) {
    cancel = 0;
    box->setText(text);
}

void Form::closeEvent(QCloseEvent *event) {
    if (!loaded_ || Unload()) event->accept();
    else event->ignore();
}

std::map<std::type_index, Form *> &FormRegistry::map() {
    static std::map<std::type_index, Form *> m;
    return m;
}
std::vector<Form *> &FormRegistry::order() {
    static std::vector<Form *> v;
    return v;
}

std::vector<Form *> FormRegistry::all() { return order(); }

Form *FormRegistry::find(const QString &name) {
    for (Form *f : order())
        if (f->objectName().compare(name, Qt::CaseInsensitive) == 0) return f;
    return nullptr;
}

void FormRegistry::destroyAll() {
    auto forms = order();
    order().clear();
    map().clear();
    for (auto it = forms.rbegin(); it != forms.rend(); ++it) delete *it;
}

FormTimer::FormTimer(QObject *parent, const QString &name, int interval, bool enabled) : QObject(parent) {
    setObjectName(name);
    timer_.setSingleShot(false);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FormTimer::Timer);
    interval_ = interval;
    enabled_ = enabled;
    update(true);
}

void FormTimer::setEnabled(bool on) {
    if (on == enabled_) return;  // enabling a running timer does not restart it
    enabled_ = on;
    update(true);
}

void FormTimer::setInterval(int ms) {
    if (ms < 0) throw RuntimeError(380, QStringLiteral("Invalid property value"));
    interval_ = ms;
    update(true);
}

void FormTimer::update(bool restart) {
    if (!enabled_ || interval_ == 0) {
        timer_.stop();
        return;
    }
    if (restart || !timer_.isActive()) timer_.start(interval_);
}

namespace {
class LostFocusFilter : public QObject {
public:
    LostFocusFilter(QWidget *w, std::function<void()> h) : QObject(w), handler_(std::move(h)) {}
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::FocusOut) {
            auto *fe = static_cast<QFocusEvent *>(event);
            auto *w = static_cast<QWidget *>(watched);
            const auto reason = fe->reason();
            const bool elsewhere = reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason ||
                                   reason == Qt::MenuBarFocusReason;
            QWidget *next = QApplication::focusWidget();
            const bool otherWindow = next && next->window() != w->window();
            const bool modal = QApplication::activeModalWidget() != nullptr &&
                               QApplication::activeModalWidget() != w->window();
            if (!elsewhere && !otherWindow && !modal && handler_) handler_();
        }
        return false;
    }

private:
    std::function<void()> handler_;
};
}  // namespace

void onLostFocus(QWidget *w, std::function<void()> handler) {
    w->installEventFilter(new LostFocusFilter(w, std::move(handler)));
}
