// The help window: the help map filled through runFunction(""), and the run line.
#include "Applet.h"
#include "AppletHelper.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

namespace {

class HelpApplet : public Applet
{
    Q_OBJECT
public:
    QVariant runFunction(const QString& name, const QVariant& args) override
    {
        static const QList<QPair<QString, QString>> commands = {
            {QStringLiteral("setHB_ON"), QStringLiteral("Switches a half-bridge on")},
            {QStringLiteral("getVER"), QStringLiteral("Reads the version")}};
        calls.append({name, args.toString()});
        for (const auto& c : commands) {
            if (!functionHelpMap().contains(c.first))
                functionHelpMap().insert(c.first, c.second);
            if (c.first == name)
                return name == QLatin1String("getVER") ? QVariant(QStringLiteral("1.2"))
                                                       : QVariant(true);
        }
        return QVariant(false);
    }
    QList<QPair<QString, QString>> calls;
};

} // namespace

class tst_AppletHelper : public QObject
{
    Q_OBJECT
private slots:
    void listsTheHelpMap()
    {
        HelpApplet applet;
        QVERIFY(applet.functionHelpMap().isEmpty());
        AppletHelper helper(&applet);
        QCOMPARE(applet.calls.first(), qMakePair(QString(), QString()));
        QTreeWidget* list = helper.functionList();
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("getVER"));
        QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("Reads the version"));
        QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("setHB_ON"));
    }

    void splitsRunLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("args");
        QTest::newRow("bare") << " getVER " << true << "getVER"
                              << "";
        QTest::newRow("empty args") << "setRoutineTime()" << true << "setRoutineTime"
                                    << "";
        QTest::newRow("args") << "setHB_ON(5,hs)" << true << "setHB_ON"
                              << "5,hs";
        QTest::newRow("unclosed") << "setHB_ON(5" << false << ""
                                  << "";
        QTest::newRow("empty") << "  " << false << ""
                               << "";
        QTest::newRow("no command") << "(5)" << false << ""
                                    << "";
    }

    void splitsRunLines()
    {
        QFETCH(QString, line);
        QFETCH(bool, ok);
        QFETCH(QString, command);
        QFETCH(QString, args);
        QString c;
        QString a;
        QCOMPARE(AppletHelper::splitRunLine(line, &c, &a), ok);
        if (ok) {
            QCOMPARE(c, command);
            QCOMPARE(a, args);
        }
    }

    void runLineCallsTheApplet()
    {
        HelpApplet applet;
        AppletHelper helper(&applet);
        helper.runEdit()->setText(QStringLiteral("setHB_ON(5,hs)"));
        QTest::keyClick(helper.runEdit(), Qt::Key_Return);
        QCOMPARE(applet.calls.last(),
                 qMakePair(QStringLiteral("setHB_ON"), QStringLiteral("5,hs")));
        QCOMPARE(helper.resultLabel()->text(), QStringLiteral("setHB_ON -> true"));
        QCOMPARE(helper.runLine(QStringLiteral("getVER")), QStringLiteral("getVER -> 1.2"));
        QCOMPARE(helper.runLine(QStringLiteral("nothing()")), QStringLiteral("nothing -> false"));
        const int calls = applet.calls.size();
        helper.runLine(QStringLiteral("broken(1"));
        QCOMPARE(applet.calls.size(), calls); // a malformed line runs nothing
    }

    void survivesTheApplet()
    {
        auto* applet = new HelpApplet;
        AppletHelper helper(applet);
        delete applet;
        QCOMPARE(helper.runLine(QStringLiteral("getVER")), QStringLiteral("No applet"));
        helper.refresh();
        QCOMPARE(helper.functionList()->topLevelItemCount(), 0);
    }
};

QTEST_MAIN(tst_AppletHelper)
#include "tst_appletHelper.moc"
