#include "MainApp.h"
#include "LogKind.h"

#include "Applet.h"
#include "AppletInstances.h"
#include "CallerKey.h"
#include "ConfigLoader.h"
#include "ControlBoard.h"
#include "LocalServer.h"
#include "Logs.h"
#include "MainWindow.h"
#include "MdiArea.h"
#include "StartupDialog.h"

#include "Application.h"
#include "Basic.h"
#include "Board.h"
#include "HBController.h"
#include "SpiController.h"
#include "SpiRaw.h"
#include "WatchDog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <system_error>

MainApp* MainApp::s_instance = nullptr;

namespace {
constexpr int MaxTimeoutMs = 600000;
// The chip's way back to its defaults at the end, whatever the board does: the program
// must be gone within 3 s of a quit.
constexpr int ShutdownSequenceMs = 2000;
// Set by quitAtOnce, from a signal handler too.
std::atomic<bool> g_quitAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
} // namespace

MainApp* MainApp::instance()
{
    if (!s_instance)
        s_instance = new MainApp;
    return s_instance;
}

void MainApp::destroyInstance()
{
    delete s_instance;
    s_instance = nullptr;
}

MainApp::MainApp() : m_pipeName(QString::fromLatin1(ChipName))
{
    m_splash = new StartupDialog;
    m_splash->setWindowTitle(QString::fromLatin1(ChipName));
}

MainApp::~MainApp()
{
    shutdown();
    delete m_splash;
}

void MainApp::setStyleSheet(const QString& styleSheet)
{
    m_styleSheet = styleSheet;
    m_splash->setStyleSheet(styleSheet);
}

void MainApp::applyStyleSheet()
{
    if (!m_styleSheet.isEmpty() && qApp->styleSheet() != m_styleSheet)
        qApp->setStyleSheet(m_styleSheet);
}

void MainApp::error(const QString& text)
{
    emit signal_log(LogKind::Error, text);
}

void MainApp::fatal(const QString& text)
{
    m_splash->hide();
    if (m_quitting)
        return; // asked to end: nobody is waiting for the reason
    applyStyleSheet();
    QMessageBox::critical(nullptr, QString::fromLatin1(ChipName), text);
}

bool MainApp::startServer()
{
    m_server = new LocalServer(this, this);
    m_server->hold(true); // requests wait until start-up has ended
    QString name = m_pipeName;
    for (;;) {
        if (m_quitting)
            return false;
        const LocalServer::ListenResult result = m_server->listen(name);
        if (result == LocalServer::ListenResult::Listening)
            break;
        if (result == LocalServer::ListenResult::Failed) {
            fatal(m_server->errorString() + tr("\nThe program ends."));
            return false;
        }
        m_splash->hide(); // it would stand over the question
        applyStyleSheet();
        const auto answer = QMessageBox::question(
            nullptr, QString::fromLatin1(ChipName),
            tr("Pipe is already used by another software\nUse another pipename?(Yes)"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        bool ok = false;
        if (answer == QMessageBox::Yes)
            name = QInputDialog::getText(nullptr, QString::fromLatin1(ChipName), tr("Pipename"),
                                         QLineEdit::Normal, name + QStringLiteral("_2"), &ok)
                       .trimmed();
        if (m_quitting)
            return false;
        if (!ok || name.isEmpty()) {
            fatal(tr("No pipe for scripting requests.\nThe program ends."));
            return false;
        }
    }
    m_pipeName = name;
    m_splash->show();
    return true;
}

bool MainApp::addApplet(Applet* applet, const QString& title)
{
    if (m_applets.size() >= MaxApplets) {
        applet->setParent(m_window); // goes with the window
        fatal(tr("Too many applets.\nThe program ends."));
        return false;
    }
    m_applets << applet;
    int n = -1; // place among the document-area applets: Ctrl+0, Ctrl+1, ...
    if (applet != m_logs) {
        n = m_documentApplets.size();
        m_documentApplets << applet;
        applet->setWindowTitle(QStringLiteral("(Ctrl+%1) ").arg(n) + title);
    }
    m_splash->step(tr("Setting up %1").arg(applet->objectName()));
    if (m_quitting)
        return false;
    if (!applet->setup()) {
        fatal(tr("Setting up the %1 window failed.\nThe program ends.").arg(applet->objectName()));
        return false;
    }
    if (QAction* action = applet->windowAction()) {
        action->setText(applet->windowTitle());
        if (n >= 0 && n <= 9)
            action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_0 + n)));
    }
    return true;
}

