// The Board form: widget classes, binding names, status boxes, PWM panels and initial
// states, checked on a plain host widget (no applet, so nothing gets bound).

// The path lets AUTOUIC of this test find board.ui beside the applet sources.
#include "ui_board.h"

#include "UniversalControl.h"

#include <QImage>
#include <QMap>
#include <QSlider>
#include <QTest>

namespace {

QString bindingOf(const QWidget* w)
{
    const QString acc = w->accessibleName();
    return acc.isEmpty() ? CustomControls::UniversalControl::nameFromObjectName(w->objectName())
                         : acc;
}

bool isCustom(const QWidget* w)
{
    return QString::fromLatin1(w->metaObject()->className()).startsWith("CustomControls::");
}

} // namespace

class BoardFormHost : public QWidget
{
    Q_OBJECT
public:
    int refreshClicks = 0;
public slots:
    void on_pbBoard_refresh_clicked() { ++refreshClicks; }
};

class tst_BoardForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void widgetCountPerClass_data();
    void widgetCountPerClass();
    void accessibleNamesInCreationOrder();
    void controlsBoundByObjectName_data();
    void controlsBoundByObjectName();
    void statusBoxes_data();
    void statusBoxes();
    void pwmPanels_data();
    void pwmPanels();
    void buttonFrames_data();
    void buttonFrames();
    void initialStates();
    void geometryIsTidy();
    void textsFitTheirWidgets();
    void formConnectsNoSlots();
    void picturesAreInResources();

private:
    // The form's own widgets: Qt's internal children carry no name or a "qt_" one.
    QList<QWidget*> formWidgets() const;

    QWidget* host = nullptr;
    Ui_Board* ui = nullptr;
};

void tst_BoardForm::init()
{
    host = new BoardFormHost;
    ui = new Ui_Board;
    ui->setupUi(host);
}

void tst_BoardForm::cleanup()
{
    delete ui;
    ui = nullptr;
    delete host;
    host = nullptr;
}

// Creation order: children in order, tab pages by index (the tab widget raises the
// current page, which reorders its stack's children).
static void collectFormWidgets(QWidget* parent, QList<QWidget*>* result)
{
    QList<QWidget*> kids;
    if (auto* tabs = qobject_cast<QTabWidget*>(parent)) {
        for (int i = 0; i < tabs->count(); ++i)
            kids.append(tabs->widget(i));
    } else {
        kids = parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    }
    for (QWidget* w : kids) {
        if (w->objectName().isEmpty() || w->objectName().startsWith("qt_"))
            continue; // Qt's internal children
        result->append(w);
        collectFormWidgets(w, result);
    }
}

QList<QWidget*> tst_BoardForm::formWidgets() const
{
    QList<QWidget*> result;
    collectFormWidgets(host, &result);
    return result;
}

void tst_BoardForm::widgetCountPerClass_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<int>("count");
    const QList<QPair<const char*, int>> rows = {{"CustomControls::PushButton", 29},
                                                 {"CustomControls::CheckBox", 27},
                                                 {"CustomControls::LineEdit", 8},
                                                 {"CustomControls::Slider", 4},
                                                 {"CustomControls::Switch", 4},
                                                 {"CustomControls::RealEdit", 3},
                                                 {"QCheckBox", 1},
                                                 {"QSpinBox", 1},
                                                 {"QLabel", 48},
                                                 {"QFrame", 10},
                                                 {"QGroupBox", 4},
                                                 {"QWidget", 2},
                                                 {"QTabWidget", 1}};
    for (const auto& row : rows)
        QTest::newRow(row.first) << QString::fromLatin1(row.first) << row.second;
}

void tst_BoardForm::widgetCountPerClass()
{
    QFETCH(QString, className);
    QFETCH(int, count);
    QMap<QString, int> counts;
    for (const QWidget* w : formWidgets())
        ++counts[QString::fromLatin1(w->metaObject()->className())];
    QCOMPARE(counts.value(className), count);
    QCOMPARE(formWidgets().size(), 142);
}

