#include "Register.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QString DioText = QStringLiteral(
    "@register=DIO;@bit=EN                @pin=DIO25          @value=1        @dir=OUT;"
    "@bit=PWM1              @pin=DIO14          @value=0        @dir=OUT;"
    "@bit=PWM2              @pin=DIO15          @value=0        @dir=OUT;");
const QString FsmText =
    QStringLiteral("@register=FSM;@bit=FSM                @pin=DIO22          @value=0");
const QString FlagsText = QStringLiteral("@register=Flags;@bit=StopBit          @value=0");
const QString Ucr5aText = QStringLiteral(
    "T_PC1[1:0]#HB1 R/F slope pre-charge time;I_PCR1[2:0]#HB1 Rising slope pre-charge current;"
    "I_PCF1[2:0]#HB1 Falling slope pre-charge current;BLANK1[1:0]#HB1 Cross-conduction blanking "
    "time;D10=0#;");
const QString Ucr5bText = QStringLiteral(
    "SR_CTRL1[2:0]#HB1 R/F slope slew phase current;T_DLY1[3:0]#HB1 VDS overload detect "
    "delay;VDS1[2:0]#HB1 VDS sense treshold;D10=1#;");
const QString Cr0Text = QStringLiteral(
    "HB_EN1[0]#HB1 enable;HB_EN2[1]#;HB_EN3[2]#;HB_EN4[3]#;HB_EN5[4]#;HB_EN6[5]#;D06=0#;"
    "SOA[2:0]#Status register;SOA_MODE[10]#Status read mode");

} // namespace

class TestRegister : public QObject
{
    Q_OBJECT

private slots:
    void bitDefinitionsKeepNamesValuesAndAttributes();
    void fieldDefinitionsTakeBitsInOrder_data();
    void fieldDefinitionsTakeBitsInOrder();
    void oneBitRegisterIsNamedLikeItsField();
    void descriptorsAddressFields_data();
    void descriptorsAddressFields();
    void descriptorWithoutBracketsAddressesBitZero();
    void splitDescriptorRejectsMalformedText_data();
    void splitDescriptorRejectsMalformedText();
    void refusedWritesChangeNothing_data();
    void refusedWritesChangeNothing();
    void fullWidthRegisterReadsAndWritesAllBits();
    void updateSignalFollowsUpdateMode();
    void valueEmitsGetAndReversesBits();
    void fieldInfoGivesNameDescriptionAndReadOnly();
    void readOnlyFlagComesOnlyFromAttributes();
    void copyAndAssignTakeLayoutAndValues();
    void malformedDefinitionsKeepTheValidItems_data();
    void malformedDefinitionsKeepTheValidItems();
};

void TestRegister::bitDefinitionsKeepNamesValuesAndAttributes()
{
    Register dio(DioText, QString());
    QCOMPARE(dio.name(), QStringLiteral("DIO"));
    QCOMPARE(dio.size(), 3);
    QCOMPARE(dio.bitName(0), QStringLiteral("EN"));
    QCOMPARE(dio.bitName(2), QStringLiteral("PWM2"));
    QCOMPARE(dio.bit(0), 1);
    QCOMPARE(dio.bit(1), 0);
    QCOMPARE(dio.bitAttribute(0, QStringLiteral("pin")), QStringLiteral("DIO25"));
    QCOMPARE(dio.bitAttribute(1, QStringLiteral("pin")), QStringLiteral("DIO14"));
    QCOMPARE(dio.bitAttribute(2, QStringLiteral("dir")), QStringLiteral("OUT"));
    QCOMPARE(dio.getField(QStringLiteral("DIO[EN]")), 1u);
    QVERIFY(!dio.isReadOnly());

    Register fsm(FsmText, QString());
    QCOMPARE(fsm.name(), QStringLiteral("FSM"));
    QCOMPARE(fsm.size(), 1);
    QCOMPARE(fsm.bitAttribute(0, QStringLiteral("pin")), QStringLiteral("DIO22"));

    // An explicit name wins over "@register=".
    Register flags(FlagsText, QStringLiteral("Other"));
    QCOMPARE(flags.name(), QStringLiteral("Other"));
    QCOMPARE(flags.bitName(0), QStringLiteral("StopBit"));
}