bool MainApp::init()
{
    // Listing the serial ports reads a few thousand sysfs files (over 10 ms): done in
    // another thread while this one builds the windows, and shown by start().
    try {
        m_portScan = std::async(std::launch::async, &ControlBoard::availablePorts);
    } catch (const std::system_error&) {
        // no thread to be had: start() lists them itself
    }
    m_splash->setSteps(11); // pipe, window, eight applets, link
    m_splash->show();
    m_splash->step(tr("Starting the scripting pipe"));
    if (!startServer())
        return false;

    m_settings.writeDefaults();
    m_splash->step(tr("Creating the main window"));
    m_window = new MainWindow;
    if (m_pipeName != QLatin1String(ChipName))
        m_window->setWindowTitle(QStringLiteral("%1 (pipe %2)").arg(ChipName, m_pipeName));

    // The link exists before the applets, so that none of them meets a null link.
    m_board = new ControlBoard;
    AppletInstances::controlBoard = m_board;

    m_logs = new Logs;
    AppletInstances::logs = m_logs;
    if (!addApplet(m_logs, tr("Log")))
        return false;
    m_logs->activate(); // the log needs no board
    connect(this, &MainApp::signal_log, m_logs, &Logs::slot_addLog);
    connect(m_server, &LocalServer::signal_log, m_logs, &Logs::slot_addLog);

    // ChipID is not part of this build. Application comes after the others, which it
    // drives, with its own window entry and shortcut.
    const auto addInstance = [this](Applet* applet, Applet*& instance) {
        instance = applet;
        return addApplet(applet, applet->windowTitle());
    };
    if (!addInstance(new Basic, AppletInstances::basic) ||
        !addInstance(new Board, AppletInstances::board) ||
        !addInstance(new HBController, AppletInstances::hbController) ||
        !addInstance(new SpiController, AppletInstances::spiController) ||
        !addInstance(new SpiRaw, AppletInstances::spiRaw) ||
        !addInstance(new WatchDog, AppletInstances::watchDog) ||
        !addInstance(new Application, AppletInstances::application))
        return false;

    m_splash->step(tr("Connecting the board link"));
    createBoardLink();
    return !m_quitting;
}

void MainApp::createBoardLink()
{
    const bool logging = m_window->logCheckBox()->isChecked();
    m_board->setCommLogging(logging);
    m_logs->setCommLogging(logging);
    m_board->setScript(m_settings.pythonPath(), m_settings.scriptPath());
    connect(m_board, &ControlBoard::signal_log, m_logs, &Logs::slot_addLog);
    connect(m_board, &ControlBoard::signal_tx, m_window, &MainWindow::slot_tx);
    connect(m_board, &ControlBoard::signal_rx, m_window, &MainWindow::slot_rx);
    connect(m_board, &ControlBoard::signal_stream, m_window, &MainWindow::slot_stream);
    connect(m_board, &ControlBoard::signal_connected, this, &MainApp::onConnected);
    connect(m_board, &ControlBoard::signal_disconnected, this, &MainApp::onDisconnected);

    connect(m_window, &MainWindow::signal_open, this, &MainApp::openBoardInteractive);
    connect(m_window, &MainWindow::signal_close, this, &MainApp::closeBoard);
    connect(m_window, &MainWindow::signal_commLogging, this, [this](bool on) {
        m_board->setCommLogging(on);
        m_logs->setCommLogging(on);
    });
    connect(m_window, &MainWindow::signal_loadConfig, this, &MainApp::loadConfigInteractive);
    connect(m_window, &MainWindow::signal_quitRequested, this, &MainApp::requestQuit);
    connect(m_window, &MainWindow::signal_rescanPorts, this,
            [this] { m_window->setPorts(ControlBoard::availablePorts()); });
}

