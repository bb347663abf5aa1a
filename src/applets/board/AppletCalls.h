#pragma once

#include <QVariant>

class Applet;

// How the board applets reach the board and each other: through the program-wide
// instances, passing the empty text as the argument. A missing instance or link is a
// trace warning and the call does nothing.
namespace AppletCalls {
QVariant noArgument();
// One board line with the link's default time-out; its failure is the link's to log.
bool sendLine(const QString& line);
QVariant run(Applet* applet, const QString& command, const QVariant& args = noArgument());
// A command of the chip register applet, or of Board.
QVariant spi(const QString& command, const QVariant& args = noArgument());
QVariant board(const QString& command, const QVariant& args = noArgument());
} // namespace AppletCalls
