// The model: register definitions and descriptors, variables, and the text conversions
// beneath both.
#include "CallerKey.h"
#include "Joined.h"
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
        QTest::addColumn<QString>("layout"); // name size hex-value; the field's hi lo description
        const auto row = [](const char* tag, const QString& definition, const char* field,
                            const char* layout) {
            QTest::newRow(tag) << definition << QString(field) << QString(layout);
        };
        row("pins", DioText, "PWM2", "DIO 3 1 2 2 ");
        row("one bit", "WDdio=0#;", "WDdio", " 1 0 0 0 ");
        row("fixed bit set", "SR_CTRL1[2:0]#HB1 slew;T_DLY1[3:0]#HB1 delay;VDS1[2:0]#;D10=1#;",
            "T_DLY1", " 11 400 6 3 HB1 delay");
        row("after a fixed bit", Cr0Text, "SOA", " 11 0 9 7 Status register");
        row("wide initial value", "A[3:0]=0xA#a;B=1#b", "A", " 5 1a 3 0 a");
    }
    void definitionsGiveLayout()
    {
        QFETCH(QString, definition);
        QFETCH(QString, field);
        Register reg(definition);
        const Register::FieldInfo info = reg.fieldInfo(QStringLiteral("X[%1]").arg(field));
        QCOMPARE(info.name, field);
        QTEST(joined({reg.name(), reg.size(), QString::number(reg.value(), 16), info.hi, info.lo,
                      info.description}),
              "layout");
    }

    // Writes start from an all-zero CR0; a refused write returns false, changes nothing and
    // signals nothing. The part before "[" is how callers find the register: not checked here.
    void descriptorWrites_data()
    {
        QTest::addColumn<QString>("descriptor");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<quint32>("whole"); // 0 for a refused write
        // descriptor=value=whole, or a descriptor alone that names no field; a bare name is
        // bit 0, whatever it says.
        for (const char* row : {"CR5A[9:8]=3=0x300", "CR1[10]=1=0x400",   "CR0[HB_EN3]=1=4",
                                "CR0[SOA]=5=0x280",  "CR0[]=0x7FF=0x7FF", " CR0[ 9:7 ] =2=0x100",
                                "SOA=1=1",           "CR0[SOA]=8=0",      "CR0[3]=2=0",
                                "CR0[]=0x800=0",     "SOA=2=0",           "CR0[11:0]",
                                "CR0[0:3]",          "CR0[NOPE]",         "CR0[1",
                                "CR0[1]x",           "CR0[[1]]",          "CR0]1[",
                                "CR0[99999999999]",  "CR0[-1]",           ""}) {
            const QStringList parts = QString(row).split('=');
            QTest::newRow(row) << parts[0] << parts.value(1).toUInt(nullptr, 0)
                               << parts.value(2).toUInt(nullptr, 0);
        }
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
        QCOMPARE(joined({reg.value(), spy.count(), reg.getField(descriptor)}),
                 joined({whole, whole != 0 ? 1 : 0, whole != 0 ? value : 0u}));
    }

    // A write that changes no bit is silent by default; field reads are silent, value()
    // announces itself; bits count from 0 up to 31.
    void signalsAndBitOrderOverAllBits()
    {
        Register reg(QStringLiteral("LO[15:0]#;HI[15:0]#"), QStringLiteral("W"));
        QSignalSpy set(&reg, &Register::signal_updateSet);
        QSignalSpy get(&reg, &Register::signal_updateGet);
        QVERIFY(reg.setField("W[HI]", 0) && reg.setField("W[]", 0xFFFFFFFFu));
        reg.setUpdateMode(Register::UpdateAlways);
        for (int i = 0; i < 2; ++i)
            QVERIFY(reg.setField(QStringLiteral("W[31:16]"), 0x1234u));
        QCOMPARE(reg.getField(QStringLiteral("W[HI]")), 0x1234u);
        const auto silentGets = get.count();
        QCOMPARE(reg.value(false), 0xFFFF2C48u); // bit-reversed 0x1234FFFF
        QCOMPARE(joined({set.count(), silentGets, get.count()}), "3 0 1");
    }

    void readOnlyFlagAndCopies()
    {
        Register sr(QStringLiteral("@readonly=1;A[3:0]#status;B=1#"), QStringLiteral("SR0"));
        QVERIFY(sr.setField(QStringLiteral("SR0[A]"), 9)); // board answers still land
        Register bits(QStringLiteral("@register=P;@bit=IN @readonly=1;@bit=OUT;X[1:0]#readonly"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("only read as the first"));
        // SR0 and its field; P, whose whole overlaps IN; X, whose description is no flag; a
        // flag that comes too late.
        QCOMPARE((QList<bool>{sr.isReadOnly(), sr.fieldInfo("SR0[A]").readOnly, bits.isReadOnly(),
                              bits.fieldInfo("P[]").readOnly, bits.fieldInfo("P[X]").readOnly,
                              Register("A=0#;@readonly=1").isReadOnly()}),
                 (QList<bool>{true, true, false, true, false, false}));
        // Copies and assignments take layout and values, and stay independent.
        Register original(DioText, QStringLiteral("Other")); // an explicit name wins
        QVERIFY(original.setField(QStringLiteral("X[PWM2]"), 1));
        Register copy(original);
        QVERIFY(copy.setField(QStringLiteral("X[EN]"), 0));
        Register assigned(Cr0Text);
        assigned = copy;
        auto& self = assigned;
        assigned = self;
        // Reversed over the register's 3 bits.
        QCOMPARE(
            joined({original.value(), assigned.name(), assigned.value(), assigned.value(false)}),
            "5 Other 4 1");
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

    // A bad item is reported and ignored: a bad minimum is no bound, a value that is no
    // number or lies outside the range is not taken.
    void variableDefinitions_data()
    {
        QTest::addColumn<QString>("definition");
        QTest::addColumn<QString>("layout"); // name type value min max
        QTest::addColumn<int>("warnings");
        const auto row = [](const char* tag, const char* definition, const char* layout,
                            int warnings = 0) {
            QTest::newRow(tag) << QString(definition) << QString(layout) << warnings;
        };
        row("real", "@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50",
            "ADC_Result1 2 0 0 50");
        row("untyped", "@variable=PWM1OnOff@value=1@min=0 @max=1", "PWM1OnOff 0 1 0 1");
        row("int", "@variable=N @type=int @value=0x10 @min=-3 @max=100", "N 1 16 -3 100");
        row("bad value and minimum", "@variable=X @type=real @value=abc @min=low @max=5",
            "X 2 0 -1.7976931348623157e+308 5", 2);
        row("value outside", "@variable=Y @value=9 @min=0 @max=5", "Y 0 0 0 5", 1);
        row("no name", "@@ @value=2", " 0 2 -1.7976931348623157e+308 1.7976931348623157e+308", 1);
    }
    void variableDefinitions()
    {
        QFETCH(QString, definition);
        QFETCH(int, warnings);
        for (int i = 0; i < warnings; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Variable definition"));
        Variable v(definition);
        QTEST(joined({v.name(), int(v.type()), v.value(), v.min(), v.max()}), "layout");
    }

    // The range holds for every key, read-only lets only the internal key through, the
    // first accepted write of an untyped variable sets its type; by default only a change
    // signals, in UpdateAlways mode every write, a refusal too.
    void variableWriteRules()
    {
        Variable v(QStringLiteral("@variable=B @value=1 @min=1 @max=25000"));
        QSignalSpy spy(&v, &Variable::signal_updateSet);
        const double inf = std::numeric_limits<double>::infinity();
        for (double bad : {0.999, 25000.5, inf, std::numeric_limits<double>::quiet_NaN()})
            QVERIFY(!v.setValue(bad, CallerKey::Internal));
        QCOMPARE(v.type(), Variable::Undefined); // a refused write decides nothing
        QVERIFY(v.setValue(1.0, CallerKey::External) && v.setValue(2.5, CallerKey::External));
        QVERIFY(v.type() == Variable::Real && spy.count() == 1);
        v.setUpdateMode(Variable::UpdateAlways);
        QVERIFY(v.setValue(2.5, CallerKey::External));
        v.setReadOnly(true);
        QVERIFY(!v.setValue(30.0, CallerKey::External));
        QCOMPARE(spy.count(), 3);
        v = 40.0; // assignment writes with the internal key
        QCOMPARE(v.value(), 40.0);
        Variable n(QStringLiteral("@variable=N @type=int @value=0 @min=0 @max=10"));
        // An integer holds whole numbers: 10.6 is 11, out of range.
        QVERIFY(n.setValue(2.6, CallerKey::External) && !n.setValue(10.6, CallerKey::External));
        QCOMPARE(n.value(), 3.0);
    }

    // Read-only holds for text variables as for numbers: only the internal key writes
    // one; a refused write keeps the text and, in UpdateAlways mode, signals.
    void readOnlyTextVariable()
    {
        Variable v(QStringLiteral("@variable=VER @type=string @value=1.0.0 @readonly=1"));
        QVERIFY(v.isReadOnly() && v.type() == Variable::String);
        QSignalSpy spy(&v, &Variable::signal_updateSet);
        QVERIFY(!v.setText("2.0.0", CallerKey::External));
        QVERIFY(!v.setValue(2.0, CallerKey::External));
        QCOMPARE(v.text(), QByteArray("1.0.0"));
        QCOMPARE(spy.count(), 0);
        v.setUpdateMode(Variable::UpdateAlways);
        QVERIFY(!v.setText("", CallerKey::External));
        QVERIFY(v.text() == "1.0.0" && spy.count() == 1);
        QVERIFY(v.setText("1.0.1", CallerKey::Internal));
        QVERIFY(v.text() == "1.0.1" && spy.count() == 2);
        // Untyped: a refused text decides nothing.
        Variable u(QStringLiteral("@variable=U @readonly=1"));
        QVERIFY(!u.setText("x", CallerKey::External));
        QVERIFY(u.type() == Variable::Undefined && u.text().isEmpty());
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
        bool b = false;
        QCOMPARE(TextConvert::toInt64(text, &i) ? QVariant(i) : QVariant(), integer);
        QCOMPARE(TextConvert::toBool(text, &b) ? QVariant(b) : QVariant(), boolean);
    }

    void byteStringsAndKeyValues()
    {
        // Blanks are ignored; a refused text changes nothing.
        QByteArray bytes;
        QVERIFY(TextConvert::hexToBytes("02 a1f f", &bytes) &&
                !TextConvert::hexToBytes("02 a", &bytes) && !TextConvert::hexToBytes("0g", &bytes));
        QCOMPARE(TextConvert::bytesToHex(bytes), QStringLiteral("02 A1 FF"));
        const QString text = QStringLiteral("  VER=1.2  DIO25=1\tflag SPI0CS0DATA=02a1=b ");
        QCOMPARE(TextConvert::keyValues(text).size(), 4);
        QString value;
        QVERIFY(TextConvert::valueOf(text, "SPI0CS0DATA", &value) &&
                !TextConvert::valueOf(text, "VE", &value));
        QCOMPARE(value, QStringLiteral("02a1=b")); // only the first "=" splits
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
