// The layout of every window at its default geometry: each control inside
// its window or container, no two visible sibling controls on top of each
// other, and every caption, and the widest value a box must show, readable
// in the control's own font.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QtTest/QTest>
#include <functional>

#include "core/frmAbout.h"
#include "core/frmFiles.h"
#include "core/frmRTC.h"
#include "core/frmSetup.h"
#include "core/frmSplash.h"
#include "core/globals.h"
#include "datatable/frmTable.h"
#include "datatable/frmTableMon.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "main/symbolimport.h"
#include "transfer/frmFile.h"
#include "transfer/frmFlashSelect.h"
#include "transfer/frmLoadMain.h"
#include "transfer/frmProgFlash.h"
#include "windows/frames.h"

namespace {

const QString Widest = QStringLiteral("-2147483648");
const QString Name40 = QStringLiteral("Conveyor_Infeed_Photo_Eye_Blocked_Alarm1");

// The widest text each kind of box must show: control array, text.
using Widths = QList<QPair<QString, QString>>;

struct Window {
    QString name;
    std::function<Form &()> open;
    Widths widest;
};

// Controls placed below the visible area on purpose, reached by their
// access keys alone.
const QStringList OutOfSight{QStringLiteral("frmProgFlash.Command1"), QStringLiteral("frmProgFlash.Command2")};

bool isControl(const QWidget *w) {
    const QString n = w->objectName();
    return !n.isEmpty() && !n.startsWith(QStringLiteral("qt_")) && !qobject_cast<const QMenuBar *>(w);
}

// The controls directly inside a container, as far as they are visible.
QList<QWidget *> visibleControls(QWidget *container, QWidget *form) {
    QList<QWidget *> out;
    for (QWidget *c : container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (isControl(c) && c->isVisibleTo(form)) out << c;
    return out;
}

QString who(const QWidget *w) { return w->objectName() + QStringLiteral(" (") + w->metaObject()->className() + u')'; }

// Room for text in a control, or -1 where the control has no single-line text.
int textRoom(QWidget *w, int &height) {
    height = w->height();
    if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        QStyleOptionFrame opt;
        opt.initFrom(edit);
        opt.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
        QRect r = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
        r = r.marginsRemoved(edit->textMargins());
        height = r.height();
        return r.width() - 4;  // the line edit's own margin on each side
    }
    if (auto *label = qobject_cast<QLabel *>(w)) {
        if (label->wordWrap() || !label->pixmap().isNull()) return -1;
        const QRect r = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(), -label->margin());
        height = r.height();
        return r.width() - std::max(0, label->indent());
    }
    if (auto *box = qobject_cast<QCheckBox *>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(box);
        const QRect r = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, box);
        height = r.height();
        return r.width() - 2;
    }
    if (auto *radio = qobject_cast<QRadioButton *>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(radio);
        const QRect r = radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, radio);
        height = r.height();
        return r.width() - 2;
    }
    if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        height = button->height() - 4;
        return button->width() - 6 - (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
    }
    if (auto *combo = qobject_cast<QComboBox *>(w)) {
        QStyleOptionComboBox opt;
        opt.initFrom(combo);
        opt.editable = combo->isEditable();
        const QRect r = combo->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
        height = r.height();
        return r.width() - 2;
    }
    if (auto *group = qobject_cast<QGroupBox *>(w)) {
        height = w->height();
        return group->width() - 16;
    }
    return -1;
}

QString shownText(QWidget *w) {
    QString t;
    if (auto *edit = qobject_cast<QLineEdit *>(w)) t = edit->text();
    else if (auto *label = qobject_cast<QLabel *>(w)) t = label->text();
    else if (auto *button = qobject_cast<QAbstractButton *>(w)) t = button->text();
    else if (auto *group = qobject_cast<QGroupBox *>(w)) t = group->title();
    else if (auto *combo = qobject_cast<QComboBox *>(w)) {
        for (int i = 0; i < combo->count(); ++i)
            if (combo->fontMetrics().horizontalAdvance(combo->itemText(i)) > combo->fontMetrics().horizontalAdvance(t))
                t = combo->itemText(i);
    }
    if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QGroupBox *>(w) ||
        (qobject_cast<QLabel *>(w) && static_cast<QLabel *>(w)->buddy()))
        t.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return t;
}