void tst_BoardForm::accessibleNamesInCreationOrder()
{
    QStringList names;
    for (const QWidget* w : formWidgets()) {
        if (!w->accessibleName().isEmpty())
            names.append(w->accessibleName());
    }
    const QStringList expected = {"DIO[EN]",
                                  "FSM",
                                  "ADC_Result1",
                                  "ADC_Result2",
                                  "ADC_Result4",
                                  "getADC",
                                  "SR0[4]",
                                  "SR0[5]",
                                  "SR3[8]",
                                  "SR3[9]",
                                  "SR3[10]",
                                  "SR3[11]",
                                  "SR0[8]",
                                  "SR0[1]",
                                  "SR0[10]",
                                  "SR0[9]",
                                  "SR0[7]",
                                  "SR0[6]",
                                  "SR3[4]",
                                  "SR3[5]",
                                  "SR3[7]",
                                  "SR3[6]",
                                  "NM",
                                  "SR3[2]",
                                  "SR3[3]",
                                  "SR3[0]",
                                  "SR3[1]",
                                  "PWM2_FREQ",
                                  "setPWM2_Freq()",
                                  "PWM2_DUTY",
                                  "setPWM2_Duty()",
                                  "PWM2_DIO",
                                  "PWM2_DUTY",
                                  "PWM1_FREQ",
                                  "setPWM1_Freq()",
                                  "PWM1_DUTY",
                                  "setPWM1_Duty()",
                                  "PWM1_DIO",
                                  "PWM1_DUTY",
                                  "setHB_ON(6,hs)",
                                  "setHB_OFF(6)",
                                  "setHB_ON(6,ls)",
                                  "PWM4_FREQ",
                                  "setPWM4_Freq()",
                                  "PWM4_DUTY",
                                  "setPWM4_Duty()",
                                  "PWM4_DIO",
                                  "PWM4_DUTY",
                                  "PWM3_FREQ",
                                  "setPWM3_Freq()",
                                  "PWM3_DUTY",
                                  "setPWM3_Duty()",
                                  "PWM3_DIO",
                                  "PWM3_DUTY",
                                  "setHB_ON(5,hs)",
                                  "setHB_OFF(5)",
                                  "setHB_ON(5,ls)"};
    QCOMPARE(names, expected);

    // Every bound control outside this list must bind through its object name.
    int custom = 0;
    for (const QWidget* w : formWidgets())
        custom += isCustom(w) ? 1 : 0;
    QCOMPARE(custom, 57 + 18);
}

void tst_BoardForm::controlsBoundByObjectName_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("binding"); // variable, or "Board." + command for buttons
    const QList<QPair<const char*, const char*>> rows = {
        {"pbBoard_refresh", "Board.refresh"},
        {"pbBoard_setActive", "Board.setActive"},
        {"pbBoard_setStandby", "Board.setStandby"},
        {"pbBoard_setDefault", "Board.setDefault"},
        {"pbBoard_setLoaded", "Board.setLoaded"},
        {"pbBoard_getSTATUS", "Board.getSTATUS"},
        {"pbBoard_setForward1", "Board.setForward1"},
        {"pbBoard_setBackward1", "Board.setBackward1"},
        {"pbBoard_setStop1", "Board.setStop1"},
        {"pbBoard_setBrake1", "Board.setBrake1"},
        {"pbBoard_setForward2", "Board.setForward2"},
        {"pbBoard_setBackward2", "Board.setBackward2"},
        {"pbBoard_setStop2", "Board.setStop2"},
        {"pbBoard_setBrake2", "Board.setBrake2"},
        {"csPWM1OnOff", "PWM1OnOff"},
        {"csPWM2OnOff", "PWM2OnOff"},
        {"csPWM3OnOff", "PWM3OnOff"},
        {"csPWM4OnOff", "PWM4OnOff"}};
    for (const auto& row : rows)
        QTest::newRow(row.first) << QString::fromLatin1(row.first)
                                 << QString::fromLatin1(row.second);
}

