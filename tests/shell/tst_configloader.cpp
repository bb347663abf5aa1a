#include "ConfigLoader.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// Reading of configuration files: what the parser refuses, naming the line; what the loader
// refuses before it reads (anything that is not a regular file, and files larger than any
// configuration); and a message that stays short whatever the file holds.
class TestConfigLoader : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // loaded values in file order, or the refusal
        const auto row = [](const char* tag, const char* text, const char* expected) {
            QTest::newRow(tag) << QString(text) << QString(expected);
        };
        row("numbers", "CR5A\n{\n0x7FF\n}\nCR10B\n{\n0b101\n}\nCR6A\n{\n0\n}", "2047 5 0");
        row("layout", "\r\n  CR6B \r\n\r\n{\r\n   0x10\r\n\r\n}\r\n\r\n", "16");
        row("open brace", "CR5A\n0x10\n}\n", "Line 2: \"{\" expected");
        row("close brace", "CR5A\n{\n1\nCR5B\n{\n2\n}\n", "Line 4: \"}\" missing");
        row("last close brace", "CR5A\n{\n1\n}\nCR5B\n{\n2\n\n",
            "Line 7: file ends before \"}\" of register CR5B");
        row("unknown register", "CR5A\n{\n1\n}\nCR11A\n{\n1\n}\n",
            "Line 5: unknown register name \"CR11A\"");
        row("not a number", "CR5A\n{\nabc\n}\n", "Line 3: \"abc\" is not a number");
        row("12 bits", "CR5A\n{\n0x800\n}\n", "Line 3: value 0x800 of register CR5A does not fit");
        row("empty block", "CR5A\n{\n}\n", "Line 3: register CR5A has no value");
        row("two values", "CR5A\n{\n1\n2\n}\n", "Line 4: register CR5A has more than one value");
        row("twice", "CR5A\n{\n1\n}\nCR5A\n{\n2\n}\n", "Line 5: register CR5A appears a second");
        row("empty file", "", "The file holds no configuration register");
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const ConfigLoader::Result r = ConfigLoader::parse(text);
        QStringList values; // a refused file hands out no register
        for (const auto& e : r.entries)
            values << QString::number(e.value);
        QCOMPARE(r.ok ? values.join(' ') : r.error.left(expected.size()), expected);
        QCOMPARE(values.isEmpty(), !r.ok);
    }

    // A long line is quoted by its start, cut where a character ends: half an emoji or a
    // letter without its accent would show as garbage in the message box.
    void messageQuotesWholeCharacters_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("quotedLength"); // in UTF-16 units
        QTest::newRow("ASCII") << QString(200, QLatin1Char('x')) << 80;
        QTest::newRow("emoji, the cut inside a pair")
            << QStringLiteral("x") + QString::fromUtf8("\xF0\x9F\x98\x80").repeated(100) << 79;
        QTest::newRow("accents, the cut before one")
            << QStringLiteral("x") + QString::fromUtf8("e\xCC\x81").repeated(60) << 79;
    }

    void messageQuotesWholeCharacters()
    {
        QFETCH(QString, line);
        QFETCH(int, quotedLength);
        const ConfigLoader::Result r = ConfigLoader::parse(line + QStringLiteral("\n{\n1\n}\n"));
        const qsizetype start = r.error.indexOf(QLatin1Char('"')) + 1;
        const qsizetype end = r.error.indexOf(QStringLiteral("…\""));
        QVERIFY2(!r.ok && start > 0 && end > start, qPrintable(r.error));
        QCOMPARE(r.error.mid(start, end - start), line.left(quotedLength));
    }

    void refusesWhatIsNoConfigurationFile_data()
    {
        QTest::addColumn<QString>("kind");       // what is at the path; "file": the content
        QTest::addColumn<QByteArray>("content"); // of the file, or the file a link names
        QTest::addColumn<QString>("says");       // empty: loads
        const QByteArray block = "CR5A\n{\n0x1F3\n}\n";
        const QByteArray limit = block + QByteArray(ConfigLoader::MaxFileSize - block.size(), ' ');
        const auto row = [](const char* tag, const char* kind, const QByteArray& content,
                            const char* says) {
            QTest::newRow(tag) << QString(kind) << content << QString(says);
        };
        row("FIFO", "fifo", {}, "is not a regular file");
        row("folder", "folder", {}, "is not a regular file");
        row("device", "/dev/zero", {}, "is not a regular file");
        row("one byte too large", "file", limit + ' ', "too large");
        row("at the size limit", "file", limit, "");
        row("one line at the size limit", "file", QByteArray(ConfigLoader::MaxFileSize, 'x'),
            "unknown register name");
        row("link to a file", "link", block, "");
        row("byte-order mark, as Windows editors write", "file", "\xEF\xBB\xBF" + block, "");
        row("missing", "missing", {}, "Cannot read");
    }

    void refusesWhatIsNoConfigurationFile()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("c.dorvel"));
        QString path = file;
        if (!content.isEmpty()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
        }
        if (kind == "fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (kind == "folder") {
            QVERIFY(QDir().mkdir(path));
        } else if (kind.startsWith('/')) {
            path = kind;
        } else if (kind == "link") {
            path = dir.filePath(QStringLiteral("link.dorvel"));
            QVERIFY(QFile::link(file, path));
        }
        QElapsedTimer t;
        t.start();
        const ConfigLoader::Result r = ConfigLoader::load(path);
        QVERIFY(t.elapsed() < 2000); // neither waits for a writer nor reads without end
        QCOMPARE(r.ok, says.isEmpty());
        if (r.ok) {
            QVERIFY(r.entries.size() == 1 && r.entries.first().value == 0x1F3u);
        } else { // that a refused file hands out no register, parse() shows
            QVERIFY2(r.error.contains(says) && r.error.contains(path),
                     qPrintable(r.error.left(300)));
            QVERIFY2(r.error.size() < 500, "a message quotes only the start of a line");
        }
    }
};

QTEST_GUILESS_MAIN(TestConfigLoader)
#include "tst_configloader.moc"
