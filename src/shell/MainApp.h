#pragma once

#include "AppSettings.h"
#include "ConfigLoader.h"
#include "ScriptProtocol.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariant>

#include <future>

class Applet;
class ControlBoard;
class LocalServer;
class Logs;
class MainWindow;
class StartupDialog;

// The process-wide application object: starts the program (pipe, main window, applets,
// board link), serves the scripting requests, loads configuration files and shuts the
// program down. Lives in the GUI thread.
class MainApp : public QObject, public ScriptHandler
{
    Q_OBJECT
public:
    static constexpr int MaxApplets = 100;
    static constexpr const char* ChipName = "RMX4218";

    // The one instance, created on first use.
    static MainApp* instance();
    // Deletes the instance (after shutdown); instance() then makes a new one.
    static void destroyInstance();

    // Before init: the pipe name (default the chip name) and a port to open once started.
    void setPipeName(const QString& name) { m_pipeName = name; }
    void setStartPort(const QString& port) { m_startPort = port; }
    // Before init: the program's style sheet. The splash wears it at once, the whole
    // application once the windows are built (start): a form built under an application
    // style sheet is restyled with all its children each time a part of it changes
    // parent (tab pages, applets going into their sub-windows), while a sheet installed
    // afterwards styles each widget once.
    void setStyleSheet(const QString& styleSheet);

    // Pipe, main window, applets, board link. False (after telling the user) when the
    // program cannot run.
    bool init();
    // Applet windows and menu, port list, main window shown; opens the start port.
    void start();
    // Deactivates the applets, closes the port, deletes applets, link, window and pipe.
    void shutdown();
    // "run shutdown", SIGTERM, SIGINT, closing the main window: every wait in progress
    // ends (a running demonstration stops), start-up dialogs close and the event loop
    // ends, so that shutdown() follows at once. Safe at any point of start-up.
    void requestQuit();
    bool isQuitting() const { return m_quitting; }
    // The part of a quit that cannot wait for the event loop: no request is started any
    // more and the board transaction under way ends. Async-signal-safe.
    static void quitAtOnce() noexcept;

    ControlBoard* controlBoard() const { return m_board; }
    MainWindow* mainWindow() const { return m_window; }
    LocalServer* localServer() const { return m_server; }
    Logs* logs() const { return m_logs; }
    const QList<Applet*>& applets() const { return m_applets; }
    Applet* appletByName(const QString& objectName) const;
    AppSettings& settings() { return m_settings; }
    QString pipeName() const { return m_pipeName; }

    // Scripting: "Applet.name" or one of the program's own names.
    bool set(const QString& name, const QVariant& value);
    QVariant get(const QString& name);
    QVariant run(const QString& name, const QVariant& args);

    bool openBoard(const QString& port);
    // Deactivates the applets first, then closes the port.
    void closeBoard();

    // Loads a "*.dorvel" file into the user configuration of Board and SpiController.
    // *message is what to tell the user, on success as on failure.
    bool loadConfig(const QString& fileName, QString* message);

    // ScriptHandler
    bool scriptSet(const QString& name, const QVariant& value) override { return set(name, value); }
    QVariant scriptGet(const QString& name) override { return get(name); }
    QVariant scriptRun(const QString& name, const QVariant& args) override
    {
        return run(name, args);
    }
    bool acceptsRequests() const override;

public slots:
    void activateApplets();
    void deactivateApplets();

signals:
    void signal_log(int type, QString text);

private:
    MainApp();
    ~MainApp() override;

    bool startServer();
    bool addApplet(Applet* applet, const QString& title);
    void createBoardLink();
    void onConnected();
    void onDisconnected();
    void showWindowsOfLastSession();
    void openBoardInteractive(const QString& port);
    // "Cannot open the board on PORT: reason", after openBoard failed.
    QString openFailure(const QString& port) const;
    void loadConfigInteractive();
    static bool offersFunction(Applet* applet, const QString& name);
    static QString registerMissingForConfig(const QList<ConfigLoader::Entry>& entries,
                                            Applet* board, Applet* spi);
    void error(const QString& text);
    // Tells the user why the program cannot start (the splash would stand over it).
    void fatal(const QString& text);
    // Installs the style sheet application-wide, if not yet done.
    void applyStyleSheet();

    static MainApp* s_instance;

    AppSettings m_settings;
    QString m_pipeName;
    QString m_startPort;
    QString m_styleSheet;
    std::future<QStringList> m_portScan; // the port list, scanned while init builds
    StartupDialog* m_splash = nullptr;
    LocalServer* m_server = nullptr;
    MainWindow* m_window = nullptr;
    ControlBoard* m_board = nullptr;
    Logs* m_logs = nullptr;
    QList<Applet*> m_applets;
    QList<Applet*> m_documentApplets;
    QSet<Applet*> m_windowsToRestore;
    bool m_everConnected = false;
    bool m_ready = false;
    bool m_quitting = false;
};