void TestRegister::fieldDefinitionsTakeBitsInOrder_data()
{
    QTest::addColumn<QString>("definition");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("lo");
    QTest::addColumn<QString>("description");
    QTest::addColumn<quint32>("value");

    QTest::newRow("UCR5A first") << Ucr5aText << 11 << "T_PC1" << 1 << 0
                                 << "HB1 R/F slope pre-charge time" << 0x000u;
    QTest::newRow("UCR5A blank") << Ucr5aText << 11 << "BLANK1" << 9 << 8
                                 << "HB1 Cross-conduction blanking time" << 0x000u;
    QTest::newRow("UCR5A fixed D10") << Ucr5aText << 11 << "D10" << 10 << 10 << "" << 0x000u;
    QTest::newRow("UCR5B T_DLY1") << Ucr5bText << 11 << "T_DLY1" << 6 << 3
                                  << "HB1 VDS overload detect delay" << 0x400u;
    QTest::newRow("UCR5B fixed D10") << Ucr5bText << 11 << "D10" << 10 << 10 << "" << 0x400u;
    QTest::newRow("CR0 SOA") << Cr0Text << 11 << "SOA" << 9 << 7 << "Status register" << 0u;
    QTest::newRow("CR0 single bit")
        << Cr0Text << 11 << "SOA_MODE" << 10 << 10 << "Status read mode" << 0u;
    QTest::newRow("wide initial value")
        << QStringLiteral("A[3:0]=0xA#a;B=1#b") << 5 << "A" << 3 << 0 << "a" << 0x1Au;
}

void TestRegister::fieldDefinitionsTakeBitsInOrder()
{
    QFETCH(QString, definition);
    QFETCH(QString, field);
    QFETCH(QString, description);
    Register reg(definition, QStringLiteral("R"));
    QTEST(reg.size(), "size");
    QTEST(quint32(reg.value()), "value");
    const Register::FieldInfo info = reg.fieldInfo(QStringLiteral("R[%1]").arg(field));
    QVERIFY(info.valid);
    QCOMPARE(info.name, field);
    QTEST(info.hi, "hi");
    QTEST(info.lo, "lo");
    QCOMPARE(info.description, description);
}

void TestRegister::oneBitRegisterIsNamedLikeItsField()
{
    Register wd(QStringLiteral("WDdio=0#;"), QStringLiteral("WDdio"));
    QCOMPARE(wd.size(), 1);
    QCOMPARE(wd.fields().size(), 1);
    QCOMPARE(wd.fields().first().name, QStringLiteral("WDdio"));
    QVERIFY(wd.fields().first().description.isEmpty());
    QCOMPARE(wd.bit(0), 0);
    Register routine(QStringLiteral("RoutineEN=1#;"), QStringLiteral("RoutineEN"));
    QCOMPARE(routine.getField(QStringLiteral("RoutineEN")), 1u);
    QVERIFY(wd.setField(QStringLiteral("WDdio[]"), 1));
    QCOMPARE(wd.getField(QStringLiteral("WDdio[WDdio]")), 1u);
}

void TestRegister::descriptorsAddressFields_data()
{
    QTest::addColumn<QString>("write");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<quint32>("whole");

    QTest::newRow("range") << "CR5A[9:8]" << 3u << 0x300u;
    QTest::newRow("single bit") << "CR1[10]" << 1u << 0x400u;
    QTest::newRow("field name") << "CR0[HB_EN3]" << 1u << 0x004u;
    QTest::newRow("multi-bit field") << "CR0[SOA]" << 5u << 0x280u;
    QTest::newRow("whole") << "CR0[]" << 0x7FFu << 0x7FFu;
    QTest::newRow("low eleven") << "CR5A[10:0]" << 0x3FFu << 0x3FFu;
    QTest::newRow("blanks inside") << " CR0[ 9:7 ] " << 2u << 0x100u;
}

void TestRegister::descriptorsAddressFields()
{
    QFETCH(QString, write);
    QFETCH(quint32, value);
    // The part before "[" is how callers find the register; it is not checked here.
    Register reg(Cr0Text, QStringLiteral("CR0"));
    QVERIFY(reg.setField(write, value));
    QCOMPARE(quint32(reg.getField(write)), value);
    QTEST(quint32(reg.value()), "whole");
}

