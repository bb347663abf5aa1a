#pragma once

// Test rig for the Board applet: the simulated board behind a real link, the real
// SPI applets, and stand-ins for the applets Board only calls into.

#include "AppletInstances.h"
#include "Board.h"
#include "ChipRegisters.h"
#include "ControlBoard.h"
#include "SimulatedBoard.h"
#include "SpiController.h"
#include "SpiRaw.h"

#include <QStringList>
#include <QVariant>
#include <memory>

// Records what Board asks of another applet (WatchDog, HBController).
class RecordingApplet : public Applet
{
public:
    struct Call
    {
        QString name;
        QVariant value;
    };
    QList<Call> runs;
    QList<Call> writes;
    QVariant result = true;

    QVariant runFunction(const QString& name, const QVariant& args) override
    {
        runs << Call{name, args};
        return result;
    }
    bool setValue(const QString& name, const QVariant& value, quint32) override
    {
        writes << Call{name, value};
        return true;
    }
};

class BoardRig
{
public:
    ControlBoard link;
    SpiRaw raw;
    SpiController spi;
    RecordingApplet watchDog;
    RecordingApplet hbController;
    std::unique_ptr<Board> board;

    BoardRig()
    {
        link.connectBoard(QStringLiteral("mockup"));
        AppletInstances::controlBoard = &link;
        AppletInstances::spiRaw = &raw;
        AppletInstances::spiController = &spi;
        AppletInstances::watchDog = &watchDog;
        AppletInstances::hbController = &hbController;
        raw.setup();
        spi.setup();
        board = std::make_unique<Board>();
        board->setup();
        AppletInstances::board = board.get();
        spi.runFunction(QStringLiteral("Clear"), QString());
        forget();
    }

    ~BoardRig()
    {
        AppletInstances::board = nullptr;
        AppletInstances::spiController = nullptr;
        AppletInstances::spiRaw = nullptr;
        AppletInstances::watchDog = nullptr;
        AppletInstances::hbController = nullptr;
        AppletInstances::controlBoard = nullptr;
        board.reset();
        link.disconnectBoard();
    }

    SimulatedBoard* sim() const { return link.simulatedBoard(); }

    // Forgets the traffic so far.
    void forget()
    {
        sim()->clearReceivedLines();
        sim()->clearChipFrames();
        watchDog.runs.clear();
        watchDog.writes.clear();
        hbController.runs.clear();
        hbController.writes.clear();
    }

    QStringList lines() const { return sim()->receivedLines(); }

    // Lines other than the SPI traffic.
    QStringList pinLines() const
    {
        QStringList result;
        for (const QString& line : lines())
            if (!line.contains(QLatin1String("SPI0CS0DATA")))
                result << line;
        return result;
    }

    // Request frames clocked to the chip, without the WD bit; the status polls
    // (address 13) left out.
    QList<quint16> frames() const
    {
        QList<quint16> result;
        for (quint16 frame : sim()->chipFrames())
            if ((frame >> 12) != 13)
                result << quint16(frame & ~0x0800);
        return result;
    }

    QList<int> addresses() const
    {
        QList<int> result;
        for (quint16 frame : frames())
            result << (frame >> 12);
        return result;
    }

    // Lines that carried chained frames, with the number of frames each.
    QList<int> chainSizes() const
    {
        QList<int> result;
        for (const QString& line : lines())
            if (line.startsWith(QLatin1String("set")) &&
                line.count(QLatin1String("SPI0CS0DATA")) > 1)
                result << int(line.count(QLatin1String("SPI0CS0DATA")));
        return result;
    }

    static quint16 frame(int address, unsigned int data)
    {
        return quint16((address << 12) | (data & 0x7FF));
    }

    static QVariant text(const char* s = "") { return QVariant(QString::fromLatin1(s)); }
};
