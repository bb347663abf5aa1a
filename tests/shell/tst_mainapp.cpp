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

#include <fcntl.h>
#include <functional>
#include <stdlib.h>
#include <unistd.h>

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

    // Runs `act` while a user reads each message box that comes up and presses its
    // button; returns their texts.
    QStringList messagesWhile(const std::function<void()>& act)
    {
        QStringList seen;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&seen] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen << box->text();
                box->accept();
            }
        });
        user.start(20);
        act();
        return seen;
    }

    // The main window active, as after a click on it.
    bool activateMainWindow()
    {
        MainWindow* window = m_app->mainWindow();
        window->activateWindow();
        return QTest::qWaitForWindowActive(window);
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

    // A window fixed in both width and height offers no maximise: no button on its title
    // bar, no entry in its window menu (nor Size), and a double click on its title bar
    // leaves it as it is; minimise and close stay. WatchDog, free in size, keeps its
    // maximise; a fixed window activated after WatchDog was maximised keeps its size and its
    // title bar.
    void fixedSizeWindowsOfferNoMaximise()
    {
        MainWindow* window = m_app->mainWindow();
        MdiArea* area = window->mdiArea();
        QVERIFY(activateMainWindow());
        connectAsUser();
        auto* watchDog = qobject_cast<QMdiSubWindow*>(AppletInstances::watchDog->container());
        const auto leaveAsFound = qScopeGuard([this, watchDog] {
            watchDog->showNormal();
            openFirstWindowsOnly();
        });
        // The entries of the window menu that the user sees, without their '&'.
        const auto windowMenu = [](const QMdiSubWindow* sub) {
            QStringList entries;
            const auto actions = sub->systemMenu()->actions();
            for (const QAction* action : actions) {
                if (action->isVisible() && !action->isSeparator())
                    entries << action->text().remove(QLatin1Char('&'));
            }
            return entries;
        };
        const auto doubleClickTitleBar = [](QMdiSubWindow* sub) {
            // The pointer comes over the title bar first: the window takes a press there
            // for the start of a move.
            const QPoint middle(sub->width() / 2, sub->widget()->y() / 2);
            QMouseEvent hover(QEvent::MouseMove, middle, sub->mapToGlobal(middle), Qt::NoButton,
                              Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(sub, &hover);
            QTest::mouseDClick(sub, Qt::LeftButton, {}, middle);
        };
        for (Applet* applet : m_app->applets()) {
            auto* sub = qobject_cast<QMdiSubWindow*>(applet->container());
            if (!sub)
                continue; // the log, a dock
            const QString name = applet->objectName();
            const bool fixed = applet->fixedWidth() && applet->fixedHeight();
            QCOMPARE(fixed, applet != AppletInstances::watchDog);
            if (!sub->isVisible() || area->activeSubWindow() != sub)
                QTest::keySequence(window, applet->windowAction()->shortcut());
            QVERIFY2(sub->isVisible() && area->activeSubWindow() == sub, qPrintable(name));
            const Qt::WindowFlags flags = sub->windowFlags();
            QVERIFY2(flags.testFlag(Qt::WindowMaximizeButtonHint) == !fixed, qPrintable(name));
            QVERIFY2(flags.testFlag(Qt::WindowMinimizeButtonHint) &&
                         flags.testFlag(Qt::WindowCloseButtonHint),
                     qPrintable(name));
            const QStringList entries = windowMenu(sub);
            QVERIFY2(entries.contains("Maximize") == !fixed && entries.contains("Size") == !fixed,
                     qPrintable(name + ": " + entries.join(',')));
            QVERIFY2(entries.contains("Minimize") && entries.contains("Close"),
                     qPrintable(name + ": " + entries.join(',')));
            const QRect before = sub->geometry();
            doubleClickTitleBar(sub);
            QVERIFY2(sub->isMaximized() == !fixed, qPrintable(name));
            if (fixed) {
                QCOMPARE(sub->geometry(), before);
            } else {
                sub->showNormal();
                QCOMPARE(sub->geometry(), before);
            }
        }
        // The area maximises the window activated after a maximised one.
        auto* basic = qobject_cast<QMdiSubWindow*>(AppletInstances::basic->container());
        const QSize basicSize = basic->size();
        QTest::keySequence(window, AppletInstances::watchDog->windowAction()->shortcut());
        QVERIFY(area->activeSubWindow() == watchDog);
        doubleClickTitleBar(watchDog);
        QVERIFY(watchDog->isMaximized());
        QVERIFY(AppletInstances::watchDog->windowAction()->isChecked()); // still open
        QTest::keySequence(window, AppletInstances::basic->windowAction()->shortcut());
        QCOMPARE(area->activeSubWindow(), basic);
        QVERIFY(!basic->isMaximized());
        QCOMPARE(basic->size(), basicSize);
        QVERIFY(basic->widget()->y() > 0); // below its title bar
    }

    // Hiding the active window with its shortcut or its Windows menu entry makes the window
    // in front active, and F1 opens that one's help; with no window in sight, F1 opens no
    // help and says that no window is active, with the board open as with it closed.
    void f1HelpsTheActiveWindowInSightOnly()
    {
        MainWindow* window = m_app->mainWindow();
        MdiArea* area = window->mdiArea();
        connectAsUser();
        const auto leaveAsFound = qScopeGuard([this, window] {
            qDeleteAll(window->findChildren<AppletHelper*>());
            activateMainWindow();
            openFirstWindowsOnly();
        });
        openFirstWindowsOnly(); // Basic, Board, Application from the bottom; Application active
        // F1 pressed in the main window: the title of the help window it shows, or what it
        // says.
        const auto pressF1 = [this, window] {
            qDeleteAll(window->findChildren<AppletHelper*>());
            if (!activateMainWindow())
                return QStringLiteral("the main window is not active");
            QStringList shown = messagesWhile([window] { QTest::keyClick(window, Qt::Key_F1); });
            const auto helpers = window->findChildren<AppletHelper*>();
            for (const AppletHelper* helper : helpers) {
                if (helper->isVisible())
                    shown << helper->windowTitle();
            }
            return shown.join('|');
        };
        const auto container = [](Applet* applet) {
            return qobject_cast<QMdiSubWindow*>(applet->container());
        };
        QCOMPARE(pressF1(), QStringLiteral("Application functions"));

        QTest::keySequence(window, AppletInstances::application->windowAction()->shortcut());
        QVERIFY(!AppletInstances::application->container()->isVisible());
        QCOMPARE(area->activeSubWindow(), container(AppletInstances::board));
        QCOMPARE(pressF1(), QStringLiteral("Board functions"));

        QAction* boardEntry = AppletInstances::board->windowAction();
        QVERIFY(window->windowsMenu()->actions().contains(boardEntry));
        boardEntry->trigger(); // Windows > Board, on the active Board
        QVERIFY(!AppletInstances::board->container()->isVisible());
        QCOMPARE(area->activeSubWindow(), container(AppletInstances::basic));
        QCOMPARE(pressF1(), QStringLiteral("Basic functions"));

        qDeleteAll(window->findChildren<AppletHelper*>());
        QVERIFY(activateMainWindow());
        QTest::keySequence(window, AppletInstances::basic->windowAction()->shortcut());
        QVERIFY(openWindows().isEmpty());
        QCOMPARE(area->activeSubWindow(), nullptr);
        // Twice: the closed message gives the main window its activation back, and the area
        // hands that on to the window active last, hidden as it is.
        QCOMPARE(pressF1(), QStringLiteral("No applet window is active"));
        QCOMPARE(pressF1(), QStringLiteral("No applet window is active"));

        // The board closed from the tool bar hides the windows that were open.
        openFirstWindowsOnly();
        window->findChild<QPushButton*>(QStringLiteral("pbClose"))->click();
        QVERIFY(openWindows().isEmpty());
        QCOMPARE(pressF1(), QStringLiteral("No applet window is active"));
    }

    // Closing a window (its window menu's Close, as its close button does) hides it with
    // its applet: opened again, it shows its controls. The window in front becomes active.
    void closedWindowComesBackWhole()
    {
        MainWindow* window = m_app->mainWindow();
        MdiArea* area = window->mdiArea();
        QVERIFY(activateMainWindow());
        connectAsUser();
        const auto leaveAsFound = qScopeGuard([this] { openFirstWindowsOnly(); });
        openFirstWindowsOnly(); // Basic, Board, Application from the bottom; Application active
        Applet* application = AppletInstances::application;
        auto* sub = qobject_cast<QMdiSubWindow*>(application->container());
        QAction* close = nullptr;
        const auto actions = sub->systemMenu()->actions();
        for (QAction* action : actions) {
            if (action->isVisible() && action->text().remove(QLatin1Char('&')) == "Close")
                close = action;
        }
        QVERIFY(close);
        close->trigger();
        QVERIFY(!sub->isVisible() && !application->windowAction()->isChecked());
        QCOMPARE(area->activeSubWindow(),
                 qobject_cast<QMdiSubWindow*>(AppletInstances::board->container()));
        QTest::keySequence(window, application->windowAction()->shortcut());
        QVERIFY(sub->isVisible() && area->activeSubWindow() == sub);
        QVERIFY2(application->isVisible(), "the window came back empty");
    }

    // The help window's run line, once the board is closed, says how to connect one.
    void helpWithoutBoardSaysHowToConnect()
    {
        MainWindow* window = m_app->mainWindow();
        connectAsUser();
        const auto leaveAsFound = qScopeGuard([this, window] {
            qDeleteAll(window->findChildren<AppletHelper*>());
            activateMainWindow();
        });
        QVERIFY(activateMainWindow());
        QTest::keyClick(window, Qt::Key_F1);
        const QList<AppletHelper*> helpers = window->findChildren<AppletHelper*>();
        QCOMPARE(helpers.size(), 1);
        AppletHelper* helper = helpers.first();
        window->findChild<QPushButton*>(QStringLiteral("pbClose"))->click();
        QTest::keyClicks(helper->runEdit(), QStringLiteral("setDefault"));
        QTest::keyClick(helper->runEdit(), Qt::Key_Return);
        const QString text = helper->resultLabel()->text();
        QVERIFY2(text.startsWith(QLatin1String("Board is not connected")), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("choose a port"), Qt::CaseInsensitive) &&
                     text.contains(QLatin1String("press Open")),
                 qPrintable(text));
    }

    // Open on a port that fails says why and what to try next, in the box that stands
    // over the log: a device that does not exist, a port on which no board answers.
    void failedOpenSaysWhyAndWhatNext()
    {
        MainWindow* window = m_app->mainWindow();
        const QString missing = m_dir.filePath(QStringLiteral("ttyUSB9"));
        const int master = posix_openpt(O_RDWR | O_NOCTTY); // a port nobody answers on
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        const auto closeMaster = qScopeGuard([master] { ::close(master); });
        const QString silent = QString::fromLocal8Bit(ptsname(master));
        const auto openAsUser = [this, window](const QString& port) {
            window->portSelector()->setCurrentText(port);
            return messagesWhile([window] {
                       window->findChild<QPushButton*>(QStringLiteral("pbOpen"))->click();
                   })
                .join('|');
        };
        const QString next = "\n\nChoose another port from the Port list and press Open, or "
                             "choose \"mockup\" for the simulated board.";
        const QString noDevice =
            "Cannot open the board on " + missing + ": No such file or directory";
        const QString noAnswer = "Cannot open the board on " + silent +
                                 ": Board not responding (No answer within 500 ms to: get VER)";
        QCOMPARE(openAsUser(missing), noDevice + '.' + next);
        QCOMPARE(openAsUser(silent), noAnswer + '.' + next);
        QVERIFY(!m_app->controlBoard()->isConnected());
        // The log keeps the reasons.
        for (const QString& line : {noDevice, noAnswer})
            QVERIFY2(m_app->logs()->entryList()->findItems(line, Qt::MatchEndsWith).size() == 1,
                     qPrintable(line));
        QCOMPARE(openAsUser(QStringLiteral("mockup")), QString());
        QVERIFY(m_app->controlBoard()->isConnected());
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
