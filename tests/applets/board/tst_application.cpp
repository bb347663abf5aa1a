// The demonstration cycle against the simulated board, with short phase times: the
// phase order, the cycle count, the waits and the stop from inside a wait.

#include "BoardAppletsRig.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

using namespace ApplicationParameters;

namespace {
// The trace lines of the board applets, in order.
QStringList traces;

void collectTrace(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtDebugMsg && qstrcmp(context.category, "rmx.board") == 0)
        traces << text;
}

// The first capture of each trace that matches, in order.
QStringList traced(const char* pattern)
{
    const QRegularExpression re{QString::fromLatin1(pattern)};
    QStringList result;
    for (const QString& t : std::as_const(traces))
        if (const QRegularExpressionMatch m = re.match(t); m.hasMatch())
            result << m.captured(1);
    return result;
}

// What the motor commands and the cycle ends wrote.
QStringList motorTraces()
{
    return traced("^(Configure Motor.*|Stop|End of cycle.*)$");
}

const QStringList OneCycle = {
    "Configure Motor 1 and Run forward", "Stop", "Configure Motor 1 and Run backward", "Stop",
    "Configure Motor 2 and Run forward", "Stop", "Configure Motor 2 and Run backward", "Stop"};
} // namespace

class TestApplication : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<BoardAppletsRig> rig;
    QtMessageHandler m_previous = nullptr;

    QVariant run(const QString& name) { return rig->application->runFunction(name, QString()); }
    QPushButton* button(const char* name)
    {
        return rig->application->findChild<QPushButton*>(QLatin1String(name));
    }
    // "Demo ON" and "STOP" enabled (1) or not (0).
    QString buttons()
    {
        return QStringLiteral("%1%2")
            .arg(button("pbApplication_DemoON")->isEnabled())
            .arg(button("pbApplication_Stop")->isEnabled());
    }

private slots:
    void init()
    {
        rig = std::make_unique<BoardAppletsRig>();
        rig->application->activate();
        for (Variable* v : {&RunForw1, &RunBack1, &Interval1, &RunForw2, &RunBack2, &Interval2})
            v->setValue(0.0, CallerKey::Internal);
        Count.setValue(1.0, CallerKey::Internal);
        Flags.setField("StopBit", 0);
        traces.clear();
        m_previous = qInstallMessageHandler(collectTrace);
    }
    void cleanup()
    {
        qInstallMessageHandler(m_previous);
        rig.reset();
    }

    void cyclesRunThePhasesInOrder_data()
    {
        QTest::addColumn<double>("count");
        QTest::addColumn<int>("cycles");
        QTest::newRow("two") << 2.0 << 2;
        QTest::newRow("fraction runs one more") << 2.5 << 3;
    }

    // With phase times truncated to milliseconds. That the phases wait, the stop below and
    // tst_e2e_applets show.
    void cyclesRunThePhasesInOrder()
    {
        QFETCH(double, count);
        QFETCH(int, cycles);
        QVERIFY(Count.setValue(count, CallerKey::Internal) &&
                RunForw1.setValue(0.0015, CallerKey::Internal) &&
                RunBack2.setValue(0.2004, CallerKey::Internal));
        QCOMPARE(run("DemoON"), QVariant(true));
        QStringList expected, waits;
        for (int c = 1; c <= cycles; ++c) {
            expected << OneCycle << QStringLiteral("End of cycle number %1").arg(c);
            waits << QStringLiteral("1 0 0 0 0 0 200 0");
        }
        QCOMPARE(motorTraces(), expected);
        QCOMPARE(traced("timer set to: +(\\d+) +ms").join(' '), waits.join(' '));
    }

    // That no motor moves after the stop, tst_e2e_applets checks with a stop by script.
    void stopDuringAPhaseEndsTheRun()
    {
        QVERIFY(RunForw1.setValue(5.0, CallerKey::Internal));
        QString whileRunning;
        // The user presses STOP while motor 1 runs forward.
        QTimer::singleShot(300, this, [this, &whileRunning] {
            whileRunning = buttons();
            QTest::mouseClick(button("pbApplication_Stop"), Qt::LeftButton);
        });
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(run("DemoON"), QVariant(true));
        QVERIFY2(timer.elapsed() < 2000, "the 5 s phase ended early");
        QCOMPARE(whileRunning + '|' + buttons(), QStringLiteral("01|10"));
        QCOMPARE(Flags.getField("StopBit"), 0u);
        // The fail-safe pulse went out and the drivers are active again.
        QCOMPARE(rig->boardLines().filter("DIO22"), (QStringList{"set DIO22=1", "set DIO22=0"}));
    }

    void stopWithoutARunSkipsTheNextRunOnly()
    {
        QVERIFY(run("Stop").toBool() && Flags.getField("StopBit") == 1);
        traces.clear();
        QVERIFY(run("DemoON").toBool() && motorTraces().isEmpty());
        QCOMPARE(run("DemoON"), QVariant(true)); // runs: the skip cleared the stop
        QCOMPARE(motorTraces().mid(0, 8), OneCycle);
    }

    void namesAndActivation()
    {
        // Any command call lists the commands with their texts for the help window.
        rig->application->functionHelpMap().clear();
        QCOMPARE(run(QString()), QVariant(false));
        QCOMPARE(rig->application->functionHelpMap().value("DemoON"),
                 QStringLiteral("Starts Demo application"));
        QVERIFY(rig->application->isVisible() && buttons() == "10");
        // Its window edits the shared duty of motor 2.
        QVERIFY(rig->application->setValue("PWM2_DUTY", 65, CallerKey::External));
        QCOMPARE(PwmVariables::PWM2_DUTY.value(), 65.0);
    }
};

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
