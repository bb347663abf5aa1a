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
    void names_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("accessible");
        QTest::addColumn<QString>("name"); // parsed name and field, "|" between
        auto row = [](const char* object, const char* accessible, const char* name) {
            QTest::newRow(object[0] ? object : accessible)
                << QString(object) << QString(accessible) << QString(name);
        };
        row("cbCR0_0", "", "CR0|0");
        row("cbNM", "", "NM|");
        row("cmCR5A_9_8", "", "CR5A|9:8");
        row("cmCR3B_1_1", "CR3B[1:0]", "CR3B|1:0"); // accessible name wins
        row("", "CR0[]", "CR0|");
        row("", "Board.DIO[EN]", "DIO|EN");
        row("", "setHB_ON(5,hs)", "setHB_ON|5,hs");
        row("", "setRoutineTime()", "setRoutineTime|");
        row("cb", "", "|");
    }
    void names()
    {
        QFETCH(QString, object);
        QFETCH(QString, accessible);
        CheckBox box;
        box.setObjectName(object);
        box.setAccessibleName(accessible);
        QString name;
        QString field;
        UniversalControl::parseName(box.bindName(), &name, &field);
        QTEST(name + '|' + field, "name");
    }

    void pushButtonCommand_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("accessible");
        QTest::addColumn<QString>("command");
        auto row = [](const char* tag, const char* object, const char* accessible,
                      const char* command) {
            QTest::newRow(tag) << QString(object) << QString(accessible) << QString(command);
        };
        row("object name", "pbBoard_setForward1", "", "setForward1|");
        row("object name argument", "pbBoard_setHB_5", "", "setHB|5");
        row("accessible", "pbX_y", "setHB_ON(5,hs)", "setHB_ON|5,hs");
        row("accessible empty", "pbX_y", "setRoutineTime()", "setRoutineTime|");
    }
    void pushButtonCommand()
    {
        QFETCH(QString, object);
        QFETCH(QString, accessible);
        PushButton button;
        button.setObjectName(object);
        button.setAccessibleName(accessible);
        QTEST(button.command() + '|' + button.argument(), "command");
        // Worked out once: later renames do not change the command.
        button.setAccessibleName(QStringLiteral("other(1)"));
        QTEST(button.command() + '|' + button.argument(), "command");
    }

    void typeCodes()
    {
        QCOMPARE(CheckBox().controlType(), 1);
        QCOMPARE(PushButton().controlType(), 2);
        QCOMPARE(SpinBox().controlType(), 3);
        QCOMPARE(LineEdit().controlType(), 4);
        QCOMPARE(ComboBox().controlType(), 6);
        QCOMPARE(Switch().controlType(), 8);
        QCOMPARE(Slider().controlType(), 11);
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
        QCOMPARE(changes, 1);
        QVERIFY(!box.isChecked());

        ComboBox combo;
        combo.addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        combo.setControlValue(1.6);
        QCOMPARE(combo.controlValue(), 2.0); // index while items carry no data
        combo.setItemData(1, 40);
        combo.setControlValue(40);
        QCOMPARE(combo.currentIndex(), 1);

        Slider slider;
        slider.setControlRange(0, 100);
        slider.connectChanged(this, [&] { ++changes; });
        slider.setControlValue(40.4);
        QCOMPARE(changes, 1);
        slider.setValue(41); // as a drag does
        QCOMPARE(changes, 2);
        SpinBox spin;
        spin.setControlRange(1, 1e12);
        QCOMPARE(spin.maximum(), std::numeric_limits<int>::max());
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
        row("hex bare", LineEdit::Hex, "ff", 255);
        row("hex junk", LineEdit::Hex, "fg", bad);
        row("bin not binary", LineEdit::Bin, "12", bad);
        row("dec not hex", LineEdit::Dec, "0x10", bad);
        row("dec empty", LineEdit::Dec, "", bad);
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
        if (QTest::currentDataTag() != QLatin1String("hex bare"))
            QCOMPARE(edit.text(), text);
    }

    void switchDescriptionAndModel_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("modelAngleMirrorXY");
        QTest::newRow("no symbol") << "ON_OFF" << QList<int>{0, 0, 0, 0};
        QTest::newRow("keys") << "type=6 angle=90 mirrorY=1" << QList<int>{6, 90, 0, 1};
        QTest::newRow("symbol") << "[button,180,1]" << QList<int>{6, 180, 1, 0};
        QTest::newRow("symbol then angle") << "[6]270" << QList<int>{6, 270, 0, 0};
        QTest::newRow("unknown symbol") << "[lever,90,1]" << QList<int>{0, 0, 0, 0};
    }
    void switchDescriptionAndModel()
    {
        QFETCH(QString, text);
        Switch sw;
        sw.parseDescription(text);
        QTEST((QList<int>{sw.model(), sw.angle(), sw.mirrorX(), sw.mirrorY()}),
              "modelAngleMirrorXY");
        QVERIFY(sw.setModel(6));
        QVERIFY(!sw.setModel(99));
        QCOMPARE(sw.states().at(1).picture, QStringLiteral(":/switches/img_btn_on"));
        QVERIFY(!sw.pixmap().isNull()); // the pictures are in the resources
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(sw.controlValue(), 1.0);
        sw.setWritable(false);
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(sw.controlValue(), 1.0);
    }
};

QTEST_MAIN(tst_Controls)
#include "tst_controls.moc"
