#pragma once

#include <QList>

class Register;
class Variable;

// The board's own parameters: pins, measurements and the user configuration. Built
// before main in this order and shared by pointer with the applets that show them.
namespace BoardParameters {
extern Register DIO;         // EN (DIO25) bit 0, PWM1 (DIO14) bit 1, PWM2 (DIO15) bit 2
extern Register FSM;         // fail-safe pin (DIO22) bit 0
extern Variable ADC_Result1; // motor current 1 in A
extern Variable ADC_Result2; // motor current 2 in A
extern Variable ADC_Result4; // supply voltage in V
extern Register initialDio;  // DIO as it was when the parameters were set up
// User configuration: copies of the chip's CR5A..CR10B written by the
// configuration-file loader and sent by "setLoaded".
extern Register UCR5A;
extern Register UCR5B;
extern Register UCR6A;
extern Register UCR6B;
extern Register UCR7A;
extern Register UCR7B;
extern Register UCR8A;
extern Register UCR8B;
extern Register UCR9A;
extern Register UCR9B;
extern Register UCR10A;
extern Register UCR10B;
extern Register savedDio;

// UCR5A, UCR5B, UCR6A, .. UCR10B.
QList<Register*> userConfiguration();
} // namespace BoardParameters
