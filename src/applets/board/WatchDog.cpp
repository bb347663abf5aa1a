#include "WatchDog.h"

#include "BoardLog.h"

#include "AppletCalls.h"
#include "AppletInstances.h"
#include "CallerKey.h"
#include "ChipRegisters.h"
#include "Register.h"
#include "Variable.h"
#include "ui_watchdog.h"

#include <cmath>

namespace {

// Safety switch state, mirrored on board pin DIO21.
Register WDdio("WDdio=0#;", "WDdio");
// Board firmware's watchdog service routine on or off.
Register RoutineEN("RoutineEN=1#;", "RoutineEN");
// Image of the chip's WD_CFG bit (CR1[8]): 0 = 25 ms, 1 = 500 ms.
Register WDTimeout("WDTimeout=0#;", "WDTimeout");
// Service routine period in ms.
Variable WDTime(20, "WDTime", "WDservice routine period", 1, 1000);

// Period sent on every connection, whatever WDTime holds.
constexpr int DefaultRoutinePeriodMs = 20;

Applet* chipApplet()
{
    Applet* spi = AppletInstances::spiController;
    if (!spi)
        qCWarning(lcBoard) << "SpiController not available; chip watchdog timeout unchanged";
    return spi;
}
} // namespace

WatchDog::WatchDog(QWidget* parent) : Applet(parent), ui(new Ui_WatchDog)
{
    ui->setupUi(this);
    // Both commands share one help text.
    const QString help = QStringLiteral("Sets WD repeat period");
    commandTable().add(QStringLiteral("setRoutineTime"), help, [this](const QVariant&) {
        setRoutineTime();
        return QVariant(true);
    });
    commandTable().add(QStringLiteral("WDenable"), help, [this](const QVariant&) {
        enableRoutine();
        return QVariant(true);
    });
}

WatchDog::~WatchDog()
{
    delete ui;
}

bool WatchDog::initParameters()
{
    addRegister(&WDdio);
    addRegister(&RoutineEN);
    addVariable(&WDTime);
    addRegister(&WDTimeout);
    addRegister(&ChipRegisters::CR1);
    return true;
}

void WatchDog::onActivate()
{
    AppletCalls::sendLine(QStringLiteral("set WDen=1"));
    AppletCalls::sendLine(QStringLiteral("set WDtime=%1").arg(DefaultRoutinePeriodMs));
}

QVariant WatchDog::runFunction(const QString& name, const QVariant& args)
{
    return dispatchCommand(name, args);
}

void WatchDog::setRoutineTime()
{
    const qint64 periodMs = static_cast<qint64>(std::trunc(WDTime.value()));
    AppletCalls::sendLine(QStringLiteral("set WDtime=%1").arg(periodMs));
    qCDebug(lcBoard).noquote()
        << QStringLiteral("WD service routine period set = %1ms").arg(periodMs);
}

void WatchDog::enableRoutine()
{
    // The box, not the register, decides: a partly checked box counts as on.
    const bool on = ui->cbRoutineEN_0->checkState() != Qt::Unchecked;
    AppletCalls::sendLine(on ? QStringLiteral("set WDen=1") : QStringLiteral("set WDen=0"));
}

void WatchDog::on_cbWDdio_toggled(bool checked)
{
    AppletCalls::sendLine(checked ? QStringLiteral("set DIO21=1") : QStringLiteral("set DIO21=0"));
}

void WatchDog::on_cbRoutineEN_0_toggled()
{
    runFunction(QStringLiteral("WDenable"), QVariant(QString()));
}

void WatchDog::on_cbWDTimeout_clicked(bool checked)
{
    Applet* spi = chipApplet();
    if (!spi)
        return;
    const QString wdCfg = QStringLiteral("CR1[8]");
    spi->setValue(wdCfg, checked ? 1u : 0u, CallerKey::Internal);
    if (!checked) {
        spi->runFunction(QStringLiteral("WriteCR1"), QVariant(QString()));
        return;
    }
    // The long timeout goes out after a fresh status read; WD_CFG is set again around
    // the write so that nothing the read refreshes can leave it cleared.
    spi->runFunction(QStringLiteral("ReadSR0"), QVariant(QString()));
    spi->setValue(wdCfg, 1u, CallerKey::Internal);
    spi->runFunction(QStringLiteral("WriteCR1"), QVariant(QString()));
    spi->setValue(wdCfg, 1u, CallerKey::Internal);
}
