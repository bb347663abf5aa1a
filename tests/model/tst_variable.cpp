#include "CallerKey.h"
#include "Variable.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

class TestVariable : public QObject
{
    Q_OBJECT

private slots:
    void definitionsGiveNameTypeValueAndRange_data();
    void definitionsGiveNameTypeValueAndRange();
    void missingBoundsAreUnbounded();
    void firstWriteSetsAnUndefinedType();
    void writesOutsideTheRangeAreRefused_data();
    void writesOutsideTheRangeAreRefused();
    void readOnlyTakesOnlyTheInternalKey();
    void signalsFollowTheUpdateMode();
    void assignmentUsesTheInternalKey();
    void badDefinitionsAreReported();
    void stringVariableKeepsItsText();
};

void TestVariable::definitionsGiveNameTypeValueAndRange_data()
{
    QTest::addColumn<QString>("definition");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");

    QTest::newRow("ADC") << "@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50"
                         << "ADC_Result1" << int(Variable::Real) << 0.0 << 0.0 << 50.0;
    QTest::newRow("PWM freq") << "@variable=PWM1_FREQ @type=real @value=20000 @min=1 @max=25000"
                              << "PWM1_FREQ" << int(Variable::Real) << 20000.0 << 1.0 << 25000.0;
    QTest::newRow("PWM duty") << "@variable=PWM1_DUTY @type=real @value=50 @min=0 @max=100"
                              << "PWM1_DUTY" << int(Variable::Real) << 50.0 << 0.0 << 100.0;
    QTest::newRow("no blanks, no type")
        << "@variable=PWM1OnOff@value=1@min=0 @max=1"
        << "PWM1OnOff" << int(Variable::Undefined) << 1.0 << 0.0 << 1.0;
    QTest::newRow("fraction bound") << "@variable=RunForw1 @type=real @value=5 @min=0 @max=99.9"
                                    << "RunForw1" << int(Variable::Real) << 5.0 << 0.0 << 99.9;
    QTest::newRow("int") << "@variable=N @type=int @value=0x10 @min=-3 @max=100"
                         << "N" << int(Variable::Integer) << 16.0 << -3.0 << 100.0;
}

void TestVariable::definitionsGiveNameTypeValueAndRange()
{
    QFETCH(QString, definition);
    Variable v(definition);
    QTEST(v.name(), "name");
    QTEST(int(v.type()), "type");
    QTEST(v.value(), "value");
    QTEST(v.min(), "min");
    QTEST(v.max(), "max");
    QVERIFY(!v.isReadOnly());
}

void TestVariable::missingBoundsAreUnbounded()
{
    Variable v(QStringLiteral("@variable=Free @desc=free running @label=Free run"));
    QCOMPARE(v.description(), QStringLiteral("free running"));
    QCOMPARE(v.label(), QStringLiteral("Free run"));
    QVERIFY(v.setValue(-1e300, CallerKey::External));
    QVERIFY(v.setValue(1e300, CallerKey::External));
    QVERIFY(v.setValue(std::numeric_limits<double>::max(), CallerKey::External));
    // Not a number is never a value.
    QVERIFY(!v.setValue(std::numeric_limits<double>::quiet_NaN(), CallerKey::External));
    QCOMPARE(v.value(), std::numeric_limits<double>::max());
}

void TestVariable::firstWriteSetsAnUndefinedType()
{
    Variable a(QStringLiteral("@variable=A @value=1"));
    QCOMPARE(a.type(), Variable::Undefined);
    QVERIFY(a.setValue(3, CallerKey::External));
    QCOMPARE(a.type(), Variable::Integer);
    QVERIFY(a.setValue(2.5, CallerKey::External));
    QCOMPARE(a.type(), Variable::Integer); // set once only

    Variable b(QStringLiteral("@variable=B @value=1 @min=0 @max=1"));
    QVERIFY(!b.setValue(5, CallerKey::External)); // a refused write decides nothing
    QCOMPARE(b.type(), Variable::Undefined);
    QVERIFY(b.setValue(0.5, CallerKey::External));
    QCOMPARE(b.type(), Variable::Real);
}

void TestVariable::writesOutsideTheRangeAreRefused_data()
{
    QTest::addColumn<double>("write");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("minimum") << 1.0 << true;
    QTest::newRow("maximum") << 25000.0 << true;
    QTest::newRow("below") << 0.999 << false;
    QTest::newRow("above") << 25000.5 << false;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << false;
}

