#pragma once

class Applet;
class ControlBoard;

// The program-wide instances, set by the shell at start-up. Applets reach each
// other (and the board link) through these; a null pointer means "not created",
// and callers then skip the call.
namespace AppletInstances {
extern Applet* logs;
extern Applet* basic;
extern Applet* board;
extern Applet* hbController;
extern Applet* spiController;
extern Applet* spiRaw;
extern Applet* watchDog;
extern Applet* chipId;
extern Applet* application;
extern ControlBoard* controlBoard;
} // namespace AppletInstances
