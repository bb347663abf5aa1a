#include "ConfigLoader.h"

#include "TextConvert.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopeGuard>
#include <QSet>
#include <QTextBoundaryFinder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ConfigLoader {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("ConfigLoader", text);
}

// A line as a message quotes it: its start only, so that a file of one huge line still
// gives a message box that opens at once.
QString quoted(const QString& line)
{
    constexpr int MaxQuoted = 80;
    if (line.size() <= MaxQuoted)
        return line;
    // Cut where a character ends, not inside a surrogate pair or a combining sequence.
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, line);
    characters.setPosition(MaxQuoted);
    if (!characters.isAtBoundary())
        characters.toPreviousBoundary();
    return line.left(qMax(0, int(characters.position()))) + QStringLiteral("…");
}

Result fault(int line, const QString& why)
{
    Result r;
    r.errorLine = line;
    r.error = line > 0 ? tr("Line %1: %2").arg(line).arg(why) : why;
    return r;
}

} // namespace

QStringList registerNames()
{
    QStringList names;
    for (int n = 5; n <= 10; ++n) {
        names << QStringLiteral("CR%1A").arg(n) << QStringLiteral("CR%1B").arg(n);
    }
    return names;
}

Result parse(const QString& text)
{
    enum class State { Name, Open, Body };
    const QStringList known = registerNames();
    const QStringList lines = text.split(QLatin1Char('\n'));

    Result result;
    QSet<QString> seen;
    State state = State::Name;
    Entry current;
    bool haveValue = false;
    int lineNo = 0;
    int lastLine = 0; // the last line that is not blank
    for (const QString& raw : lines) {
        ++lineNo;
        const QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        lastLine = lineNo;
        switch (state) {
        case State::Name:
            if (line == QLatin1String("{") || line == QLatin1String("}"))
                return fault(lineNo,
                             tr("a register name was expected, found \"%1\"").arg(quoted(line)));
            if (!known.contains(line))
                return fault(lineNo, tr("unknown register name \"%1\" (expected one of %2)")
                                         .arg(quoted(line), known.join(QLatin1String(", "))));
            if (seen.contains(line))
                return fault(lineNo, tr("register %1 appears a second time").arg(line));
            seen.insert(line);
            current = Entry{line, 0, 0};
            haveValue = false;
            state = State::Open;
            break;
        case State::Open:
            if (line != QLatin1String("{"))
                return fault(lineNo, tr("\"{\" expected after register %1, found \"%2\"")
                                         .arg(current.name, quoted(line)));
            state = State::Body;
            break;
        case State::Body: {
            if (line == QLatin1String("}")) {
                if (!haveValue)
                    return fault(lineNo, tr("register %1 has no value").arg(current.name));
                result.entries << current;
                state = State::Name;
                break;
            }
            if (line == QLatin1String("{") || known.contains(line))
                return fault(lineNo, tr("\"}\" missing to close register %1").arg(current.name));
            if (haveValue)
                return fault(lineNo, tr("register %1 has more than one value").arg(current.name));
            qint64 value = 0;
            if (!TextConvert::toInt64(line, &value))
                return fault(lineNo, tr("\"%1\" is not a number").arg(quoted(line)));
            if (value < 0 || value > qint64(MaxValue))
                return fault(lineNo, tr("value %1 of register %2 does not fit in 11 bits "
                                        "(0 to 0x7FF)")
                                         .arg(quoted(line), current.name));
            current.value = quint32(value);
            current.line = lineNo;
            haveValue = true;
            break;
        }
        }
    }
    if (state == State::Open)
        return fault(lastLine, tr("file ends before \"{\" of register %1").arg(current.name));
    if (state == State::Body)
        return fault(lastLine, tr("file ends before \"}\" of register %1").arg(current.name));
    if (result.entries.isEmpty())
        return fault(0, tr("The file holds no configuration register"));
    result.ok = true;
    return result;
}

Result load(const QString& fileName)
{
    // Opened without waiting (a FIFO would block until a writer came) and checked on the
    // open descriptor, so what is read is what was checked.
    const QByteArray native = QFile::encodeName(fileName);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fault(0, tr("Cannot read %1: %2").arg(fileName, TextConvert::systemError(errno)));
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return fault(0, tr("Cannot read %1: %2").arg(fileName, TextConvert::systemError(errno)));
    if (!S_ISREG(st.st_mode))
        return fault(0, tr("%1 is not a regular file").arg(fileName));
    if (st.st_size > MaxFileSize)
        return fault(0, tr("%1 is too large for a configuration file (%2 bytes, at most %3)")
                            .arg(fileName)
                            .arg(qint64(st.st_size))
                            .arg(MaxFileSize));
    QByteArray bytes;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fault(0,
                         tr("Cannot read %1: %2").arg(fileName, TextConvert::systemError(errno)));
        if (n == 0)
            break;
        bytes.append(buffer, n);
        // The file may grow after the check.
        if (bytes.size() > MaxFileSize)
            return fault(0, tr("%1 is too large for a configuration file (more than %2 bytes)")
                                .arg(fileName)
                                .arg(MaxFileSize));
    }
    QString text = QString::fromUtf8(bytes);
    // Editors on Windows often start the file with a byte-order mark.
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    Result r = parse(text);
    if (!r.ok && r.errorLine > 0)
        r.error = tr("%1, %2").arg(fileName, r.error);
    return r;
}

} // namespace ConfigLoader
