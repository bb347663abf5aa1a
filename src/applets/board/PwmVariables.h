#pragma once

#include <QList>

class Variable;

// The settings of the board's four PWM generators. The user interface and the
// variable names count them PWM1..PWM4; board command lines count them 0..3.
// The objects live for the whole program and are shared by pointer: every applet
// that shows a generator puts the same objects into its parameter table, so all of
// their controls show one value.
namespace PwmVariables {
extern Variable PWM1_DIO;
extern Variable PWM1_FREQ;
extern Variable PWM1_DUTY;
extern Variable PWM1OnOff;
extern Variable PWM2_DIO;
extern Variable PWM2_FREQ;
extern Variable PWM2_DUTY;
extern Variable PWM2OnOff;
extern Variable PWM3_DIO;
extern Variable PWM3_FREQ;
extern Variable PWM3_DUTY;
extern Variable PWM3OnOff;
extern Variable PWM4_DIO;
extern Variable PWM4_FREQ;
extern Variable PWM4_DUTY;
extern Variable PWM4OnOff;

// Generator n = 1..4; null for any other n.
Variable* onOff(int n);
Variable* frequency(int n);
Variable* duty(int n);
Variable* pinState(int n);

// All sixteen in the order the applets add them to their tables: for each
// generator its on/off switch, frequency, duty cycle and pin state.
QList<Variable*> tableOrder();
} // namespace PwmVariables