// The faults of one text in one control, or an empty text.
QString fitFault(QWidget *w, const QString &text) {
    int height = 0;
    const int room = textRoom(w, height);
    if (room < 0 || text.isEmpty()) return {};
    const QFontMetrics fm(w->font());
    QString faults;
    for (const QString &line : text.split(QRegularExpression(QStringLiteral("\r?\n")))) {
        const int need = fm.horizontalAdvance(line);
        if (need > room) faults += QStringLiteral("%1: \"%2\" needs %3 px, has %4; ").arg(who(w), line).arg(need).arg(room);
    }
    const int lines = int(text.count(u'\n')) + 1;
    if (fm.height() * lines > height + 2)
        faults += QStringLiteral("%1: text %2 px high, room %3; ").arg(who(w)).arg(fm.height() * lines).arg(height);
    return faults;
}

void checkContainer(QWidget *container, QWidget *form, QStringList &faults) {
    const QList<QWidget *> kids = visibleControls(container, form);
    const QRect inside = container->rect();
    for (QWidget *c : kids) {
        if (c->width() <= 0 || c->height() <= 0) faults << who(c) + QStringLiteral(" has no size");
        else if (!inside.contains(c->geometry()) && !OutOfSight.contains(form->objectName() + u'.' + c->objectName()))
            faults << QStringLiteral("%1 at %2,%3 %4x%5 lies outside %6 (%7x%8)")
                          .arg(who(c))
                          .arg(c->x())
                          .arg(c->y())
                          .arg(c->width())
                          .arg(c->height())
                          .arg(container->objectName())
                          .arg(inside.width())
                          .arg(inside.height());
        const QString fault = fitFault(c, shownText(c));
        if (!fault.isEmpty()) faults << fault;
    }
    for (int i = 0; i < kids.size(); ++i)
        for (int j = i + 1; j < kids.size(); ++j)
            if (kids[i]->geometry().intersects(kids[j]->geometry()))
                faults << QStringLiteral("%1 overlaps %2").arg(who(kids[i]), who(kids[j]));
    for (QWidget *c : kids)
        if (!visibleControls(c, form).isEmpty()) checkContainer(c, form, faults);
}

template <class T> Form &shown() {
    T &f = form<T>();
    f.Show();
    return f;
}

QList<Window> windows() {
    const Widths registers{{QStringLiteral("Label1"), Name40},
                           {QStringLiteral("Label2"), QStringLiteral("32000 ")},
                           {QStringLiteral("Text1"), Widest},
                           {QStringLiteral("Text2"), QStringLiteral("31985")}};
    const Widths named{{QStringLiteral("Label1"), Name40}, {QStringLiteral("Label2"), QStringLiteral("1000")}};
    Widths analog = named;
    analog << qMakePair(QStringLiteral("Text1"), Widest);
    const Widths servo{{QStringLiteral("Label4"), Name40}, {QStringLiteral("Text1"), Widest}, {QStringLiteral("Text2"), Widest}};
    const Widths custom{{QStringLiteral("Label1"), Name40},
                        {QStringLiteral("Text1"), QStringLiteral("40000")},
                        {QStringLiteral("Text2"), Widest}};
    return {
        {QStringLiteral("frmMain"), [] () -> Form & { return form<frmMain>(); }, {}},
        {QStringLiteral("frmReg"), shown<frmReg>, registers},
        {QStringLiteral("frmRam"), shown<frmRam>, registers},
        {QStringLiteral("frmRegbits"), shown<frmRegbits>,
         {{QStringLiteral("Label2"), QStringLiteral("40000")}, {QStringLiteral("Text1"), Widest},
          {QStringLiteral("Text2"), QStringLiteral("39985")}}},
        {QStringLiteral("frmFlag"), shown<frmFlag>, named},
        {QStringLiteral("frmDigIn"), shown<frmDigIn>, named},
        {QStringLiteral("frmDigOut"), shown<frmDigOut>, named},
        {QStringLiteral("frmAnalIn"), shown<frmAnalIn>, analog},
        {QStringLiteral("frmAnalOut"), shown<frmAnalOut>, analog},
        {QStringLiteral("frmServo"), shown<frmServo>, servo},
        {QStringLiteral("frmServo2"), shown<frmServo2>, servo},
        {QStringLiteral("frmStatus"), shown<frmStatus>, {}},
        {QStringLiteral("frmCustom1"), shown<frmCustom1>, custom},
        {QStringLiteral("frmCustom2"), shown<frmCustom2>, custom},
        {QStringLiteral("frmTable"), shown<frmTable>, {}},
        {QStringLiteral("frmTableMon"), shown<frmTableMon>, {}},
        {QStringLiteral("frmDDE"), shown<frmDDE>, {}},
        {QStringLiteral("frmSetup"), shown<frmSetup>, {}},
        {QStringLiteral("frmRTC"), shown<frmRTC>, {}},
        {QStringLiteral("frmFiles"), shown<frmFiles>, {}},
        {QStringLiteral("frmAbout"), shown<frmAbout>, {}},
        {QStringLiteral("frmSplash"), shown<frmSplash>, {}},
        {QStringLiteral("frmSymbol"), shown<frmSymbol>, {}},
        {QStringLiteral("frmLoadMain"), shown<frmLoadMain>, {}},
        {QStringLiteral("frmFile"), shown<frmFile>, {}},
        {QStringLiteral("frmProgFlash"), shown<frmProgFlash>, {}},
        {QStringLiteral("frmFlashSelect"), shown<frmFlashSelect>, {}},
    };
}

}  // namespace

class TestLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        qputenv("ORVCOMM_COM1", "/nonexistent/orvmon-test-line");
        useDesignFont();
    }

    void everyWindow_data() {
        QTest::addColumn<int>("index");
        const QList<Window> all = windows();
        for (int i = 0; i < all.size(); ++i) QTest::newRow(qPrintable(all[i].name)) << i;
    }

    void everyWindow() {
        QFETCH(int, index);
        const Window w = windows()[index];
        MonitorTestEnv env;
        env.responder.answerEveryBox(mbOK);
        ControllerModel = 5;
        NumServos = 32;
        frmMain &m = quietMain(env);
        m.Show();
        Form &f = w.open();
        QCOMPARE(f.objectName(), w.name);
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        // The widest values each box must show, in every row, as the
        // polling loop and the symbol names would put them there.
        for (const auto &[array, text] : w.widest)
            for (int i = 0; i < 16; ++i) {
                QWidget *c = f.findChild<QWidget *>(controlName(array, i));
                if (!c && i == 0) c = f.findChild<QWidget *>(array);
                if (auto *edit = qobject_cast<QLineEdit *>(c)) edit->setText(text);
                else if (auto *label = qobject_cast<QLabel *>(c)) label->setText(text);
            }
        if (f.layout()) f.layout()->activate();
        QCoreApplication::processEvents();
        QStringList faults;
        checkContainer(&f, &f, faults);
        faults.removeAll(QString());
        faults.removeDuplicates();
        if (!faults.isEmpty()) QFAIL(qPrintable(w.name + QStringLiteral(":\n  ") + faults.mid(0, 12).join(QStringLiteral("\n  "))));
    }

    // The custom windows' value column is the wider one, as designed.
    void customValueWiderThanNumber() {
        MonitorTestEnv env;
        quietMain(env);
        frmCustom1 &f = form<frmCustom1>();
        f.Show();
        f.DisplayMenu_Click(2);  // the Resources view shows the number boxes
        QCoreApplication::processEvents();
        auto *number = f.findChild<QLineEdit *>(controlName(QStringLiteral("Text1"), 0));
        auto *value = f.findChild<QLineEdit *>(controlName(QStringLiteral("Text2"), 0));
        QVERIFY(number->isVisible());
        QVERIFY2(value->width() > number->width(), qPrintable(QStringLiteral("value %1, number %2").arg(value->width()).arg(number->width())));
        QCOMPARE(fitFault(value, Widest), QString());
    }

    // Each column of bit boxes carries its bit number, 31 at the left.
    void registerBitsNumbered() {
        MonitorTestEnv env;
        quietMain(env);
        frmRegbits &f = form<frmRegbits>();
        f.Show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        int lastX = -1;
        for (int bit = 31; bit >= 0; --bit) {
            auto *number = f.findChild<QLabel *>(controlName(QStringLiteral("BitNumber"), bit));
            QVERIFY2(number && number->isVisible(), qPrintable(QString::number(bit)));
            QCOMPARE(number->text(), QString::number(bit));
            for (int row : {0, 15}) {
                const QRect box = f.Bit1[size_t(32 * row + bit)]->geometry();
                QCOMPARE(number->geometry().left(), box.left());
                QCOMPARE(number->width(), box.width());
                QVERIFY(number->geometry().bottom() < f.Bit1[size_t(bit)]->geometry().top());
            }
            QVERIFY(number->x() > lastX);
            lastX = number->x();
        }
    }
};

QTEST_MAIN(TestLayout)
#include "test_layout.moc"
