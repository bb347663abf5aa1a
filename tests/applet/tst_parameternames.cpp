// Parameter names as scripts and applets write them (Applet::setValue / getValue): the
// forms the controls bind are names; anything that only splits like one is not.
#include "Applet.h"
#include "CallerKey.h"
#include "LineEdit.h"
#include "Register.h"
#include "SpinBox.h"
#include "Variable.h"

#include <QTest>

using CustomControls::LineEdit;
using CustomControls::SpinBox;

namespace {

class NamesApplet : public Applet
{
    Q_OBJECT
public:
    NamesApplet()
    {
        setObjectName(QStringLiteral("Test"));
        for (const char* name : {"CR2[3:0]", "CR2[]", "DIO[EN]", "FSM", "PWM1_DUTY"}) {
            QWidget* control = QByteArray(name).contains('[')
                                   ? static_cast<QWidget*>(new SpinBox(this))
                                   : new LineEdit(this);
            control->setAccessibleName(QString::fromLatin1(name));
        }
    }
    QVariant runFunction(const QString&, const QVariant&) override { return false; }
    bool initParameters() override
    {
        addRegister(&cr2);
        addRegister(&dio);
        addRegister(&fsm);
        return addVariable(&duty);
    }

    Register cr2{QStringLiteral("HB_PWM1=0#;HB_PWM2=0#;SLOPE[3:0]#;REST[4:0]#"),
                 QStringLiteral("CR2")};
    Register dio{QStringLiteral("@register=DIO;@bit=EN @value=1;@bit=FS;")};
    Register fsm{QStringLiteral("@register=FSM;@bit=PIN;@bit=OTHER @value=1;")};
    Variable duty{50, QStringLiteral("PWM1_DUTY"), QStringLiteral("PWM1 duty cycle"), 0, 100};
};

} // namespace

class TestParameterNames : public QObject
{
    Q_OBJECT
private slots:
    void names_data()
    {
        QTest::addColumn<QString>("name");
        // What it reads after writing 1 (or 20.0); invalid: no such name.
        QTest::addColumn<QVariant>("value");
        const auto row = [](const char* name, const QVariant& value) {
            QTest::newRow(name) << QString::fromLatin1(name) << value;
        };
        row("CR2[3:0]", 1u);
        row("CR2[]", 1u);
        row("CR2[10]", 1u);
        row("CR2[HB_PWM2]", 1u);
        row(" CR2[SLOPE] ", 1u);
        row("DIO[EN]", 1u);
        row("FSM", 1u); // a bare register name is its bit 0
        row("PWM1_DUTY", 20.0);
        // Bit ranges the register does not have, or that are no range.
        for (const char* name : {"CR2[63:0]", "CR2[-1:0]", "CR2[0:3]", "CR2[31:0]", "CR2[11]",
                                 "CR2[NOSUCHFIELD]", "CR2[99999999999]"})
            row(name, QVariant());
        // Shapes that split into a name and a field, but are not written so.
        for (const char* name : {"CR2(3:0)", "CR2[", "CR2[3:0", "CR2]3:0[", "CR2[3:0]x", "CR2[[1]]",
                                 "CR2.3:0", "Test.CR2[3:0]", "CR2 [3:0]", "[3:0]", ""})
            row(name, QVariant());
        // A variable has no fields.
        for (const char* name : {"PWM1_DUTY.junk", "PWM1_DUTY[]", "PWM1_DUTY[0]", "PWM1_DUTY(1)"})
            row(name, QVariant());
        row("NOSUCH", QVariant());
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        NamesApplet applet;
        QVERIFY(applet.setup());
        const auto state = [&] {
            return QStringLiteral("%1 %2 %3 %4")
                .arg(applet.cr2.value())
                .arg(applet.dio.value())
                .arg(applet.fsm.value())
                .arg(applet.duty.value());
        };
        const QString before = state();
        const QVariant write = value.typeId() == QMetaType::Double ? QVariant(20.0) : QVariant(1);
        for (const quint32 key : {CallerKey::External, CallerKey::Internal}) {
            QCOMPARE(applet.setValue(name, write, key), value.isValid());
            const QVariant read = applet.getValue(name, key);
            QCOMPARE(read.isValid(), value.isValid());
            if (value.isValid())
                QCOMPARE(read, value);
            else
                QCOMPARE(state(), before); // refused: nothing changed
        }
    }

    // Every form a control binds also reaches the same entry by name, and back.
    void namesThatBindAreNamesForScripts()
    {
        NamesApplet applet;
        QVERIFY(applet.setup());
        applet.activate();
        int bound = 0;
        for (QWidget* w : applet.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            auto* control = dynamic_cast<CustomControls::UniversalControl*>(w);
            QVERIFY(control);
            const QString name = w->accessibleName();
            QString key;
            CustomControls::UniversalControl::parseName(name, &key, nullptr);
            QCOMPARE(applet.boundControls(key).count(control), 1);
            QVERIFY2(applet.setValue(name, 1, CallerKey::External), qPrintable(name));
            bool ok = false;
            QCOMPARE(control->controlValue(&ok), 1.0);
            QVERIFY(ok);
            ++bound;
        }
        QCOMPARE(bound, 5);
    }
};

QTEST_MAIN(TestParameterNames)
#include "tst_parameternames.moc"
