// The applet framework with a small applet and a Designer form of promoted controls:
// binding rules, the road of one change, transfer hooks, activation and the help window.
#include "Applet.h"
#include "AppletHelper.h"
#include "CallerKey.h"
#include "CheckBox.h"
#include "CommandTable.h"
#include "Joined.h"
#include "Register.h"
#include "Variable.h"
#include "ui_testform.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <functional>
#include <memory>

namespace {

// The objects an applet holds; built before and destroyed after the applets.
struct Model
{
    Register cr0{"HB_EN1[0]#HB1 enable;HB_EN2[1]#;MODE[3:2]#Mode;REST[15:4]#", "CR0"};
    Register sr0{"@readonly=1;OC[3:0]#;UV[4]#Under-voltage;X[15:5]#", "SR0"};
    Register nm{"@readonly=1;NM[0]#Not master", "NM"};
    Register cr3b{"SEL[1:0]#Input select;OTHER[7:2]#Other", "CR3B"};
    Register cr5a{"LOW[7:0]#;HIGH[9:8]#;PAD[15:10]#", "CR5A"};
    Variable freq{20000, "PWM1_FREQ", "PWM1 frequency", 1, 100000};
    Variable duty{50, "PWM1_DUTY", "PWM1 duty cycle", 0, 100};
    Variable onOff{0, "PWM1OnOff", "PWM1 on/off", 0, 1};
    Variable adc{"@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50"};
};

class TestApplet : public Applet
{
    Q_OBJECT
public:
    explicit TestApplet(Model* model) : m(model) { ui.setupUi(this); }

    QVariant runFunction(const QString& name, const QVariant& args) override
    {
        functionHelpMap().insert(QStringLiteral("setHB_ON"), QStringLiteral("Switches HB on"));
        functionHelpMap().insert(QStringLiteral("doThing"), QStringLiteral("Does the thing"));
        runs.append(name + '|' + args.toString());
        busyDuringRun = isBusy();
        return functionHelpMap().contains(name);
    }
    bool onParameterTransfer(int direction, const QString& name) override
    {
        transfers.append(QStringLiteral("%1:%2").arg(direction).arg(name));
        return hook ? hook(direction, name) : true;
    }
    bool initParameters() override
    {
        for (Register* r : {&m->cr0, &m->sr0, &m->nm, &m->cr3b})
            addRegister(r);
        addRegister(&m->cr5a, 16);
        for (Variable* v : {&m->freq, &m->duty, &m->onOff, &m->adc})
            addVariable(v);
        return initOk;
    }

    void setFixedSize(bool width, bool height)
    {
        m_fixedWidth = width;
        m_fixedHeight = height;
    }

    Model* m;
    Ui::TestForm ui;
    QStringList runs;
    QStringList transfers;
    std::function<bool(int, const QString&)> hook;
    bool busyDuringRun = false;
    bool initOk = true;
    int cr0SeenBySlot = -1;

private slots:
    // Connected by name after the binding: sees the value the binding wrote.
    void on_cbCR0_0_clicked() { cr0SeenBySlot = int(m->cr0.getField(QStringLiteral("CR0[0]"))); }
};

void enter(QLineEdit* edit, const QString& text)
{
    edit->clear(); // typed, so the edit counts as modified
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

} // namespace

class tst_Applet : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Model> model;
    std::unique_ptr<TestApplet> a;

private slots:
    // The applet goes first: it holds the model's objects.
    void init()
    {
        a.reset();
        model = std::make_unique<Model>();
        a = std::make_unique<TestApplet>(model.get());
        a->setObjectName(QStringLiteral("Test"));
        QVERIFY(a->setup());
        a->activate();
        a->transfers.clear();
    }

    void setupBindsAndMarksControls()
    {
        a->ui.cbCR0_0->click();
        // Bound before slots are connected by name; controls show the model, with the
        // variables' ranges.
        QCOMPARE(joined({a->cr0SeenBySlot, a->ui.leFreq->text(), a->ui.hsDuty->maximum()}),
                 "1 20000 100");
        TestApplet failing(model.get());
        failing.initOk = false;
        QVERIFY(!failing.setup() && !failing.windowAction()); // stopped before the binding

        // Read-only entries take no edits; a box shows its field's name unless it has a text
        // (a named bit, a bit without a name, an own text, an accessible name, names nothing).
        QStringList got;
        for (const char* name : {"cbCR0_0", "cbSR0_9", "cbNM", "cbStatusA", "cbNothing_1"}) {
            auto* box = a->findChild<CustomControls::CheckBox*>(name);
            got << joined({box->isWritable(), box->text()});
        }
        QCOMPARE(got, (QStringList{"true HB_EN1", "false SR0[9]", "false Not ready", "false UV",
                                   "true "}));
    }

