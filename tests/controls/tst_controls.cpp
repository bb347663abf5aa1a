// The bound controls on their own: binding names, command names, values and bases.
#include "CheckBox.h"
#include "ComboBox.h"
#include "LineEdit.h"
#include "PushButton.h"
#include "Slider.h"
#include "SpinBox.h"
#include "Switch.h"

#include <QTest>

using namespace CustomControls;

class tst_Controls : public QObject
{
    Q_OBJECT
private slots:
    // Bind names (accessible name over object name) and push-button ("pb...") commands.
    void names_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("accessible");
        QTest::addColumn<QString>("name"); // name and field or command and argument
        auto row = [](const char* object, const char* accessible, const char* name) {
            QTest::addRow("%s %s", object, accessible)
                << QString(object) << QString(accessible) << QString(name);
        };
        row("cbCR0_0", "", "CR0|0");
        row("cbNM", "", "NM|");
        row("cmCR5A_9_8", "", "CR5A|9:8");
        row("cmCR3B_1_1", "CR3B[1:0]", "CR3B|1:0");
        row("", "CR0[]", "CR0|");
        row("", "Board.DIO[EN]", "DIO|EN");
        row("cb", "", "|");
        row("pbBoard_setForward1", "", "setForward1|");
        row("pbBoard_setHB_5", "", "setHB|5");
        row("pbX_y", "setHB_ON(5,hs)", "setHB_ON|5,hs");
        row("pbX_y", "setRoutineTime()", "setRoutineTime|");
    }
    void names()
    {
        QFETCH(QString, object);
        QFETCH(QString, accessible);
        PushButton pb;
        CheckBox cb;
        const bool button = object.startsWith("pb");
        QWidget* w = button ? static_cast<QWidget*>(&pb) : &cb;
        w->setObjectName(object);
        w->setAccessibleName(accessible);
        QString name, field;
        UniversalControl::parseName(cb.bindName(), &name, &field);
        QTEST(button ? pb.command() + '|' + pb.argument() : name + '|' + field, "name");
        // A command is worked out once: later renames do not change it.
        pb.setAccessibleName(QStringLiteral("other(1)"));
        if (button)
            QTEST(pb.command() + '|' + pb.argument(), "name");
    }

    // Values set by code are not edits; a read-only control takes no click.
    void valuesAndEdits()
    {
        CheckBox box;
        int changes = 0;
        box.connectChanged(this, [&] { ++changes; });
        box.setControlValue(5);
        QCOMPARE(box.controlValue(), 1.0);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::mouseClick(&box, Qt::LeftButton);
        QCOMPARE(changes, 1);
        box.setWritable(false);
        QTest::mouseClick(&box, Qt::LeftButton);
        QVERIFY(changes == 1 && !box.isChecked());

        ComboBox combo;
        combo.addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        combo.setControlValue(1.6);
        QCOMPARE(combo.controlValue(), 2.0); // index while items carry no data
        combo.setItemData(1, 40);
        combo.setControlValue(40);
        QCOMPARE(combo.currentIndex(), 1);

        Slider slider;
        slider.connectChanged(this, [&] { ++changes; });
        slider.setControlValue(40);
        slider.setValue(41); // as a drag does
        QCOMPARE(changes, 2);
    }

    // A spin box or slider bound to a variable offers only values the variable takes:
    // a real limit is rounded inwards, never out to a value the variable refuses.
    void integerRangeStaysInsideTheVariable_data()
    {
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        const int most = std::numeric_limits<int>::max();
        QTest::newRow("phase time") << 0.0 << 99.9 << 0 << 99;
        QTest::newRow("real minimum") << 0.4 << 10.0 << 1 << 10;
        QTest::newRow("negative halves") << -2.5 << -0.5 << -2 << -1;
        QTest::newRow("integer limits") << 1.0 << 99.0 << 1 << 99;
        QTest::newRow("past int") << -1e12 << 1e12 << -most - 1 << most;
        QTest::newRow("no integer inside") << 0.2 << 0.8 << 1 << 1;
    }
    void integerRangeStaysInsideTheVariable()
    {
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(int, low);
        QFETCH(int, high);
        SpinBox spin;
        Slider slider;
        spin.setControlRange(min, max);
        slider.setControlRange(min, max);
        spin.setControlValue(max); // shown as the nearest value offered
        QCOMPARE((QList<int>{spin.minimum(), spin.maximum(), slider.minimum(), slider.maximum(),
                             spin.value()}),
                 (QList<int>{low, high, low, high, high}));
    }

    void lineEditBases_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value"); // NaN: not a number in this base
        const double bad = std::numeric_limits<double>::quiet_NaN();
        auto row = [](const char* tag, int base, const char* text, double value) {
            QTest::newRow(tag) << base << QString(text) << value;
        };
        row("dec real", LineEdit::Dec, "1.5", 1.5);
        row("hex", LineEdit::Hex, "0x2a", 42);
        row("bin", LineEdit::Bin, "0b101", 5);
        row("array", LineEdit::Array, "01 FF", 0x1ff);
        row("hex junk", LineEdit::Hex, "fg", bad);
        row("bin not binary", LineEdit::Bin, "12", bad);
        row("dec not hex", LineEdit::Dec, "0x10", bad);
        row("array odd", LineEdit::Array, "0a 0", bad);
    }
    void lineEditBases()
    {
        QFETCH(int, base);
        QFETCH(QString, text);
        QFETCH(double, value);
        double v = 0;
        QCOMPARE(LineEdit::parseValue(text, base, &v), !qIsNaN(value));
        if (qIsNaN(value))
            return;
        QCOMPARE(v, value);
        LineEdit edit;
        edit.setControlValue(value);
        edit.setBase(base); // the value stays, shown in the new base
        QCOMPARE(edit.text(), text);
    }

    void switchDescriptionAndModel()
    {
        Switch sw;
        auto parsed = [&](const char* text) {
            sw.parseDescription(QString(text));
            return QList<int>{sw.model(), sw.angle(), sw.mirrorX(), sw.mirrorY()};
        };
        QCOMPARE(parsed("ON_OFF"), (QList<int>{0, 0, 0, 0}));
        QCOMPARE(parsed("type=6 angle=90 mirrorY=1"), (QList<int>{6, 90, 0, 1}));
        QCOMPARE(parsed("[button,180,1]"), (QList<int>{6, 180, 1, 0}));
        QCOMPARE(parsed("[6]270"), (QList<int>{6, 270, 0, 0}));
        QVERIFY(!sw.setModel(99) && sw.setModel(6));
        QVERIFY(!sw.pixmap().isNull()); // the pictures are in the resources
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(sw.controlValue(), 1.0);
        sw.setValue(0.0);
        QCOMPARE(sw.stateIndex(), 0);
        sw.setValue(0.4); // not a state: any non-zero value shows "on"
        QCOMPARE(sw.stateIndex(), 1);
        sw.setValue(1.0);
        sw.setWritable(false);
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(sw.controlValue(), 1.0);
    }
};

QTEST_MAIN(tst_Controls)
#include "tst_controls.moc"
