// The bound controls on their own: binding names, command names, values and bases.
#include "CheckBox.h"
#include "ComboBox.h"
#include "LineEdit.h"
#include "PushButton.h"
#include "Slider.h"
#include "SpinBox.h"
#include "Switch.h"

#include <QTest>
#include <QVBoxLayout>

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

    // A real value is shown as the nearest whole number, not cut towards zero: a duty of
    // 49.7 shows 50, -0.6 shows -1.
    void realValueShownRounded_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("shown");
        QTest::newRow("49.7") << 49.7 << 50;
        QTest::newRow("49.3") << 49.3 << 49;
        QTest::newRow("99.5") << 99.5 << 100;
        QTest::newRow("0.6") << 0.6 << 1;
        QTest::newRow("-0.6") << -0.6 << -1;
        QTest::newRow("-0.4") << -0.4 << 0;
        QTest::newRow("-49.7") << -49.7 << -50;
    }
    void realValueShownRounded()
    {
        QFETCH(double, value);
        QFETCH(int, shown);
        SpinBox spin;
        Slider slider;
        spin.setControlRange(-100, 100);
        slider.setControlRange(-100, 100);
        spin.setControlValue(value);
        slider.setControlValue(value);
        QCOMPARE((QList<double>{spin.controlValue(), slider.controlValue()}),
                 (QList<double>{double(shown), double(shown)}));
    }

    void lineEditBases_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");  // NaN: not a number in this base
        QTest::addColumn<QString>("shown"); // the value shown in that base; empty: the text
        const double bad = std::numeric_limits<double>::quiet_NaN();
        auto row = [](const char* tag, int base, const char* text, double value,
                      const char* shown = "") {
            QTest::newRow(tag) << base << QString(text) << value << QString(shown);
        };
        row("dec real", LineEdit::Dec, "1.5", 1.5);
        row("hex", LineEdit::Hex, "0x2a", 42);
        row("bin", LineEdit::Bin, "0b101", 5);
        row("array", LineEdit::Array, "01 FF", 0x1ff);
        row("array eight bytes", LineEdit::Array, "00 00 00 00 00 00 01 FF", 0x1ff, "01 FF");
        row("hex junk", LineEdit::Hex, "fg", bad);
        row("bin not binary", LineEdit::Bin, "12", bad);
        row("dec not hex", LineEdit::Dec, "0x10", bad);
        row("array odd", LineEdit::Array, "0a 0", bad);
        row("array nine bytes", LineEdit::Array, "00 00 00 00 00 00 00 01 FF", bad);
    }
    void lineEditBases()
    {
        QFETCH(int, base);
        QFETCH(QString, text);
        QFETCH(double, value);
        QFETCH(QString, shown);
        double v = 0;
        QCOMPARE(LineEdit::parseValue(text, base, &v), !qIsNaN(value));
        if (qIsNaN(value))
            return;
        QCOMPARE(v, value);
        LineEdit edit;
        edit.setControlValue(value);
        edit.setBase(base); // the value stays, shown in the new base
        QCOMPARE(edit.text(), shown.isEmpty() ? text : shown);
    }

    // Leaving a line edit writes only what the user edited there: a value it shows
    // rounded (12 digits) is not written back over the exact one. An edit is written
    // once, by leaving or by Return.
    void lineEditWritesOnlyEdits()
    {
        QWidget form;
        auto* layout = new QVBoxLayout(&form);
        auto* edit = new LineEdit;
        auto* other = new LineEdit;
        layout->addWidget(edit);
        layout->addWidget(other);
        double bound = 1.0 / 3; // the bound variable's exact value
        QList<double> written;
        // As the binding does: write the value, then show the variable's value again.
        edit->connectChanged(this, [&] {
            bool ok = false;
            const double v = edit->controlValue(&ok);
            if (ok)
                written << (bound = v);
            edit->setControlValue(bound);
        });
        edit->setControlValue(bound);
        QCOMPARE(edit->text(), QStringLiteral("0.333333333333"));
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        const auto focus = [](QWidget* w) {
            w->setFocus(Qt::OtherFocusReason);
            return QTest::qWaitFor([w] { return w->hasFocus(); });
        };

        QVERIFY(focus(edit) && focus(other));
        QVERIFY(focus(edit));
        QTest::keyClick(edit, Qt::Key_Tab); // leaving by the keyboard
        QVERIFY(other->hasFocus());
        QVERIFY(focus(edit));
        QTest::keyClick(edit, Qt::Key_End); // the cursor moved, the text not edited
        QVERIFY(focus(other));
        QCOMPARE(written, QList<double>());
        QCOMPARE(bound, 1.0 / 3);

        QVERIFY(focus(edit));
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("2.5"));
        QVERIFY(focus(other));
        QCOMPARE(written, QList<double>{2.5});

        QVERIFY(focus(edit));
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("7"));
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(focus(other));
        QCOMPARE(written, (QList<double>{2.5, 7}));
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
