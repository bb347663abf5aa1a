// The HB Controller form checked from the widget tree it builds: every control must
// bind to something the applet holds, and the combo lists must cover their fields,
// because a control whose name resolves to nothing stays silently unbound.

#include "CheckBox.h"
#include "ChipRegisters.h"
#include "ComboBox.h"
#include "LineEdit.h"
#include "PushButton.h"
#include "PwmVariables.h"
#include "Register.h"
#include "Slider.h"
#include "Switch.h"
#include "UniversalControl.h"
#include "Variable.h"
#include "ui_hbcontroller.h"

#include <QtTest>

using CustomControls::UniversalControl;

namespace {
// The chip registers in the applet's parameter table.
QList<Register*> heldRegisters()
{
    using namespace ChipRegisters;
    return {&NM,    &CR0,  &CR1,  &CR2,   &CR3A, &CR3B, &CR4,  &CR5A, &CR6A,
            &CR7A,  &CR8A, &CR9A, &CR10A, &CR5B, &CR6B, &CR7B, &CR8B, &CR9B,
            &CR10B, &CR12, &CR14, &SR0,   &SR1,  &SR3,  &SR4,  &SR5,  &SR7};
}

QStringList commandNames()
{
    QStringList names{QStringLiteral("WriteCR1")};
    for (int n = 1; n <= 6; ++n)
        names << QStringLiteral("WriteHB%1").arg(n);
    names << QStringLiteral("ReadHB") << QStringLiteral("ReadHB7") << QStringLiteral("ReadSR0");
    for (int n = 1; n <= 6; ++n)
        names << QStringLiteral("WriteRead%1").arg(n);
    for (int n = 1; n <= 4; ++n)
        names << QStringLiteral("setPWM%1_Freq").arg(n) << QStringLiteral("setPWM%1_Duty").arg(n)
              << QStringLiteral("setPWM%1_DIO").arg(n);
    return names;
}

// Width of the register field a value control's binding name addresses, 0 for a
// PWM variable, -1 when the applet holds nothing of that name.
int boundWidth(const QString& bindName)
{
    QString name;
    if (!UniversalControl::parseName(bindName, &name, nullptr))
        return -1;
    for (Variable* variable : PwmVariables::tableOrder()) {
        if (variable->name() == bindName)
            return 0;
    }
    for (Register* reg : heldRegisters()) {
        if (reg->name() == name) {
            const Register::FieldInfo info = reg->fieldInfo(bindName);
            return info.valid ? info.hi - info.lo + 1 : -1;
        }
    }
    return -1;
}

QList<UniversalControl*> controlsOf(const QWidget* parent)
{
    QList<UniversalControl*> controls;
    for (QWidget* widget : parent->findChildren<QWidget*>()) {
        if (auto* control = dynamic_cast<UniversalControl*>(widget))
            controls << control;
    }
    return controls;
}

template <typename T> int countOf(const QObject& root)
{
    return int(root.findChildren<T*>().size());
}

bool isLine(const QFrame* frame)
{
    return frame->frameShape() == QFrame::HLine || frame->frameShape() == QFrame::VLine;
}
} // namespace

class TestHBControllerForm : public QObject
{
    Q_OBJECT

    Ui_HBController ui;
    QWidget form;

private slots:
    void initTestCase() { ui.setupUi(&form); }

    void widgetCounts()
    {
        auto labels = form.findChildren<QLabel*>();
        labels.removeIf([](QLabel* l) { return qobject_cast<CustomControls::Switch*>(l); });
        auto lines = form.findChildren<QFrame*>();
        lines.removeIf([](QFrame* f) { return !isLine(f); });
        QCOMPARE(countOf<CustomControls::CheckBox>(form), 67);
        QCOMPARE(countOf<CustomControls::ComboBox>(form), 48);
        QCOMPARE(countOf<CustomControls::PushButton>(form), 28);
        QCOMPARE(countOf<CustomControls::LineEdit>(form), 8);
        QCOMPARE(countOf<CustomControls::Slider>(form), 4);
        QCOMPARE(countOf<CustomControls::Switch>(form), 4);
        QCOMPARE(labels.size(), 85);
        QCOMPARE(countOf<QGroupBox>(form), 14);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(countOf<QTabWidget>(form), 1);
        QCOMPARE(controlsOf(&form).size(), 159);
        QCOMPARE(ui.tabWidget->currentIndex(), 0);
    }

    // Every value control reaches a register field or PWM variable, every button a
    // command; combo lists hold one item per field value.
    void everyBindingResolves()
    {
        const QStringList commands = commandNames();
        QSet<QString> distinct;
        for (UniversalControl* control : controlsOf(&form)) {
            const QString bindName = control->bindName();
            const QString what = control->widget()->objectName() + " -> " + bindName;
            distinct << bindName;
            if (control->controlType() == UniversalControl::PushButtonType) {
                QString command;
                QString argument;
                QVERIFY2(!control->widget()->accessibleName().isEmpty(), qPrintable(what));
                QVERIFY(UniversalControl::parseName(bindName, &command, &argument));
                QVERIFY2(commands.contains(command) && argument.isEmpty(), qPrintable(what));
                continue;
            }
            const int width = boundWidth(bindName);
            QVERIFY2(width >= 0, qPrintable(what));
            if (auto* combo = qobject_cast<QComboBox*>(control->widget()))
                QVERIFY2(width > 0 && combo->count() == 1 << width, qPrintable(what));
        }
        QCOMPARE(distinct.size(), 150);
    }

