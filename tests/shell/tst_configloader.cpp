#include "ConfigLoader.h"

#include <QTemporaryDir>
#include <QtTest>

class TestConfigLoader : public QObject
{
    Q_OBJECT
private slots:
    void wellFormedFilesLoad_data();
    void wellFormedFilesLoad();
    void faultyFilesAreRefusedNamingTheLine_data();
    void faultyFilesAreRefusedNamingTheLine();
    void allTwelveRegistersInOneFile();
    void unreadableFileIsRefused();
};

void TestConfigLoader::wellFormedFilesLoad_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<quint32>>("values");

    QTest::newRow("one decimal") << "CR5A\n{\n1234\n}\n"
                                 << QStringList{"CR5A"} << QList<quint32>{1234};
    QTest::newRow("hex and binary") << "CR5A\n{\n0x7FF\n}\nCR10B\n{\n0b101\n}"
                                    << QStringList{"CR5A", "CR10B"} << QList<quint32>{0x7FF, 5};
    QTest::newRow("blank lines, CRLF, indentation")
        << "\r\n  CR6B \r\n\r\n{\r\n   0x10\r\n\r\n}\r\n\r\n"
        << QStringList{"CR6B"} << QList<quint32>{16};
    QTest::newRow("zero") << "CR7A\n{\n0\n}\n" << QStringList{"CR7A"} << QList<quint32>{0};
}

void TestConfigLoader::wellFormedFilesLoad()
{
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    QFETCH(QList<quint32>, values);
    const ConfigLoader::Result r = ConfigLoader::parse(text);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.entries.size(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(r.entries[i].name, names[i]);
        QCOMPARE(r.entries[i].value, values[i]);
    }
}

void TestConfigLoader::faultyFilesAreRefusedNamingTheLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("says");

    QTest::newRow("missing open brace") << "CR5A\n0x10\n}\n" << 2 << "\"{\" expected";
    QTest::newRow("missing close brace, next block") << "CR5A\n{\n1\nCR5B\n{\n2\n}\n"
                                                     << 4 << "\"}\" missing";
    QTest::newRow("missing close brace at end") << "CR5A\n{\n1\n" << 3 << "\"}\"";
    QTest::newRow("missing open brace at end") << "CR5A\n\n" << 1 << "\"{\"";
    QTest::newRow("stray close brace") << "}\n" << 1 << "register name was expected";
    QTest::newRow("unknown register") << "CR5A\n{\n1\n}\nCR11A\n{\n1\n}\n"
                                      << 5 << "unknown register name \"CR11A\"";
    QTest::newRow("status register") << "SR0\n{\n1\n}\n" << 1 << "unknown register name";
    QTest::newRow("lower-case name") << "cr5a\n{\n1\n}\n" << 1 << "unknown register name";
    QTest::newRow("not a number") << "CR5A\n{\nabc\n}\n" << 3 << "\"abc\" is not a number";
    QTest::newRow("bad hex") << "CR5A\n{\n0x7FG\n}\n" << 3 << "not a number";
    QTest::newRow("real number") << "CR5A\n{\n1.5\n}\n" << 3 << "not a number";
    QTest::newRow("12 bits") << "CR5A\n{\n0x800\n}\n" << 3 << "does not fit in 11 bits";
    QTest::newRow("2048 decimal") << "CR5A\n{\n2048\n}\n" << 3 << "11 bits";
    QTest::newRow("negative") << "CR5A\n{\n-1\n}\n" << 3 << "11 bits";
    QTest::newRow("empty block") << "CR5A\n{\n}\n" << 3 << "has no value";
    QTest::newRow("two values") << "CR5A\n{\n1\n2\n}\n" << 4 << "more than one value";
    QTest::newRow("twice the same register") << "CR5A\n{\n1\n}\nCR5A\n{\n2\n}\n"
                                             << 5 << "second time";
    QTest::newRow("fault after good blocks") << "CR5A\n{\n1\n}\nCR5B\n{\n1\n}\nCR6A\n{\nx\n}\n"
                                             << 11 << "not a number";
    QTest::newRow("empty file") << "" << 0 << "no configuration register";
}

void TestConfigLoader::faultyFilesAreRefusedNamingTheLine()
{
    QFETCH(QString, text);
    QFETCH(int, line);
    QFETCH(QString, says);
    const ConfigLoader::Result r = ConfigLoader::parse(text);
    QVERIFY(!r.ok);
    QVERIFY2(r.entries.isEmpty(), "a refused file hands out no register");
    QCOMPARE(r.errorLine, line);
    if (line > 0)
        QVERIFY2(r.error.contains(QStringLiteral("Line %1:").arg(line)), qPrintable(r.error));
    QVERIFY2(r.error.contains(says), qPrintable(r.error));
}

void TestConfigLoader::allTwelveRegistersInOneFile()
{
    QString text;
    const QStringList names = ConfigLoader::registerNames();
    QCOMPARE(names.size(), 12);
    QCOMPARE(names.first(), QStringLiteral("CR5A"));
    QCOMPARE(names.last(), QStringLiteral("CR10B"));
    for (int i = 0; i < names.size(); ++i)
        text += QStringLiteral("%1\n{\n0x%2\n}\n").arg(names[i]).arg(0x100 + i, 0, 16);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("all.dorvel")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
    file.close();
    const ConfigLoader::Result r = ConfigLoader::load(file.fileName());
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.entries.size(), 12);
    for (int i = 0; i < 12; ++i) {
        QCOMPARE(r.entries[i].name, names[i]);
        QCOMPARE(r.entries[i].value, quint32(0x100 + i));
        QCOMPARE(r.entries[i].line, 4 * i + 3);
    }
}

void TestConfigLoader::unreadableFileIsRefused()
{
    const ConfigLoader::Result r = ConfigLoader::load(QStringLiteral("/nonexistent/x.dorvel"));
    QVERIFY(!r.ok);
    QVERIFY(r.error.contains(QStringLiteral("/nonexistent/x.dorvel")));
}

QTEST_GUILESS_MAIN(TestConfigLoader)
#include "tst_configloader.moc"
