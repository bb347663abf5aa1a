#include "Register.h"

#include <QSignalSpy>
#include <QTest>

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

class TestRegister : public QObject
{
    Q_OBJECT

private slots:
    void definitionsGiveLayout_data()
    {
        QTest::addColumn<QString>("definition");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("bits");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("pin"); // the "pin" attribute of the field's low bit
        auto row = [](const char* tag, const QString& def, const char* name, int size,
                      quint32 value, const char* field, const char* bits, const char* desc,
                      const char* pin = "") {
            QTest::newRow(tag) << def << QString(name) << size << value << QString(field)
                               << QString(bits) << QString(desc) << QString(pin);
        };
        row("pins", DioText, "DIO", 3, 0x1, "PWM2", "2:2", "", "DIO15");
        row("one bit", "WDdio=0#;", "", 1, 0x0, "WDdio", "0:0", "");
        row("fixed bit set", "SR_CTRL1[2:0]#HB1 slew;T_DLY1[3:0]#HB1 delay;VDS1[2:0]#;D10=1#;", "",
            11, 0x400, "T_DLY1", "6:3", "HB1 delay");
        row("after a fixed bit", Cr0Text, "", 11, 0x0, "SOA", "9:7", "Status register");
        row("wide initial value", "A[3:0]=0xA#a;B=1#b", "", 5, 0x1A, "A", "3:0", "a");
    }
    void definitionsGiveLayout()
    {
        QFETCH(QString, definition);
        QFETCH(QString, field);
        Register reg(definition);
        QTEST(reg.name(), "name");
        QTEST(reg.size(), "size");
        QTEST(quint32(reg.value()), "value");
        const Register::FieldInfo info = reg.fieldInfo(QStringLiteral("X[%1]").arg(field));
        QCOMPARE(info.name, field);
        QTEST(QStringLiteral("%1:%2").arg(info.hi).arg(info.lo), "bits");
        QTEST(info.description, "description");
        QTEST(reg.bitAttribute(info.lo, QStringLiteral("pin")), "pin");
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
        QCOMPARE(assigned.bitAttribute(0, QStringLiteral("pin")), QStringLiteral("DIO25"));
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
};

QTEST_GUILESS_MAIN(TestRegister)
#include "tst_register.moc"