void MainApp::start()
{
    if (!m_window)
        return;
    auto* dock = new QDockWidget(tr("Log"), m_window);
    dock->setObjectName(QStringLiteral("dockLogs"));
    dock->setWidget(m_logs);
    m_logs->setContainer(dock);
    if (QAction* action = m_logs->windowAction()) {
        connect(dock, &QDockWidget::visibilityChanged, action,
                [action, dock] { action->setChecked(dock->isVisible()); });
        action->setChecked(true);
    }
    m_window->addDockWidget(Qt::BottomDockWidgetArea, dock);
    // A short log strip leaves the document area room for the Board window.
    m_window->resizeDocks({dock}, {150}, Qt::Vertical);
    for (Applet* applet : qAsConst(m_documentApplets))
        m_window->mdiArea()->addApplet(applet);
    for (Applet* applet : qAsConst(m_applets))
        m_window->addWindowAction(applet->windowAction());

    m_window->setPorts(m_portScan.valid() ? m_portScan.get() : ControlBoard::availablePorts());
    m_splash->hide();
    applyStyleSheet();
    m_window->show();
    m_ready = true;
    m_server->hold(false); // after a quit, acceptsRequests() still starts none
    // Where scripts connect: shown even while the traffic is not logged.
    m_logs->addAlways(LogKind::Info, tr("Scripting pipe: %1").arg(m_server->fullServerName()));

    if (!m_startPort.isEmpty()) {
        QTimer::singleShot(0, this, [this, port = m_startPort] { openBoardInteractive(port); });
    }
}

void MainApp::shutdown()
{
    m_ready = false;
    if (m_server)
        m_server->close();
    if (m_board) {
        // The quit stopped all traffic; the chip's way back to its defaults is the one
        // thing still sent, whole whatever further signals come, and neither a long
        // script time-out nor a slow board may hold it up.
        ControlBoard::allowFinalTransactions();
        m_board->setTimeout(qMin(m_board->timeout(), ControlBoard::DefaultTimeoutMs));
        m_board->setQuitDeadline(ShutdownSequenceMs);
        deactivateApplets();
        m_board->disconnect(this);
        m_board->disconnectBoard();
    }
    // Applets first (they may still reach the link while they go), then the link.
    AppletInstances::basic = nullptr;
    AppletInstances::board = nullptr;
    AppletInstances::hbController = nullptr;
    AppletInstances::spiController = nullptr;
    AppletInstances::spiRaw = nullptr;
    AppletInstances::watchDog = nullptr;
    AppletInstances::chipId = nullptr;
    AppletInstances::application = nullptr;
    for (int i = m_applets.size() - 1; i >= 0; --i) {
        if (m_applets.at(i) != m_logs)
            delete m_applets.at(i);
    }
    m_applets.clear();
    m_documentApplets.clear();
    delete m_logs;
    m_logs = nullptr;
    AppletInstances::logs = nullptr;
    AppletInstances::controlBoard = nullptr;
    delete m_board;
    m_board = nullptr;
    delete m_window;
    m_window = nullptr;
    delete m_server;
    m_server = nullptr;
}

void MainApp::quitAtOnce() noexcept
{
    g_quitAsked.store(true);
    ControlBoard::interruptTransactions();
}

bool MainApp::acceptsRequests() const
{
    return !g_quitAsked.load();
}

void MainApp::requestQuit()
{
    m_quitting = true;
    // From now on nothing reaches the board but the shutdown sequence: a command that
    // is running sends no further line and returns, and no request is served anew.
    quitAtOnce();
    if (auto* board = qobject_cast<Board*>(AppletInstances::board))
        board->cancelWaits();
    // Questions and messages of start-up (or of a board that failed to open) run loops
    // of their own; they end as if declined.
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible())
            dialog->reject();
    }
    QCoreApplication::quit();
}

Applet* MainApp::appletByName(const QString& objectName) const
{
    for (Applet* applet : m_applets) {
        if (applet->objectName() == objectName)
            return applet;
    }
    return nullptr;
}

void MainApp::activateApplets()
{
    for (Applet* applet : qAsConst(m_applets))
        applet->activate();
    showWindowsOfLastSession();
}

// Without a saved layout, the windows a user had open come back when the board does;
// the first connection opens the Board window, the one most sessions start with.
void MainApp::showWindowsOfLastSession()
{
    if (!m_everConnected && AppletInstances::board)
        m_windowsToRestore = {AppletInstances::board};
    m_everConnected = true;
    for (Applet* applet : qAsConst(m_documentApplets)) {
        if (m_windowsToRestore.contains(applet) && applet->isActive())
            applet->showWindow();
    }
    m_windowsToRestore.clear();
}

void MainApp::deactivateApplets()
{
    for (Applet* applet : qAsConst(m_applets)) {
        if (applet == m_logs || !applet->isActive())
            continue;
        applet->deactivate();
        if (QWidget* container = applet->container()) {
            if (container->isVisible())
                m_windowsToRestore.insert(applet);
            container->hide();
        }
    }
}