    void comboItems_data()
    {
        QTest::addColumn<QString>("objectName");
        QTest::addColumn<QString>("bindName");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        struct Row
        {
            const char *tag, *objectName, *bindName, *text;
            int value;
        };
        // The HB6 source box's object name alone would address bit 1 only.
        for (const Row& row : {Row{"HB6 source", "cmCR3B_1_1", "CR3B[1:0]", "PWM4", 3},
                               Row{"HB2 blanking", "cmCR6A_9_8", "CR6A[9:8]", "3 us", 2},
                               Row{"HB6 delay", "cmCR10B_6_3", "CR10B[6:3]", "3.35 us", 15},
                               Row{"HB1 slew", "cmCR5B_2_0", "CR5B[2:0]", "1.5 mA", 0}})
            QTest::newRow(row.tag) << QString(row.objectName) << QString(row.bindName)
                                   << QString(row.text) << row.value;
    }

    // Choosing an item writes its index as the field value.
    void comboItems()
    {
        QFETCH(QString, objectName);
        QFETCH(QString, bindName);
        QFETCH(QString, text);
        QFETCH(int, value);
        auto* combo = form.findChild<CustomControls::ComboBox*>(objectName);
        QVERIFY(combo);
        QCOMPARE(combo->bindName(), bindName);
        combo->setCurrentIndex(combo->findText(text));
        QCOMPARE(combo->controlValue(), double(value));
        combo->setCurrentIndex(0);
    }

    // The General page boxes bind through their object names; two captions differ
    // from the register map's field names (D03, D02).
    void generalPageBoxes()
    {
        const QMap<QString, QString> expected{{"OTW", "SR0[3]"},
                                              {"OTS", "SR0[2]"},
                                              {"TM", "SR0[11]"},
                                              {"NM", "NM"},
                                              {"DRV_EN", "CR1[10]"}};
        int found = 0;
        for (auto* box : ui.tab->findChildren<CustomControls::CheckBox*>()) {
            QVERIFY(box->accessibleName().isEmpty());
            if (expected.contains(box->text())) {
                QCOMPARE(box->bindName(), expected.value(box->text()));
                ++found;
            }
        }
        QCOMPARE(found, expected.size());
    }

    void halfBridgePage_data()
    {
        QTest::addColumn<int>("n");
        for (int n = 1; n <= 6; ++n)
            QTest::addRow("HB%d", n) << n;
    }

    // A page copied from its neighbour and not fully renamed would edit another
    // half-bridge's registers.
    void halfBridgePage()
    {
        QFETCH(int, n);
        const int k = n - 1;
        const QString a = QStringLiteral("CR%1A").arg(n + 4);
        const QString b = QStringLiteral("CR%1B").arg(n + 4);
        QSet<QString> expected{a + "[9:8]", a + "[7:5]", a + "[4:2]", a + "[1:0]",
                               b + "[9:7]", b + "[6:3]", b + "[2:0]"};
        for (const char* reg : {"CR0", "CR1", "CR2", "SR5"})
            expected << QStringLiteral("%1[%2]").arg(reg).arg(k);
        for (const char* reg : {"SR1", "SR3"})
            expected << QStringLiteral("%1[%2]").arg(reg).arg(2 * k)
                     << QStringLiteral("%1[%2]").arg(reg).arg(2 * k + 1);
        expected << (n < 6 ? QStringLiteral("CR3A[%1:%2]").arg(2 * k + 1).arg(2 * k)
                           : QStringLiteral("CR3B[1:0]"));
        expected << QStringLiteral("WriteHB%1").arg(n) << QStringLiteral("ReadHB")
                 << QStringLiteral("WriteRead%1").arg(n);
        QSet<QString> actual;
        for (UniversalControl* control : controlsOf(ui.tabWidget->widget(n + 1)))
            actual << control->bindName();
        QCOMPARE(actual, expected);
    }

    // Board lines carry at most five digits.
    void pwmFields()
    {
        for (auto* edit : form.findChildren<CustomControls::LineEdit*>()) {
            const bool frequency = edit->bindName().endsWith(QLatin1String("_FREQ"));
            QCOMPARE(edit->maxLength(), 5);
            QCOMPARE(edit->alignment(), Qt::AlignRight | Qt::AlignVCenter);
            QCOMPARE(edit->inputMethodHints(),
                     frequency ? Qt::ImhDigitsOnly : Qt::ImhFormattedNumbersOnly);
        }
        for (auto* slider : form.findChildren<CustomControls::Slider*>()) {
            QCOMPARE(slider->maximum(), 100);
            QCOMPARE(slider->value(), 50);
            // The slider and the duty field of one generator show one variable.
            const auto edits = form.findChildren<CustomControls::LineEdit*>();
            QVERIFY(std::any_of(edits.begin(), edits.end(), [&](CustomControls::LineEdit* edit) {
                return edit->bindName() == slider->bindName();
            }));
        }
    }
};

QTEST_MAIN(TestHBControllerForm)
#include "tst_hbcontrollerform.moc"
