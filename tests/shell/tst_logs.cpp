#include "Logs.h"

#include <QCheckBox>
#include <QDate>
#include <QListWidget>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestLogs : public QObject
{
    Q_OBJECT
private slots:
    void entriesAreColouredByType_data();
    void entriesAreColouredByType();
    void onlyErrorsShowWhileCommLoggingIsOff();
    void savedEntriesAppendToTheDailyFile();
    void unwritableLogFileStopsSavingWithAnError();
    void oldestEntriesGoPastTheLimit();
};

void TestLogs::entriesAreColouredByType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QColor>("color");
    QTest::newRow("applet error") << -1 << QColor(Qt::red);
    QTest::newRow("receive error") << -1000 << QColor(Qt::red);
    QTest::newRow("information") << 0 << QColor(Qt::black);
    QTest::newRow("warning 1") << 1 << QColor(Qt::magenta);
    QTest::newRow("warning 100") << 100 << QColor(Qt::magenta);
    QTest::newRow("link information") << 104 << QColor(Qt::darkGray);
    QTest::newRow("received line") << 108 << QColor(Qt::green);
    QTest::newRow("transmitted line") << 109 << QColor(Qt::blue);
    QTest::newRow("pipe traffic") << 110 << QColor(Qt::cyan);
    QTest::newRow("past the colour table") << 500 << QColor(Qt::black);
}

void TestLogs::entriesAreColouredByType()
{
    QFETCH(int, type);
    QFETCH(QColor, color);
    QCOMPARE(Logs::colorForType(type), color);
    Logs logs;
    logs.setCommLogging(true);
    logs.slot_addLog(type, QStringLiteral("entry"));
    QCOMPARE(logs.entryList()->count(), 1);
    QCOMPARE(logs.entryList()->item(0)->foreground().color(), color);
    QVERIFY(logs.entryList()->item(0)->text().endsWith(QLatin1String(" entry")));
}

void TestLogs::onlyErrorsShowWhileCommLoggingIsOff()
{
    Logs logs;
    QCOMPARE(logs.objectName(), QStringLiteral("Logs"));
    logs.setCommLogging(false);
    for (int type : {0, 5, 108, 109, 110, -1, -1000})
        logs.slot_addLog(type, QStringLiteral("t%1").arg(type));
    QCOMPARE(logs.entryList()->count(), 2);
    logs.setCommLogging(true);
    logs.slot_addLog(109, QStringLiteral("tx"));
    QCOMPARE(logs.entryList()->count(), 3);
    QVERIFY(logs.entryList()->item(2)->text().endsWith(QLatin1String("tx")));
}

void TestLogs::savedEntriesAppendToTheDailyFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString expected =
        dir.filePath(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + ".log");
    QFile old(expected);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("earlier line\n");
    old.close();
    {
        Logs logs;
        logs.setLogDirectory(dir.path());
        QCOMPARE(logs.logFilePath(), expected);
        logs.setCommLogging(false);
        logs.slot_addLog(0, QStringLiteral("before saving"));
        QVERIFY(logs.setSaving(true));
        QVERIFY(logs.findChild<QCheckBox*>(QStringLiteral("cbSave"))->isChecked());
        logs.slot_addLog(-1, QStringLiteral("Error SET:Board.x"));
        logs.slot_addLog(108, QStringLiteral("hidden, so not saved"));
        logs.setCommLogging(true);
        logs.slot_addLog(108, QStringLiteral("multi\nline"));
        logs.setSaving(false);
        logs.slot_addLog(0, QStringLiteral("after saving"));
    }
    QFile file(expected);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    QCOMPARE(lines.size(), 4); // the last is the empty text after the final line end
    QCOMPARE(lines[0], QStringLiteral("earlier line"));
    const QRegularExpression format(
        QStringLiteral("^C\\((-?\\d+)\\) \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ::: (.*) $"));
    auto m = format.match(lines[1]);
    QVERIFY2(m.hasMatch(), qPrintable(lines[1]));
    QCOMPARE(m.captured(1), QStringLiteral("-1"));
    QCOMPARE(m.captured(2), QStringLiteral("Error SET:Board.x"));
    m = format.match(lines[2]);
    QVERIFY2(m.hasMatch(), qPrintable(lines[2]));
    QCOMPARE(m.captured(1), QStringLiteral("108"));
    QCOMPARE(m.captured(2), QStringLiteral("multi line"));
    QCOMPARE(lines[3], QString());
    QCOMPARE(Logs::fileLine(7, QStringLiteral("T"), QStringLiteral("x")),
             QStringLiteral("C(7) T ::: x \n"));
}

void TestLogs::unwritableLogFileStopsSavingWithAnError()
{
    Logs logs;
    logs.setLogDirectory(QStringLiteral("/nonexistent/dir"));
    QVERIFY(!logs.setSaving(true));
    QVERIFY(!logs.isSaving());
    QVERIFY(!logs.findChild<QCheckBox*>(QStringLiteral("cbSave"))->isChecked());
    QCOMPARE(logs.entryList()->count(), 1);
    QCOMPARE(logs.entryList()->item(0)->foreground().color(), QColor(Qt::red));
}

void TestLogs::oldestEntriesGoPastTheLimit()
{
    Logs logs;
    logs.setCommLogging(true);
    for (int i = 0; i < Logs::MaxEntries + 10; ++i)
        logs.slot_addLog(0, QString::number(i));
    QCOMPARE(logs.entryList()->count(), Logs::MaxEntries);
    QVERIFY(logs.entryList()->item(0)->text().endsWith(QLatin1String(" 10")));
}

QTEST_MAIN(TestLogs)
#include "tst_logs.moc"
