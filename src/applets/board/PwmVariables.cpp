#include "PwmVariables.h"

#include "Variable.h"

// Built before main in this order; the on/off texts carry no type item on purpose:
// those variables take the type of their first write.
namespace PwmVariables {
Variable PWM1_DIO("@variable=PWM1_DIO @type=real @value=0 @min=0 @max=1");
Variable PWM1_FREQ("@variable=PWM1_FREQ @type=real @value=20000 @min=1 @max=25000");
Variable PWM1_DUTY("@variable=PWM1_DUTY @type=real @value=50 @min=0 @max=100");
Variable PWM1OnOff("@variable=PWM1OnOff@value=1@min=0 @max=1");
Variable PWM2_DIO("@variable=PWM2_DIO @type=real @value=0 @min=0 @max=1");
Variable PWM2_FREQ("@variable=PWM2_FREQ @type=real @value=20000 @min=1 @max=25000");
Variable PWM2_DUTY("@variable=PWM2_DUTY @type=real @value=50 @min=0 @max=100");
Variable PWM2OnOff("@variable=PWM2OnOff@value=1@min=0 @max=1");
Variable PWM3_DIO("@variable=PWM3_DIO @type=real @value=0 @min=0 @max=1");
Variable PWM3_FREQ("@variable=PWM3_FREQ @type=real @value=20000 @min=1 @max=25000");
Variable PWM3_DUTY("@variable=PWM3_DUTY @type=real @value=50 @min=0 @max=100");
Variable PWM3OnOff("@variable=PWM3OnOff@value=1@min=0 @max=1");
Variable PWM4_DIO("@variable=PWM4_DIO @type=real @value=0 @min=0 @max=1");
Variable PWM4_FREQ("@variable=PWM4_FREQ @type=real @value=20000 @min=1 @max=25000");
Variable PWM4_DUTY("@variable=PWM4_DUTY @type=real @value=50 @min=0 @max=100");
Variable PWM4OnOff("@variable=PWM4OnOff@value=1@min=0 @max=1");

namespace {
Variable* pick(int n, Variable* g1, Variable* g2, Variable* g3, Variable* g4)
{
    switch (n) {
    case 1:
        return g1;
    case 2:
        return g2;
    case 3:
        return g3;
    case 4:
        return g4;
    default:
        return nullptr;
    }
}
} // namespace

Variable* onOff(int n)
{
    return pick(n, &PWM1OnOff, &PWM2OnOff, &PWM3OnOff, &PWM4OnOff);
}

Variable* frequency(int n)
{
    return pick(n, &PWM1_FREQ, &PWM2_FREQ, &PWM3_FREQ, &PWM4_FREQ);
}

Variable* duty(int n)
{
    return pick(n, &PWM1_DUTY, &PWM2_DUTY, &PWM3_DUTY, &PWM4_DUTY);
}

Variable* pinState(int n)
{
    return pick(n, &PWM1_DIO, &PWM2_DIO, &PWM3_DIO, &PWM4_DIO);
}

QList<Variable*> tableOrder()
{
    QList<Variable*> all;
    for (int n = 1; n <= 4; ++n)
        all << onOff(n) << frequency(n) << duty(n) << pinState(n);
    return all;
}
} // namespace PwmVariables
