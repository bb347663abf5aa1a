#pragma once

#include "Applet.h"
#include "AppletInstances.h"
#include "CallerKey.h"
#include "ChipRegisters.h"
#include "ControlBoard.h"
#include "SimulatedBoard.h"
#include "SpiController.h"
#include "SpiRaw.h"

#include <QStringList>
#include <QVariant>
#include <memory>

// Stands in for the Board and WatchDog applets: records what the chip applets ask of them.
class RecordingApplet : public Applet
{
public:
    QStringList calls; // "run:<name>" or "set:<name>=<value>@<key hex>"

    QVariant runFunction(const QString& name, const QVariant&) override
    {
        calls << QStringLiteral("run:") + name;
        return true;
    }
    bool setValue(const QString& name, const QVariant& value, quint32 callerKey) override
    {
        calls << QStringLiteral("set:%1=%2@%3").arg(name, value.toString()).arg(callerKey, 0, 16);
        return true;
    }
};

// SpiController and SpiRaw set up as the shell does, on the simulated board.
struct ChipTestRig
{
    ControlBoard board;
    std::unique_ptr<SpiRaw> raw;
    std::unique_ptr<SpiController> spi;

    bool start()
    {
        if (!board.connectBoard(QStringLiteral("mockup")))
            return false;
        AppletInstances::controlBoard = &board;
        raw = std::make_unique<SpiRaw>();
        spi = std::make_unique<SpiController>();
        AppletInstances::spiRaw = raw.get();
        AppletInstances::spiController = spi.get();
        return raw->setup() && spi->setup();
    }

    ~ChipTestRig()
    {
        AppletInstances::spiController = nullptr;
        AppletInstances::spiRaw = nullptr;
        AppletInstances::controlBoard = nullptr;
        spi.reset();
        raw.reset();
        board.disconnectBoard();
    }

    SimulatedBoard* sim() const { return board.simulatedBoard(); }

    // Power-on images and board, traces cleared.
    void reset()
    {
        using namespace ChipRegisters;
        spi->runFunction(QStringLiteral("Clear"), QString());
        for (Register* r :
             {&CR5A, &CR6A, &CR7A, &CR8A, &CR9A, &CR10A, &SR0, &SR7, &NM, &WD, &ADDR, &DATA})
            r->setField(r->name() + QStringLiteral("[]"), 0);
        for (Register* r : {&CR5B, &CR6B, &CR7B, &CR8B, &CR9B, &CR10B})
            r->setField(r->name() + QStringLiteral("[]"), 0x400);
        sim()->reset();
        sim()->clearChipFrames();
        sim()->clearReceivedLines();
    }

    QList<int> frames() const
    {
        QList<int> out;
        for (quint16 f : sim()->chipFrames())
            out << int(f);
        return out;
    }

    unsigned int field(const QString& descriptor) const
    {
        return spi->getValue(descriptor, CallerKey::External).toUInt();
    }
    bool write(const QString& descriptor, unsigned int value) const
    {
        return spi->setValue(descriptor, value, CallerKey::Internal);
    }
};