void tst_BoardForm::controlsBoundByObjectName()
{
    QFETCH(QString, objectName);
    QFETCH(QString, binding);
    const QWidget* w = host->findChild<QWidget*>(objectName);
    QVERIFY(w);
    QVERIFY(isCustom(w));
    QVERIFY(w->accessibleName().isEmpty());
    if (objectName.startsWith("pb")) {
        // Push buttons without accessible name: prefix dropped, applet "_" command.
        const QStringList parts = objectName.mid(2).split('_');
        QCOMPARE(parts.size(), 2);
        QCOMPARE(parts.join('.'), binding);
    } else {
        QCOMPARE(bindingOf(w), binding);
        QCOMPARE(static_cast<const QLabel*>(w)->text(), QString("ON_OFF"));
    }
}

void tst_BoardForm::statusBoxes_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("binding");
    QTest::addColumn<QString>("text");
    const char* rows[][3] = {{"cbNM", "NM", "Normal Mode"},
                             {"cbSR0_10", "SR0[10]", "Registers Cleared"},
                             {"cbSR0_9", "SR0[9]", "Fail-Safe Mode"},
                             {"cbSR0_8", "SR0[8]", "SPI Transmission Error"},
                             {"cbSR0_7", "SR0[7]", "Charge Pump Low"},
                             {"cbSR0_6", "SR0[6]", "Charge Pump Fail"},
                             {"cbSR0_5", "SR0[5]", "VS Under-Voltage"},
                             {"cbSR0_4", "SR0[4]", "VS Over-Voltage"},
                             {"cbSR0_1", "SR0[1]", "Overload Detected"},
                             {"cbSR3_15", "SR3[1]", "HS1 Overload"},
                             {"cbSR3_14", "SR3[0]", "LS1 Overload"},
                             {"cbSR3_13", "SR3[3]", "HS2 Overload"},
                             {"cbSR3_12", "SR3[2]", "LS2 Overload"},
                             {"cbSR3_5", "SR3[5]", "HS3 Overload"},
                             {"cbSR3_4", "SR3[4]", "LS3 Overload"},
                             {"cbSR3_7", "SR3[7]", "HS4 Overload"},
                             {"cbSR3_6", "SR3[6]", "LS4 Overload"},
                             {"cbSR3_9", "SR3[9]", "HS5 Overload"},
                             {"cbSR3_8", "SR3[8]", "LS5 Overload"},
                             {"cbSR3_11", "SR3[11]", "HS6 Overload"},
                             {"cbSR3_10", "SR3[10]", "LS6 Overload"}};
    for (const auto& row : rows)
        QTest::newRow(row[0]) << QString(row[0]) << QString(row[1]) << QString(row[2]);
}

void tst_BoardForm::statusBoxes()
{
    QFETCH(QString, objectName);
    QFETCH(QString, binding);
    QFETCH(QString, text);
    const auto* box = ui->groupBox_Board_Status->findChild<QCheckBox*>(objectName);
    QVERIFY(box);
    QCOMPARE(box->metaObject()->className(), "CustomControls::CheckBox");
    QCOMPARE(bindingOf(box), binding);
    QCOMPARE(box->text(), text);
    QVERIFY(!box->isChecked());
    QVERIFY(box->toolTip().isEmpty());
    // Only the 21 boxes and the Read button live in the group.
    QCOMPARE(ui->groupBox_Board_Status->findChildren<QCheckBox*>().size(), 21);
    QCOMPARE(ui->pbBoard_getSTATUS->parentWidget(), ui->groupBox_Board_Status);
}