void TestRegister::descriptorWithoutBracketsAddressesBitZero()
{
    Register flags(FlagsText, QString());
    QVERIFY(flags.setField(QStringLiteral("StopBit"), 1));
    QCOMPARE(flags.getField(QStringLiteral("StopBit")), 1u);

    Register reg(Ucr5bText, QStringLiteral("UCR5B"));
    // Whatever the name says, a bare descriptor is bit 0.
    QVERIFY(reg.setField(QStringLiteral("VDS1"), 1));
    QCOMPARE(reg.value(), 0x401u);
    QVERIFY(!reg.setField(QStringLiteral("VDS1"), 2));
}

void TestRegister::splitDescriptorRejectsMalformedText_data()
{
    QTest::addColumn<QString>("descriptor");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("reg");
    QTest::addColumn<QString>("selector");
    QTest::newRow("range") << "CR0[9:7]" << true << "CR0"
                           << "9:7";
    QTest::newRow("empty") << "CR0[]" << true << "CR0"
                           << "";
    QTest::newRow("bare") << "StopBit" << true << "StopBit" << QString();
    QTest::newRow("unclosed") << "CR0[9:7" << false << ""
                              << "";
    QTest::newRow("trailing") << "CR0[1]x" << false << ""
                              << "";
    QTest::newRow("reversed") << "CR0]1[" << false << ""
                              << "";
    QTest::newRow("nested") << "CR0[[1]]" << false << ""
                            << "";
    QTest::newRow("nothing") << "" << false << ""
                             << "";
}

void TestRegister::splitDescriptorRejectsMalformedText()
{
    QFETCH(QString, descriptor);
    QFETCH(bool, ok);
    QFETCH(QString, selector);
    QString reg;
    QString sel;
    QCOMPARE(Register::splitDescriptor(descriptor, &reg, &sel), ok);
    if (ok) {
        QTEST(reg, "reg");
        QCOMPARE(sel, selector);
        QCOMPARE(sel.isNull(), selector.isNull());
    }
}

void TestRegister::refusedWritesChangeNothing_data()
{
    QTest::addColumn<QString>("descriptor");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<bool>("namesField");
    QTest::newRow("too wide for field") << "UCR5A[BLANK1]" << 4u << true;
    QTest::newRow("too wide for range") << "UCR5A[9:8]" << 7u << true;
    QTest::newRow("too wide for bit") << "UCR5A[3]" << 2u << true;
    QTest::newRow("whole too wide") << "UCR5A[]" << 0x800u << true;
    QTest::newRow("range past size") << "UCR5A[11:0]" << 0u << false;
    QTest::newRow("bit past size") << "UCR5A[11]" << 0u << false;
    QTest::newRow("hi below lo") << "UCR5A[0:3]" << 0u << false;
    QTest::newRow("unknown field") << "UCR5A[NOPE]" << 0u << false;
    QTest::newRow("unclosed") << "UCR5A[1" << 0u << false;
    QTest::newRow("huge bit number") << "UCR5A[99999999999]" << 0u << false;
    QTest::newRow("negative") << "UCR5A[-1]" << 0u << false;
}

void TestRegister::refusedWritesChangeNothing()
{
    QFETCH(QString, descriptor);
    QFETCH(quint32, value);
    Register reg(Ucr5aText, QStringLiteral("UCR5A"));
    QVERIFY(reg.setField(QStringLiteral("UCR5A[]"), 0x2B9));
    QSignalSpy spy(&reg, &Register::signal_updateSet);
    reg.setUpdateMode(Register::UpdateAlways);
    QVERIFY(!reg.setField(descriptor, value));
    QCOMPARE(reg.value(), 0x2B9u);
    QCOMPARE(spy.count(), 0);
    QFETCH(bool, namesField);
    if (!namesField) {
        QCOMPARE(reg.getField(descriptor), 0u); // an unknown field reads 0
        QVERIFY(!reg.fieldInfo(descriptor).valid);
    }
}

void TestRegister::fullWidthRegisterReadsAndWritesAllBits()
{
    Register reg(QStringLiteral("LO[15:0]#;HI[15:0]#"), QStringLiteral("W"));
    QCOMPARE(reg.size(), 32);
    QVERIFY(reg.setField(QStringLiteral("W[]"), 0xFFFFFFFFu));
    QCOMPARE(reg.value(), 0xFFFFFFFFu);
    QVERIFY(reg.setField(QStringLiteral("W[31:16]"), 0x1234u));
    QCOMPARE(reg.getField(QStringLiteral("W[HI]")), 0x1234u);
    QCOMPARE(reg.value(false), 0xFFFF2C48u); // bit-reversed 0x1234FFFF
}