    // Each control type writes the model through slot_ControlTriggered; a refused or
    // unparsable value writes nothing and the control shows the standing value again.
    void controlWritesTheModel()
    {
        a->ui.cmCR3B_1_1->setCurrentIndex(3);
        emit a->ui.cmCR3B_1_1->activated(3);
        a->ui.spCR5A_7_0->setValue(200);
        QTest::keyClick(a->ui.spCR5A_7_0, Qt::Key_Return);
        a->ui.hsDuty->setValue(70);
        enter(a->ui.leAdc, QStringLiteral("12.5"));
        a->ui.csPWM1OnOff->setModel(6);
        QTest::mouseClick(a->ui.csPWM1OnOff, Qt::LeftButton);
        enter(a->ui.leCR5A_9_8, QStringLiteral("2"));
        enter(a->ui.leCR5A_9_8, QStringLiteral("7")); // wider than the field
        enter(a->ui.leFreq, QStringLiteral("2e5"));   // above the maximum
        a->ui.cbSR0_9->setChecked(true);
        a->controlTriggered(a->ui.cbSR0_9); // read-only
        QCOMPARE(joined({model->cr3b.getField("CR3B[1:0]"), model->cr5a.getField("CR5A[7:0]"),
                         model->duty.value(), model->adc.value(), model->onOff.value(),
                         model->cr5a.getField("CR5A[9:8]"), a->ui.leCR5A_9_8->text(),
                         model->freq.value(), a->ui.leFreq->text(), model->sr0.getField("SR0[9]"),
                         a->ui.cbSR0_9->isChecked()}),
                 "3 200 70 12.5 1 2 2 20000 20000 0 false");
        // Leaving a field the user did not edit must not write back its rounded display.
        QVERIFY(a->setValue(QStringLiteral("ADC_Result1"), 1.0 / 3.0, CallerKey::Internal));
        emit a->ui.leAdc->editingFinished();
        QCOMPARE(model->adc.value(), 1.0 / 3.0);
    }

    void reentryGuardAndWriteWarnings()
    {
        a->hook = [this](int direction, const QString& name) {
            if (name != "CR0" || direction != 1)
                return name != "CR5A";
            // A read that stores what it read must not start a write of the same name.
            model->cr0.setField("CR0[3:2]", 2);
            return a->handleParameter(0, "CR0") && a->handleParameter(0, "SR0");
        };
        QCOMPARE(a->getValue("CR0[3:2]", CallerKey::External), QVariant(2u));
        QVERIFY(a->handleParameter(0, "CR0")); // free again afterwards
        QCOMPARE(a->transfers, (QStringList{"1:CR0", "0:SR0", "0:CR0"}));
        // writeParameters warns once per name that fails.
        QSignalSpy log(a.get(), &Applet::signal_log);
        QVERIFY(!a->writeParameters({"CR0", "CR5A"}));
        QCOMPARE(joined({log.size(), log.value(0).value(1)}),
                 "1 Test Parameter CR5A fail to write");
    }

    // Texts and reals are converted; a value out of range, or one that rounds below zero
    // (it must not wrap to all ones in a 32-bit field), is refused.
    void setValueConvertsAndRefuses()
    {
        Register wide(QStringLiteral("ALL[31:0]#whole word"), QStringLiteral("WIDE"));
        QVERIFY(a->addRegister(&wide, 32));
        const QList<QPair<QString, QVariant>> writes = {
            {"CR5A[7:0]", "0x2a"}, {"CR5A[7:0]", 4.6},           {"PWM1_FREQ", "1500"},
            {"PWM1_DUTY", 101},    {"WIDE[31:0]", 4294967295.0}, {"WIDE[31:0]", -0.4},
            {"WIDE[31:0]", -0.5},  {"WIDE[31:0]", -1.0},         {"WIDE[31:0]", 4294967295.5}};
        QStringList got; // whether the write was taken, and what reads back
        for (const auto& [name, value] : writes)
            got << joined({a->setValue(name, value, CallerKey::External),
                           a->getValue(name, CallerKey::External)});
        QCOMPARE(got, (QStringList{"true 42", "true 5", "true 1500", "false 50", "true 4294967295",
                                   "true 0", "false 0", "false 0", "false 0"}));
        QCOMPARE(a->ui.hsDuty->value(), 50);
    }

