#include "Applet.h"
#include "AppletInstances.h"
#include "CallerKey.h"
#include "ControlBoard.h"
#include "LocalServer.h"
#include "Logs.h"
#include "MainApp.h"
#include "MainWindow.h"
#include "SimulatedBoard.h"

#include "Board.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

// The whole shell on the simulated board, started once for all the cases.
class TestMainApp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void appletsAreCreatedInOrderWithShortcuts();
    void connectActivatesAndCloseDeactivates();
    void linkLossDeactivatesAndClearsChipImages();
    void scriptingNeedsAKnownAppletAndABoard();
    void ownNamesAreServed_data();
    void ownNamesAreServed();
    void configurationNeedsABoard();
    void configurationLoadsIntoBoardAndSpiController();
    void faultyConfigurationChangesNothing();

private:
    QString writeFile(const QString& name, const QByteArray& text);
    QStringList errorEntries() const;

    MainApp* m_app = nullptr;
    QTemporaryDir m_dir;
    QString m_oldCurrent;
};

void TestMainApp::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_oldCurrent = QDir::currentPath();
    QDir::setCurrent(m_dir.path()); // the settings file goes there
    m_app = MainApp::instance();
    QCOMPARE(MainApp::instance(), m_app);
    m_app->setPipeName(
        QStringLiteral("rmx_tst_mainapp_%1").arg(QRandomGenerator::global()->generate()));
    QVERIFY(m_app->init());
    m_app->start();
    QVERIFY(m_app->mainWindow()->isVisible());
    QVERIFY(m_app->localServer()->isListening());
    QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("rmx4218.ini"))));
}

void TestMainApp::cleanupTestCase()
{
    m_app->shutdown();
    QVERIFY(AppletInstances::logs == nullptr);
    QVERIFY(AppletInstances::controlBoard == nullptr);
    MainApp::destroyInstance();
    QDir::setCurrent(m_oldCurrent);
}

void TestMainApp::cleanup()
{
    m_app->closeBoard();
    m_app->logs()->clear();
}

QString TestMainApp::writeFile(const QString& name, const QByteArray& text)
{
    QFile f(m_dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(text);
    return f.fileName();
}

QStringList TestMainApp::errorEntries() const
{
    QStringList texts;
    QListWidget* list = m_app->logs()->entryList();
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->data(Qt::UserRole).toInt() < 0)
            texts << list->item(i)->text();
    }
    return texts;
}