void TestRegister::updateSignalFollowsUpdateMode()
{
    Register reg(Ucr5aText, QStringLiteral("UCR5A"));
    QSignalSpy spy(&reg, &Register::signal_updateSet);
    QCOMPARE(reg.updateMode(), int(Register::UpdateOnChange));
    QVERIFY(reg.setField(QStringLiteral("X[T_PC1]"), 0)); // no bit changes
    QCOMPARE(spy.count(), 0);
    QVERIFY(reg.setField(QStringLiteral("X[T_PC1]"), 2));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.takeFirst().at(0).toString(), QStringLiteral("UCR5A"));

    reg.setUpdateMode(Register::UpdateAlways);
    QVERIFY(reg.setField(QStringLiteral("X[T_PC1]"), 2));
    QVERIFY(reg.setField(QStringLiteral("X[T_PC1]"), 2));
    QCOMPARE(spy.count(), 2);
}

void TestRegister::valueEmitsGetAndReversesBits()
{
    Register dio(DioText, QString());
    QSignalSpy get(&dio, &Register::signal_updateGet);
    QCOMPARE(dio.value(true), 0x1u);
    QCOMPARE(dio.value(false), 0x4u);
    QCOMPARE(get.count(), 2);
    QCOMPARE(get.at(0).at(0).toString(), QStringLiteral("DIO"));
    // Plain reads of fields and bits stay silent.
    dio.getField(QStringLiteral("DIO[EN]"));
    dio.bit(0);
    QCOMPARE(get.count(), 2);

    Register ucr(Ucr5bText, QStringLiteral("UCR5B"));
    QCOMPARE(ucr.value(false), 0x001u); // bit 10 becomes bit 0 over 11 bits
    Register empty;
    QCOMPARE(empty.value(false), 0u);
    QCOMPARE(empty.size(), 0);
    QVERIFY(!empty.setField(QStringLiteral("X[]"), 0));
    QCOMPARE(empty.getField(QStringLiteral("X")), 0u);
}

void TestRegister::fieldInfoGivesNameDescriptionAndReadOnly()
{
    Register cr0(Cr0Text, QStringLiteral("CR0"));
    Register::FieldInfo info = cr0.fieldInfo(QStringLiteral("CR0[HB_EN1]"));
    QVERIFY(info.valid);
    QCOMPARE(info.name, QStringLiteral("HB_EN1"));
    QCOMPARE(info.description, QStringLiteral("HB1 enable"));
    // A numeric selector that covers exactly one field names it.
    info = cr0.fieldInfo(QStringLiteral("CR0[10]"));
    QCOMPARE(info.name, QStringLiteral("SOA_MODE"));
    info = cr0.fieldInfo(QStringLiteral("CR0[8:7]"));
    QVERIFY(info.valid);
    QVERIFY(info.name.isEmpty());
    QVERIFY(!cr0.fieldInfo(QStringLiteral("CR0[NOPE]")).valid);
}

void TestRegister::readOnlyFlagComesOnlyFromAttributes()
{
    Register sr(QStringLiteral("@readonly=1;A[3:0]#read only status;B=1#"), QStringLiteral("SR0"));
    QVERIFY(sr.isReadOnly());
    QCOMPARE(sr.size(), 5);
    QVERIFY(sr.fieldInfo(QStringLiteral("SR0[A]")).readOnly);
    // The board answer still lands in a read-only register.
    QVERIFY(sr.setField(QStringLiteral("SR0[A]"), 9));
    QCOMPARE(sr.getField(QStringLiteral("SR0[A]")), 9u);

    Register bits(QStringLiteral("@register=P;@bit=IN @readonly=1;@bit=OUT;X[1:0]#readonly"),
                  QString());
    QVERIFY(!bits.isReadOnly());
    QVERIFY(bits.fields().at(0).readOnly);
    QVERIFY(bits.fieldInfo(QStringLiteral("P[IN]")).readOnly);
    QVERIFY(bits.fieldInfo(QStringLiteral("P[]")).readOnly); // overlaps IN
    QVERIFY(!bits.fieldInfo(QStringLiteral("P[OUT]")).readOnly);
    QVERIFY(!bits.fieldInfo(QStringLiteral("P[X]")).readOnly); // description is not a flag
    QCOMPARE(bits.bitAttribute(0, QStringLiteral("readonly")), QStringLiteral("1"));

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("only read as the first")));
    Register late(QStringLiteral("A=0#;@readonly=1"), QStringLiteral("L"));
    QVERIFY(!late.isReadOnly());
}