void tst_BoardForm::pwmPanels_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("freqEdit");
    QTest::addColumn<QString>("freqButton");
    QTest::newRow("PWM1") << 1 << "frCLK"
                          << "tab"
                          << "leCLK1Freq"
                          << "pbBoard_setCL1_Freq";
    QTest::newRow("PWM2") << 2 << "frCLK_2"
                          << "tab"
                          << "leCLK2Freq"
                          << "pbBoard_setCLK2_Freq";
    QTest::newRow("PWM3") << 3 << "frCLK_4"
                          << "tab_2"
                          << "leCLK3Freq"
                          << "pbBoard_setCL3_Freq";
    QTest::newRow("PWM4") << 4 << "frCLK_3"
                          << "tab_2"
                          << "leCLK4Freq"
                          << "pbBoard_setCLK4_Freq";
}

void tst_BoardForm::pwmPanels()
{
    QFETCH(int, n);
    QFETCH(QString, frame);
    QFETCH(QString, page);
    QFETCH(QString, freqEdit);
    QFETCH(QString, freqButton);
    const QString num = QString::number(n);
    const auto* panel = host->findChild<QFrame*>(frame);
    QVERIFY(panel);
    QCOMPARE(panel->parentWidget()->objectName(), page);
    auto child = [&](const QString& name) {
        return panel->findChild<QWidget*>(name);
    };

    const auto* freq = qobject_cast<const QLineEdit*>(child(freqEdit));
    const auto* duty = qobject_cast<const QLineEdit*>(child("lePWM" + num + "_Duty"));
    QVERIFY(freq && duty);
    QCOMPARE(bindingOf(freq), "PWM" + num + "_FREQ");
    QCOMPARE(bindingOf(duty), "PWM" + num + "_DUTY");
    QCOMPARE(freq->maxLength(), 5);
    QCOMPARE(duty->maxLength(), 5);
    QCOMPARE(freq->inputMethodHints(), Qt::InputMethodHints(Qt::ImhDigitsOnly));
    QCOMPARE(duty->inputMethodHints(), Qt::InputMethodHints(Qt::ImhFormattedNumbersOnly));
    QVERIFY(freq->alignment() & Qt::AlignRight);

    const auto* setFreq = qobject_cast<const QPushButton*>(child(freqButton));
    const auto* setDuty = qobject_cast<const QPushButton*>(child("pbBoard_setPWM" + num + "_Duty"));
    QVERIFY(setFreq && setDuty);
    QCOMPARE(setFreq->accessibleName(), "setPWM" + num + "_Freq()");
    QCOMPARE(setDuty->accessibleName(), "setPWM" + num + "_Duty()");
    QCOMPARE(setFreq->text(), QString("Set "));
    QCOMPARE(setDuty->text(), QString("Set"));
    QCOMPARE(setFreq->toolTip(), QString("Set PWM frequency"));
    QCOMPARE(setDuty->toolTip(), QString("Set PWM Duty-cycle"));

    const auto* slider = qobject_cast<const QSlider*>(child("hsPWM" + num + "_Duty"));
    QVERIFY(slider);
    QCOMPARE(bindingOf(slider), "PWM" + num + "_DUTY");
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 100);
    QCOMPARE(slider->value(), 50);
    QCOMPARE(slider->tickPosition(), QSlider::TicksBelow);
    QCOMPARE(slider->tickInterval(), 10);
    QVERIFY(slider->hasMouseTracking());
    QVERIFY(!slider->invertedAppearance());

    const auto* pin = qobject_cast<const QCheckBox*>(child("cbPWM" + num + "_DIO"));
    QVERIFY(pin);
    QCOMPARE(bindingOf(pin), "PWM" + num + "_DIO");
    QCOMPARE(pin->text(), "PWM" + num + " Pin");
    QCOMPARE(pin->layoutDirection(), Qt::RightToLeft);
    QVERIFY(!pin->isChecked());

    const auto* clock = qobject_cast<const QLabel*>(child("lblCLK" + num));
    QVERIFY(clock);
    QVERIFY(clock->text().isEmpty());
    QCOMPARE(clock->styleSheet(), QString("image: url(:/board/img_signal_clock.png);"));
    QVERIFY(child("csPWM" + num + "OnOff"));

    QStringList captions;
    for (const QLabel* l : panel->findChildren<QLabel*>()) {
        if (l->objectName().startsWith("label"))
            captions.append(l->text());
    }
    captions.sort();
    QStringList expected = {"PWM" + num + " Generator ON/OFF",
                            "Frequency",
                            "Hz",
                            "Duty-cycle",
                            "%",
                            "0%",
                            "50%",
                            "100%"};
    expected.sort();
    QCOMPARE(captions, expected);
}

