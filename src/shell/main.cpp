#include "MainApp.h"
#include "SignalWatcher.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFont>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QFont font = QApplication::font();
    font.setPixelSize(12);
    QApplication::setFont(font);
    QApplication::setApplicationName(QStringLiteral("RMX4218"));
    QApplication::setApplicationVersion(QStringLiteral(RMX_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    // SIGTERM and SIGINT quit like "run shutdown" or closing the window, at any point:
    // during start-up they close its questions and start-up stops.
    SignalWatcher watcher;
    SignalWatcher::setImmediateAction(&MainApp::quitAtOnce);
    QObject::connect(&watcher, &SignalWatcher::signal_received, &app,
                     [](int) { MainApp::instance()->requestQuit(); });

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("RMX4218 demonstration board control"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Open this port after start-up (a serial port, a "
                       "device path, \"mockup\" or \"script\")."),
        QStringLiteral("name"));
    const QCommandLineOption pipeOption(
        QStringLiteral("pipe"),
        QStringLiteral("Name of the scripting pipe (default RMX4218), or the full path of its "
                       "socket."),
        QStringLiteral("name"));
    parser.addOption(portOption);
    parser.addOption(pipeOption);
    parser.process(app);

    MainApp* mainApp = MainApp::instance();
    QFile style(QStringLiteral(":/stylesheet/stylesheet"));
    if (style.open(QIODevice::ReadOnly | QIODevice::Text))
        mainApp->setStyleSheet(QString::fromUtf8(style.readAll()));
    if (parser.isSet(pipeOption))
        mainApp->setPipeName(parser.value(pipeOption));
    if (parser.isSet(portOption))
        mainApp->setStartPort(parser.value(portOption));

    int rc = 1;
    if (mainApp->init()) {
        mainApp->start();
        // A quit asked for before the loop runs would not reach it.
        rc = mainApp->isQuitting() ? 0 : app.exec();
    } else if (mainApp->isQuitting()) {
        rc = 0;
    }
    mainApp->shutdown();
    MainApp::destroyInstance();
    return rc;
}
