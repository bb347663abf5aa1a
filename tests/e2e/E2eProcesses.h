#pragma once

// The processes of the end-to-end tests: the simulated board and the real program,
// and a scripting client on the program's pipe.

#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// tools/boardsim in a child process; it prints the path of its port first, then
// "RX <line>" for every line it receives and a word for every change of its behaviour.
struct BoardSim : QProcess
{
    BoardSim()
    {
        start(QStringLiteral(BOARDSIM_EXE), QStringList());
        while (!out.contains('\n') && waitForReadyRead(5000))
            out += readAllStandardOutput();
        device = out.left(out.indexOf('\n')).trimmed();
        out.clear();
    }
    ~BoardSim() override
    {
        kill();
        waitForFinished(5000);
    }
    // A command on its standard input ("delay 300"), once it took effect.
    bool command(const QByteArray& text)
    {
        write(text + '\n');
        return QTest::qWaitFor([&] { return lines(), out.contains("OK " + text + '\n'); }, 5000);
    }
    // Lines received after it reported `word` ("SILENT", "MUTE"); -1 before it did.
    int linesSince(const QByteArray& word)
    {
        lines();
        const qsizetype at = out.lastIndexOf('\n' + word + '\n');
        return at < 0 ? -1 : int(out.mid(at).count("\nRX "));
    }
    QStringList lines() // the lines received so far
    {
        waitForReadyRead(50);
        out += readAllStandardOutput();
        QStringList result;
        for (const QByteArray& l : out.split('\n'))
            if (l.startsWith("RX "))
                result << QString::fromLatin1(l.mid(3)).trimmed();
        return result;
    }
    QByteArray device, out;
};

// The lines that move a motor: frames to CR0..CR3, the enable pin, the generators.
inline QStringList motorLines(const QStringList& lines)
{
    static const QRegularExpression motor(
        QStringLiteral("SPI0CS0DATA=02[0-3]|^set DIO25|^set PWM"));
    return lines.filter(motor);
}

// One scripting client.
struct PipeClient
{
    bool connectTo(const QString& path)
    {
        return QTest::qWaitFor(
            [&] { return socket.connectToServer(path), socket.waitForConnected(200); }, 20000);
    }
    void send(const QByteArray& line)
    {
        socket.write(line + '\n');
        socket.flush();
    }
    // "ok" and "err" end in a line end; a typed answer has none and arrives in one
    // piece: what came after the request, once nothing more follows.
    QByteArray answer(int timeoutMs = 5000)
    {
        QByteArray text;
        (void)QTest::qWaitFor(
            [&] { return socket.waitForReadyRead(10), !(text += socket.readAll()).isEmpty(); },
            timeoutMs);
        while (!text.endsWith('\n') && socket.waitForReadyRead(20))
            text += socket.readAll();
        return text;
    }
    QByteArray request(const QByteArray& line, int timeoutMs = 5000)
    {
        send(line);
        return answer(timeoutMs);
    }
    // The answers to requests sent one after the other, joined by '|'.
    QByteArray requests(const QByteArrayList& lines)
    {
        QByteArrayList answers;
        for (const QByteArray& line : lines)
            answers << request(line);
        return answers.join('|');
    }
    QLocalSocket socket;
};

// rmx4218 started headless in a temporary directory, serving its pipe at a path there.
struct Program : QProcess
{
    explicit Program(const QString& dir, const QStringList& args = {})
        : pipePath(dir + QStringLiteral("/pipe"))
    {
        setWorkingDirectory(dir);
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start(QStringLiteral(RMX4218_EXE), QStringList{QStringLiteral("--pipe"), pipePath} + args);
    }
    ~Program() override
    {
        client.socket.abort();
        kill();
        waitForFinished(5000);
    }
    QString pipePath;
    PipeClient client;
};

// The simulated board and the program, started headless in a temporary directory.
struct Session
{
    // Connects to the program's pipe; with `open`, also opens the board through it and
    // waits for the generators' set-up on connection to end: generator 4's duty line,
    // sent once when it is switched on and again by its configuration, closes it.
    bool start(bool open)
    {
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the program inherits it: headless
        program = std::make_unique<Program>(dir.path());
        return board.device.startsWith('/') && program->waitForStarted(5000) &&
               program->client.connectTo(program->pipePath) &&
               (!open ||
                (program->client.request("run\topen\ts" + board.device, 15000) == "i1" &&
                 QTest::qWaitFor([&] { return board.lines().count("set PWM3DUTY=50") == 2; })));
    }
    // The program quit by itself with the normal shutdown: exit code 0, socket removed.
    bool endedNormally()
    {
        return (program->state() == QProcess::NotRunning || program->waitForFinished(10000)) &&
               program->exitStatus() == QProcess::NormalExit && program->exitCode() == 0 &&
               !QFile::exists(program->pipePath);
    }
    QTemporaryDir dir;
    BoardSim board;
    std::unique_ptr<Program> program;
};
