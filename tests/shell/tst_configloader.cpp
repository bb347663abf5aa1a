#include "ConfigLoader.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// What the loader refuses before it reads: anything that is not a regular file, and files
// larger than any configuration; and a message that stays short whatever the file holds.
// Parsing itself is tested with the shell.
class TestConfigLoader : public QObject
{
    Q_OBJECT
private slots:
    void refusesWhatIsNoConfigurationFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says"); // empty: loads
        const auto row = [](const char* tag, const char* kind, const char* says) {
            QTest::newRow(tag) << QString(kind) << QString(says);
        };
        row("FIFO", "fifo", "is not a regular file");
        row("folder", "folder", "is not a regular file");
        row("device", "/dev/zero", "is not a regular file");
        row("one byte too large", "over", "too large");
        row("at the size limit", "limit", "");
        row("one line at the size limit", "one line", "unknown register name");
        row("link to a file", "link", "");
        row("missing", "missing", "Cannot read");
    }

    void refusesWhatIsNoConfigurationFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, says);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("c.dorvel"));
        const QByteArray block = "CR5A\n{\n0x1F3\n}\n";
        const auto write = [&](const QByteArray& bytes) {
            QFile f(dir.filePath(QStringLiteral("c.dorvel")));
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        if (kind == "fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (kind == "folder") {
            QVERIFY(QDir().mkdir(path));
        } else if (kind.startsWith('/')) {
            path = kind;
        } else if (kind == "over" || kind == "limit") {
            const qint64 size = ConfigLoader::MaxFileSize + (kind == "over" ? 1 : 0);
            QVERIFY(write(block + QByteArray(size - block.size(), ' ')));
        } else if (kind == "one line") {
            QVERIFY(write(QByteArray(ConfigLoader::MaxFileSize, 'x')));
        } else if (kind == "link") {
            QVERIFY(write(block));
            path = dir.filePath(QStringLiteral("link.dorvel"));
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("c.dorvel")), path));
        }
        QElapsedTimer t;
        t.start();
        const ConfigLoader::Result r = ConfigLoader::load(path);
        QVERIFY(t.elapsed() < 2000); // neither waits for a writer nor reads without end
        QCOMPARE(r.ok, says.isEmpty());
        if (r.ok) {
            QCOMPARE(r.entries.size(), 1);
            QCOMPARE(r.entries.first().value, 0x1F3u);
        } else {
            QVERIFY(r.entries.isEmpty());
            QVERIFY2(r.error.contains(says) && r.error.contains(path),
                     qPrintable(r.error.left(300)));
            QVERIFY2(r.error.size() < 500, "a message quotes only the start of a line");
        }
    }
};

QTEST_GUILESS_MAIN(TestConfigLoader)
#include "tst_configloader.moc"
