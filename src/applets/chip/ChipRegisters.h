#pragma once

#include "Register.h"

// The chip's register map: one image of each register, shared by pointer with every
// applet that shows or writes it. Writing a field changes only the image; the
// SpiController commands carry it to the chip.
namespace ChipRegisters {
extern Register NM;
extern Register ADDR;
extern Register WD;
extern Register CR0;
extern Register CR1;
extern Register CR2;
extern Register CR3A;
extern Register CR3B;
extern Register CR4;
extern Register CR5A;
extern Register CR6A;
extern Register CR7A;
extern Register CR8A;
extern Register CR9A;
extern Register CR10A;
extern Register CR5B;
extern Register CR6B;
extern Register CR7B;
extern Register CR8B;
extern Register CR9B;
extern Register CR10B;
extern Register CR12;
extern Register CR14;
extern Register SR0;
extern Register SR1;
extern Register SR3;
extern Register SR4;
extern Register SR5;
extern Register SR7;
extern Register DATA;

// Definition text of the A (bHalf false) or B half of the configuration register of
// half-bridge 1..6 (CR5..CR10); the user configuration copies use it too.
QString configDefinition(int halfBridge, bool bHalf);

// The A (bHalf false) or B half of configuration register CR5..CR10; null for any
// other address.
Register* configRegister(int address, bool bHalf);
} // namespace ChipRegisters
