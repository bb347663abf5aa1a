#include "ChipTestRig.h"

#include "CheckBox.h"
#include "ComboBox.h"
#include "PushButton.h"
#include "UniversalControl.h"

#include <QTest>

using namespace ChipRegisters;

class TestSpiControllerForm : public QObject
{
    Q_OBJECT

private:
    ChipTestRig rig;

private slots:
    void initTestCase()
    {
        QVERIFY(rig.start());
        rig.spi->activate();
        rig.spi->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.spi.get()));
    }
    void init() { rig.reset(); }

    void windowTitleAndFixedSize();
    void everyControlNamesARegisterFieldOrCommand();
    void statusBoxesAreReadOnly();
    void tickAndWriteSendsFrame();
    void comboWritesFieldAndFrame();
    void readButtonShowsStatus();
    void registersClearedFlagRunsRecoveryOnce();
};

void TestSpiControllerForm::windowTitleAndFixedSize()
{
    QCOMPARE(rig.spi->objectName(), QStringLiteral("SpiController"));
    QCOMPARE(rig.spi->windowTitle(), QStringLiteral("SpiController"));
    QVERIFY(rig.spi->fixedWidth() && rig.spi->fixedHeight());
    QCOMPARE(rig.raw->objectName(), QStringLiteral("SpiRaw"));
    QCOMPARE(rig.raw->windowTitle(), QStringLiteral("SpiRaw"));
    QVERIFY(rig.raw->fixedWidth() && rig.raw->fixedHeight());
}

void TestSpiControllerForm::everyControlNamesARegisterFieldOrCommand()
{
    rig.spi->runFunction(QString(), QString());
    rig.raw->runFunction(QString(), QString());
    int bound = 0;
    for (Applet* applet :
         {static_cast<Applet*>(rig.spi.get()), static_cast<Applet*>(rig.raw.get())}) {
        for (QWidget* w : applet->findChildren<QWidget*>()) {
            auto* control = dynamic_cast<CustomControls::UniversalControl*>(w);
            if (!control)
                continue;
            if (auto* button = qobject_cast<CustomControls::PushButton*>(w)) {
                QVERIFY2(applet->functionHelpMap().contains(button->command()),
                         qPrintable(w->objectName()));
                continue;
            }
            QString name;
            QString field;
            QVERIFY(
                CustomControls::UniversalControl::parseName(control->bindName(), &name, &field));
            QVERIFY2(applet->hasParameter(name), qPrintable(w->objectName()));
            if (Register* reg = applet->registerByName(name))
                QVERIFY2(reg->fieldInfo(control->bindName()).valid, qPrintable(w->objectName()));
            ++bound;
        }
    }
    QVERIFY(bound > 100);
}

void TestSpiControllerForm::statusBoxesAreReadOnly()
{
    for (const char* name : {"cbSR0_10", "cbSR3_11", "cbSR7_0", "cbNM"}) {
        auto* box = rig.spi->findChild<CustomControls::CheckBox*>(QLatin1String(name));
        QVERIFY2(box, name);
        QVERIFY2(!box->isWritable(), name);
    }
    auto* control = rig.spi->findChild<CustomControls::CheckBox*>(QStringLiteral("cbCR0_0"));
    QVERIFY(control && control->isWritable());
}

void TestSpiControllerForm::tickAndWriteSendsFrame()
{
    auto* box = rig.spi->findChild<CustomControls::CheckBox*>(QStringLiteral("cbCR0_0"));
    auto* write =
        rig.spi->findChild<CustomControls::PushButton*>(QStringLiteral("pbSpiController_WriteCR0"));
    QVERIFY(box && write);
    QVERIFY(!box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(CR0.getField(QStringLiteral("CR0[0]")), 1u);
    QVERIFY(rig.sim()->chipFrames().isEmpty()); // a field edit alone sends nothing
    QTest::mouseClick(write, Qt::LeftButton);
    QCOMPARE(rig.frames(), QList<int>{0x0001});
    QCOMPARE(rig.sim()->chipRegister(0), quint16(0x0001));
}

void TestSpiControllerForm::comboWritesFieldAndFrame()
{
    auto* combo = rig.spi->findChild<CustomControls::ComboBox*>(QStringLiteral("cmCR8B_6_3"));
    auto* write = rig.spi->findChild<CustomControls::PushButton*>(
        QStringLiteral("pbSpiController_WriteCR8B"));
    QVERIFY(combo && write);
    QCOMPARE(combo->count(), 16);
    combo->setCurrentIndex(9);
    emit combo->activated(9);
    QCOMPARE(CR8B.getField(QStringLiteral("CR8B[T_DLY4]")), 9u);
    QTest::mouseClick(write, Qt::LeftButton);
    QCOMPARE(rig.frames(), QList<int>{0x8400 | (9 << 3)});
}

void TestSpiControllerForm::readButtonShowsStatus()
{
    rig.sim()->setStatusRegister(3, 0x801);
    auto* read =
        rig.spi->findChild<CustomControls::PushButton*>(QStringLiteral("pbSpiController_ReadSR3"));
    auto* low1 = rig.spi->findChild<CustomControls::CheckBox*>(QStringLiteral("cbSR3_0"));
    auto* high6 = rig.spi->findChild<CustomControls::CheckBox*>(QStringLiteral("cbSR3_11"));
    auto* high1 = rig.spi->findChild<CustomControls::CheckBox*>(QStringLiteral("cbSR3_1"));
    QVERIFY(read && low1 && high6 && high1);
    QTest::mouseClick(read, Qt::LeftButton);
    QVERIFY(low1->isChecked());
    QVERIFY(high6->isChecked());
    QVERIFY(!high1->isChecked());
    QCOMPARE(rig.frames(), (QList<int>{0x0580, 0xD000}));
}

void TestSpiControllerForm::registersClearedFlagRunsRecoveryOnce()
{
    RecordingApplet board;
    ControlBoard real; // not the simulated board
    AppletInstances::board = &board;
    AppletInstances::controlBoard = &real;
    CR0.setField(QStringLiteral("CR0[]"), 0x3F);
    SR0.setField(QStringLiteral("SR0[RCF]"), 1); // as a decoded answer would
    auto* rcf = rig.spi->findChild<CustomControls::CheckBox*>(QStringLiteral("cbSR0_10"));
    const bool shown = rcf && rcf->isChecked();
    SR0.setField(QStringLiteral("SR0[RCF]"), 0);
    AppletInstances::controlBoard = &rig.board;
    AppletInstances::board = nullptr;
    QVERIFY(shown);
    QCOMPARE(board.calls, QStringList{"run:setUserConf"});
    QCOMPARE(CR0.getField(QStringLiteral("CR0[]")), 0u);
}

QTEST_MAIN(TestSpiControllerForm)
#include "tst_spicontrollerform.moc"