void TestVariable::writesOutsideTheRangeAreRefused()
{
    QFETCH(double, write);
    QFETCH(bool, accepted);
    Variable v(QStringLiteral("@variable=PWM1_FREQ @type=real @value=20000 @min=1 @max=25000"));
    QCOMPARE(v.setValue(write, CallerKey::External), accepted);
    QCOMPARE(v.value(), accepted ? write : 20000.0);
    QCOMPARE(v.setValue(write, CallerKey::Internal), accepted);
}

void TestVariable::readOnlyTakesOnlyTheInternalKey()
{
    Variable v(20, QStringLiteral("WDTime"), QStringLiteral("WDservice routine period"), 1, 1000);
    QCOMPARE(v.type(), Variable::Real);
    QCOMPARE(v.description(), QStringLiteral("WDservice routine period"));
    v.setReadOnly(true);
    QVERIFY(!v.setValue(30.0, CallerKey::External));
    QVERIFY(!v.setValue(30, 0u));
    QCOMPARE(v.value(), 20.0);
    QVERIFY(v.setValue(30, CallerKey::Internal));
    QCOMPARE(v.value(), 30.0);
    QVERIFY(!v.setValue(2000, CallerKey::Internal)); // the range holds for every key
    QCOMPARE(CallerKey::Internal, 0xFF001234u);
    QCOMPARE(CallerKey::External, 0xFF004321u);
}

void TestVariable::signalsFollowTheUpdateMode()
{
    Variable v(QStringLiteral("@variable=PWM1_DUTY @type=real @value=50 @min=0 @max=100"));
    QSignalSpy spy(&v, &Variable::signal_updateSet);
    QCOMPARE(v.updateMode(), int(Variable::UpdateOnChange));
    QVERIFY(v.setValue(50.0, CallerKey::External));
    QVERIFY(!v.setValue(150.0, CallerKey::External));
    QCOMPARE(spy.count(), 0);
    QVERIFY(v.setValue(30.0, CallerKey::External));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.takeFirst().at(0).toString(), QStringLiteral("PWM1_DUTY"));

    v.setUpdateMode(Variable::UpdateAlways);
    QVERIFY(v.setValue(30.0, CallerKey::External));
    QVERIFY(!v.setValue(-1.0, CallerKey::External)); // a refusal signals too
    v.setReadOnly(true);
    QVERIFY(!v.setValue(10.0, CallerKey::External));
    QCOMPARE(spy.count(), 3);
    QCOMPARE(v.value(), 30.0);
}

void TestVariable::assignmentUsesTheInternalKey()
{
    Variable v(QStringLiteral("@variable=Count @type=real @value=1 @min=1 @max=99"));
    v.setReadOnly(true);
    v = 42.0;
    QCOMPARE(v.value(), 42.0);
    v = 100.0;
    QCOMPARE(v.value(), 42.0);
}

void TestVariable::badDefinitionsAreReported()
{
    const QRegularExpression warning(QStringLiteral("^Variable definition"));
    QTest::ignoreMessage(QtWarningMsg, warning); // min
    QTest::ignoreMessage(QtWarningMsg, warning); // value
    Variable v(QStringLiteral("@variable=X @type=real @value=abc @min=low @max=5"));
    QCOMPARE(v.value(), 0.0);
    QCOMPARE(v.max(), 5.0);
    QVERIFY(v.setValue(-1e9, CallerKey::External));

    QTest::ignoreMessage(QtWarningMsg, warning);
    Variable out(QStringLiteral("@variable=Y @value=9 @min=0 @max=5"));
    QCOMPARE(out.value(), 0.0); // an initial value outside the range is not taken

    QTest::ignoreMessage(QtWarningMsg, warning);
    Variable nameless(QStringLiteral("@@ @value=2"));
    QCOMPARE(nameless.value(), 2.0);
}

void TestVariable::stringVariableKeepsItsText()
{
    Variable s(QStringLiteral("@variable=Port @type=string @value=COM3"));
    QCOMPARE(s.type(), Variable::String);
    QCOMPARE(s.text(), QByteArray("COM3"));
    QSignalSpy spy(&s, &Variable::signal_updateSet);
    QVERIFY(s.setText("COM4", CallerKey::External));
    QCOMPARE(s.text(), QByteArray("COM4"));
    QCOMPARE(spy.count(), 1);

    Variable n(QStringLiteral("@variable=N @type=real @value=1 @min=0 @max=10"));
    QVERIFY(n.setText("7.5", CallerKey::External));
    QCOMPARE(n.value(), 7.5);
    QVERIFY(!n.setText("seven", CallerKey::External));
    QVERIFY(!n.setText("11", CallerKey::External));
    QCOMPARE(n.value(), 7.5);
}

QTEST_GUILESS_MAIN(TestVariable)
#include "tst_variable.moc"
