#include "BoardParameters.h"

#include "ChipRegisters.h"
#include "Register.h"
#include "Variable.h"

// Built before main in this order. The user configuration copies share the layouts of
// the chip's configuration registers.
namespace BoardParameters {
Register DIO("@register=DIO;"
             "@bit=EN                @pin=DIO25          @value=1        @dir=OUT;"
             "@bit=PWM1              @pin=DIO14          @value=0        @dir=OUT;"
             "@bit=PWM2              @pin=DIO15          @value=0        @dir=OUT;");
Register FSM("@register=FSM;@bit=FSM                @pin=DIO22          @value=0");
Variable ADC_Result1("@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50");
Variable ADC_Result2("@variable=ADC_Result2 @type=real @value=0 @min=0 @max=50");
Variable ADC_Result4("@variable=ADC_Result4 @type=real @value=0 @min=0 @max=50");
Register initialDio;
Register UCR5A(ChipRegisters::configDefinition(1, false), QStringLiteral("UCR5A"));
Register UCR5B(ChipRegisters::configDefinition(1, true), QStringLiteral("UCR5B"));
Register UCR6A(ChipRegisters::configDefinition(2, false), QStringLiteral("UCR6A"));
Register UCR6B(ChipRegisters::configDefinition(2, true), QStringLiteral("UCR6B"));
Register UCR7A(ChipRegisters::configDefinition(3, false), QStringLiteral("UCR7A"));
Register UCR7B(ChipRegisters::configDefinition(3, true), QStringLiteral("UCR7B"));
Register UCR8A(ChipRegisters::configDefinition(4, false), QStringLiteral("UCR8A"));
Register UCR8B(ChipRegisters::configDefinition(4, true), QStringLiteral("UCR8B"));
Register UCR9A(ChipRegisters::configDefinition(5, false), QStringLiteral("UCR9A"));
Register UCR9B(ChipRegisters::configDefinition(5, true), QStringLiteral("UCR9B"));
Register UCR10A(ChipRegisters::configDefinition(6, false), QStringLiteral("UCR10A"));
Register UCR10B(ChipRegisters::configDefinition(6, true), QStringLiteral("UCR10B"));
Register savedDio(DIO);

QList<Register*> userConfiguration()
{
    return {&UCR5A, &UCR5B, &UCR6A, &UCR6B, &UCR7A,  &UCR7B,
            &UCR8A, &UCR8B, &UCR9A, &UCR9B, &UCR10A, &UCR10B};
}
} // namespace BoardParameters
