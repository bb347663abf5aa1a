// The model: register definitions and descriptors, variables, and the text conversions
// beneath both.
#include "CallerKey.h"
#include "Register.h"
#include "TextConvert.h"
#include "Variable.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

namespace {

// The two ways of writing a definition: pin items, and fields with descriptions.
const QString DioText = QStringLiteral(
    "@register=DIO;@bit=EN                @pin=DIO25          @value=1        @dir=OUT;"
    "@bit=PWM1              @pin=DIO14          @value=0        @dir=OUT;"
    "@bit=PWM2              @pin=DIO15          @value=0        @dir=OUT;");
const QString Cr0Text = QStringLiteral(
    "HB_EN1[0]#HB1 enable;HB_EN2[1]#;HB_EN3[2]#;HB_EN4[3]#;HB_EN5[4]#;HB_EN6[5]#;D06=0#;"
    "SOA[2:0]#Status register;SOA_MODE[10]#Status read mode");

} // namespace

class TestModel : public QObject
{
    Q_OBJECT

private slots:
    void definitionsGiveLayout_data()
    {
        QTest::addColumn<QString>("definition");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("layout"); // name size value; the field's bits description
        QTest::newRow("pins") << DioText << "PWM2"
                              << "DIO 3 0x1; 2:2 ";
        QTest::newRow("one bit") << "WDdio=0#;"
                                 << "WDdio"
                                 << " 1 0x0; 0:0 ";
        QTest::newRow("fixed bit set")
            << "SR_CTRL1[2:0]#HB1 slew;T_DLY1[3:0]#HB1 delay;VDS1[2:0]#;D10=1#;"
            << "T_DLY1"
            << " 11 0x400; 6:3 HB1 delay";
        QTest::newRow("after a fixed bit") << Cr0Text << "SOA"
                                           << " 11 0x0; 9:7 Status register";
        QTest::newRow("wide initial value") << "A[3:0]=0xA#a;B=1#b"
                                            << "A"
                                            << " 5 0x1a; 3:0 a";
    }
    void definitionsGiveLayout()
    {
        QFETCH(QString, definition);
        QFETCH(QString, field);
        Register reg(definition);
        const Register::FieldInfo info = reg.fieldInfo(QStringLiteral("X[%1]").arg(field));
        QCOMPARE(info.name, field);
        QTEST(QStringLiteral("%1 %2 0x%3; %4:%5 %6")
                  .arg(reg.name())
                  .arg(reg.size())
                  .arg(reg.value(), 0, 16)
                  .arg(info.hi)
                  .arg(info.lo)
                  .arg(info.description),
              "layout");
    }

    // Writes start from an all-zero CR0; a refused write returns false, changes nothing and
    // signals nothing. The part before "[" is how callers find the register: not checked here.
    void descriptorWrites_data()
    {
        QTest::addColumn<QString>("descriptor");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<quint32>("whole"); // 0 for a refused write
        auto row = [](const char* d, quint32 v, quint32 w) {
            QTest::newRow(d) << QString(d) << v << w;
        };
        row("CR5A[9:8]", 3, 0x300);
        row("CR1[10]", 1, 0x400);
        row("CR0[HB_EN3]", 1, 0x004);
        row("CR0[SOA]", 5, 0x280);
        row("CR0[]", 0x7FF, 0x7FF);
        row(" CR0[ 9:7 ] ", 2, 0x100);
        row("SOA", 1, 0x001); // a bare name is bit 0, whatever it says
        for (const char* bad : {"CR0[SOA]=8", "CR0[3]=2", "CR0[]=0x800", "SOA=2"}) {
            const QStringList parts = QString(bad).split('=');
            QTest::newRow(bad) << parts[0] << parts[1].toUInt(nullptr, 0) << 0u;
        }
        for (const char* bad : {"CR0[11:0]", "CR0[0:3]", "CR0[NOPE]", "CR0[1", "CR0[1]x",
                                "CR0[[1]]", "CR0]1[", "CR0[99999999999]", "CR0[-1]", ""})
            row(bad, 0, 0);
    }
    void descriptorWrites()
    {
        QFETCH(QString, descriptor);
        QFETCH(quint32, value);
        QFETCH(quint32, whole);
        Register reg(Cr0Text, QStringLiteral("CR0"));
        reg.setUpdateMode(Register::UpdateAlways);
        QSignalSpy spy(&reg, &Register::signal_updateSet);
        QCOMPARE(reg.setField(descriptor, value), whole != 0);
        QCOMPARE(quint32(reg.value()), whole);
        QCOMPARE(spy.count(), whole != 0 ? 1 : 0);
        QCOMPARE(quint32(reg.getField(descriptor)), whole != 0 ? value : 0u);
    }