void TestMainApp::appletsAreCreatedInOrderWithShortcuts()
{
    QStringList names;
    for (Applet* a : m_app->applets())
        names << a->objectName();
    QCOMPARE(names, (QStringList{"Logs", "Board", "SpiController", "SpiRaw", "WatchDog"}));

    QCOMPARE(AppletInstances::logs, m_app->applets().at(0));
    QCOMPARE(AppletInstances::controlBoard, m_app->controlBoard());
    QVERIFY(AppletInstances::basic == nullptr);
    QVERIFY(AppletInstances::hbController == nullptr);
    QVERIFY(AppletInstances::chipId == nullptr);
    QCOMPARE(m_app->appletByName(QStringLiteral("Logs")), AppletInstances::logs);
    QVERIFY(m_app->appletByName(QStringLiteral("Nothing")) == nullptr);

    const QList<QAction*> menu = m_app->mainWindow()->windowsMenu()->actions();
    for (int i = 1; i < m_app->applets().size(); ++i) {
        Applet* a = m_app->applets().at(i);
        const QString prefix = QStringLiteral("(Ctrl+%1) ").arg(i - 1);
        QVERIFY2(a->windowTitle().startsWith(prefix), qPrintable(a->windowTitle()));
        QVERIFY(a->windowAction());
        QCOMPARE(a->windowAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+%1").arg(i - 1)));
        QVERIFY(menu.contains(a->windowAction()));
        QVERIFY(a->container());
    }
}

void TestMainApp::connectActivatesAndCloseDeactivates()
{
    ControlBoard* board = m_app->controlBoard();
    QVERIFY(!board->isConnected());
    for (Applet* a : m_app->applets()) {
        if (a != m_app->logs())
            QVERIFY2(!a->isActive(), qPrintable(a->objectName()));
    }
    QVERIFY(m_app->logs()->isActive()); // the log works without a board

    QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
    for (Applet* a : m_app->applets()) {
        QVERIFY2(a->isActive(), qPrintable(a->objectName()));
        QVERIFY(a->windowAction()->isEnabled());
    }
    QVERIFY(!m_app->mainWindow()->firmwareLabel()->text().isEmpty());
    QVERIFY2(AppletInstances::board->container()->isVisible(), "the first connection shows Board");
    QVERIFY2(!m_app->openBoard(QStringLiteral("mockup")), "a second open is refused");

    Applet* shown = m_app->applets().size() > 1 ? m_app->applets().at(1) : nullptr;
    if (shown) {
        shown->showWindow();
        QVERIFY(shown->container()->isVisible());
    }
    m_app->closeBoard();
    QVERIFY(!board->isConnected());
    for (Applet* a : m_app->applets()) {
        if (a == m_app->logs())
            continue;
        QVERIFY2(!a->isActive(), qPrintable(a->objectName()));
        QVERIFY(!a->windowAction()->isEnabled());
    }
    if (shown)
        QVERIFY(!shown->container()->isVisible());
    QVERIFY(m_app->logs()->isActive());
    QVERIFY(m_app->mainWindow()->firmwareLabel()->text().isEmpty());

    // Reconnecting brings back the windows that were open.
    QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
    if (shown)
        QVERIFY(shown->container()->isVisible());
    m_app->closeBoard();
}

void TestMainApp::linkLossDeactivatesAndClearsChipImages()
{
    QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
    Applet* spi = AppletInstances::spiController;
    if (spi) {
        QVERIFY(spi->setValue(QStringLiteral("CR2[3:0]"), 5, CallerKey::Internal));
        QCOMPARE(spi->getValue(QStringLiteral("CR2[3:0]"), CallerKey::Internal).toUInt(), 5u);
    }
    // What the link reports when the board goes away.
    emit m_app->controlBoard()->signal_disconnected();
    for (Applet* a : m_app->applets()) {
        if (a != m_app->logs())
            QVERIFY2(!a->isActive(), qPrintable(a->objectName()));
    }
    if (spi)
        QCOMPARE(spi->getValue(QStringLiteral("CR2[3:0]"), CallerKey::Internal).toUInt(), 0u);
    QVERIFY(m_app->mainWindow()->firmwareLabel()->text().isEmpty());
}

void TestMainApp::scriptingNeedsAKnownAppletAndABoard()
{
    // No board: applet requests fail and are logged.
    QVERIFY(!m_app->set(QStringLiteral("Logs.x"), 1));
    QVERIFY(!m_app->get(QStringLiteral("Logs.x")).isValid());
    QVERIFY(!m_app->run(QStringLiteral("Logs.Clear"), QString()).isValid());
    const QStringList errors = errorEntries();
    QCOMPARE(errors.size(), 3);
    QVERIFY(errors[0].endsWith(QLatin1String("Error SET:Logs.x")));
    QVERIFY(errors[1].endsWith(QLatin1String("Error GET Logs.x")));
    QVERIFY(errors[2].endsWith(QLatin1String("Error RUN:Logs.Clear")));

    QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
    QCOMPARE(m_app->run(QStringLiteral("Logs.Clear"), QString()), QVariant(true));
    QCOMPARE(m_app->run(QStringLiteral("Logs.NoSuchCommand"), QString()), QVariant(false));
    QVERIFY(!m_app->run(QStringLiteral("Nobody.Clear"), QString()).isValid());
    QVERIFY(!m_app->get(QStringLiteral("Nobody.x")).isValid());
    QVERIFY(!m_app->set(QStringLiteral("Nobody.x"), 1));
    QVERIFY(!m_app->set(QStringLiteral(".x"), 1));
    QVERIFY(!m_app->set(QStringLiteral("Logs."), 1));
    QVERIFY(!m_app->set(QStringLiteral("nodot"), 1));
    QVERIFY(m_app->set(QStringLiteral("SpiController.CR2[3:0]"), qlonglong(9)));
    QCOMPARE(m_app->get(QStringLiteral("SpiController.CR2[3:0]")).toUInt(), 9u);
    QVERIFY(!m_app->set(QStringLiteral("SpiController.NoRegister[3:0]"), qlonglong(9)));
}

void TestMainApp::ownNamesAreServed_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("args");
    QTest::addColumn<QVariant>("result");

    QTest::newRow("version") << false << "get"
                             << "version" << QVariant()
                             << QVariant(QCoreApplication::applicationVersion());
    QTest::newRow("get unknown own name") << false << "get"
                                          << "nothing" << QVariant() << QVariant();
    QTest::newRow("set_timeout") << false << "run"
                                 << "set_timeout" << QVariant(qlonglong(800)) << QVariant(true);
    QTest::newRow("set_timeout zero") << false << "run"
                                      << "set_timeout" << QVariant(qlonglong(0)) << QVariant();
    QTest::newRow("set_timeout text")
        << false << "run"
        << "set_timeout" << QVariant(QStringLiteral("soon")) << QVariant();
    QTest::newRow("open unknown port")
        << false << "run"
        << "open" << QVariant(QStringLiteral("/dev/nonexistent")) << QVariant();
    QTest::newRow("open mockup") << false << "run"
                                 << "open" << QVariant(QStringLiteral("mockup")) << QVariant(true);
    QTest::newRow("write without board")
        << false << "run"
        << "write" << QVariant(QStringLiteral("get VER")) << QVariant();
    QTest::newRow("write two lines")
        << true << "run"
        << "write" << QVariant(QStringLiteral("get VER\rget VER")) << QVariant();
    QTest::newRow("close") << true << "run"
                           << "close" << QVariant() << QVariant(true);
    QTest::newRow("unknown own command") << true << "run"
                                         << "reboot" << QVariant() << QVariant();
}

