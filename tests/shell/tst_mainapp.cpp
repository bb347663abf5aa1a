#include "Applet.h"
#include "AppletHelper.h"
#include "AppletInstances.h"
#include "Board.h"
#include "CallerKey.h"
#include "ConfigLoader.h"
#include "ControlBoard.h"
#include "LocalServer.h"
#include "Logs.h"
#include "MainApp.h"
#include "MainWindow.h"
#include "MdiArea.h"
#include "SimulatedBoard.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QElapsedTimer>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

// The whole shell on the simulated board, started once for all the cases.
class TestMainApp : public QObject
{
    Q_OBJECT
private:
    MainApp* m_app = nullptr;
    QTemporaryDir m_dir;
    QString m_taken =
        QStringLiteral("rmx_tst_mainapp_%1").arg(QRandomGenerator::global()->generate());
    const QString m_sheet = QStringLiteral("QDialog { background: #f4f5f7; }");
    bool m_dialogsStyled = true; // every start-up dialog came up under the style sheet

    // Starts up while another program holds the pipe name, answering the dialogs as a user would.
    QStringList startUpDialogs(bool acceptOtherName)
    {
        QStringList seen;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            if (QApplication::activeModalWidget())
                m_dialogsStyled &= qApp->styleSheet() == m_sheet;
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen << box->text();
                QAbstractButton* b =
                    box->button(acceptOtherName ? QMessageBox::Yes : QMessageBox::No);
                b ? b->click() : box->accept();
            } else if (auto* input =
                           qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
                seen << input->labelText();
                input->setTextValue(m_taken + QStringLiteral("_b"));
                input->accept();
            }
        });
        user.start(20);
        qApp->setStyleSheet(QString());
        m_app = MainApp::instance();
        m_app->setPipeName(m_taken);
        m_app->setStyleSheet(m_sheet);
        seen.prepend(m_app->init() ? QStringLiteral("started") : QStringLiteral("ended"));
        return seen;
    }

    QString lastError() const
    {
        const auto items = m_app->logs()->entryList()->findItems("Error ", Qt::MatchContains);
        return items.isEmpty() ? QString() : items.last()->text();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path());    // the settings file goes there
        LocalServer otherProgram(nullptr); // never asked anything
        QCOMPARE(otherProgram.listen(m_taken), LocalServer::ListenResult::Listening);
        const QString question(
            "Pipe is already used by another software\nUse another pipename?(Yes)");
        const QStringList seen = startUpDialogs(false);
        QCOMPARE(seen.mid(0, 2), (QStringList{"ended", question}));
        QVERIFY(seen.value(2).contains(QLatin1String("The program ends")));
        QVERIFY(m_app->mainWindow() == nullptr);
        m_app->shutdown();
        MainApp::destroyInstance();

        QCOMPARE(startUpDialogs(true), (QStringList{"started", question, "Pipename"}));
        QVERIFY(otherProgram.isListening()); // the other program keeps its pipe
        QVERIFY(LocalServer::isNameInUse(m_taken + QStringLiteral("_b")));
        qApp->setStyleSheet(QString()); // as on a start that asked nothing
        m_app->start();
        QVERIFY(m_app->mainWindow()->isVisible());
        QVERIFY(!m_app->logs()->commLogging());
        QCOMPARE(m_app->logs()
                     ->entryList()
                     ->findItems(m_app->localServer()->fullServerName(), Qt::MatchEndsWith)
                     .size(),
                 1);
        // The style sheet, installed once the windows are built, and on the dialogs before.
        QCOMPARE(qApp->styleSheet(), m_sheet);
        QVERIFY(m_dialogsStyled);
        // The port list, scanned beside the start-up, ends with the two stand-ins.
        const QComboBox* ports = m_app->mainWindow()->portSelector();
        QVERIFY(ports->count() >= 2);
        QCOMPARE(ports->itemText(ports->count() - 1), QStringLiteral("script"));
        // Applets in their order; the document-area ones with Ctrl+0, Ctrl+1, ...
        QStringList names;
        for (Applet* a : m_app->applets())
            names << a->objectName();
        QCOMPARE(names, (QStringList{"Logs", "Basic", "Board", "HBController", "SpiController",
                                     "SpiRaw", "WatchDog", "Application"}));
        QCOMPARE(AppletInstances::board, m_app->applets().at(2));
        for (int i = 1; i < m_app->applets().size(); ++i) {
            const QString key = QStringLiteral("Ctrl+%1").arg(i - 1);
            QVERIFY(m_app->applets().at(i)->windowTitle().startsWith("(" + key + ") "));
            QCOMPARE(m_app->applets().at(i)->windowAction()->shortcut(), QKeySequence(key));
        }
    }

    void cleanupTestCase()
    {
        m_app->shutdown();
        QVERIFY(AppletInstances::logs == nullptr && AppletInstances::controlBoard == nullptr);
        MainApp::destroyInstance();
    }

    void cleanup()
    {
        m_app->closeBoard();
        m_app->logs()->clear();
    }

    // The first connection of the run, made as a user makes it: the windows it opens do
    // not hide each other's title bars, and one the user moved comes back where it was.
    void windowsOpenedTogetherShowTheirTitleBars()
    {
        MainWindow* window = m_app->mainWindow();
        const auto openAsUser = [window] {
            window->portSelector()->setCurrentText(QStringLiteral("mockup"));
            window->findChild<QPushButton*>(QStringLiteral("pbOpen"))->click();
        };
        openAsUser();
        QVERIFY(m_app->controlBoard()->isConnected());
        MdiArea* area = window->mdiArea();
        QList<QMdiSubWindow*> open; // bottom first
        for (QMdiSubWindow* sub : area->subWindowList(QMdiArea::StackingOrder)) {
            if (sub->isVisible())
                open << sub;
        }
        QCOMPARE(open.size(), 3);
        for (int i = 0; i < open.size(); ++i) {
            const QRect titleBar(open[i]->pos(), QSize(open[i]->width(), open[i]->widget()->y()));
            QVERIFY2(area->viewport()->rect().contains(titleBar),
                     qPrintable(open[i]->windowTitle()));
            for (int j = i + 1; j < open.size(); ++j) {
                QVERIFY2(!open[j]->geometry().intersects(titleBar),
                         qPrintable(open[j]->windowTitle() + " covers " + open[i]->windowTitle()));
            }
        }

        auto* application = qobject_cast<QMdiSubWindow*>(AppletInstances::application->container());
        application->move(200, 150);
        m_app->closeBoard();
        openAsUser();
        QVERIFY(application->isVisible());
        QCOMPARE(application->pos(), QPoint(200, 150));
    }

    // Errors show and are saved with the traffic hidden; every kind has its colour.
    void logShowsSavesAndColoursByType()
    {
        QFile file(m_dir.filePath(QDate::currentDate().toString("yyyyMMdd") + ".log"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier line\n") > 0);
        file.close();
        Logs logs;
        const auto colour = [&logs](int row) {
            return logs.entryList()->item(row)->foreground().color();
        };
        logs.setLogDirectory(m_dir.path());
        logs.setCommLogging(false);
        QVERIFY(logs.setSaving(true));
        logs.slot_addLog(-1, QStringLiteral("Error SET:Board.x"));
        logs.slot_addLog(108, QStringLiteral("hidden, so not saved"));
        QCOMPARE(logs.entryList()->count(), 1);
        logs.setCommLogging(true);
        logs.slot_addLog(108, QStringLiteral("multi\nline"));
        logs.setSaving(false);
        logs.slot_addLog(500, QStringLiteral("after saving, past the colour table"));
        QVERIFY(logs.entryList()->item(1)->text().endsWith(QLatin1String(" multi line")));
        QCOMPARE(colour(0), QColor(Qt::red));
        QCOMPARE(colour(1), QColor(Qt::green));
        QCOMPARE(colour(2), QColor(Qt::black));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        const QRegularExpression format(
            "^earlier line\nC\\(-1\\) [\\d:.]{12} ::: Error SET:Board.x \n"
            "C\\(108\\) [\\d:.]{12} ::: multi line \n$");
        QVERIFY2(format.match(text).hasMatch(), qPrintable(text));
        logs.setLogDirectory(QStringLiteral("/nonexistent/dir")); // unwritable: refused, reported
        QVERIFY(!logs.setSaving(true));
        QCOMPARE(colour(logs.entryList()->count() - 1), QColor(Qt::red));
    }

    void connectActivatesAndCloseOrLinkLossDeactivates()
    {
        auto activeOnes = [this] {
            QStringList active;
            for (Applet* a : m_app->applets())
                if (a->isActive() && a->windowAction()->isEnabled())
                    active << a->objectName();
            return active;
        };
        QCOMPARE(activeOnes(), QStringList{"Logs"}); // the log works without a board
        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        QCOMPARE(activeOnes().size(), m_app->applets().size());
        QVERIFY(!m_app->mainWindow()->firmwareLabel()->text().isEmpty());
        QVERIFY2(AppletInstances::board->container()->isVisible(),
                 "the first connection shows Board");
        QVERIFY2(!m_app->openBoard(QStringLiteral("mockup")), "a second open is refused");
        Applet* spi = AppletInstances::spiController;
        spi->showWindow();
        m_app->closeBoard();
        QVERIFY(!m_app->controlBoard()->isConnected());
        QCOMPARE(activeOnes(), QStringList{"Logs"});
        QVERIFY(!spi->container()->isVisible());
        QVERIFY(m_app->mainWindow()->firmwareLabel()->text().isEmpty());
        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        QVERIFY2(spi->container()->isVisible(),
                 "reconnecting brings back the windows that were open");

        // Link loss, as the link reports it: deactivated, and the chip images cleared.
        QVERIFY(spi->setValue(QStringLiteral("CR2[3:0]"), 5, CallerKey::Internal));
        emit m_app->controlBoard()->signal_disconnected();
        QCOMPARE(activeOnes(), QStringList{"Logs"});
        QCOMPARE(spi->getValue(QStringLiteral("CR2[3:0]"), CallerKey::Internal).toUInt(), 0u);
        QVERIFY(m_app->mainWindow()->firmwareLabel()->text().isEmpty());
    }

    void helpWindowOpensFromTheMainWindow()
    {
        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        MainWindow* window = m_app->mainWindow();
        // Basic and Application open with every connection; HB Controller from its
        // Windows menu entry (Ctrl+2).
        QVERIFY(AppletInstances::basic->container()->isVisible());
        QVERIFY(AppletInstances::application->container()->isVisible());
        Applet* hb = AppletInstances::hbController;
        QVERIFY(!hb->container()->isVisible());
        QCOMPARE(hb->windowAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+2")));
        QVERIFY(window->windowsMenu()->actions().contains(hb->windowAction()));
        hb->windowAction()->trigger();
        QVERIFY(hb->container()->isVisible());
        window->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(hb->container()));
        QCOMPARE(window->mdiArea()->activeApplet(), hb);

        window->helpAction()->trigger();
        QList<AppletHelper*> helpers = window->findChildren<AppletHelper*>();
        QCOMPARE(helpers.size(), 1);
        AppletHelper* helper = helpers.first();
        // A window of its own, not a fragment laid over the menu bar.
        QVERIFY(helper->isWindow());
        QVERIFY(helper->isVisible());
        QVERIFY(window->menuBar()->isEnabled());
        // HB Controller's commands carry no help text; they are listed all the same.
        QCOMPARE(helper->functionList()->topLevelItemCount(), hb->commands().names().size());
        window->helpAction()->trigger(); // the same window again
        QCOMPARE(window->findChildren<AppletHelper*>().size(), 1);

        SimulatedBoard* sim = m_app->controlBoard()->simulatedBoard();
        sim->clearReceivedLines();
        QCOMPARE(helper->runLine(QStringLiteral("setPWM2_Freq")),
                 QStringLiteral("setPWM2_Freq -> true"));
        QCOMPARE(sim->receivedLines(), QStringList{"set PWM1FREQ=20000"});

        // Another applet gets a window of its own.
        Applet* board = AppletInstances::board;
        window->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(board->container()));
        window->helpAction()->trigger();
        helpers = window->findChildren<AppletHelper*>();
        QCOMPARE(helpers.size(), 2);
        for (AppletHelper* h : helpers)
            h->close();
    }

    void scriptingRequestsFailAndAreLogged_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QVariant>("args");
        const auto row = [](bool connected, const char* request, const QVariant& args) {
            QTest::addRow("%s%s", request, connected ? "" : ", no board")
                << connected << request << args;
        };
        row(false, "set Logs.x", 1);
        row(false, "get Logs.x", {});
        row(true, "run Nobody.Clear", {});
        row(true, "run SpiController.NoSuchCommand", {});
        row(true, "run Board.setforward1", {}); // names are case-sensitive
        row(true, "set .x", 1);
        row(true, "set SpiController.No[3:0]", 9);
        row(false, "run set_timeout", 0LL);
        row(false, "run open", "/dev/nonexistent");
        row(false, "run write", "get VER");
        row(true, "run write", "get VER\rget VER");
        row(true, "run reboot", {});
    }

    void scriptingRequestsFailAndAreLogged()
    {
        QFETCH(bool, connected);
        QFETCH(QString, request);
        QFETCH(QVariant, args);
        if (connected)
            QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        m_app->logs()->clear();
        const QString verb = request.section(' ', 0, 0), name = request.section(' ', 1);
        if (verb == "set")
            QVERIFY(!m_app->set(name, args));
        else
            QVERIFY(!(verb == "get" ? m_app->get(name) : m_app->run(name, args)).isValid());
        const QString logged = verb == "set"   ? "Error SET:" + name
                               : verb == "get" ? "Error GET " + name
                                               : "Error RUN:" + name;
        QVERIFY2(lastError().endsWith(logged), qPrintable(lastError()));
        QCOMPARE(m_app->controlBoard()->isConnected(), connected);
    }

    void configFiles_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<quint32>>("values"); // loaded values, in file order
        QTest::addColumn<int>("errorLine");         // refused: the line named in the message
        QTest::addColumn<QString>("says");
        const auto row = [](const char* tag, const char* text, QList<quint32> values, int line,
                            const char* says) {
            QTest::newRow(tag) << QString(text) << values << line << QString(says);
        };
        row("numbers", "CR5A\n{\n0x7FF\n}\nCR10B\n{\n0b101\n}\nCR6A\n{\n0\n}", {0x7FF, 5, 0}, 0,
            "");
        row("layout", "\r\n  CR6B \r\n\r\n{\r\n   0x10\r\n\r\n}\r\n\r\n", {16}, 0, "");
        row("open brace", "CR5A\n0x10\n}\n", {}, 2, "\"{\" expected");
        row("close brace", "CR5A\n{\n1\nCR5B\n{\n2\n}\n", {}, 4, "\"}\" missing");
        row("unknown register", "CR5A\n{\n1\n}\nCR11A\n{\n1\n}\n", {}, 5,
            "unknown register name \"CR11A\"");
        row("not a number", "CR5A\n{\nabc\n}\n", {}, 3, "\"abc\" is not a number");
        row("12 bits", "CR5A\n{\n0x800\n}\n", {}, 3, "does not fit in 11 bits");
        row("empty block", "CR5A\n{\n}\n", {}, 3, "has no value");
        row("two values", "CR5A\n{\n1\n2\n}\n", {}, 4, "more than one value");
        row("twice", "CR5A\n{\n1\n}\nCR5A\n{\n2\n}\n", {}, 5, "second time");
        row("empty file", "", {}, 0, "no configuration register");
    }

    void configFiles()
    {
        QFETCH(QString, text);
        QFETCH(QList<quint32>, values);
        QFETCH(int, errorLine);
        QFETCH(QString, says);
        const ConfigLoader::Result r = ConfigLoader::parse(text);
        QCOMPARE(r.ok, values.size() > 0);
        QCOMPARE(r.errorLine, errorLine);
        const QString line = errorLine ? QStringLiteral("Line %1:").arg(errorLine) : QString();
        QVERIFY2(r.error.contains(says) && r.error.contains(line), qPrintable(r.error));
        QList<quint32> got; // a refused file hands out no register
        for (const auto& e : r.entries)
            got << e.value;
        QCOMPARE(got, values);
    }

    // A picture the style sheet names but the resources lack draws nothing: spin and
    // combo boxes would lose their arrows without a word.
    void styleSheetPicturesAreInTheResources()
    {
        QFile file(QStringLiteral(":/stylesheet/stylesheet"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
        int named = 0;
        for (auto it = url.globalMatch(QString::fromUtf8(file.readAll())); it.hasNext(); ++named) {
            const QString path = it.next().captured(1).trimmed();
            QVERIFY2(!QImage(path).isNull(), qPrintable(path));
        }
        QVERIFY(named > 0);
    }

    void loadConfigWritesAllOrNothing()
    {
        auto write = [this](const char* text) {
            QFile f(m_dir.filePath(QStringLiteral("c.dorvel")));
            return f.open(QIODevice::WriteOnly) && f.write(text) > 0 ? f.fileName() : QString();
        };
        QString message;
        QVERIFY(!m_app->loadConfig(write("CR5A\n{\n0x12\n}\n"), &message));
        QCOMPARE(message, "Please connect board before loading configuration registers");

        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        m_app->controlBoard()->simulatedBoard()->clearReceivedLines();
        auto* board = qobject_cast<Board*>(AppletInstances::board);
        Applet* spi = AppletInstances::spiController;
        const quint32 key = CallerKey::Internal;
        board->loadedRegisters = QStringList{QStringLiteral("CR9B")};
        QVERIFY2(
            m_app->loadConfig(
                write("CR5A\n{\n0x123\n}\nCR5B\n{\n0b10000000101\n}\nCR10A\n{\n7\n}\n"), &message),
            qPrintable(message));
        QVERIFY(message.contains(QLatin1String("\"Set User Configuration\"")));
        QCOMPARE(board->loadedRegisters, (QStringList{"CR5A", "CR5B", "CR10A"}));
        const QList<std::pair<QString, uint>> expected{
            {"CR5A", 0x123}, {"CR5B", 0x405}, {"CR10A", 7}};
        for (const auto& [name, value] : expected) {
            QCOMPARE(board->getValue("U" + name + "[10:0]", key).toUInt(), value);
            QCOMPARE(spi->getValue(name + "[10:0]", key).toUInt(), value);
        }
        // Loading only stores: the user sends with the Board window's button.
        QVERIFY(m_app->controlBoard()->simulatedBoard()->receivedLines().isEmpty());

        // A fault in the second block: the first block is not written either.
        QVERIFY(!m_app->loadConfig(write("CR5A\n{\n0x22\n}\nCR6B\n{\n0x800\n}\n"), &message));
        QVERIFY2(message.contains(QLatin1String("Line 7")), qPrintable(message));
        QCOMPARE(board->loadedRegisters, (QStringList{"CR5A", "CR5B", "CR10A"}));
        QCOMPARE(board->getValue(QStringLiteral("UCR5A[10:0]"), key).toUInt(), 0x123u);
        QCOMPARE(spi->getValue(QStringLiteral("CR5A[10:0]"), key).toUInt(), 0x123u);

        // A byte-order mark, as Windows editors write it, is not part of the first name.
        QVERIFY2(m_app->loadConfig(write("\xEF\xBB\xBF"
                                         "CR6A\n{\n3\n}\n"),
                                   &message),
                 qPrintable(message));
        QCOMPARE(board->loadedRegisters, QStringList{"CR6A"});
    }

    // Last: the program is quitting afterwards. File > Exit during a motor command's wait
    // ends that wait at once, and the command leaves the outputs off.
    void exitEndsAWaitAtOnce()
    {
        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        SimulatedBoard* chip = m_app->controlBoard()->simulatedBoard();
        QAction* exit = nullptr;
        for (QAction* action : m_app->mainWindow()->findChildren<QAction*>())
            if (action->text() == QLatin1String("E&xit"))
                exit = action;
        QVERIFY(exit);
        auto* board = qobject_cast<Board*>(AppletInstances::board);
        QTimer::singleShot(200, exit, &QAction::trigger);
        QTimer::singleShot(100, this, [chip] { chip->clearReceivedLines(); });
        QElapsedTimer t;
        t.start();
        board->Delay(5000);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(m_app->isQuitting());
        t.restart();
        AppletInstances::basic->runFunction(QStringLiteral("setForward1"), QString());
        QVERIFY(t.elapsed() < 1000);
        const QString lines = chip->receivedLines().join('|');
        QVERIFY2(lines.contains(QLatin1String("set DIO25=1")), "the command ran up to its wait");
        static const QRegularExpression cr0(QStringLiteral("SPI0CS0DATA=020([0-9A-F]{3})"));
        for (const QRegularExpressionMatch& frame : cr0.globalMatch(lines))
            QVERIFY2((frame.captured(1).toUInt(nullptr, 16) & 0b101) == 0, qPrintable(lines));
    }
};

QTEST_MAIN(TestMainApp)
#include "tst_mainapp.moc"
