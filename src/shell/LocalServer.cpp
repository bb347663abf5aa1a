#include "LocalServer.h"
#include "LogKind.h"

#include "ScriptProtocol.h"
#include "ShellLog.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr int LogTextLimit = 200;

QString logText(const QByteArray& bytes)
{
    QByteArray shown = bytes.left(LogTextLimit);
    if (shown.endsWith('\n'))
        shown.chop(1);
    QString text = QString::fromUtf8(shown);
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    if (bytes.size() > LogTextLimit)
        text += QStringLiteral("…");
    return text;
}

} // namespace

LocalServer::LocalServer(ScriptHandler* handler, QObject* parent)
    : QObject(parent), m_handler(handler), m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &LocalServer::onNewConnection);
}

LocalServer::~LocalServer()
{
    close();
}

bool LocalServer::isNameInUse(const QString& name)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool inUse = probe.waitForConnected(500);
    probe.abort();
    return inUse;
}

LocalServer::ListenResult LocalServer::listen(const QString& name)
{
    m_error.clear();
    if (name.isEmpty()) {
        m_error = tr("Empty pipe name");
        return ListenResult::Failed;
    }
    // With UserAccessOption, listen() would silently take over a name another
    // instance serves, so ask first.
    if (isNameInUse(name)) {
        m_error = tr("Pipe %1 is already used by another software").arg(name);
        return ListenResult::NameInUse;
    }
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) {
        m_error = tr("Cannot listen on pipe %1: %2").arg(name, m_server->errorString());
        return ListenResult::Failed;
    }
    qCDebug(lcShell) << "listening on" << m_server->fullServerName();
    return ListenResult::Listening;
}

void LocalServer::close()
{
    m_server->close();
    const auto sockets = m_buffers.keys();
    m_buffers.clear();
    m_queue.clear();
    for (QLocalSocket* socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

bool LocalServer::isListening() const
{
    return m_server->isListening();
}

QString LocalServer::serverName() const
{
    return m_server->serverName();
}

void LocalServer::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, this,
                [this, socket] { onDisconnected(socket); });
        // Data may have arrived together with the connection.
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void LocalServer::onReadyRead(QLocalSocket* socket)
{
    auto it = m_buffers.find(socket);
    if (it == m_buffers.end()) {
        socket->readAll(); // a dropped client: its data is ignored
        return;
    }
    QByteArray& buffer = it.value();
    buffer += socket->readAll();
    int end = 0;
    while ((end = buffer.indexOf('\n')) >= 0 && end <= ScriptProtocol::MaxLineLength) {
        QByteArray line = buffer.left(end);
        buffer.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        m_queue.enqueue(Pending{socket, line, false});
    }
    // A line over the limit, complete or not, is refused and nothing more is read from
    // that client.
    if (buffer.size() > ScriptProtocol::MaxLineLength) {
        m_queue.enqueue(Pending{socket, QByteArray(), true});
        m_buffers.erase(it);
    }
    serveQueue();
}

void LocalServer::onDisconnected(QLocalSocket* socket)
{
    // Lines already complete are still served (their answers go nowhere); a partial
    // line is dropped.
    m_buffers.remove(socket);
    socket->deleteLater();
}

void LocalServer::hold(bool held)
{
    m_held = held;
    if (!held)
        serveQueue();
}

void LocalServer::serveQueue()
{
    if (m_serving || m_held)
        return;
    m_serving = true;
    while (!m_queue.isEmpty()) {
        const Pending request = m_queue.dequeue();
        QByteArray reply;
        if (request.overLong) {
            emit signal_log(LogKind::PipeTraffic,
                            tr("Pipe: request line too long, client dropped"));
            reply = "err\n";
        } else {
            emit signal_log(LogKind::PipeTraffic, QStringLiteral("<< ") + logText(request.line));
            reply = ScriptProtocol::answer(request.line, *m_handler);
            emit signal_log(LogKind::PipeTraffic, QStringLiteral(">> ") + logText(reply));
        }
        QLocalSocket* socket = request.socket.data();
        if (socket && socket->state() == QLocalSocket::ConnectedState) {
            socket->write(reply);
            socket->flush();
            if (request.overLong)
                socket->disconnectFromServer();
        }
    }
    m_serving = false;
}
