#include "MainWindow.h"

#include "Applet.h"
#include "AppletHelper.h"
#include "MdiArea.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

namespace {

constexpr int LedOnMs = 60;
const char* const LedOff = "#505050";

void setLedColor(QLabel* led, const char* color)
{
    led->setStyleSheet(QStringLiteral("background:%1; border-radius:6px;").arg(color));
}

QLabel* makeLed(const QString& name, const QString& toolTip, QWidget* parent)
{
    auto* led = new QLabel(parent);
    led->setObjectName(name);
    led->setFixedSize(12, 12);
    led->setToolTip(toolTip);
    setLedColor(led, LedOff);
    return led;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), m_mdi(new MdiArea(this)), m_port(new QComboBox(this)),
      m_open(new QPushButton(tr("Open"), this)), m_close(new QPushButton(tr("Close"), this)),
      m_txLed(makeLed(QStringLiteral("lbTx"), tr("Transmit"), this)),
      m_rxLed(makeLed(QStringLiteral("lbRx"), tr("Receive"), this)), m_txTimer(new QTimer(this)),
      m_rxTimer(new QTimer(this)), m_log(new QCheckBox(tr("Log"), this)),
      m_firmware(new QLabel(this)), m_streamLabel(new QLabel(this)), m_windowsMenu(nullptr)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("RMX4218"));
    setCentralWidget(m_mdi);
    resize(1280, 960);

    m_port->setObjectName(QStringLiteral("cmPort"));
    m_port->setEditable(true);
    m_port->setMinimumWidth(180);
    m_port->setToolTip(tr("Serial port, device path, \"mockup\" or \"script\""));
    m_open->setObjectName(QStringLiteral("pbOpen"));
    m_close->setObjectName(QStringLiteral("pbClose"));
    m_close->setEnabled(false);
    m_log->setObjectName(QStringLiteral("cbLog"));
    m_log->setToolTip(tr("Log the board communication"));
    m_firmware->setObjectName(QStringLiteral("lbFirmware"));

    auto* bar = new QToolBar(tr("Board"), this);
    bar->setObjectName(QStringLiteral("tbBoard"));
    bar->setMovable(false);
    bar->addWidget(new QLabel(tr("Port "), this));
    bar->addWidget(m_port);
    bar->addWidget(m_open);
    bar->addWidget(m_close);
    bar->addSeparator();
    bar->addWidget(new QLabel(tr(" TX "), this));
    bar->addWidget(m_txLed);
    bar->addWidget(new QLabel(tr(" RX "), this));
    bar->addWidget(m_rxLed);
    bar->addSeparator();
    bar->addWidget(m_log);
    addToolBar(Qt::TopToolBarArea, bar);
    statusBar()->addPermanentWidget(m_streamLabel);
    statusBar()->addPermanentWidget(m_firmware);

    for (QTimer* t : {m_txTimer, m_rxTimer}) {
        t->setSingleShot(true);
        t->setInterval(LedOnMs);
    }
    connect(m_txTimer, &QTimer::timeout, this, [this] { setLedColor(m_txLed, LedOff); });
    connect(m_rxTimer, &QTimer::timeout, this, [this] { setLedColor(m_rxLed, LedOff); });

    connect(m_open, &QPushButton::clicked, this, [this] {
        const QString port = m_port->currentText().trimmed();
        if (port.isEmpty()) {
            QMessageBox::warning(this, windowTitle(), tr("Choose a port first"));
            return;
        }
        emit signal_open(port);
    });
    connect(m_port->lineEdit(), &QLineEdit::returnPressed, m_open, &QPushButton::click);
    connect(m_close, &QPushButton::clicked, this, &MainWindow::signal_close);
    connect(m_log, &QCheckBox::toggled, this, &MainWindow::signal_commLogging);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* load = file->addAction(tr("Load configuration…"));
    load->setObjectName(QStringLiteral("actionLoadConfig"));
    connect(load, &QAction::triggered, this, &MainWindow::signal_loadConfig);
    QAction* rescan = file->addAction(tr("Rescan ports"));
    connect(rescan, &QAction::triggered, this, &MainWindow::signal_rescanPorts);
    file->addSeparator();
    QAction* quit = file->addAction(tr("E&xit"));
    connect(quit, &QAction::triggered, this, &QWidget::close);

    m_windowsMenu = menuBar()->addMenu(tr("&Windows"));
    m_windowsMenu->setObjectName(QStringLiteral("menuWindows"));
    QAction* cascade = m_windowsMenu->addAction(tr("Cascade"));
    connect(cascade, &QAction::triggered, m_mdi, &MdiArea::cascadeOpenWindows);
    QAction* tile = m_windowsMenu->addAction(tr("Tile"));
    connect(tile, &QAction::triggered, m_mdi, &MdiArea::tileOpenWindows);
    m_windowsMenu->addSeparator();

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    m_helpAction = help->addAction(tr("Help of the active window"));
    m_helpAction->setShortcut(QKeySequence::HelpContents);
    connect(m_helpAction, &QAction::triggered, this, &MainWindow::showAppletHelp);
}

void MainWindow::setPorts(const QStringList& ports)
{
    const QString current = m_port->currentText();
    m_port->clear();
    m_port->addItems(ports);
    if (!current.isEmpty())
        m_port->setCurrentText(current);
}

void MainWindow::setConnected(bool connected, const QString& port, const QString& firmware)
{
    m_open->setEnabled(!connected);
    m_close->setEnabled(connected);
    m_port->setEnabled(!connected);
    if (connected) {
        m_port->setCurrentText(port);
        m_firmware->setText(firmware.isEmpty() ? tr("Firmware: unknown")
                                               : tr("Firmware: %1").arg(firmware));
    } else {
        m_firmware->clear();
        m_streamLabel->clear();
    }
}

void MainWindow::addWindowAction(QAction* action)
{
    if (action)
        m_windowsMenu->addAction(action);
}

void MainWindow::flash(QLabel* led, QTimer* timer, const char* onColor)
{
    // Restyling is costly and lines come fast: a lit LED only stays on longer.
    if (!timer->isActive())
        setLedColor(led, onColor);
    timer->start();
}

void MainWindow::slot_tx()
{
    flash(m_txLed, m_txTimer, "#ff3030");
}

void MainWindow::slot_rx()
{
    flash(m_rxLed, m_rxTimer, "#30e030");
}

void MainWindow::slot_stream(bool on)
{
    m_streamLabel->setText(on ? tr("Streaming") : QString());
}

void MainWindow::showAppletHelp()
{
    Applet* applet = m_mdi->activeApplet();
    if (!applet) {
        QMessageBox::information(this, windowTitle(), tr("No applet window is active"));
        return;
    }
    openHelp(applet);
}

AppletHelper* MainWindow::openHelp(Applet* applet)
{
    // One help window per applet, a window of its own: shown again and raised when it
    // is already open.
    QPointer<AppletHelper>& helper = m_helpers[applet];
    if (!helper) {
        helper = new AppletHelper(applet, this);
        helper->setWindowFlag(Qt::Window);
        helper->setAttribute(Qt::WA_DeleteOnClose);
        helper->resize(520, 380);
    } else {
        helper->refresh();
    }
    helper->show();
    helper->raise();
    helper->activateWindow();
    return helper;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    emit signal_quitRequested();
}
