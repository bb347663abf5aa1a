#include "CallerKey.h"
#include "Variable.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

class TestVariable : public QObject
{
    Q_OBJECT

private slots:
    void definitionsGiveNameTypeValueAndRange_data()
    {
        QTest::addColumn<QString>("definition");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<double>>("valueMinMax");
        auto row = [](const char* def, const char* name, int type, QList<double> vmm) {
            QTest::newRow(name) << QString(def) << QString(name) << type << vmm;
        };
        row("@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50", "ADC_Result1",
            Variable::Real, {0, 0, 50});
        row("@variable=PWM1OnOff@value=1@min=0 @max=1", "PWM1OnOff", Variable::Undefined,
            {1, 0, 1});
        row("@variable=N @type=int @value=0x10 @min=-3 @max=100", "N", Variable::Integer,
            {16, -3, 100});
    }
    void definitionsGiveNameTypeValueAndRange()
    {
        QFETCH(QString, definition);
        Variable v(definition);
        QTEST(v.name(), "name");
        QTEST(int(v.type()), "type");
        QTEST((QList<double>{v.value(), v.min(), v.max()}), "valueMinMax");
    }

    // The range holds for every key, read-only lets only the internal key through, and the
    // first accepted write of an untyped variable sets its type.
    void writeRules()
    {
        Variable v(QStringLiteral("@variable=B @value=1 @min=1 @max=25000"));
        const double inf = std::numeric_limits<double>::infinity();
        for (double bad : {0.999, 25000.5, inf, std::numeric_limits<double>::quiet_NaN()})
            QVERIFY(!v.setValue(bad, CallerKey::Internal));
        QCOMPARE(v.type(), Variable::Undefined); // a refused write decides nothing
        QVERIFY(v.setValue(2.5, CallerKey::External));
        QCOMPARE(v.type(), Variable::Real);
        v.setReadOnly(true);
        QVERIFY(!v.setValue(30.0, CallerKey::External));
        v = 40.0; // assignment writes with the internal key
        QCOMPARE(v.value(), 40.0);
        Variable n(QStringLiteral("@variable=N @type=int @value=0 @min=0 @max=10"));
        QVERIFY(n.setValue(2.6, CallerKey::External)); // an integer holds whole numbers
        QCOMPARE(n.value(), 3.0);
        QVERIFY(!n.setValue(10.6, CallerKey::External));
    }

    void signalsFollowTheUpdateMode()
    {
        Variable v(QStringLiteral("@variable=PWM1_DUTY @type=real @value=50 @min=0 @max=100"));
        QSignalSpy spy(&v, &Variable::signal_updateSet);
        QVERIFY(v.setValue(50.0, CallerKey::External));
        QVERIFY(!v.setValue(150.0, CallerKey::External));
        QVERIFY(v.setValue(30.0, CallerKey::External));
        QCOMPARE(spy.count(), 1); // by default only a change signals
        v.setUpdateMode(Variable::UpdateAlways);
        QVERIFY(v.setValue(30.0, CallerKey::External));
        QVERIFY(!v.setValue(-1.0, CallerKey::External)); // a refusal signals too
        QCOMPARE(spy.count(), 3);
    }

    void badDefinitionsAreReported()
    {
        const QRegularExpression warning(QStringLiteral("^Variable definition"));
        for (int i = 0; i < 4; ++i)
            QTest::ignoreMessage(QtWarningMsg, warning);
        Variable v(QStringLiteral("@variable=X @type=real @value=abc @min=low @max=5"));
        QCOMPARE(v.value(), 0.0);
        QVERIFY(v.setValue(-1e9, CallerKey::External)); // the bad minimum is no bound
        Variable out(QStringLiteral("@variable=Y @value=9 @min=0 @max=5"));
        QCOMPARE(out.value(), 0.0); // an initial value outside the range is not taken
        QCOMPARE(Variable(QStringLiteral("@@ @value=2")).value(), 2.0);
    }
};

QTEST_GUILESS_MAIN(TestVariable)
#include "tst_variable.moc"