void MainApp::onConnected()
{
    activateApplets();
    m_window->setConnected(true, m_board->portName(), m_board->firmwareVersion());
    emit signal_log(LogKind::Info, tr("Board connected on %1").arg(m_board->portName()));
}

void MainApp::onDisconnected()
{
    deactivateApplets();
    if (AppletInstances::spiController)
        AppletInstances::spiController->runFunction(QStringLiteral("Clear"), QVariant(QString()));
    if (m_window)
        m_window->setConnected(false, QString(), QString());
    emit signal_log(LogKind::Info, tr("Board disconnected"));
}

bool MainApp::openBoard(const QString& port)
{
    if (m_board->isConnected()) {
        error(tr("Board is already connected on %1").arg(m_board->portName()));
        return false;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = m_board->connectBoard(port);
    QApplication::restoreOverrideCursor();
    if (!ok)
        error(openFailure(port));
    return ok;
}

QString MainApp::openFailure(const QString& port) const
{
    QString reason = m_board->isConnected()
                         ? tr("a board is already connected on %1").arg(m_board->portName())
                         : m_board->connectError();
    if (reason.isEmpty())
        reason = tr("no reason given");
    return tr("Cannot open the board on %1: %2").arg(port, reason);
}

void MainApp::openBoardInteractive(const QString& port)
{
    if (openBoard(port))
        return;
    // The reason is in the log too, but the box stands over it.
    QString text = openFailure(port) +
                   tr(".\n\nChoose another port from the Port list and press Open, or choose "
                      "\"%1\" for the simulated board.")
                       .arg(QLatin1String(ControlBoard::MockupPort));
    if (port == QLatin1String(ControlBoard::ScriptPort))
        text += tr("\nThe script board runs python_path with script_path (rmx4218.ini).");
    QMessageBox::warning(m_window, m_window->windowTitle(), text);
}

void MainApp::closeBoard()
{
    deactivateApplets();
    m_board->disconnectBoard();
}

// Scripting ------------------------------------------------------------------------------

namespace {

// "Board.setForward1" -> "Board", "setForward1". False without an applet part.
bool splitName(const QString& name, QString* applet, QString* inner)
{
    const int dot = name.indexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return false;
    *applet = name.left(dot);
    *inner = name.mid(dot + 1);
    return true;
}

} // namespace

bool MainApp::set(const QString& name, const QVariant& value)
{
    QString appletName, inner;
    Applet* applet = nullptr;
    bool ok = m_ready && splitName(name, &appletName, &inner);
    if (ok)
        applet = appletByName(appletName);
    ok = ok && applet && m_board->isConnected() &&
         applet->setValue(inner, value, CallerKey::External);
    if (!ok)
        error(QStringLiteral("Error SET:%1").arg(name));
    return ok;
}

QVariant MainApp::get(const QString& name)
{
    QVariant result;
    QString appletName, inner;
    if (!m_ready) {
        // nothing is served before start-up ends
    } else if (!splitName(name, &appletName, &inner)) {
        if (name == QLatin1String("version"))
            result = QCoreApplication::applicationVersion();
    } else if (Applet* applet = appletByName(appletName); applet && m_board->isConnected()) {
        result = applet->getValue(inner, CallerKey::External);
    }
    if (!result.isValid())
        error(QStringLiteral("Error GET %1").arg(name));
    return result;
}

QVariant MainApp::run(const QString& name, const QVariant& args)
{
    QVariant result;
    QString appletName, inner;
    if (!m_ready) {
        // nothing is served before start-up ends
    } else if (splitName(name, &appletName, &inner)) {
        Applet* applet = appletByName(appletName);
        if (applet && m_board->isConnected() && offersFunction(applet, inner))
            result = applet->runFunction(inner, args);
    } else if (name == QLatin1String("open")) {
        if (openBoard(args.toString().trimmed()))
            result = true;
    } else if (name == QLatin1String("close")) {
        closeBoard();
        result = true;
    } else if (name == QLatin1String("shutdown")) {
        // The answer still leaves: the event loop ends only once this request returns.
        requestQuit();
        result = true;
    } else if (name == QLatin1String("set_timeout")) {
        bool ok = false;
        const qlonglong ms = args.toLongLong(&ok);
        if (ok && ms > 0 && ms <= MaxTimeoutMs) {
            m_board->setTimeout(int(ms));
            result = true;
        }
    } else if (name == QLatin1String("write")) {
        QByteArray line =
            args.typeId() == QMetaType::QByteArray ? args.toByteArray() : args.toString().toUtf8();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        // One line of printable text: an inner line end would send a second, unasked
        // command, and control bytes act on the board itself (six CAN reset it, ENQ
        // is the keep-alive).
        const bool printable =
            !line.isEmpty() &&
            std::all_of(line.cbegin(), line.cend(), [](char c) { return c >= 0x20 && c < 0x7f; });
        QByteArray answer;
        if (printable && m_board->send(line, &answer)) // send() refuses without a board
            result = QString::fromUtf8(answer).trimmed();
    }
    if (!result.isValid())
        error(QStringLiteral("Error RUN:%1").arg(name));
    return result;
}

// Configuration files --------------------------------------------------------------------

// A name the applet does not offer is a failed request ("err"), not a command that ran
// and answered false.
bool MainApp::offersFunction(Applet* applet, const QString& name)
{
    return applet->commands().offers(name.section(QLatin1Char('('), 0, 0));
}

QString MainApp::registerMissingForConfig(const QList<ConfigLoader::Entry>& entries, Applet* board,
                                          Applet* spi)
{
    for (const ConfigLoader::Entry& e : entries) {
        if (!board->hasParameter(QStringLiteral("U") + e.name) || !spi->hasParameter(e.name))
            return e.name;
    }
    return QString();
}

bool MainApp::loadConfig(const QString& fileName, QString* message)
{
    QString text;
    bool ok = false;
    if (!m_board || !m_board->isConnected()) {
        text = tr("Please connect board before loading configuration registers");
    } else {
        const ConfigLoader::Result parsed = ConfigLoader::load(fileName);
        auto* board = qobject_cast<Board*>(AppletInstances::board);
        Applet* spi = AppletInstances::spiController;
        if (!parsed.ok) {
            text = tr("The configuration file was not loaded:\n%1").arg(parsed.error);
        } else if (!board || !spi) {
            text = tr("The Board and SpiController windows are needed to load a configuration");
        } else if (const QString missing = registerMissingForConfig(parsed.entries, board, spi);
                   !missing.isEmpty()) {
            // Checked before anything is stored: a configuration loads whole or not at all.
            text =
                tr("The configuration file was not loaded:\nregister %1 is not known").arg(missing);
        } else {
            ok = true;
            board->loadedRegisters.clear();
            QStringList failed;
            const QString field = QStringLiteral("[10:0]");
            for (const ConfigLoader::Entry& e : parsed.entries) {
                const bool stored = board->setValue(QStringLiteral("U") + e.name + field, e.value,
                                                    CallerKey::Internal) &&
                                    spi->setValue(e.name + field, e.value, CallerKey::Internal);
                if (stored)
                    board->loadedRegisters << e.name;
                else
                    failed << e.name;
            }
            if (failed.isEmpty()) {
                text = tr("%1 configuration registers loaded (%2).\nPress the \"Set User "
                          "Configuration\" button of the Board window to send them.")
                           .arg(parsed.entries.size())
                           .arg(board->loadedRegisters.join(QLatin1String(", ")));
            } else {
                ok = false;
                text = tr("Storing %1 failed.\nPress the \"Set User Configuration\" button of "
                          "the Board window to send the others.")
                           .arg(failed.join(QLatin1String(", ")));
            }
        }
    }
    emit signal_log(ok ? LogKind::Info : LogKind::Error, text);
    if (message)
        *message = text;
    return ok;
}

void MainApp::loadConfigInteractive()
{
    if (!m_board->isConnected()) {
        QMessageBox::warning(m_window, m_window->windowTitle(),
                             tr("Please connect board before loading configuration registers"));
        return;
    }
    const QString file = QFileDialog::getOpenFileName(m_window, tr("Load configuration"),
                                                      m_settings.folder(0), tr("Files (*.dorvel)"));
    if (file.isEmpty())
        return;
    m_settings.setFolder(0, QFileInfo(file).absolutePath());
    QString message;
    if (loadConfig(file, &message))
        QMessageBox::information(m_window, m_window->windowTitle(), message);
    else
        QMessageBox::warning(m_window, m_window->windowTitle(), message);
}