void TestRegister::copyAndAssignTakeLayoutAndValues()
{
    Register original(DioText, QString());
    QVERIFY(original.setField(QStringLiteral("DIO[PWM2]"), 1));
    original.setUpdateMode(Register::UpdateAlways);

    Register copy(original);
    QCOMPARE(copy.name(), QStringLiteral("DIO"));
    QCOMPARE(copy.value(), 0x5u);
    QCOMPARE(copy.bitAttribute(0, QStringLiteral("pin")), QStringLiteral("DIO25"));
    QCOMPARE(copy.updateMode(), int(Register::UpdateAlways));

    Register assigned(Ucr5aText, QStringLiteral("UCR5A"));
    assigned = original;
    QCOMPARE(assigned.size(), 3);
    QCOMPARE(assigned.value(), 0x5u);
    QCOMPARE(assigned.getField(QStringLiteral("X[EN]")), 1u);

    // Copies are independent.
    QVERIFY(copy.setField(QStringLiteral("DIO[EN]"), 0));
    QCOMPARE(original.getField(QStringLiteral("DIO[EN]")), 1u);
    auto& self = assigned;
    assigned = self;
    QCOMPARE(assigned.value(), 0x5u);
}

void TestRegister::malformedDefinitionsKeepTheValidItems_data()
{
    QTest::addColumn<QString>("definition");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("warnings");

    QTest::newRow("unclosed bracket") << "A[1:0#x;B=1#" << QStringList{"B"} << 1 << 1;
    QTest::newRow("hi below lo") << "A[0:3]#;B[1:0]#" << QStringList{"B"} << 2 << 1;
    QTest::newRow("bit past 31") << "A[32:0]#;B[40]#;C=1#" << QStringList{"C"} << 1 << 2;
    QTest::newRow("wider than 32") << "A[31:0]#;B=1#;C=0#" << QStringList{"A"} << 32 << 2;
    QTest::newRow("name twice") << "A=0#;A[2:0]#;B=1#" << QStringList{"A", "B"} << 2 << 1;
    QTest::newRow("bit name twice") << "@bit=A;@bit=A;@bit=B" << QStringList{"A", "B"} << 2 << 1;
    QTest::newRow("not a number") << "A=x1#;B[a:b]#;C[z]#;D=1#" << QStringList{"D"} << 1 << 3;
    QTest::newRow("value too wide") << "A[1:0]=4#;B=2#" << QStringList{} << 0 << 2;
    QTest::newRow("bit value") << "@bit=A @value=2;@bit=B @value=1" << QStringList{"B"} << 1 << 1;
    QTest::newRow("stray bracket") << "A]#;[B]#;=1#;B=1" << QStringList{"B"} << 1 << 3;
    QTest::newRow("33 bits") << "@bit=B0;@bit=B1;@bit=B2;@bit=B3;@bit=B4;@bit=B5;@bit=B6;@bit=B7;"
                                "@bit=B8;@bit=B9;@bit=B10;@bit=B11;@bit=B12;@bit=B13;@bit=B14;"
                                "@bit=B15;@bit=B16;@bit=B17;@bit=B18;@bit=B19;@bit=B20;@bit=B21;"
                                "@bit=B22;@bit=B23;@bit=B24;@bit=B25;@bit=B26;@bit=B27;@bit=B28;"
                                "@bit=B29;@bit=B30;@bit=B31;@bit=B32"
                             << QStringList{} << 32 << 1;
}

void TestRegister::malformedDefinitionsKeepTheValidItems()
{
    QFETCH(QString, definition);
    QFETCH(QStringList, fields);
    QFETCH(int, warnings);
    for (int i = 0; i < warnings; ++i)
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Register definition \".*\": item "
                                                               "\".+\" ignored: .+")));
    Register reg(definition, QStringLiteral("R"));
    QTEST(reg.size(), "size");
    if (!fields.isEmpty()) {
        QStringList names;
        for (const Register::Field& f : reg.fields())
            names << f.name;
        QCOMPARE(names, fields);
    }
    int covered = 0;
    for (const Register::Field& f : reg.fields())
        covered += f.hi - f.lo + 1;
    QCOMPARE(covered, reg.size());
}

QTEST_GUILESS_MAIN(TestRegister)
#include "tst_register.moc"