    void signalsAndBitOrderOverAllBits()
    {
        Register reg(QStringLiteral("LO[15:0]#;HI[15:0]#"), QStringLiteral("W"));
        QCOMPARE(reg.size(), 32);
        QSignalSpy set(&reg, &Register::signal_updateSet);
        QSignalSpy get(&reg, &Register::signal_updateGet);
        QVERIFY(reg.setField(QStringLiteral("W[HI]"), 0)); // no bit changes: silent by default
        QVERIFY(reg.setField(QStringLiteral("W[]"), 0xFFFFFFFFu));
        QCOMPARE(set.count(), 1);
        reg.setUpdateMode(Register::UpdateAlways);
        QVERIFY(reg.setField(QStringLiteral("W[31:16]"), 0x1234u));
        QVERIFY(reg.setField(QStringLiteral("W[31:16]"), 0x1234u));
        QCOMPARE(set.count(), 3);
        QCOMPARE(reg.getField(QStringLiteral("W[HI]")), 0x1234u);
        QCOMPARE(get.count(), 0); // field reads stay silent; value() announces itself
        QCOMPARE(reg.value(false), 0xFFFF2C48u); // bit-reversed 0x1234FFFF
        QCOMPARE(get.count(), 1);
    }

    void readOnlyFlagAndCopies()
    {
        Register sr(QStringLiteral("@readonly=1;A[3:0]#status;B=1#"), QStringLiteral("SR0"));
        QVERIFY(sr.isReadOnly());
        QVERIFY(sr.fieldInfo(QStringLiteral("SR0[A]")).readOnly);
        QVERIFY(sr.setField(QStringLiteral("SR0[A]"), 9)); // board answers still land
        Register bits(QStringLiteral("@register=P;@bit=IN @readonly=1;@bit=OUT;X[1:0]#readonly"));
        QVERIFY(!bits.isReadOnly());
        QVERIFY(bits.fieldInfo(QStringLiteral("P[]")).readOnly);   // overlaps IN
        QVERIFY(!bits.fieldInfo(QStringLiteral("P[X]")).readOnly); // description is not a flag
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("only read as the first"));
        QVERIFY(!Register(QStringLiteral("A=0#;@readonly=1")).isReadOnly());
        // Copies and assignments take layout and values, and stay independent.
        Register original(DioText, QStringLiteral("Other")); // an explicit name wins
        QVERIFY(original.setField(QStringLiteral("X[PWM2]"), 1));
        Register copy(original);
        QVERIFY(copy.setField(QStringLiteral("X[EN]"), 0)); // copies are independent
        QCOMPARE(original.value(), 0x5u);
        Register assigned(Cr0Text);
        assigned = copy;
        auto& self = assigned;
        assigned = self;
        QCOMPARE(assigned.name(), QStringLiteral("Other"));
        QCOMPARE(assigned.value(), 0x4u);
        QCOMPARE(assigned.value(false), 0x1u); // reversed over the register's 3 bits
    }

    void malformedDefinitionsKeepTheValidItems_data()
    {
        QTest::addColumn<QString>("definition");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("warnings");
        auto row = [](const char* tag, const QString& def, const QStringList& fields, int size,
                      int warnings) {
            QTest::newRow(tag) << def << fields << size << warnings;
        };
        row("unclosed bracket", "A[1:0#x;B=1#", {"B"}, 1, 1);
        row("hi below lo", "A[0:3]#;B[1:0]#", {"B"}, 2, 1);
        row("bit past 31", "A[32:0]#;B[40]#;C=1#", {"C"}, 1, 2);
        row("wider than 32", "A[31:0]#;B=1#;C=0#", {"A"}, 32, 2);
        row("name twice", "A=0#;A[2:0]#;B=1#", {"A", "B"}, 2, 1);
        row("bit name twice", "@bit=A;@bit=A;@bit=B", {"A", "B"}, 2, 1);
        row("not a number", "A=x1#;B[a:b]#;C[z]#;D=1#", {"D"}, 1, 3);
        row("value too wide", "A[1:0]=4#;B=2#", {}, 0, 2);
        row("stray bracket", "A]#;[B]#;=1#;B=1", {"B"}, 1, 3);
        QString bits33;
        for (int i = 0; i <= 32; ++i)
            bits33 += QStringLiteral("@bit=B%1;").arg(i);
        row("33 bits", bits33, {}, 32, 1);
    }
    void malformedDefinitionsKeepTheValidItems()
    {
        QFETCH(QString, definition);
        QFETCH(QStringList, fields);
        QFETCH(int, warnings);
        for (int i = 0; i < warnings; ++i)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^Register definition .* ignored"));
        Register reg(definition, QStringLiteral("R"));
        QTEST(reg.size(), "size");
        QStringList names;
        int covered = 0;
        for (const Register::Field& f : reg.fields()) {
            names << f.name;
            covered += f.hi - f.lo + 1;
        }
        if (!fields.isEmpty())
            QCOMPARE(names, fields);
        QCOMPARE(covered, reg.size());
    }

    void variableDefinitions_data()
    {
        QTest::addColumn<QString>("definition");
        QTest::addColumn<QString>("layout"); // name type value min max
        QTest::newRow("real") << "@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50"
                              << "ADC_Result1 2 0 0 50";
        QTest::newRow("untyped") << "@variable=PWM1OnOff@value=1@min=0 @max=1"
                                 << "PWM1OnOff 0 1 0 1";
        QTest::newRow("int") << "@variable=N @type=int @value=0x10 @min=-3 @max=100"
                             << "N 1 16 -3 100";
    }
    void variableDefinitions()
    {
        QFETCH(QString, definition);
        Variable v(definition);
        QTEST(QStringLiteral("%1 %2 %3 %4 %5")
                  .arg(v.name())
                  .arg(int(v.type()))
                  .arg(v.value())
                  .arg(v.min())
                  .arg(v.max()),
              "layout");
    }

    // The range holds for every key, read-only lets only the internal key through, and the
    // first accepted write of an untyped variable sets its type.
    void variableWriteRules()
    {
        Variable v(QStringLiteral("@variable=B @value=1 @min=1 @max=25000"));
        const double inf = std::numeric_limits<double>::infinity();
        for (double bad : {0.999, 25000.5, inf, std::numeric_limits<double>::quiet_NaN()})
            QVERIFY(!v.setValue(bad, CallerKey::Internal));
        QCOMPARE(v.type(), Variable::Undefined); // a refused write decides nothing
        QVERIFY(v.setValue(2.5, CallerKey::External));
        QCOMPARE(v.type(), Variable::Real);
        v.setReadOnly(true);
        QVERIFY(!v.setValue(30.0, CallerKey::External));
        v = 40.0; // assignment writes with the internal key
        QCOMPARE(v.value(), 40.0);
        Variable n(QStringLiteral("@variable=N @type=int @value=0 @min=0 @max=10"));
        QVERIFY(n.setValue(2.6, CallerKey::External)); // an integer holds whole numbers
        QCOMPARE(n.value(), 3.0);
        QVERIFY(!n.setValue(10.6, CallerKey::External));
    }

    void variableSignalsFollowTheUpdateMode()
    {
        Variable v(QStringLiteral("@variable=PWM1_DUTY @type=real @value=50 @min=0 @max=100"));
        QSignalSpy spy(&v, &Variable::signal_updateSet);
        QVERIFY(v.setValue(50.0, CallerKey::External));
        QVERIFY(!v.setValue(150.0, CallerKey::External));
        QVERIFY(v.setValue(30.0, CallerKey::External));
        QCOMPARE(spy.count(), 1); // by default only a change signals
        v.setUpdateMode(Variable::UpdateAlways);
        QVERIFY(v.setValue(30.0, CallerKey::External));
        QVERIFY(!v.setValue(-1.0, CallerKey::External)); // a refusal signals too
        QCOMPARE(spy.count(), 3);
    }

    void badVariableDefinitionsAreReported()
    {
        const QRegularExpression warning(QStringLiteral("^Variable definition"));
        for (int i = 0; i < 4; ++i)
            QTest::ignoreMessage(QtWarningMsg, warning);
        Variable v(QStringLiteral("@variable=X @type=real @value=abc @min=low @max=5"));
        QCOMPARE(v.value(), 0.0);
        QVERIFY(v.setValue(-1e9, CallerKey::External)); // the bad minimum is no bound
        Variable out(QStringLiteral("@variable=Y @value=9 @min=0 @max=5"));
        QCOMPARE(out.value(), 0.0); // an initial value outside the range is not taken
        QCOMPARE(Variable(QStringLiteral("@@ @value=2")).value(), 2.0);
    }

    void numbersAndBooleans_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("integer"); // invalid: refused
        QTest::addColumn<QVariant>("boolean");
        auto row = [](const char* text, const QVariant& i, const QVariant& b) {
            QTest::newRow(text) << QString(text) << i << b;
        };
        row(" 42 ", qint64(42), true);
        row("-0x10", qint64(-16), true);
        row("0b101", qint64(5), true);
        row("-9223372036854775808", std::numeric_limits<qint64>::min(), true);
        row("0x10000000000000000", {}, {});
        row("0b102", {}, {});
        row("0.5", {}, true);
        row(" False", {}, false);
        row("", {}, {});
    }
    void numbersAndBooleans()
    {
        QFETCH(QString, text);
        QFETCH(QVariant, integer);
        QFETCH(QVariant, boolean);
        qint64 i = 0;
        QCOMPARE(TextConvert::toInt64(text, &i), integer.isValid());
        QCOMPARE(QVariant(i), integer.isValid() ? integer : QVariant(i));
        bool b = false;
        QCOMPARE(TextConvert::toBool(text, &b), boolean.isValid());
        QCOMPARE(QVariant(b), boolean.isValid() ? boolean : QVariant(b));
    }

    void byteStringsAndKeyValues()
    {
        QByteArray bytes;
        QVERIFY(TextConvert::hexToBytes(QStringLiteral("02 a1f f"), &bytes)); // blanks ignored
        QCOMPARE(TextConvert::bytesToHex(bytes), QStringLiteral("02 A1 FF"));
        for (const char* bad : {"02 a", "0g"})
            QVERIFY(!TextConvert::hexToBytes(QString(bad), &bytes));
        QCOMPARE(bytes, QByteArray("\x02\xa1\xff", 3)); // a refused text changes nothing
        const QString text = QStringLiteral("  VER=1.2  DIO25=1\tflag SPI0CS0DATA=02a1=b ");
        QCOMPARE(TextConvert::keyValues(text).size(), 4);
        QString value;
        QVERIFY(TextConvert::valueOf(text, QStringLiteral("SPI0CS0DATA"), &value));
        QCOMPARE(value, QStringLiteral("02a1=b")); // only the first "=" splits
        QVERIFY(!TextConvert::valueOf(text, QStringLiteral("VE"), &value));
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
