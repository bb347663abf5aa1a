#include "Applet.h"
#include "AppletHelper.h"
#include "AppletInstances.h"
#include "Board.h"
#include "CallerKey.h"
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
#include <QScopeGuard>
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

    // Opens the simulated board from the tool bar, as a user does.
    void connectAsUser()
    {
        MainWindow* window = m_app->mainWindow();
        window->portSelector()->setCurrentText(QStringLiteral("mockup"));
        window->findChild<QPushButton*>(QStringLiteral("pbOpen"))->click();
    }

    // Leaves open only the windows a first connection opens, Basic, Board and Application,
    // in that stacking order, whatever a later connection restored. A case that opens
    // more closes them again, so that the next connection does not restore them.
    void openFirstWindowsOnly()
    {
        for (QMdiSubWindow* sub : openWindows())
            sub->close();
        for (Applet* applet :
             {AppletInstances::basic, AppletInstances::board, AppletInstances::application})
            applet->windowAction()->trigger();
    }

    // The open document-area windows, bottom first.
    QList<QMdiSubWindow*> openWindows() const
    {
        QList<QMdiSubWindow*> open;
        const auto all = m_app->mainWindow()->mdiArea()->subWindowList(QMdiArea::StackingOrder);
        for (QMdiSubWindow* sub : all) {
            if (sub->isVisible())
                open << sub;
        }
        return open;
    }

    static QStringList sortedNames(const QList<QMdiSubWindow*>& windows)
    {
        QStringList names;
        for (const QMdiSubWindow* sub : windows)
            names << sub->widget()->objectName();
        names.sort();
        return names;
    }

    static QRect titleBar(const QMdiSubWindow* sub)
    {
        return QRect(sub->pos(), QSize(sub->width(), sub->widget()->y()));
    }

    // "A covers B" for the first title bar a window above covers; empty when none is.
    static QString coveredTitleBar(const QList<QMdiSubWindow*>& bottomFirst)
    {
        for (int i = 0; i < bottomFirst.size(); ++i) {
            for (int j = i + 1; j < bottomFirst.size(); ++j) {
                if (bottomFirst[j]->geometry().intersects(titleBar(bottomFirst[i])))
                    return bottomFirst[j]->windowTitle() + " covers " +
                           bottomFirst[i]->windowTitle();
            }
        }
        return QString();
    }

    QAction* windowsMenuEntry(const QString& text) const
    {
        const auto actions = m_app->mainWindow()->windowsMenu()->actions();
        for (QAction* action : actions) {
            if (action->text() == text)
                return action;
        }
        return nullptr;
    }

    // Opens the closed applet windows from their menu entries, then piles them all.
    void openAllAndPile()
    {
        for (Applet* applet : m_app->applets()) {
            auto* sub = qobject_cast<QMdiSubWindow*>(applet->container());
            if (sub && !sub->isVisible())
                applet->windowAction()->trigger();
        }
        pile();
    }

    // Moves the open windows to one place, over each other's title bars, as a user may
    // leave them.
    void pile()
    {
        for (QMdiSubWindow* sub : openWindows())
            sub->move(40, 40);
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
        // The line naming the socket shows although the board traffic is hidden.
        QVERIFY(!m_app->logs()->commLogging());
        const QString pipeLine = "Scripting pipe: " + m_app->localServer()->fullServerName();
        QCOMPARE(m_app->logs()->entryList()->findItems(pipeLine, Qt::MatchEndsWith).size(), 1);
        // The style sheet, installed once the windows are built, and on the dialogs before.
        QCOMPARE(qApp->styleSheet(), m_sheet);
        QVERIFY(m_dialogsStyled);
        // The port list, scanned beside the start-up, ends with the two stand-ins.
        const QComboBox* ports = m_app->mainWindow()->portSelector();
        QVERIFY(ports->count() >= 2 && ports->itemText(ports->count() - 1) == "script");
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

    // The first connection of the run, made as a user makes it: Basic, Board and Application
    // open without hiding each other's title bars. Closing hides the windows; reconnecting
    // brings back those that were open, where the user moved them.
    void windowsOpenedTogetherShowTheirTitleBars()
    {
        MainWindow* window = m_app->mainWindow();
        QList<QMdiSubWindow*> open; // bottom first
        const auto openAsUser = [this, &open] {
            connectAsUser();
            open = openWindows();
            return sortedNames(open);
        };
        QCOMPARE(openAsUser(), (QStringList{"Application", "Basic", "Board"}));
        for (const QMdiSubWindow* sub : std::as_const(open)) {
            QVERIFY2(window->mdiArea()->viewport()->rect().contains(titleBar(sub)),
                     qPrintable(sub->windowTitle()));
        }
        QVERIFY2(coveredTitleBar(open).isEmpty(), qPrintable(coveredTitleBar(open)));
        QMdiSubWindow* moved = open.last();
        moved->move(200, 150);
        AppletInstances::spiController->showWindow();
        m_app->closeBoard();
        QVERIFY(!moved->isVisible());
        QCOMPARE(openAsUser(), (QStringList{"Application", "Basic", "Board", "SpiController"}));
        QCOMPARE(moved->pos(), QPoint(200, 150));
    }

    // Windows > Cascade on windows piled over each other, the three of a connection and
    // then all seven: every title bar shows, the windows keep their stacking order and
    // their sizes, and the active one stays active, on top.
    void cascadeShowsEveryTitleBar()
    {
        MdiArea* area = m_app->mainWindow()->mdiArea();
        connectAsUser();
        const auto leaveAsFound = qScopeGuard([this] { openFirstWindowsOnly(); });
        openFirstWindowsOnly();
        pile();
        for (int count : {3, 7}) {
            const QList<QMdiSubWindow*> before = openWindows();
            QCOMPARE(before.size(), count);
            QList<QSize> sizes;
            for (const QMdiSubWindow* sub : before)
                sizes << sub->size();
            QMdiSubWindow* active = area->activeSubWindow();
            QVERIFY(active && active == before.last());
            windowsMenuEntry(QStringLiteral("Cascade"))->trigger();
            const QList<QMdiSubWindow*> after = openWindows();
            QCOMPARE(after, before);
            QCOMPARE(area->activeSubWindow(), active);
            QVERIFY2(coveredTitleBar(after).isEmpty(), qPrintable(coveredTitleBar(after)));
            for (int i = 0; i < after.size(); ++i) {
                QCOMPARE(after[i]->size(), sizes[i]);
                QCOMPARE(after[i]->pos(), after[i]->pos().y() * QPoint(1, 1)); // diagonal
                QVERIFY(i == 0 || after[i]->y() > titleBar(after[i - 1]).bottom());
            }
            openAllAndPile();
        }
    }

    // Windows > Tile, in a main window that holds the windows side by side: the three of
    // a connection in one row, then all seven, each inside the view at its own size and
    // none over another; in a main window too small, cascaded, every title bar showing.
    void tileSetsWindowsSideBySide()
    {
        MainWindow* window = m_app->mainWindow();
        const QSize oldSize = window->size();
        window->resize(2400, 1400);
        connectAsUser();
        const auto leaveAsFound = qScopeGuard([this, window, oldSize] {
            window->resize(oldSize);
            openFirstWindowsOnly();
        });
        openFirstWindowsOnly();
        QAction* tile = windowsMenuEntry(QStringLiteral("Tile"));
        const auto tileSideBySide = [this, tile, window] {
            pile();
            QHash<QMdiSubWindow*, QSize> sizes;
            for (QMdiSubWindow* sub : openWindows())
                sizes[sub] = sub->size();
            tile->trigger();
            const QList<QMdiSubWindow*> open = openWindows();
            for (int i = 0; i < open.size(); ++i) {
                const QString name = open[i]->windowTitle();
                if (!window->mdiArea()->viewport()->rect().contains(open[i]->geometry()))
                    return name + " is not inside the view";
                if (open[i]->size() != sizes[open[i]])
                    return name + " was resized";
                for (int j = i + 1; j < open.size(); ++j) {
                    if (open[i]->geometry().intersects(open[j]->geometry()))
                        return name + " overlaps " + open[j]->windowTitle();
                }
            }
            return QString();
        };
        QCOMPARE(tileSideBySide(), QString());
        for (const QMdiSubWindow* sub : openWindows())
            QVERIFY2(sub->y() == 0, qPrintable(sub->windowTitle() + " not in the first row"));
        openAllAndPile();
        QCOMPARE(openWindows().size(), 7);
        QCOMPARE(tileSideBySide(), QString());

        window->resize(oldSize);
        pile();
        tile->trigger();
        const QList<QMdiSubWindow*> open = openWindows();
        QVERIFY2(coveredTitleBar(open).isEmpty(), qPrintable(coveredTitleBar(open)));
    }

    // Ctrl+<n> on a window open behind others brings it forward and makes it active; on
    // the active window it hides it; pressed once more, it shows it where it was left.
    // The window's menu entry does the same for a covered window.
    void shortcutBringsACoveredWindowForward()
    {
        MainWindow* window = m_app->mainWindow();
        MdiArea* area = window->mdiArea();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        connectAsUser();
        const auto leaveAsFound = qScopeGuard([this] { openFirstWindowsOnly(); });
        openFirstWindowsOnly();
        pile();
        QMdiSubWindow* covered = openWindows().first();
        QAction* entry = qobject_cast<Applet*>(covered->widget())->windowAction();
        const auto inFront = [this, area](QMdiSubWindow* sub) {
            return sub->isVisible() && area->activeSubWindow() == sub &&
                   openWindows().last() == sub;
        };
        QTest::keySequence(window, entry->shortcut());
        QVERIFY2(inFront(covered), qPrintable(covered->windowTitle()));
        QVERIFY(entry->isChecked());

        covered->move(300, 120);
        QTest::keySequence(window, entry->shortcut());
        QVERIFY(!covered->isVisible() && !entry->isChecked());
        QTest::keySequence(window, entry->shortcut());
        QVERIFY(inFront(covered) && entry->isChecked());
        QCOMPARE(covered->pos(), QPoint(300, 120));

        QMdiSubWindow* next = openWindows().first();
        qobject_cast<Applet*>(next->widget())->windowAction()->trigger();
        QVERIFY2(inFront(next), qPrintable(next->windowTitle()));
    }

    // Errors show and are saved with the traffic hidden; every kind has its colour.
    void logShowsSavesAndColoursByType()
    {
        QFile file(m_dir.filePath(QDate::currentDate().toString("yyyyMMdd") + ".log"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier line\n") > 0);
        file.close();
        Logs logs;
        logs.setLogDirectory(m_dir.path());
        logs.setCommLogging(false);
        QVERIFY(logs.setSaving(true));
        logs.slot_addLog(-1, QStringLiteral("Error SET:Board.x"));
        logs.slot_addLog(108, QStringLiteral("hidden, so not saved"));
        logs.setCommLogging(true);
        logs.slot_addLog(108, QStringLiteral("multi\nline"));
        logs.setSaving(false);
        logs.slot_addLog(500, QStringLiteral("after saving, past the colour table"));
        logs.setLogDirectory(QStringLiteral("/nonexistent/dir")); // unwritable: refused, reported
        QVERIFY(!logs.setSaving(true));
        QStringList shown; // colour and first words, after the time
        for (int row = 0; row < logs.entryList()->count(); ++row) {
            const QListWidgetItem* item = logs.entryList()->item(row);
            shown << item->foreground().color().name() + ' ' + item->text().section(' ', 1, 2);
        }
        QCOMPARE(shown, (QStringList{"#ff0000 Error SET:Board.x", "#00ff00 multi line",
                                     "#000000 after saving,", "#ff0000 Cannot write"}));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        const QRegularExpression format(
            "^earlier line\nC\\(-1\\) [\\d:.]{12} ::: Error SET:Board.x \n"
            "C\\(108\\) [\\d:.]{12} ::: multi line \n$");
        QVERIFY2(format.match(text).hasMatch(), qPrintable(text));
    }

    void connectActivatesAndCloseOrLinkLossDeactivates()
    {
        // Whether the firmware version shows, and the active applets in their order, each with
        // its window's shortcut: the document-area ones Ctrl+0, Ctrl+1, ...
        const auto state = [this] {
            const bool version = !m_app->mainWindow()->firmwareLabel()->text().isEmpty();
            QStringList active{version ? "version:" : "none:"};
            for (Applet* a : m_app->applets()) {
                if (a->isActive() && a->windowAction()->isEnabled())
                    active << a->objectName() << a->windowAction()->shortcut().toString();
            }
            return active.join(' ').simplified();
        };
        QCOMPARE(state(), QStringLiteral("none: Logs")); // the log works without a board
        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        QCOMPARE(state(),
                 "version: Logs Basic Ctrl+0 Board Ctrl+1 HBController Ctrl+2 SpiController "
                 "Ctrl+3 SpiRaw Ctrl+4 WatchDog Ctrl+5 Application Ctrl+6");
        m_app->closeBoard();
        QCOMPARE(state(), QStringLiteral("none: Logs"));
        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        // Link loss, as the link reports it: deactivated, and the chip images cleared.
        Applet* spi = AppletInstances::spiController;
        QVERIFY(spi->setValue(QStringLiteral("CR2[3:0]"), 5, CallerKey::Internal));
        emit m_app->controlBoard()->signal_disconnected();
        QCOMPARE(state(), QStringLiteral("none: Logs"));
        QCOMPARE(spi->getValue(QStringLiteral("CR2[3:0]"), CallerKey::Internal).toUInt(), 0u);
    }

    // F1 opens a help window of its own for the active window, once per applet.
    void helpWindowOpensFromTheMainWindow()
    {
        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        MainWindow* window = m_app->mainWindow();
        Applet* hb = AppletInstances::hbController; // from its Windows menu entry
        QVERIFY(window->windowsMenu()->actions().contains(hb->windowAction()));
        hb->windowAction()->trigger();
        window->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(hb->container()));
        QVERIFY(hb->container()->isVisible() && window->mdiArea()->activeApplet() == hb);

        window->helpAction()->trigger();
        window->helpAction()->trigger(); // the same window again
        QList<AppletHelper*> helpers = window->findChildren<AppletHelper*>();
        QCOMPARE(helpers.size(), 1);
        AppletHelper* helper = helpers.first();
        // A window of its own, not a fragment laid over the menu bar.
        QVERIFY(helper->isWindow() && helper->isVisible() && window->menuBar()->isEnabled());
        // HB Controller's commands carry no help text; they are listed all the same.
        QCOMPARE(helper->functionList()->topLevelItemCount(), hb->commands().names().size());
        QCOMPARE(helper->runLine(QStringLiteral("setPWM2_Freq")),
                 QStringLiteral("setPWM2_Freq -> true"));

        // Another applet gets a window of its own.
        window->mdiArea()->setActiveSubWindow(
            qobject_cast<QMdiSubWindow*>(AppletInstances::board->container()));
        window->helpAction()->trigger();
        helpers = window->findChildren<AppletHelper*>();
        QCOMPARE(helpers.size(), 2);
        qDeleteAll(helpers);
    }

    // A request that fails returns no value, is logged as an error and leaves the board as
    // it was.
    void scriptingRequestsFailAndAreLogged()
    {
        const auto failsAndIsLogged = [this](const QString& request, const QVariant& args) {
            m_app->logs()->clear();
            const QString verb = request.section(' ', 0, 0), name = request.section(' ', 1);
            const bool failed =
                verb == "set"
                    ? !m_app->set(name, args)
                    : !(verb == "get" ? m_app->get(name) : m_app->run(name, args)).isValid();
            const QString logged = "Error " + verb.toUpper() + (verb == "get" ? " " : ":") + name;
            return failed &&
                   m_app->logs()->entryList()->findItems(logged, Qt::MatchEndsWith).size() == 1;
        };
        using Requests = QList<std::pair<QString, QVariant>>;
        for (const auto& [request, args] : Requests{{"set Logs.x", 1},
                                                    {"get Logs.x", {}},
                                                    {"run set_timeout", 0LL},
                                                    {"run open", "/dev/nonexistent"},
                                                    {"run write", "get VER"}})
            QVERIFY2(failsAndIsLogged(request, args), qPrintable(request + ", no board"));
        QVERIFY(!m_app->controlBoard()->isConnected());
        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        for (const auto& [request, args] :
             Requests{{"run Nobody.Clear", {}},
                      {"run SpiController.NoSuchCommand", {}},
                      {"run Board.setforward1", {}}, // names are case-sensitive
                      {"set .x", 1},
                      {"set SpiController.No[3:0]", 9},
                      {"run reboot", {}}})
            QVERIFY2(failsAndIsLogged(request, args), qPrintable(request));
        QVERIFY(m_app->controlBoard()->isConnected());
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
        QVERIFY(!m_app->loadConfig(write("CR5A\n{\n0x12\n}\n"), &message) && !message.isEmpty());

        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        m_app->controlBoard()->simulatedBoard()->clearReceivedLines();
        auto* board = qobject_cast<Board*>(AppletInstances::board);
        board->loadedRegisters = QStringList{QStringLiteral("CR9B")};
        QVERIFY2(
            m_app->loadConfig(
                write("CR5A\n{\n0x123\n}\nCR5B\n{\n0b10000000101\n}\nCR10A\n{\n7\n}\n"), &message),
            qPrintable(message));
        QCOMPARE(board->loadedRegisters, (QStringList{"CR5A", "CR5B", "CR10A"}));
        Applet* spi = AppletInstances::spiController;
        const quint32 key = CallerKey::Internal;
        for (const auto& [name, value] :
             {std::pair("CR5A", 0x123u), {"CR5B", 0x405u}, {"CR10A", 7u}}) {
            QCOMPARE(board->getValue("U" + QString(name) + "[10:0]", key).toUInt(), value);
            QCOMPARE(spi->getValue(QString(name) + "[10:0]", key).toUInt(), value);
        }
        // Loading only stores: the user sends with the Board window's button.
        QVERIFY(m_app->controlBoard()->simulatedBoard()->receivedLines().isEmpty());

        // A fault in the second block: the first block is not written either (the loader
        // hands out no register of a refused file), and the list of loaded ones stays.
        QVERIFY(!m_app->loadConfig(write("CR5A\n{\n0x22\n}\nCR6B\n{\n0x800\n}\n"), &message));
        QCOMPARE(board->loadedRegisters, (QStringList{"CR5A", "CR5B", "CR10A"}));
    }

    // Last: the program is quitting afterwards. File > Exit during a motor command's wait
    // ends that wait at once, and from then on no command reaches the board.
    void exitEndsAWaitAtOnce()
    {
        QVERIFY(m_app->openBoard(QStringLiteral("mockup")));
        SimulatedBoard* chip = m_app->controlBoard()->simulatedBoard();
        for (QAction* action : m_app->mainWindow()->findChildren<QAction*>()) {
            if (action->text() == QLatin1String("E&xit"))
                QTimer::singleShot(200, action, &QAction::trigger);
        }
        QTimer::singleShot(100, this, [chip] { chip->clearReceivedLines(); });
        QElapsedTimer t;
        t.start();
        qobject_cast<Board*>(AppletInstances::board)->Delay(5000);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(m_app->isQuitting());
        t.restart();
        AppletInstances::basic->runFunction(QStringLiteral("setForward1"), QString());
        QVERIFY(t.elapsed() < 1000);
        QVERIFY2(chip->receivedLines().isEmpty(), qPrintable(chip->receivedLines().join('|')));
    }
};

QTEST_MAIN(TestMainApp)
#include "tst_mainapp.moc"