void tst_BoardForm::buttonFrames_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("buttons"); // object name, then text, per button
    QTest::newRow("motor 1") << "frame_Board_MotorControl"
                             << "tab"
                             << "Motor Control 1"
                             << QStringList{"pbBoard_setForward1",  "Run \nForward",
                                            "pbBoard_setBackward1", "Run \nBackward",
                                            "pbBoard_setStop1",     "Stop",
                                            "pbBoard_setBrake1",    "Stop \nwith Brake"};
    QTest::newRow("motor 2") << "frame_Board_MotorControl_2"
                             << "tab"
                             << "Motor Control 2"
                             << QStringList{"pbBoard_setForward2",  "Run \nForward",
                                            "pbBoard_setBackward2", "Run \nBackward",
                                            "pbBoard_setStop2",     "Stop",
                                            "pbBoard_setBrake2",    "Stop \nwith Brake"};
    QTest::newRow("HB5") << "frame_Board_MotorControl_4"
                         << "tab_2"
                         << "HB5 Control"
                         << QStringList{"pb1", "On HS", "pb1_2", "On LS", "pb2", "Off"};
    QTest::newRow("HB6") << "frame_Board_MotorControl_3"
                         << "tab_2"
                         << "HB6 Control"
                         << QStringList{"pb3", "On HS", "pb3_2", "On LS", "pb4", "Off"};
}

void tst_BoardForm::buttonFrames()
{
    QFETCH(QString, frame);
    QFETCH(QString, page);
    QFETCH(QString, caption);
    QFETCH(QStringList, buttons);
    const auto* f = host->findChild<QFrame*>(frame);
    QVERIFY(f);
    QCOMPARE(f->parentWidget()->objectName(), page);
    const QList<QLabel*> labels = f->findChildren<QLabel*>();
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first()->text(), caption);
    QCOMPARE(labels.first()->font().pointSize(), 12);
    QCOMPARE(f->findChildren<QPushButton*>().size(), buttons.size() / 2);
    for (int i = 0; i < buttons.size(); i += 2) {
        const auto* b = f->findChild<QPushButton*>(buttons.at(i));
        QVERIFY2(b, qPrintable(buttons.at(i)));
        QCOMPARE(b->text(), buttons.at(i + 1));
        QVERIFY(b->toolTip().isEmpty());
    }
}

