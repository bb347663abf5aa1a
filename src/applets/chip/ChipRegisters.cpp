#include "ChipRegisters.h"

// Layouts of the chip's registers. Control registers are 11 data bits wide (request
// frame bits 10..0), status registers 12 (answer frame bits 11..0). The A and B halves
// of CR3 and CR5..CR10 share an address and are told apart by bit 10. CR2's bits 10..7
// hold no field, so they always go out as 0.
namespace ChipRegisters {

QString configDefinition(int halfBridge, bool bHalf)
{
    // The texts of HB1, with the half-bridge number put in.
    const QString text =
        bHalf ? QStringLiteral("SR_CTRL%1[2:0]#HB%1 R/F slope slew phase current;"
                               "T_DLY%1[3:0]#HB%1 VDS overload detect delay;"
                               "VDS%1[2:0]#HB%1 VDS sense treshold;D10=1#;")
              : QStringLiteral("T_PC%1[1:0]#HB%1 R/F slope pre-charge time;"
                               "I_PCR%1[2:0]#HB%1 Rising slope pre-charge current;"
                               "I_PCF%1[2:0]#HB%1 Falling slope pre-charge current;"
                               "BLANK%1[1:0]#HB%1 Cross-conduction blanking time;D10=0#;");
    return text.arg(halfBridge);
}

Register NM(QStringLiteral("@readonly=1;NM[0]#normal mode (answer frame bit 12);"),
            QStringLiteral("NM"));
Register ADDR(QStringLiteral("ADDR[2:0]#address of the last answer frame;"),
              QStringLiteral("ADDR"));
Register WD(QStringLiteral("WD#ignored by firmware due to WD service routine;"),
            QStringLiteral("WD"));
Register
    CR0(QStringLiteral("HB_EN1[0]#HB1 output enable;HB_EN2[1]#HB2 output enable;"
                       "HB_EN3[2]#HB3 output enable;HB_EN4[3]#HB4 output enable;"
                       "HB_EN5[4]#HB5 output enable;HB_EN6[5]#HB6 output enable;D06[6]#;"
                       "SOA[9:7]#status register the chip answers with;"
                       "SOA_MODE[10]#1: the chip answers with the status register SOA selects;"),
        QStringLiteral("CR0"));
Register
    CR1(QStringLiteral("HB_MODE1[0]#HB1 pre-driver mode (1 high-side, 0 low-side);"
                       "HB_MODE2[1]#HB2 pre-driver mode (1 high-side, 0 low-side);"
                       "HB_MODE3[2]#HB3 pre-driver mode (1 high-side, 0 low-side);"
                       "HB_MODE4[3]#HB4 pre-driver mode (1 high-side, 0 low-side);"
                       "HB_MODE5[4]#HB5 pre-driver mode (1 high-side, 0 low-side);"
                       "HB_MODE6[5]#HB6 pre-driver mode (1 high-side, 0 low-side);D06[6]#;D07[7]#;"
                       "WD_CFG[8]#Watchdog timeout 25ms/500ms;CP_SW[9]#charge pump switch;"
                       "DRV_EN[10]#driver enable;"),
        QStringLiteral("CR1"));
Register CR2(
    QStringLiteral("HB_PWM1[0]#HB1 PWM enable;HB_PWM2[1]#HB2 PWM enable;HB_PWM3[2]#HB3 PWM enable;"
                   "HB_PWM4[3]#HB4 PWM enable;HB_PWM5[4]#HB5 PWM enable;HB_PWM6[5]#HB6 PWM enable;"
                   "D06[6]#;"),
    QStringLiteral("CR2"));
Register CR3A(QStringLiteral("PWM1[1:0]#PWM input driving HB1;PWM2[3:2]#PWM input driving HB2;"
                             "PWM3[5:4]#PWM input driving HB3;PWM4[7:6]#PWM input driving HB4;"
                             "PWM5[9:8]#PWM input driving HB5;D10=0#;"),
              QStringLiteral("CR3A"));
Register
    CR3B(QStringLiteral("PWM6[1:0]#PWM input driving HB6;D2[2]#;D3[3]#;D4[4]#;D5[5]#;D6[6]#;D7[7]#;"
                        "D8[8]#;D9[9]#;D10=1#;"),
         QStringLiteral("CR3B"));
Register CR4(QStringLiteral(
                 "D0[0]#;D1[1]#;D2[2]#;D3[3]#;D4[4]#;D5[5]#;D6[6]#;D7[7]#;D8[8]#;D9[9]#;D10[10]#;"),
             QStringLiteral("CR4"));
Register CR5A(configDefinition(1, false), QStringLiteral("CR5A"));
Register CR6A(configDefinition(2, false), QStringLiteral("CR6A"));
Register CR7A(configDefinition(3, false), QStringLiteral("CR7A"));
Register CR8A(configDefinition(4, false), QStringLiteral("CR8A"));
Register CR9A(configDefinition(5, false), QStringLiteral("CR9A"));
Register CR10A(configDefinition(6, false), QStringLiteral("CR10A"));
Register CR5B(configDefinition(1, true), QStringLiteral("CR5B"));
Register CR6B(configDefinition(2, true), QStringLiteral("CR6B"));
Register CR7B(configDefinition(3, true), QStringLiteral("CR7B"));
Register CR8B(configDefinition(4, true), QStringLiteral("CR8B"));
Register CR9B(configDefinition(5, true), QStringLiteral("CR9B"));
Register CR10B(configDefinition(6, true), QStringLiteral("CR10B"));
Register
    CR12(QStringLiteral(
             "D0[0]#;D1[1]#;D2[2]#;D3[3]#;D4[4]#;D5[5]#;D6[6]#;D7[7]#;D8[8]#;D9[9]#;D10[10]#;"),
         QStringLiteral("CR12"));
Register
    CR14(QStringLiteral(
             "D0[0]#;D1[1]#;D2[2]#;D3[3]#;D4[4]#;D5[5]#;D6[6]#;D7[7]#;D8[8]#;D9[9]#;D10[10]#;"),
         QStringLiteral("CR14"));
Register
    SR0(QStringLiteral("@readonly=1;D0[0]#;HB_QSB[1]#;D02[2]#;D03[3]#;OVF[4]#overvoltage;"
                       "UVF[5]#undervoltage;CPF[6]#charge pump failure;CPL[7]#;SPIF[8]#SPI failure;"
                       "FSM[9]#fail-safe mode;RCF[10]#registers cleared;TM[11]#;"),
        QStringLiteral("SR0"));
Register SR1(
    QStringLiteral("@readonly=1;SWL1[0]#HB1 low-side gate output;SWH1[1]#HB1 high-side gate output;"
                   "SWL2[2]#HB2 low-side gate output;SWH2[3]#HB2 high-side gate output;"
                   "SWL3[4]#HB3 low-side gate output;SWH3[5]#HB3 high-side gate output;"
                   "SWL4[6]#HB4 low-side gate output;SWH4[7]#HB4 high-side gate output;"
                   "SWL5[8]#HB5 low-side gate output;SWH5[9]#HB5 high-side gate output;"
                   "SWL6[10]#HB6 low-side gate output;SWH6[11]#HB6 high-side gate output;"),
    QStringLiteral("SR1"));
Register
    SR3(QStringLiteral("@readonly=1;VDS_L1[0]#HB1 low-side VDS overload;"
                       "VDS_H1[1]#HB1 high-side VDS overload;VDS_L2[2]#HB2 low-side VDS overload;"
                       "VDS_H2[3]#HB2 high-side VDS overload;VDS_L3[4]#HB3 low-side VDS overload;"
                       "VDS_H3[5]#HB3 high-side VDS overload;VDS_L4[6]#HB4 low-side VDS overload;"
                       "VDS_H4[7]#HB4 high-side VDS overload;VDS_L5[8]#HB5 low-side VDS overload;"
                       "VDS_H5[9]#HB5 high-side VDS overload;VDS_L6[10]#HB6 low-side VDS overload;"
                       "VDS_H6[11]#HB6 high-side VDS overload;"),
        QStringLiteral("SR3"));
Register
    SR4(QStringLiteral("@readonly=1;D0[0]#;D1[1]#;D2[2]#;D3[3]#;D4[4]#;D5[5]#;D6[6]#;D7[7]#;D8[8]#;"
                       "D9[9]#;D10[10]#;D11[11]#;"),
        QStringLiteral("SR4"));
Register SR5(
    QStringLiteral("@readonly=1;HB_OUT1[0]#HB1 output above VDS;HB_OUT2[1]#HB2 output above VDS;"
                   "HB_OUT3[2]#HB3 output above VDS;HB_OUT4[3]#HB4 output above VDS;"
                   "HB_OUT5[4]#HB5 output above VDS;HB_OUT6[5]#HB6 output above VDS;D6[6]#;D7[7]#;"
                   "D8[8]#;D9[9]#;D10[10]#;D11[11]#;"),
    QStringLiteral("SR5"));
Register
    SR7(QStringLiteral("@readonly=1;D0[0]#;D1[1]#;D2[2]#;D3[3]#;D4[4]#;D5[5]#;D6[6]#;D7[7]#;D8[8]#;"
                       "D9[9]#;D10[10]#;D11[11]#;"),
        QStringLiteral("SR7"));
Register DATA(QStringLiteral("DATA[11:0]#data of the last answer frame;"), QStringLiteral("DATA"));

Register* configRegister(int address, bool bHalf)
{
    static Register* const a[] = {&CR5A, &CR6A, &CR7A, &CR8A, &CR9A, &CR10A};
    static Register* const b[] = {&CR5B, &CR6B, &CR7B, &CR8B, &CR9B, &CR10B};
    if (address < 5 || address > 10)
        return nullptr;
    return bHalf ? b[address - 5] : a[address - 5];
}

} // namespace ChipRegisters
