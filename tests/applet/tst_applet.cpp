// The applet framework with a small applet and a Designer form of promoted controls:
// binding rules, the road of one change, transfer hooks and activation.
#include "Applet.h"
#include "CallerKey.h"
#include "CheckBox.h"
#include "ComboBox.h"
#include "LineEdit.h"
#include "PushButton.h"
#include "RealEdit.h"
#include "Register.h"
#include "Slider.h"
#include "SpinBox.h"
#include "Switch.h"
#include "Variable.h"
#include "ui_testform.h"

#include <QAction>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

namespace {

// The objects an applet holds; built before and destroyed after the applets.
struct Model
{
    Register cr0{QStringLiteral("HB_EN1[0]#HB1 output enable;HB_EN2[1]#HB2 output enable;"
                                "MODE[3:2]#Mode select;REST[15:4]#Rest"),
                 QStringLiteral("CR0")};
    Register sr0{QStringLiteral("@readonly=1;OC[3:0]#Over-current;UV[4]#Under-voltage;"
                                "REST[15:5]#Rest"),
                 QStringLiteral("SR0")};
    Register nm{QStringLiteral("@readonly=1;NM[0]#Not master"), QStringLiteral("NM")};
    Register cr3b{QStringLiteral("SEL[1:0]#Input select;OTHER[7:2]#Other"), QStringLiteral("CR3B")};
    Register cr5a{QStringLiteral("LOW[7:0]#Low byte;HIGH[9:8]#High bits;PAD[15:10]#Pad"),
                  QStringLiteral("CR5A")};
    Variable freq{20000, QStringLiteral("PWM1_FREQ"), QStringLiteral("PWM1 frequency"), 1, 100000};
    Variable duty{50, QStringLiteral("PWM1_DUTY"), QStringLiteral("PWM1 duty cycle"), 0, 100};
    Variable onOff{0, QStringLiteral("PWM1OnOff"), QStringLiteral("PWM1 on/off"), 0, 1};
    Variable adc{QStringLiteral("@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50")};
};

class TestApplet : public Applet
{
    Q_OBJECT
public:
    explicit TestApplet(Model* model, QWidget* parent = nullptr) : Applet(parent), m(model)
    {
        ui.setupUi(this);
        setWindowTitle(QStringLiteral("Test"));
    }

    QVariant runFunction(const QString& name, const QVariant& args) override
    {
        static const QList<QPair<QString, QString>> commands = {
            {QStringLiteral("doThing"), QStringLiteral("Does the thing")},
            {QStringLiteral("setHB_ON"), QStringLiteral("Switches a half-bridge on")}};
        bool ran = false;
        for (const auto& c : commands) {
            if (!functionHelpMap().contains(c.first))
                functionHelpMap().insert(c.first, c.second);
            if (c.first == name)
                ran = true;
        }
        runs.append({name, args.toString()});
        argTypes.append(args.typeId());
        busyDuringRun = isBusy();
        return QVariant(ran);
    }

    bool onParameterTransfer(int direction, const QString& name) override
    {
        transfers.append(QStringLiteral("%1:%2").arg(direction).arg(name));
        return hook ? hook(direction, name) : true;
    }

    bool initParameters() override
    {
        addRegister(&m->cr0);
        addRegister(&m->sr0);
        addRegister(&m->nm);
        addRegister(&m->cr3b);
        addRegister(&m->cr5a, 16);
        addVariable(&m->freq);
        addVariable(&m->duty);
        addVariable(&m->onOff);
        addVariable(&m->adc);
        return initOk;
    }

    void onActivate() override { ++activations; }
    void onDeactivate() override { ++deactivations; }

    void setFixed(bool w, bool h)
    {
        m_fixedWidth = w;
        m_fixedHeight = h;
    }

    Model* m;
    Ui::TestForm ui;
    QList<QPair<QString, QString>> runs;
    QList<int> argTypes;
    QStringList transfers;
    std::function<bool(int, const QString&)> hook;
    bool busyDuringRun = false;
    bool initOk = true;
    int activations = 0;
    int deactivations = 0;
    int cr0SeenBySlot = -1;

private slots:
    // Connected by name after the binding: sees the value the binding wrote.
    void on_cbCR0_0_clicked() { cr0SeenBySlot = int(m->cr0.getField(QStringLiteral("CR0[0]"))); }
};

const QString kTip = QStringLiteral("%1 <font color=#0000ff><br>%2</font><br>");

} // namespace

