#include "AppletInstances.h"

namespace AppletInstances {
Applet* logs = nullptr;
Applet* basic = nullptr;
Applet* board = nullptr;
Applet* hbController = nullptr;
Applet* spiController = nullptr;
Applet* spiRaw = nullptr;
Applet* watchDog = nullptr;
Applet* chipId = nullptr;
Applet* application = nullptr;
ControlBoard* controlBoard = nullptr;
} // namespace AppletInstances
