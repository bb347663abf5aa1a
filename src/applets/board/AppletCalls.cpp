#include "AppletCalls.h"

#include "BoardLog.h"

#include "AppletInstances.h"
#include "ControlBoard.h"

#include "Applet.h"

namespace AppletCalls {

QVariant noArgument()
{
    return QVariant(QString());
}

bool sendLine(const QString& line)
{
    ControlBoard* link = AppletInstances::controlBoard;
    if (!link) {
        qCWarning(lcBoard) << "No board link; not sent:" << line;
        return false;
    }
    return link->send(line.toUtf8(), nullptr, -1);
}

QVariant run(Applet* applet, const QString& command, const QVariant& args)
{
    if (!applet) {
        qCWarning(lcBoard) << "Applet not created; not run:" << command;
        return false;
    }
    return applet->runFunction(command, args);
}

QVariant spi(const QString& command, const QVariant& args)
{
    return run(AppletInstances::spiController, command, args);
}

QVariant board(const QString& command, const QVariant& args)
{
    return run(AppletInstances::board, command, args);
}

} // namespace AppletCalls
