// The bound controls on their own: binding names, command names, values and bases.
#include "CheckBox.h"
#include "ComboBox.h"
#include "LineEdit.h"
#include "PushButton.h"
#include "Slider.h"
#include "SpinBox.h"
#include "Switch.h"

#include <QSignalSpy>
#include <QTest>

using namespace CustomControls;

class tst_Controls : public QObject
{
    Q_OBJECT
private slots:
    void nameFromObjectName_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("name");
        QTest::newRow("bit") << "cbCR0_0"
                             << "CR0[0]";
        QTest::newRow("status bit") << "cbSR0_9"
                                    << "SR0[9]";
        QTest::newRow("no underscore") << "cbNM"
                                       << "NM";
        QTest::newRow("switch") << "csPWM1OnOff"
                                << "PWM1OnOff";
        QTest::newRow("range") << "cmCR5A_9_8"
                               << "CR5A[9:8]";
        QTest::newRow("third underscore stays") << "leA_1_2_3"
                                                << "A[1:2_3]";
        QTest::newRow("short") << "cb"
                               << "";
    }
    void nameFromObjectName()
    {
        QFETCH(QString, object);
        QFETCH(QString, name);
        QCOMPARE(UniversalControl::nameFromObjectName(object), name);
    }

    void parseName_data()
    {
        QTest::addColumn<QString>("bind");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("field");
        QTest::newRow("range") << "CR5A[9:8]" << true << "CR5A"
                               << "9:8";
        QTest::newRow("bit") << "CR0[0]" << true << "CR0"
                             << "0";
        QTest::newRow("plain") << "NM" << true << "NM"
                               << "";
        QTest::newRow("whole") << "CR0[]" << true << "CR0"
                               << "";
        QTest::newRow("arguments") << "setHB_ON(5,hs)" << true << "setHB_ON"
                                   << "5,hs";
        QTest::newRow("one argument") << "setHB_OFF(5)" << true << "setHB_OFF"
                                      << "5";
        QTest::newRow("no argument") << "setRoutineTime()" << true << "setRoutineTime"
                                     << "";
        QTest::newRow("qualified") << "Board.DIO[EN]" << true << "DIO"
                                   << "EN";
        QTest::newRow("empty") << "" << false << ""
                               << "";
    }
    void parseName()
    {
        QFETCH(QString, bind);
        QFETCH(bool, ok);
        QFETCH(QString, name);
        QFETCH(QString, field);
        QString n;
        QString f;
        QCOMPARE(UniversalControl::parseName(bind, &n, &f), ok);
        QCOMPARE(n, name);
        QCOMPARE(f, field);
    }

    void pushButtonCommand_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("accessible");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("argument");
        QTest::newRow("object name") << "pbBoard_setForward1"
                                     << ""
                                     << "setForward1"
                                     << "";
        QTest::newRow("object name argument") << "pbBoard_setHB_5"
                                              << ""
                                              << "setHB"
                                              << "5";
        QTest::newRow("accessible arguments") << "pbHBController_1"
                                              << "setHB_ON(5,hs)"
                                              << "setHB_ON"
                                              << "5,hs";
        QTest::newRow("accessible one") << "pbX_y"
                                        << "setHB_OFF(5)"
                                        << "setHB_OFF"
                                        << "5";
        QTest::newRow("accessible empty") << "pbX_y"
                                          << "setRoutineTime()"
                                          << "setRoutineTime"
                                          << "";
    }
    void pushButtonCommand()
    {
        QFETCH(QString, object);
        QFETCH(QString, accessible);
        QFETCH(QString, command);
        QFETCH(QString, argument);
        PushButton button;
        button.setObjectName(object);
        button.setAccessibleName(accessible);
        QCOMPARE(button.command(), command);
        QCOMPARE(button.argument(), argument);
        QCOMPARE(button.controlType(), int(UniversalControl::PushButtonType));
        // Worked out once: later renames do not change the command.
        button.setAccessibleName(QStringLiteral("other(1)"));
        button.setObjectName(QStringLiteral("pbA_b_c"));
        QCOMPARE(button.command(), command);
        QCOMPARE(button.argument(), argument);
    }

    void bindNamePrefersAccessibleName()
    {
        CheckBox box;
        box.setObjectName(QStringLiteral("cmCR3B_1_1"));
        QCOMPARE(box.bindName(), QStringLiteral("CR3B[1:1]"));
        box.setAccessibleName(QStringLiteral("CR3B[1:0]"));
        QCOMPARE(box.bindName(), QStringLiteral("CR3B[1:0]"));
    }

    void typeCodes()
    {
        QCOMPARE(CheckBox().controlType(), 1);
        QCOMPARE(SpinBox().controlType(), 3);
        QCOMPARE(LineEdit().controlType(), 4);
        QCOMPARE(ComboBox().controlType(), 6);
        QCOMPARE(Switch().controlType(), 8);
        QCOMPARE(Slider().controlType(), 11);
    }

    void checkBoxValue()
    {
        CheckBox box;
        QSignalSpy toggled(&box, &QCheckBox::toggled);
        int changes = 0;
        box.connectChanged(this, [&] { ++changes; });
        box.setControlValue(5);
        QVERIFY(box.isChecked());
        QCOMPARE(box.controlValue(), 1.0);
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(changes, 0); // a value set by code is not an edit
        box.click();
        QCOMPARE(changes, 1);
        QCOMPARE(box.controlValue(), 0.0);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::mouseClick(&box, Qt::LeftButton);
        QCOMPARE(changes, 2);
        QVERIFY(box.isChecked());
        box.setWritable(false);
        QTest::mouseClick(&box, Qt::LeftButton);
        QCOMPARE(changes, 2);
        QVERIFY(box.isChecked());
    }

    void comboBoxIndexValue()
    {
        ComboBox combo;
        QCOMPARE(combo.count(), 0);
        QVERIFY(combo.hasMouseTracking());
        bool ok = true;
        combo.controlValue(&ok);
        QVERIFY(!ok);
        combo.addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        combo.setControlValue(1.6);
        QCOMPARE(combo.currentIndex(), 2);
        QCOMPARE(combo.controlValue(&ok), 2.0);
        QVERIFY(ok);
        combo.setControlValue(7);
        QCOMPARE(combo.currentIndex(), -1);

        ComboBox withData;
        withData.addItem(QStringLiteral("slow"), 10);
        withData.addItem(QStringLiteral("fast"), 40);
        withData.setControlValue(40);
        QCOMPARE(withData.currentIndex(), 1);
        QCOMPARE(withData.controlValue(), 40.0);
    }

    void comboBoxReportsUserChoice()
    {
        ComboBox combo;
        combo.addItems({QStringLiteral("a"), QStringLiteral("b")});
        int changes = 0;
        combo.connectChanged(this, [&] { ++changes; });
        combo.setControlValue(1);
        QCOMPARE(changes, 0);
        emit combo.activated(0);
        QCOMPARE(changes, 1);
        combo.disconnectChanged();
        emit combo.activated(0);
        QCOMPARE(changes, 1);
    }

    void lineEditBases_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("dec") << int(LineEdit::Dec) << 42.0 << "42";
        QTest::newRow("dec real") << int(LineEdit::Dec) << 1.5 << "1.5";
        QTest::newRow("hex") << int(LineEdit::Hex) << 42.0 << "0x2a";
        QTest::newRow("bin") << int(LineEdit::Bin) << 5.0 << "0b101";
        QTest::newRow("array") << int(LineEdit::Array) << 0x1ff.0p0 << "01 FF";
        QTest::newRow("array zero") << int(LineEdit::Array) << 0.0 << "00";
    }
    void lineEditBases()
    {
        QFETCH(int, base);
        QFETCH(double, value);
        QFETCH(QString, text);
        LineEdit edit;
        edit.setBase(base);
        QCOMPARE(edit.base(), base);
        edit.setControlValue(value);
        QCOMPARE(edit.text(), text);
        bool ok = false;
        QCOMPARE(edit.controlValue(&ok), value);
        QVERIFY(ok);
    }

    void lineEditParsesInItsBase_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        QTest::newRow("hex bare") << int(LineEdit::Hex) << "ff" << true << 255.0;
        QTest::newRow("hex prefixed") << int(LineEdit::Hex) << "0XFF" << true << 255.0;
        QTest::newRow("hex junk") << int(LineEdit::Hex) << "fg" << false << 0.0;
        QTest::newRow("bin") << int(LineEdit::Bin) << "0b11" << true << 3.0;
        QTest::newRow("bin not binary") << int(LineEdit::Bin) << "12" << false << 0.0;
        QTest::newRow("dec not hex") << int(LineEdit::Dec) << "0x10" << false << 0.0;
        QTest::newRow("dec negative") << int(LineEdit::Dec) << "-3" << true << -3.0;
        QTest::newRow("dec words") << int(LineEdit::Dec) << "ten" << false << 0.0;
        QTest::newRow("dec empty") << int(LineEdit::Dec) << "" << false << 0.0;
        QTest::newRow("array") << int(LineEdit::Array) << "0a 0b" << true << 2571.0;
        QTest::newRow("array odd") << int(LineEdit::Array) << "0a 0" << false << 0.0;
    }
    void lineEditParsesInItsBase()
    {
        QFETCH(int, base);
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(double, value);
        double v = 0;
        QCOMPARE(LineEdit::parseValue(text, base, &v), ok);
        if (ok)
            QCOMPARE(v, value);
    }

    void lineEditSwitchesBaseKeepingTheValue()
    {
        LineEdit edit;
        QCOMPARE(edit.base(), int(LineEdit::Dec));
        QVERIFY(edit.hasFocus() || edit.focusPolicy() == Qt::WheelFocus);
        edit.setControlValue(10);
        edit.setBase(LineEdit::Hex);
        QCOMPARE(edit.text(), QStringLiteral("0xa"));
        edit.setBase(LineEdit::Bin);
        QCOMPARE(edit.text(), QStringLiteral("0b1010"));
        edit.setBase(LineEdit::Dec);
        QCOMPARE(edit.text(), QStringLiteral("10"));
        edit.setBase(7); // not a base: ignored
        QCOMPARE(edit.base(), int(LineEdit::Dec));
        // Both returnPressed and editingFinished report an edit.
        int changes = 0;
        edit.connectChanged(this, [&] { ++changes; });
        QTest::keyClick(&edit, Qt::Key_Return);
        QVERIFY(changes >= 1);
    }

    void switchParsesItsDescription_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("named");
        QTest::addColumn<int>("angle");
        QTest::addColumn<bool>("mirrorX");
        QTest::addColumn<bool>("mirrorY");
        QTest::newRow("no symbol") << "ON_OFF" << false << 0 << false << false;
        QTest::newRow("keys") << "type=6 angle=90 mirrorY=1" << true << 90 << false << true;
        QTest::newRow("keys by name") << "type=button mirrorX=TRUE" << true << 0 << true << false;
        QTest::newRow("symbol") << "[button,180,1]" << true << 180 << true << false;
        QTest::newRow("symbol then angle") << "[6]270" << true << 270 << false << false;
        QTest::newRow("unknown symbol") << "[lever,90,1]" << false << 0 << false << false;
        QTest::newRow("empty") << "" << false << 0 << false << false;
    }
    void switchParsesItsDescription()
    {
        QFETCH(QString, text);
        QFETCH(bool, named);
        QFETCH(int, angle);
        QFETCH(bool, mirrorX);
        QFETCH(bool, mirrorY);
        Switch sw;
        QCOMPARE(sw.parseDescription(text), named);
        QCOMPARE(sw.model(), named ? 6 : 0);
        QCOMPARE(sw.angle(), angle);
        QCOMPARE(sw.mirrorX(), mirrorX);
        QCOMPARE(sw.mirrorY(), mirrorY);
        QCOMPARE(sw.description(), text);
    }

    void switchModelSixSteps()
    {
        Switch sw;
        sw.setText(QStringLiteral("ON_OFF"));
        QVERIFY(!sw.setModel(99));
        QVERIFY(sw.setModel(6));
        QCOMPARE(sw.states().size(), 2);
        QCOMPARE(sw.states().at(1).picture, QStringLiteral(":/switches/img_btn_on"));
        QVERIFY(!sw.pixmap().isNull()); // the pictures are in the resources
        QCOMPARE(sw.labelText(), QStringLiteral("ON_OFF"));
        QCOMPARE(sw.controlValue(), 0.0);

        QSignalSpy clicked(&sw, &MySwitch::clicked);
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(sw.controlValue(), 1.0);
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(sw.controlValue(), 0.0);

        sw.setControlValue(1);
        QCOMPARE(sw.stateIndex(), 1);
        QCOMPARE(clicked.count(), 2); // set by code: no click
        sw.setWritable(false);
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(sw.controlValue(), 1.0);

        // The form's description survives the picture, for binding after setModel.
        sw.initControl();
        QCOMPARE(sw.description(), QStringLiteral("ON_OFF"));
        QCOMPARE(sw.model(), 6);
        QCOMPARE(sw.mySwitch(), static_cast<MySwitch*>(&sw));
    }

    void numberControlsTakeRanges()
    {
        SpinBox spin;
        QCOMPARE(spin.maximum(), 65535);
        spin.setControlRange(1, 1e12);
        QCOMPARE(spin.minimum(), 1);
        QCOMPARE(spin.maximum(), std::numeric_limits<int>::max());
        Slider slider;
        slider.setControlRange(0, 100);
        int changes = 0;
        slider.connectChanged(this, [&] { ++changes; });
        slider.setControlValue(40.4);
        QCOMPARE(slider.value(), 40);
        QCOMPARE(changes, 0);
        slider.setValue(41); // as a drag does
        QCOMPARE(changes, 1);
    }
};

QTEST_MAIN(tst_Controls)
#include "tst_controls.moc"
