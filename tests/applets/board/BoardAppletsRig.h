#pragma once

// The board applets as the program wires them: the simulated board behind a real
// link, and one real instance of each applet, reached through the program-wide
// pointers. Every pointer it sets is cleared again when it goes.

#include "AppletInstances.h"
#include "Application.h"
#include "Basic.h"
#include "Board.h"
#include "CallerKey.h"
#include "ChipRegisters.h"
#include "ControlBoard.h"
#include "HBController.h"
#include "PushButton.h"
#include "PwmVariables.h"
#include "Register.h"
#include "SimulatedBoard.h"
#include "SpiController.h"
#include "SpiRaw.h"
#include "Variable.h"
#include "WatchDog.h"

#include <QComboBox>
#include <QRegularExpression>
#include <QTest>

#include <memory>

class BoardAppletsRig
{
public:
    ControlBoard link;
    std::unique_ptr<SpiRaw> raw = std::make_unique<SpiRaw>();
    std::unique_ptr<SpiController> spi = std::make_unique<SpiController>();
    std::unique_ptr<WatchDog> watchDog = std::make_unique<WatchDog>();
    std::unique_ptr<Basic> basic = std::make_unique<Basic>();
    std::unique_ptr<Board> board = std::make_unique<Board>();
    std::unique_ptr<HBController> hb = std::make_unique<HBController>();
    std::unique_ptr<Application> application = std::make_unique<Application>();

    BoardAppletsRig()
    {
        restoreVariables();
        link.connectBoard(QStringLiteral("mockup"));
        wire(true);
        for (Applet* a : all())
            a->setup();
        spi->runFunction(QStringLiteral("Clear"), QString());
        forget();
    }
    ~BoardAppletsRig()
    {
        for (Applet* a : all())
            if (a->isActive())
                a->deactivate();
        wire(false);
        restoreVariables();
    }
    // Sets the program-wide pointers to this rig's objects, or clears them.
    void wire(bool on)
    {
        AppletInstances::controlBoard = on ? &link : nullptr;
        AppletInstances::spiRaw = on ? raw.get() : nullptr;
        AppletInstances::spiController = on ? spi.get() : nullptr;
        AppletInstances::watchDog = on ? watchDog.get() : nullptr;
        AppletInstances::basic = on ? basic.get() : nullptr;
        AppletInstances::board = on ? board.get() : nullptr;
        AppletInstances::hbController = on ? hb.get() : nullptr;
        AppletInstances::application = on ? application.get() : nullptr;
    }
    QList<Applet*> all() const
    {
        return {raw.get(),   spi.get(), watchDog.get(),   basic.get(),
                board.get(), hb.get(),  application.get()};
    }
    // The generators' power-on settings: on, 20000 Hz, 50 %, pin low.
    static void restoreVariables()
    {
        for (int n = 1; n <= 4; ++n) {
            PwmVariables::onOff(n)->setValue(1.0, CallerKey::Internal);
            PwmVariables::frequency(n)->setValue(20000.0, CallerKey::Internal);
            PwmVariables::duty(n)->setValue(50.0, CallerKey::Internal);
            PwmVariables::pinState(n)->setValue(0.0, CallerKey::Internal);
        }
    }
    // Activates and lets the activation's own delayed transfers run first.
    void activate(Applet* applet)
    {
        applet->activate();
        QTest::qWait(30);
        forget();
    }
    SimulatedBoard* sim() const { return link.simulatedBoard(); }
    void forget()
    {
        sim()->clearReceivedLines();
        sim()->clearChipFrames();
    }
    QStringList lines() const { return sim()->receivedLines(); }
    // Board lines other than the SPI traffic.
    QStringList boardLines() const
    {
        static const QRegularExpression notSpi(QStringLiteral("^(?!.*SPI0CS0DATA)"));
        return lines().filter(notSpi);
    }
    // Request frames as sent, WD bit cleared; status polls (address 13) only when asked for.
    QList<quint16> frames(bool polls = true) const
    {
        QList<quint16> result;
        for (quint16 frame : sim()->chipFrames())
            if (polls || frame >> 12 != 13)
                result << quint16(frame & ~0x0800);
        return result;
    }
    QList<int> addresses(bool polls = true) const
    {
        QList<int> result;
        for (quint16 frame : frames(polls))
            result << (frame >> 12);
        return result;
    }
    // Lines that carried chained frames, with the number of frames each.
    QList<int> chainSizes() const
    {
        QList<int> result;
        for (const QString& line : lines())
            if (line.count(QLatin1String("SPI0CS0DATA")) > 1)
                result << int(line.count(QLatin1String("SPI0CS0DATA")));
        return result;
    }
    // A binding that names nothing leaves its control dead without a word: every value
    // control must reach a field or variable the applet holds (a combo box one item per
    // value of its field), every button a command of the applet.
    static void checkEveryControlResolves(Applet* applet)
    {
        using CustomControls::UniversalControl;
        for (QWidget* w : applet->findChildren<QWidget*>()) {
            auto* control = dynamic_cast<UniversalControl*>(w);
            if (!control)
                continue;
            const QString bind = control->bindName();
            const QByteArray what = (w->objectName() + " -> " + bind).toUtf8();
            if (auto* button = dynamic_cast<CustomControls::PushButton*>(w)) {
                QVERIFY2(applet->commands().offers(button->command()), what);
                continue;
            }
            QString name;
            QVERIFY2(UniversalControl::parseName(bind, &name, nullptr) &&
                         applet->boundControls(name).contains(control) &&
                         applet->getValue(bind, CallerKey::Internal).isValid(),
                     what);
            if (auto* combo = qobject_cast<QComboBox*>(w)) {
                const Register* reg = applet->registerByName(name);
                const Register::FieldInfo field =
                    reg ? reg->fieldInfo(bind) : Register::FieldInfo{};
                QVERIFY2(field.valid && combo->count() == 1 << (field.hi - field.lo + 1), what);
            }
        }
    }
};
