#include "ChipTestRig.h"

#include "CheckBox.h"
#include "ComboBox.h"
#include "PushButton.h"

#include <QTest>

using namespace ChipRegisters;

class TestSpiControllerForm : public QObject
{
    Q_OBJECT

private:
    ChipTestRig rig;

    template <typename T> T* child(const char* name)
    {
        return rig.spi->findChild<T*>(QLatin1String(name));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(rig.start());
        rig.spi->activate();
        rig.spi->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.spi.get()));
    }
    void init() { rig.reset(); }

    void writeButtonsSendTheEditedFields();
    void readButtonShowsStatus();
    void registersClearedFlagRunsRecovery();
};

void TestSpiControllerForm::writeButtonsSendTheEditedFields()
{
    auto* box = child<CustomControls::CheckBox>("cbCR0_0");
    auto* write = child<CustomControls::PushButton>("pbSpiController_WriteCR0");
    QVERIFY(box && write && !box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(CR0.getField(QStringLiteral("CR0[0]")), 1u);
    QVERIFY(rig.sim()->chipFrames().isEmpty()); // a field edit alone sends nothing
    QTest::mouseClick(write, Qt::LeftButton);
    QCOMPARE(rig.sim()->chipRegister(0), quint16(0x0001));

    rig.sim()->clearChipFrames();
    auto* combo = child<CustomControls::ComboBox>("cmCR8B_6_3");
    QVERIFY(combo && combo->count() == 16);
    combo->setCurrentIndex(9);
    emit combo->activated(9);
    QTest::mouseClick(child<CustomControls::PushButton>("pbSpiController_WriteCR8B"),
                      Qt::LeftButton);
    QCOMPARE(rig.frames(), QList<int>{0x8400 | (9 << 3)});
}

void TestSpiControllerForm::readButtonShowsStatus()
{
    rig.sim()->setStatusRegister(3, 0x801);
    auto* low1 = child<CustomControls::CheckBox>("cbSR3_0");
    auto* high1 = child<CustomControls::CheckBox>("cbSR3_1");
    auto* high6 = child<CustomControls::CheckBox>("cbSR3_11");
    QVERIFY(low1 && high1 && high6 && !high6->isWritable());
    QTest::mouseClick(child<CustomControls::PushButton>("pbSpiController_ReadSR3"),
                      Qt::LeftButton);
    QVERIFY(low1->isChecked() && high6->isChecked() && !high1->isChecked());
    QCOMPARE(rig.frames(), (QList<int>{0x0580, 0xD000}));
}

void TestSpiControllerForm::registersClearedFlagRunsRecovery()
{
    RecordingApplet board;
    ControlBoard real; // not the simulated board
    AppletInstances::board = &board;
    AppletInstances::controlBoard = &real;
    CR0.setField(QStringLiteral("CR0[]"), 0x3F);
    SR0.setField(QStringLiteral("SR0[RCF]"), 1); // as a decoded answer would
    auto* rcf = child<CustomControls::CheckBox>("cbSR0_10");
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