    // Parameter names as scripts and applets write them: the forms the controls bind are
    // names; anything that only splits like one is not. (The script tests send more.)
    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value"); // read after writing 1 (or 20.0); invalid: no name
        const auto row = [](const char* name, const QVariant& value) {
            QTest::newRow(name) << QString::fromLatin1(name) << value;
        };
        for (const char* name : {"CR0[3:2]", "CR0[]", "CR0[10]", "CR0[HB_EN2]", " CR0[MODE] ",
                                 "CR3B"}) // a bare register name is its bit 0
            row(name, 1u);
        row("PWM1_DUTY", 20.0);
        for (const char* name : {"CR0[16]", "CR0[99999999999]", "CR0]3:0[", "CR0[3:0]x", "CR0[[1]]",
                                 "CR0.3:0", "Test.CR0[3:0]", "CR0 [3:0]", "[3:0]", "",
                                 "PWM1_DUTY[]", "PWM1_DUTY[0]", "PWM1_DUTY(1)", "NOSUCH"})
            row(name, QVariant());
    }
    void names()
    {
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        const auto state = [this] {
            return joined({model->cr0.value(), model->cr3b.value(), model->duty.value()});
        };
        const QString before = state();
        const QVariant write = value.typeId() == QMetaType::Double ? QVariant(20.0) : QVariant(1);
        for (const quint32 key : {CallerKey::External, CallerKey::Internal}) {
            QCOMPARE(a->setValue(name, write, key), value.isValid());
            QCOMPARE(a->getValue(name, key), value);
            if (!value.isValid())
                QCOMPARE(state(), before); // refused: nothing changed
        }
    }

    void tableKeepsOneEntryPerObject()
    {
        {
            Register gone(QStringLiteral("A[3:0]#a"), QStringLiteral("GONE"));
            QVERIFY(a->addRegister(&gone, 16)); // a size mismatch is only reported
            auto* box = new CustomControls::CheckBox(a.get());
            box->setObjectName(QStringLiteral("cbGONE_1"));
            a->bindControl(box);
        }
        QVERIFY(!a->hasParameter(QStringLiteral("GONE"))); // deleted objects leave
        a->findChild<CustomControls::CheckBox*>(QStringLiteral("cbGONE_1"))->click();
    }

    void commandTableMatchingRules()
    {
        QStringList ran;
        const auto row = [&ran](const char* name) {
            return [&ran, name](const QVariant& args) {
                ran << QLatin1String(name) + QLatin1Char('|') + args.toString();
                return QVariant(true);
            };
        };
        CommandTable whole;
        whole.add("setX", "X help", row("setX"));
        whole.add("setY*", "Y help", row("setY*"));
        whole.add("setZ", "Z help", row("setZ"), CommandTable::Result::ReportsFalse);
        QMap<QString, QString> help;
        // A match fills the help entries up to itself only; existing entries stay.
        QCOMPARE(whole.dispatch("setX", 1, help), QVariant(true));
        QCOMPARE(help.keys(), QStringList{"setX"});
        help["setX"] = "kept";
        // setZ runs, then answers false; case and blanks count; setY* is the name's wildcard.
        QStringList results;
        for (const char* name : {"setZ", "", "setx", "setX ", "setYes"})
            results << whole.dispatch(name, QString(), help).toString();
        QCOMPARE(results, (QStringList{"false", "false", "false", "false", "true"}));
        QCOMPARE(joined({help.keys().join(','), help.value("setX")}), "setX,setY*,setZ kept");
        QCOMPARE(ran, (QStringList{"setX|1", "setZ|", "setY*|"}));
        QVERIFY(whole.offers("setYes") && !whole.offers("setx") && !whole.offers(QString()));

        CommandTable exact(CommandTable::Matching::Exact);
        exact.add("Run", QString(), row("Run"));
        exact.add("Read", "reads", row("Read"));
        help.clear();
        ran.clear();
        // The empty name fills the help entries (rows without a help text stay out) and runs
        // nothing; no wildcard.
        QCOMPARE(joined({exact.dispatch("", "", help), help.keys().join(','),
                         exact.dispatch("Ru*", "", help), exact.dispatch("Run", "", help),
                         ran.join(','), exact.names().join(',')}),
                 "false Read false true Run| Run,Read");
    }

    // The sub-window of an applet fixed in width and height offers no maximise and no
    // sizing, in its title bar and its window menu; one with a free dimension keeps them.
    // Minimise and close stay.
    void fixedSizeWindowOffersNoMaximise_data()
    {
        QTest::addColumn<bool>("fixedWidth");
        QTest::addColumn<bool>("fixedHeight");
        QTest::newRow("fixed") << true << true;
        QTest::newRow("free height") << true << false;
        QTest::newRow("free width") << false << true;
        QTest::newRow("free") << false << false;
    }

    void fixedSizeWindowOffersNoMaximise()
    {
        QFETCH(bool, fixedWidth);
        QFETCH(bool, fixedHeight);
        a->setFixedSize(fixedWidth, fixedHeight);
        QMdiArea area;
        auto* sub = new QMdiSubWindow;
        sub->setWidget(a.get());
        area.addSubWindow(sub);
        const auto giveBack = qScopeGuard([this] { a->setParent(nullptr); });
        a->applySubWindowSize(sub);
        const bool offersMaximise = !(fixedWidth && fixedHeight);
        const Qt::WindowFlags flags = sub->windowFlags();
        QCOMPARE(flags.testFlag(Qt::WindowMaximizeButtonHint), offersMaximise);
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint) &&
                flags.testFlag(Qt::WindowCloseButtonHint));
        QStringList entries;
        for (const QAction* action : sub->systemMenu()->actions()) {
            if (action->isVisible() && !action->isSeparator())
                entries << action->text().remove(QLatin1Char('&'));
        }
        const QString menu = entries.join(',');
        QVERIFY2(entries.contains("Maximize") == offersMaximise &&
                     entries.contains("Size") == offersMaximise,
                 qPrintable(menu));
        QVERIFY2(entries.contains("Minimize") && entries.contains("Close"), qPrintable(menu));
        QCOMPARE(sub->minimumWidth() == sub->maximumWidth(), fixedWidth);
        QCOMPARE(sub->minimumHeight() == sub->maximumHeight(), fixedHeight);
    }

    void commandsRunFromButtonsAndTheHelper()
    {
        a->ui.pbTest_doThing->click();
        a->ui.pbHbOn->click();
        QCOMPARE(a->runs, (QStringList{"doThing|", "setHB_ON|5,hs"}));
        QVERIFY(a->busyDuringRun && !a->isBusy());
        AppletHelper helper(a.get()); // fills its list through runFunction("")
        QCOMPARE(joined({helper.functionList()->topLevelItemCount(),
                         helper.functionList()->topLevelItem(1)->text(1)}),
                 "2 Switches HB on");
        enter(helper.runEdit(), QStringLiteral("setHB_ON(5,hs)"));
        QCOMPARE(helper.resultLabel()->text(), QStringLiteral("setHB_ON -> true"));
        for (const char* bad : {"broken(1", "(5)", " "})
            helper.runLine(QString(bad));
        a->deactivate(); // the board went away while the help window stayed open
        // Says what to do about it, too.
        QCOMPARE(helper.runLine("doThing"), "Board is not connected.\nChoose a port in the main "
                                            "window's tool bar and press Open.");
        // Malformed lines, and any line while the applet is inactive, run nothing.
        QCOMPARE(a->runs.mid(2), (QStringList{"|", "setHB_ON|5,hs"}));
        QVERIFY(helper.findChild<QMessageBox*>());
        a.reset();
        QCOMPARE(helper.runLine(QStringLiteral("doThing")), QStringLiteral("No applet"));
    }
};

QTEST_MAIN(tst_Applet)
#include "tst_applet.moc"