void TestMainApp::ownNamesAreServed()
{
    QFETCH(bool, connected);
    QFETCH(QString, verb);
    QFETCH(QString, name);
    QFETCH(QVariant, args);
    QFETCH(QVariant, result);
    if (connected)
        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
    const QVariant got = verb == QLatin1String("get") ? m_app->get(name) : m_app->run(name, args);
    QCOMPARE(got, result);
    if (name == QLatin1String("set_timeout") && result.toBool())
        QCOMPARE(m_app->controlBoard()->timeout(), args.toInt());
    if (name == QLatin1String("open"))
        QCOMPARE(m_app->controlBoard()->isConnected(), result.toBool());
    if (name == QLatin1String("close"))
        QVERIFY(!m_app->controlBoard()->isConnected());
}

void TestMainApp::configurationNeedsABoard()
{
    const QString file = writeFile(QStringLiteral("ok.dorvel"), "CR5A\n{\n0x12\n}\n");
    QString message;
    QVERIFY(!m_app->loadConfig(file, &message));
    QCOMPARE(message,
             QStringLiteral("Please connect board before loading configuration registers"));
}

void TestMainApp::configurationLoadsIntoBoardAndSpiController()
{
    QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
    m_app->controlBoard()->simulatedBoard()->clearReceivedLines();
    auto* board = static_cast<Board*>(AppletInstances::board);
    Applet* spi = AppletInstances::spiController;
    board->loadedRegisters = QStringList{QStringLiteral("CR9B")};
    const QString file =
        writeFile(QStringLiteral("user.dorvel"), "CR5A\n{\n0x123\n}\nCR5B\n{\n0b10000000101\n}\n"
                                                 "CR10A\n{\n7\n}\n");
    QString message;
    QVERIFY2(m_app->loadConfig(file, &message), qPrintable(message));
    QVERIFY(message.contains(QLatin1String("\"Set User Configuration\"")));
    QCOMPARE(board->loadedRegisters, (QStringList{"CR5A", "CR5B", "CR10A"}));
    const quint32 key = CallerKey::Internal;
    QCOMPARE(board->getValue(QStringLiteral("UCR5A[10:0]"), key).toUInt(), 0x123u);
    QCOMPARE(board->getValue(QStringLiteral("UCR5B[10:0]"), key).toUInt(), 0x405u);
    QCOMPARE(board->getValue(QStringLiteral("UCR10A[10:0]"), key).toUInt(), 7u);
    QCOMPARE(spi->getValue(QStringLiteral("CR5A[10:0]"), key).toUInt(), 0x123u);
    QCOMPARE(spi->getValue(QStringLiteral("CR5B[10:0]"), key).toUInt(), 0x405u);
    QCOMPARE(spi->getValue(QStringLiteral("CR10A[10:0]"), key).toUInt(), 7u);
    // Loading only stores: the user sends with the Board window's button.
    QVERIFY(m_app->controlBoard()->simulatedBoard()->receivedLines().isEmpty());
}

void TestMainApp::faultyConfigurationChangesNothing()
{
    QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
    auto* board = static_cast<Board*>(AppletInstances::board);
    Applet* spi = AppletInstances::spiController;
    const quint32 key = CallerKey::Internal;
    QVERIFY(board->setValue(QStringLiteral("UCR6A[10:0]"), 0x11, key));
    QVERIFY(spi->setValue(QStringLiteral("CR6A[10:0]"), 0x11, key));
    board->loadedRegisters = QStringList{QStringLiteral("CR6A")};

    const QString file =
        writeFile(QStringLiteral("bad.dorvel"), "CR6A\n{\n0x22\n}\nCR6B\n{\n0x800\n}\n");
    QString message;
    QVERIFY(!m_app->loadConfig(file, &message));
    QVERIFY2(message.contains(QLatin1String("Line 7")), qPrintable(message));
    QCOMPARE(board->loadedRegisters, QStringList{"CR6A"});
    QCOMPARE(board->getValue(QStringLiteral("UCR6A[10:0]"), key).toUInt(), 0x11u);
    QCOMPARE(spi->getValue(QStringLiteral("CR6A[10:0]"), key).toUInt(), 0x11u);
    QVERIFY(!errorEntries().isEmpty());
}

QTEST_MAIN(TestMainApp)
#include "tst_mainapp.moc"