class tst_Applet : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Model> model;
    std::unique_ptr<TestApplet> applet;

    TestApplet* make(bool active = true)
    {
        applet.reset();
        model = std::make_unique<Model>();
        applet = std::make_unique<TestApplet>(model.get());
        applet->setObjectName(QStringLiteral("Test"));
        if (!applet->setup())
            return nullptr;
        if (active)
            applet->activate();
        applet->transfers.clear();
        return applet.get();
    }

private slots:
    void cleanup()
    {
        applet.reset();
        model.reset();
    }

    void setupBindsBeforeSlotsConnectedByName()
    {
        TestApplet* a = make();
        QVERIFY(a);
        QVERIFY(a->windowAction());
        QVERIFY(a->ui.cbCR0_0->isWritable());
        a->ui.cbCR0_0->click();
        QCOMPARE(model->cr0.getField(QStringLiteral("CR0[0]")), 1u);
        QCOMPARE(a->cr0SeenBySlot, 1);
    }

    void setupStopsWhenParametersFail()
    {
        model = std::make_unique<Model>();
        applet = std::make_unique<TestApplet>(model.get());
        applet->initOk = false;
        QVERIFY(!applet->setup());
        QVERIFY(!applet->windowAction());
        QVERIFY(applet->boundControls(QStringLiteral("CR0")).isEmpty());
    }

    void setupShowsModelValues()
    {
        model = std::make_unique<Model>();
        model->cr5a.setField(QStringLiteral("CR5A[9:8]"), 2);
        model->duty = 30;
        applet = std::make_unique<TestApplet>(model.get());
        QVERIFY(applet->setup());
        QCOMPARE(applet->ui.leCR5A_9_8->text(), QStringLiteral("2"));
        QCOMPARE(applet->ui.hsDuty->value(), 30);
        QCOMPARE(applet->ui.leFreq->text(), QStringLiteral("20000"));
    }

    void bindingMarksControls_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("bindName");

        QTest::newRow("field from object name")
            << "cbCR0_0" << kTip.arg("HB1 output enable", "CR0[0]") << true << "CR0[0]";
        QTest::newRow("read-only register")
            << "cbSR0_9" << kTip.arg("", "SR0[9]") << false << "SR0[9]";
        QTest::newRow("no field part") << "cbNM" << kTip.arg("Not master", "NM") << false << "NM";
        QTest::newRow("accessible name wins")
            << "cbStatusA" << kTip.arg("Under-voltage", "SR0[4]") << false << "SR0[4]";
        QTest::newRow("accessible field range")
            << "cmCR3B_1_1" << kTip.arg("Input select", "CR3B[1:0]") << true << "CR3B[1:0]";
        QTest::newRow("variable") << "leFreq" << kTip.arg("PWM1 frequency", "PWM1_FREQ") << true
                                  << "PWM1_FREQ";
        QTest::newRow("switch") << "csPWM1OnOff" << kTip.arg("PWM1 on/off", "PWM1OnOff") << true
                                << "PWM1OnOff";
        QTest::newRow("names nothing") << "cbNothing_1"
                                       << "" << true << "Nothing[1]";
    }

    void bindingMarksControls()
    {
        QFETCH(QString, object);
        QFETCH(QString, toolTip);
        QFETCH(bool, writable);
        QFETCH(QString, bindName);
        TestApplet* a = make();
        QVERIFY(a);
        auto* w = a->findChild<QWidget*>(object);
        QVERIFY(w);
        auto* c = dynamic_cast<CustomControls::UniversalControl*>(w);
        QVERIFY(c);
        QCOMPARE(w->toolTip(), toolTip);
        QCOMPARE(c->isWritable(), writable);
        QCOMPARE(c->bindName(), bindName);
    }

    void bindingTextsAndRanges()
    {
        TestApplet* a = make();
        QVERIFY(a);
        // An empty check box gets its field's name; a box with text keeps it.
        QCOMPARE(a->ui.cbCR0_0->text(), QStringLiteral("HB_EN1"));
        QCOMPARE(a->ui.cbSR0_9->text(), QStringLiteral("SR0[9]")); // bit 9 has no name
        QCOMPARE(a->ui.cbNM->text(), QStringLiteral("Not ready"));
        QCOMPARE(a->ui.hsDuty->minimum(), 0);
        QCOMPARE(a->ui.hsDuty->maximum(), 100);
        // cmCR3B_1_1 binds through its accessible name to bits 1:0, not to bit 1.
        model->cr3b.setField(QStringLiteral("CR3B[1:0]"), 2);
        QCOMPARE(a->ui.cmCR3B_1_1->currentIndex(), 2);
        // A push button keeps its tool tip and is never listed as a bound value control.
        QVERIFY(a->ui.pbTest_doThing->toolTip().isEmpty());
        // A read-only variable makes its control read-only at binding.
        model->adc.setReadOnly(true);
        a->bindControl(a->ui.leAdc);
        QVERIFY(!a->ui.leAdc->isWritable());
        QVERIFY(a->ui.leAdc->isReadOnly());
        QCOMPARE(a->boundControls(QStringLiteral("ADC_Result1")).size(), 1);
    }

    void controlWritesTheModel()
    {
        TestApplet* a = make();
        QVERIFY(a);

        a->ui.cmCR3B_1_1->setCurrentIndex(3);
        emit a->ui.cmCR3B_1_1->activated(3);
        QCOMPARE(model->cr3b.getField(QStringLiteral("CR3B[1:0]")), 3u);

        a->ui.leCR5A_9_8->setText(QStringLiteral("2"));
        QTest::keyClick(a->ui.leCR5A_9_8, Qt::Key_Return);
        QCOMPARE(model->cr5a.getField(QStringLiteral("CR5A[9:8]")), 2u);

        a->ui.spCR5A_7_0->setValue(200);
        QTest::keyClick(a->ui.spCR5A_7_0, Qt::Key_Return);
        QCOMPARE(model->cr5a.getField(QStringLiteral("CR5A[7:0]")), 200u);

        a->ui.hsDuty->setValue(70);
        QCOMPARE(model->duty.value(), 70.0);

        a->ui.leFreq->setText(QStringLiteral("0x3e8"));
        QTest::keyClick(a->ui.leFreq, Qt::Key_Return);
        QCOMPARE(model->freq.value(), 20000.0); // not a decimal number: nothing written
        QCOMPARE(a->ui.leFreq->text(), QStringLiteral("20000"));
        a->ui.leFreq->setText(QStringLiteral("1000"));
        QTest::keyClick(a->ui.leFreq, Qt::Key_Return);
        QCOMPARE(model->freq.value(), 1000.0);

        a->ui.leAdc->clear();
        QTest::keyClicks(a->ui.leAdc, QStringLiteral("12.5"));
        emit a->ui.leAdc->editingFinished();
        QCOMPARE(model->adc.value(), 12.5);

        QTest::mouseClick(a->ui.csPWM1OnOff, Qt::LeftButton); // no model: no states to step
        QCOMPARE(model->onOff.value(), 0.0);
        a->ui.csPWM1OnOff->setModel(6);
        QTest::mouseClick(a->ui.csPWM1OnOff, Qt::LeftButton);
        QCOMPARE(model->onOff.value(), 1.0);
        QTest::mouseClick(a->ui.csPWM1OnOff, Qt::LeftButton);
        QCOMPARE(model->onOff.value(), 0.0);
    }

    void refusedWriteShowsTheStandingValue()
    {
        TestApplet* a = make();
        QVERIFY(a);
        a->ui.leFreq->setText(QStringLiteral("200000")); // above the maximum
        QTest::keyClick(a->ui.leFreq, Qt::Key_Return);
        QCOMPARE(model->freq.value(), 20000.0);
        QCOMPARE(a->ui.leFreq->text(), QStringLiteral("20000"));

        a->ui.leCR5A_9_8->setText(QStringLiteral("7")); // wider than the 2-bit field
        QTest::keyClick(a->ui.leCR5A_9_8, Qt::Key_Return);
        QCOMPARE(model->cr5a.getField(QStringLiteral("CR5A[9:8]")), 0u);
        QCOMPARE(a->ui.leCR5A_9_8->text(), QStringLiteral("0"));

        a->ui.leCR5A_9_8->setText(QStringLiteral("-1"));
        QTest::keyClick(a->ui.leCR5A_9_8, Qt::Key_Return);
        QCOMPARE(model->cr5a.getField(QStringLiteral("CR5A[]")), 0u);
    }

    // Leaving a field the user did not edit must not write back its rounded display.
    void unchangedFieldsWriteNothing()
    {
        TestApplet* a = make();
        QVERIFY(a);
        QVERIFY(a->setValue(QStringLiteral("PWM1_DUTY"), 12.7, CallerKey::Internal));
        a->bindControl(a->ui.spCR5A_7_0); // rebinding keeps one binding per control
        QCOMPARE(a->boundControls(QStringLiteral("CR5A")).size(), 2);
        auto* spin = new CustomControls::SpinBox(a);
        spin->setAccessibleName(QStringLiteral("PWM1_DUTY"));
        a->bindControl(spin);
        a->slot_updateControls(QStringLiteral("PWM1_DUTY"));
        QCOMPARE(spin->value(), 13);
        emit spin->editingFinished();
        QCOMPARE(model->duty.value(), 12.7);

        QVERIFY(a->setValue(QStringLiteral("ADC_Result1"), 1.0 / 3.0, CallerKey::Internal));
        emit a->ui.leAdc->editingFinished();
        QCOMPARE(model->adc.value(), 1.0 / 3.0);
        a->ui.leAdc->setReadOnly(true);
        a->ui.leAdc->setText(QStringLiteral("7"));
        a->ui.leAdc->setModified(true);
        emit a->ui.leAdc->editingFinished();
        QCOMPARE(model->adc.value(), 1.0 / 3.0);
    }

    void readOnlyControlWritesNothing()
    {
        TestApplet* a = make();
        QVERIFY(a);
        a->show();
        QVERIFY(QTest::qWaitForWindowExposed(a));
        QTest::mouseClick(a->ui.cbCR0_0, Qt::LeftButton);
        QVERIFY(a->ui.cbCR0_0->isChecked()); // a writable box takes the click
        QTest::mouseClick(a->ui.cbSR0_9, Qt::LeftButton);
        QVERIFY(!a->ui.cbSR0_9->isChecked());
        a->ui.cbSR0_9->setChecked(true);
        a->controlTriggered(a->ui.cbSR0_9);
        QCOMPARE(model->sr0.getField(QStringLiteral("SR0[9]")), 0u);
        QVERIFY(!a->ui.cbSR0_9->isChecked());
    }

    void pushButtonRunsItsCommand()
    {
        TestApplet* a = make();
        QVERIFY(a);
        a->ui.pbTest_doThing->click();
        a->ui.pbHbOn->click();
        QCOMPARE(a->runs.size(), 2);
        QCOMPARE(a->runs.at(0), qMakePair(QStringLiteral("doThing"), QString()));
        QCOMPARE(a->runs.at(1), qMakePair(QStringLiteral("setHB_ON"), QStringLiteral("5,hs")));
        QCOMPARE(a->argTypes.at(0), int(QMetaType::QString));
        QVERIFY(a->busyDuringRun);
        QVERIFY(!a->isBusy());
    }

    void slotControlTriggeredUsesTheSender()
    {
        TestApplet* a = make();
        QVERIFY(a);
        auto* box = new CustomControls::CheckBox(a);
        box->setObjectName(QStringLiteral("cbCR0_1"));
        a->bindControl(box);
        box->disconnectChanged();
        connect(box, &QCheckBox::clicked, a, &Applet::slot_ControlTriggered);
        box->click();
        QCOMPARE(model->cr0.getField(QStringLiteral("CR0[1]")), 1u);
        a->slot_ControlTriggered(); // no sender: nothing happens
        delete box;
        QVERIFY(a->boundControls(QStringLiteral("CR0")).size() == 1);
    }

    // A change through one applet's control reaches the model and every control of
    // every active applet that holds the object, and runs each one's transfer hook.
    void changeTravelsToEveryApplet()
    {
        TestApplet* a = make();
        QVERIFY(a);
        TestApplet second(model.get());
        QVERIFY(second.setup());
        second.activate();
        TestApplet idle(model.get());
        QVERIFY(idle.setup());
        QSignalSpy changedA(a, &Applet::signal_RegisterChanged);
        QSignalSpy changedSecond(&second, &Applet::signal_RegisterChanged);
        second.transfers.clear();

        a->ui.hsDuty->setValue(80);
        QCOMPARE(model->duty.value(), 80.0);
        QCOMPARE(second.ui.hsDuty->value(), 80);
        QCOMPARE(idle.ui.hsDuty->value(), 50); // inactive: not refreshed
        QCOMPARE(a->transfers, QStringList{QStringLiteral("0:PWM1_DUTY")});
        QCOMPARE(second.transfers, QStringList{QStringLiteral("0:PWM1_DUTY")});
        QVERIFY(idle.transfers.isEmpty());
        QCOMPARE(changedA.count(), 1);
        QCOMPARE(changedSecond.count(), 1);
        QCOMPARE(model->duty.value(), 80.0); // no control wrote back a value

        second.ui.cbCR0_0->click();
        QVERIFY(a->ui.cbCR0_0->isChecked());
    }

    void inactiveAppletOnlyRefreshesTheTriggeringControl()
    {
        TestApplet* a = make(false);
        QVERIFY(a);
        QSignalSpy changed(a, &Applet::signal_RegisterChanged);
        model->cr0.setField(QStringLiteral("CR0[0]"), 1);
        QVERIFY(!a->ui.cbCR0_0->isChecked());
        QVERIFY(a->transfers.isEmpty());
        QCOMPARE(changed.count(), 0);
        a->ui.leFreq->setText(QStringLiteral("500"));
        QTest::keyClick(a->ui.leFreq, Qt::Key_Return);
        QCOMPARE(model->freq.value(), 500.0);
        QCOMPARE(a->ui.leFreq->text(), QStringLiteral("500"));
        QVERIFY(a->transfers.isEmpty());
    }

    void reentryGuardPerName()
    {
        TestApplet* a = make();
        QVERIFY(a);
        int nested = 0;
        a->hook = [&](int direction, const QString& name) {
            if (name == QLatin1String("CR0") && direction == 1) {
                // A read that stores what it read must not start a write of the same name.
                model->cr0.setField(QStringLiteral("CR0[3:2]"), 2);
                ++nested;
                return a->handleParameter(0, QStringLiteral("CR0")) &&
                       a->handleParameter(0, QStringLiteral("SR0"));
            }
            return name != QLatin1String("SR0");
        };
        QCOMPARE(a->getValue(QStringLiteral("CR0[3:2]"), CallerKey::External), QVariant(2u));
        QCOMPARE(nested, 1);
        QCOMPARE(a->transfers, (QStringList{QStringLiteral("1:CR0"), QStringLiteral("0:SR0")}));
        // After the transfer the name is free again.
        a->transfers.clear();
        QVERIFY(a->handleParameter(0, QStringLiteral("CR0")));
        QCOMPARE(a->transfers, QStringList{QStringLiteral("0:CR0")});
    }

    void writeParametersWarnsPerFailure()
    {
        TestApplet* a = make();
        QVERIFY(a);
        a->hook = [](int, const QString& name) {
            return name != QLatin1String("CR5A");
        };
        QSignalSpy log(a, &Applet::signal_log);
        QVERIFY(!a->writeParameters({QStringLiteral("CR0"), QStringLiteral("CR5A")}));
        QCOMPARE(log.count(), 1);
        QCOMPARE(log.at(0).at(1).toString(), QStringLiteral("Test Parameter CR5A fail to write"));
        QVERIFY(log.at(0).at(0).toInt() > 0);
        QVERIFY(a->writeParameters({QStringLiteral("CR0")}));
    }

    void activateAndDeactivate()
    {
        TestApplet* a = make(false);
        QVERIFY(a);
        QVERIFY(!a->isActive());
        QVERIFY(!a->windowAction()->isEnabled());
        a->activate();
        QVERIFY(a->isActive());
        QVERIFY(a->windowAction()->isEnabled());
        QCOMPARE(a->activations, 1);
        a->deactivate();
        QVERIFY(!a->isActive());
        QVERIFY(!a->windowAction()->isEnabled());
        QCOMPARE(a->deactivations, 1);
        a->setEnabled(false);
        a->activate();
        QVERIFY(!a->isActive());
        QCOMPARE(a->activations, 1);
    }

    void setAndGetValues_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<uint>("key");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVariant>("readBack");

        const uint ext = CallerKey::External;
        const uint in = CallerKey::Internal;
        QTest::newRow("field range") << "CR5A[9:8]" << QVariant(3) << ext << true << QVariant(3u);
        QTest::newRow("named field") << "CR0[MODE]" << QVariant(2) << ext << true << QVariant(2u);
        QTest::newRow("whole register")
            << "CR3B[]" << QVariant(0xffu) << ext << true << QVariant(0xffu);
        QTest::newRow("hex text") << "CR5A[7:0]" << QVariant("0x2a") << ext << true
                                  << QVariant(42u);
        QTest::newRow("rounded double")
            << "CR5A[7:0]" << QVariant(4.6) << ext << true << QVariant(5u);
        QTest::newRow("negative refused")
            << "CR5A[7:0]" << QVariant(-1) << ext << false << QVariant(0u);
        QTest::newRow("too wide refused")
            << "CR5A[9:8]" << QVariant(4) << ext << false << QVariant(0u);
        QTest::newRow("variable") << "PWM1_DUTY" << QVariant(12.5) << ext << true << QVariant(12.5);
        QTest::newRow("variable text")
            << "PWM1_FREQ" << QVariant("1500") << ext << true << QVariant(1500.0);
        QTest::newRow("out of range")
            << "PWM1_DUTY" << QVariant(101) << ext << false << QVariant(50.0);
        QTest::newRow("unknown") << "XYZ" << QVariant(1) << in << false << QVariant();
        QTest::newRow("empty name") << "" << QVariant(1) << in << false << QVariant();
        QTest::newRow("null value") << "PWM1_DUTY" << QVariant() << in << false << QVariant(50.0);
    }

    void setAndGetValues()
    {
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        QFETCH(uint, key);
        QFETCH(bool, ok);
        QFETCH(QVariant, readBack);
        TestApplet* a = make();
        QVERIFY(a);
        QCOMPARE(a->setValue(name, value, key), ok);
        const QVariant got = a->getValue(name, CallerKey::External);
        QCOMPARE(got.isValid(), readBack.isValid());
        if (readBack.isValid())
            QCOMPARE(got.toDouble(), readBack.toDouble());
    }

    void readOnlyVariableTakesOnlyTheInternalKey()
    {
        TestApplet* a = make();
        QVERIFY(a);
        model->adc.setReadOnly(true);
        QVERIFY(!a->setValue(QStringLiteral("ADC_Result1"), 3.0, CallerKey::External));
        QVERIFY(a->setValue(QStringLiteral("ADC_Result1"), 3.0, CallerKey::Internal));
        QCOMPARE(a->ui.leAdc->text(), QStringLiteral("3"));
        QCOMPARE(a->getValue(QStringLiteral("ADC_Result1"), CallerKey::External).toDouble(), 3.0);
        QVERIFY(a->transfers.contains(QStringLiteral("1:ADC_Result1")));
    }

    void addParameters()
    {
        TestApplet* a = make();
        QVERIFY(a);
        Variable again(1, QStringLiteral("PWM1_DUTY"), QString(), 0, 10);
        Variable unnamed(1, QString(), QString(), 0, 10);
        QVERIFY(!a->addVariable(&again));
        QVERIFY(!a->addVariable(&unnamed));
        QVERIFY(!a->addVariable(nullptr));
        QCOMPARE(a->variableByName(QStringLiteral("PWM1_DUTY")), &model->duty);
        Register small(QStringLiteral("A[3:0]#a"), QStringLiteral("SMALL"));
        QVERIFY(a->addRegister(&small, 16)); // a size mismatch is only reported
        QVERIFY(!a->addRegister(&small));
        QCOMPARE(a->parameterNames().first(), QStringLiteral("CR0"));
        QCOMPARE(a->parameterNames().last(), QStringLiteral("SMALL"));
        // The other applet's variable keeps its own table.
        QCOMPARE(a->parameterNames().count(QStringLiteral("PWM1_DUTY")), 1);
    }

    void deletedObjectLeavesTheTable()
    {
        TestApplet* a = make();
        QVERIFY(a);
        {
            Register gone(QStringLiteral("A[3:0]#a"), QStringLiteral("GONE"));
            QVERIFY(a->addRegister(&gone));
            auto* box = new CustomControls::CheckBox(a);
            box->setObjectName(QStringLiteral("cbGONE_1"));
            a->bindControl(box);
            QCOMPARE(a->boundControls(QStringLiteral("GONE")).size(), 1);
        }
        QVERIFY(!a->hasParameter(QStringLiteral("GONE")));
        QVERIFY(!a->setValue(QStringLiteral("GONE[1]"), 1, CallerKey::Internal));
        a->slot_updateAllControls();
        auto* box = a->findChild<CustomControls::CheckBox*>(QStringLiteral("cbGONE_1"));
        QVERIFY(box);
        box->click(); // unbound now: writes nothing, does not crash
    }

    void slotUpdateControlsByNames()
    {
        TestApplet* a = make(false);
        QVERIFY(a);
        model->cr0.setField(QStringLiteral("CR0[0]"), 1);
        model->duty = 20;
        a->slot_updateControls(QStringLiteral("CR0"));
        QVERIFY(a->ui.cbCR0_0->isChecked());
        QCOMPARE(a->ui.hsDuty->value(), 50);
        a->slot_updateControls(QStringLiteral("SR0;PWM1_DUTY"));
        QCOMPARE(a->ui.hsDuty->value(), 20);
        model->duty = 30;
        a->slot_updateControls(QString());
        QCOMPARE(a->ui.hsDuty->value(), 30);
        QCOMPARE(model->duty.value(), 30.0);
    }

    void subWindowSize_data()
    {
        QTest::addColumn<bool>("fixedW");
        QTest::addColumn<bool>("fixedH");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<QSize>("maximum");
        const int big = QWIDGETSIZE_MAX;
        QTest::newRow("free") << false << false << QSize(320, 440) << QSize(0, 0)
                              << QSize(big, big);
        QTest::newRow("fixed width")
            << true << false << QSize(310, 440) << QSize(310, 0) << QSize(310, big);
        QTest::newRow("fixed both")
            << true << true << QSize(310, 435) << QSize(310, 435) << QSize(310, 435);
    }

    void subWindowSize()
    {
        QFETCH(bool, fixedW);
        QFETCH(bool, fixedH);
        QFETCH(QSize, size);
        QFETCH(QSize, minimum);
        QFETCH(QSize, maximum);
        TestApplet* a = make();
        QVERIFY(a);
        QCOMPARE(a->size(), QSize(300, 400));
        a->setFixed(fixedW, fixedH);
        QWidget sub;
        a->applySubWindowSize(&sub);
        QCOMPARE(sub.size(), size);
        QCOMPARE(sub.minimumSize(), minimum);
        QCOMPARE(sub.maximumSize(), maximum);
    }

    void showWindowShowsTheContainer()
    {
        TestApplet* a = make();
        QVERIFY(a);
        QWidget container;
        a->setContainer(&container);
        a->showWindow();
        QVERIFY(container.isVisible());
        QVERIFY(a->windowAction()->isChecked());
        a->windowAction()->trigger(); // unchecks: hides
        QVERIFY(!container.isVisible());
    }

    void switchKeepsItsModelWhenBound()
    {
        model = std::make_unique<Model>();
        applet = std::make_unique<TestApplet>(model.get());
        applet->ui.csPWM1OnOff->setModel(6); // as an applet constructor does
        QVERIFY(applet->setup());
        applet->activate();
        QCOMPARE(applet->ui.csPWM1OnOff->model(), 6);
        QCOMPARE(applet->ui.csPWM1OnOff->description(), QStringLiteral("ON_OFF"));
        QVERIFY(!applet->ui.csPWM1OnOff->pixmap().isNull());
        model->onOff = 1;
        QCOMPARE(applet->ui.csPWM1OnOff->stateIndex(), 1);
    }
};

QTEST_MAIN(tst_Applet)
#include "tst_applet.moc"
