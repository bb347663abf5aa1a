#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>

class Applet;
class AppletHelper;
class MdiArea;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;

// The main window: the document area with the applet windows, the port selector with
// Open and Close, the activity LEDs, the "Log" check box and the firmware version.
// It only shows and asks; MainApp acts on its signals.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    MdiArea* mdiArea() const { return m_mdi; }
    QMenu* windowsMenu() const { return m_windowsMenu; }
    QComboBox* portSelector() const { return m_port; }
    QCheckBox* logCheckBox() const { return m_log; }
    QLabel* firmwareLabel() const { return m_firmware; }

    // Lists the ports, keeping the current text.
    void setPorts(const QStringList& ports);
    void setConnected(bool connected, const QString& port, const QString& firmware);
    // Adds an applet's window action to the "&Windows" menu.
    void addWindowAction(QAction* action);
    // Opens (or raises) the help window of the applet; the Help menu's action does this
    // for the active applet window.
    AppletHelper* openHelp(Applet* applet);
    QAction* helpAction() const { return m_helpAction; }

public slots:
    void slot_tx();
    void slot_rx();
    void slot_stream(bool on);

signals:
    void signal_open(QString port);
    void signal_close();
    void signal_commLogging(bool on);
    void signal_loadConfig();
    void signal_rescanPorts();
    // The user closed the window (or chose Exit): the program ends.
    void signal_quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showAppletHelp();
    static void flash(QLabel* led, QTimer* timer, const char* onColor);

    MdiArea* m_mdi;
    QComboBox* m_port;
    QPushButton* m_open;
    QPushButton* m_close;
    QLabel* m_txLed;
    QLabel* m_rxLed;
    QTimer* m_txTimer;
    QTimer* m_rxTimer;
    QCheckBox* m_log;
    QLabel* m_firmware;
    QLabel* m_streamLabel;
    QMenu* m_windowsMenu;
    QAction* m_helpAction = nullptr;
    QHash<Applet*, QPointer<AppletHelper>> m_helpers;
};