void tst_BoardForm::initialStates()
{
    QCOMPARE(host->objectName(), QString("Board"));
    QCOMPARE(host->windowTitle(), QString("Application")); // the applet renames it
    QCOMPARE(host->size(), QSize(820, 563));
    QCOMPARE(ui->tabWidget->currentIndex(), 0);
    QCOMPARE(ui->tabWidget->count(), 2);
    QCOMPARE(ui->tabWidget->widget(0), ui->tab);
    QCOMPARE(ui->tabWidget->tabText(0), QString("Motor Control"));
    QCOMPARE(ui->tabWidget->tabText(1), QString("HB5-6 Control"));

    QCOMPARE(ui->lePeriod->minimum(), 1000);
    QCOMPARE(ui->lePeriod->maximum(), 5000);
    QCOMPARE(ui->lePeriod->singleStep(), 500);
    QCOMPARE(ui->lePeriod->value(), 2000);
    QCOMPARE(ui->lePeriod->text(), QString("2000")); // the applet reads the text
    QVERIFY(!ui->cbAutoRefresh->isChecked());
    QVERIFY(ui->cbEN->isChecked());
    QVERIFY(!ui->cbFSM->isChecked());

    // The widgets that cbEN switches must sit where disabling them leaves the rest usable.
    QCOMPARE(ui->pbBoard_setLoaded->parentWidget(), ui->groupBox_Board_ModeControl);
    QCOMPARE(ui->cbEN->parentWidget(), ui->groupBox_Board_ModeControl);
    QVERIFY(!ui->groupBox_Board_Status->isAncestorOf(ui->cbEN));

    for (auto* edit : {ui->leT10ACM_3, ui->leT10ACM_4, ui->leT10ACM_6}) {
        QVERIFY(edit->isReadOnly());
        QCOMPARE(edit->layoutDirection(), Qt::RightToLeft);
    }
    QCOMPARE(ui->groupBox_33->title(), QString("Motor Current && Supply"));
    QCOMPARE(ui->pbBoard_setStandby->text(), QString("Reduced\nPower State"));
    QCOMPARE(ui->pbBoard_setLoaded->text(), QString("Set User\nConfiguration"));
    QCOMPARE(ui->pbBoard_refresh->text(), QString("Refresh Status\n and Current"));
    QCOMPARE(ui->pbBoard_setActive->toolTip(),
             QString("Configures PWM\nSets DRV_EN = 1 and CP_SW = 1"));
    QCOMPARE(ui->lbQRV->styleSheet(), QString("image: url(:/board/tarvex_logo_full_color.png);"));
}

void tst_BoardForm::geometryIsTidy()
{
    // Fixed geometry: every widget inside its parent, no two siblings overlapping.
    host->show(); // the tab widget sizes its pages when shown
    QVERIFY(QTest::qWaitForWindowExposed(host));
    for (QWidget* parent : QList<QWidget*>{host} + formWidgets()) {
        if (qobject_cast<QTabWidget*>(parent))
            continue; // its pages are laid out by the tab widget itself
        QList<QWidget*> kids;
        for (QWidget* w : formWidgets()) {
            if (w->parentWidget() == parent)
                kids.append(w);
        }
        for (int i = 0; i < kids.size(); ++i) {
            QVERIFY2(parent->rect().contains(kids[i]->geometry()),
                     qPrintable(kids[i]->objectName() + " leaves " + parent->objectName()));
            for (int j = i + 1; j < kids.size(); ++j) {
                QVERIFY2(!kids[i]->geometry().intersects(kids[j]->geometry()),
                         qPrintable(kids[i]->objectName() + " overlaps " + kids[j]->objectName()));
            }
        }
    }
}

void tst_BoardForm::textsFitTheirWidgets()
{
    // The form fixes its font size, so a clipped caption is a geometry fault.
    for (const QWidget* w : formWidgets()) {
        QSize need;
        if (const auto* b = qobject_cast<const QPushButton*>(w))
            need = b->fontMetrics().size(0, b->text()) + QSize(8, 4);
        else if (qobject_cast<const QCheckBox*>(w) || w->objectName().startsWith("label"))
            need = w->sizeHint();
        else
            continue; // fields, pictures, switches
        QVERIFY2(need.width() <= w->width() && need.height() <= w->height(),
                 qPrintable(w->objectName() + " clips its text"));
    }
}

void tst_BoardForm::formConnectsNoSlots()
{
    // The framework connects the applet's on_ slots after binding; a form that did it too
    // would run every slot twice.
    auto* h = static_cast<BoardFormHost*>(host);
    ui->pbBoard_refresh->click();
    QCOMPARE(h->refreshClicks, 0);
    QMetaObject::connectSlotsByName(host);
    ui->pbBoard_refresh->click();
    QCOMPARE(h->refreshClicks, 1);
}

void tst_BoardForm::picturesAreInResources()
{
    for (const char* path : {":/board/img_signal_clock.png", ":/board/circuit2.png",
                             ":/board/tarvex_logo_full_color.png"})
        QVERIFY2(!QImage(QString::fromLatin1(path)).isNull(), path);
    QVERIFY(!host->windowIcon().isNull());
}

QTEST_MAIN(tst_BoardForm)
#include "tst_boardform.moc"
