#include "LocalServer.h"
#include "LogKind.h"

#include "ScriptProtocol.h"
#include "ShellLog.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int LogTextLimit = 200;
// What Qt reads ahead of the requests being served, per client.
constexpr qint64 ReadBufferSize = 64 * 1024;
constexpr qint64 ReadChunk = 16 * 1024;
constexpr int AcceptRetryMs = 100;
constexpr int Backlog = 64;

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

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool toAddress(const QByteArray& path, sockaddr_un* address)
{
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, path.constData(), size_t(path.size()));
    return true;
}

// True when a program accepts connections at the path, or would but for a full backlog.
bool socketAnswers(const QByteArray& path)
{
    sockaddr_un address;
    if (!toAddress(path, &address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const bool answers = rc == 0 || errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return answers;
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QObject::tr("a folder");
    if (S_ISREG(mode))
        return QObject::tr("a regular file");
    if (S_ISLNK(mode))
        return QObject::tr("a symbolic link");
    if (S_ISFIFO(mode))
        return QObject::tr("a FIFO");
    return QObject::tr("a special file");
}

QString runtimeFolder(bool* shared)
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    *shared = xdg.isEmpty() || !QDir::isAbsolutePath(xdg);
    if (!*shared)
        return QDir::cleanPath(xdg);
    return QDir::tempPath() + QStringLiteral("/rmx4218-%1").arg(::geteuid());
}

// The socket's folder must be a real folder (no symbolic link) of this user that nobody
// else may enter: otherwise another user could take the name first or answer in its place.
bool checkPrivateFolder(const QString& folder, bool create, QString* error)
{
    const QByteArray native = QFile::encodeName(folder);
    if (create && ::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *error =
            QObject::tr("Cannot create the pipe folder %1: %2").arg(folder, systemError(errno));
        return false;
    }
    struct stat st;
    if (::lstat(native.constData(), &st) != 0) {
        *error = QObject::tr("Cannot use the pipe folder %1: %2").arg(folder, systemError(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode))
        *error =
            QObject::tr("The pipe folder %1 is %2, not a folder").arg(folder, kindOf(st.st_mode));
    else if (st.st_uid != ::geteuid())
        *error = QObject::tr("The pipe folder %1 belongs to another user").arg(folder);
    else if (st.st_mode & 077)
        *error = QObject::tr("The pipe folder %1 is open to other users (mode %2, needs 700)")
                     .arg(folder)
                     .arg(st.st_mode & 0777, 3, 8, QLatin1Char('0'));
    else
        return true;
    return false;
}

} // namespace

struct LocalServer::Client
{
    QPointer<QLocalSocket> socket;
    QByteArray in;        // received bytes; served from `pos`
    qsizetype pos = 0;    // start of the next request in `in`
    qsizetype scan = 0;   // no line end in `in` before this
    bool pumping = false; // a serving loop for this client is on the stack
    bool closing = false; // an over-long line was refused: nothing more is served
    bool gone = false;    // disconnected; its complete lines are still served
};

LocalServer::LocalServer(ScriptHandler* handler, QObject* parent)
    : QObject(parent), m_handler(handler), m_acceptRetry(new QTimer(this))
{
    m_acceptRetry->setSingleShot(true);
    m_acceptRetry->setInterval(AcceptRetryMs);
    connect(m_acceptRetry, &QTimer::timeout, this, [this] {
        if (m_acceptNotifier)
            m_acceptNotifier->setEnabled(true);
    });
}

LocalServer::~LocalServer()
{
    close();
}

QString LocalServer::socketPath(const QString& name)
{
    if (name.contains(QLatin1Char('/')))
        return QDir::cleanPath(QDir::current().absoluteFilePath(name));
    bool shared = false;
    return runtimeFolder(&shared) + QLatin1Char('/') + name;
}

bool LocalServer::isNameInUse(const QString& name)
{
    return !name.isEmpty() && socketAnswers(QFile::encodeName(socketPath(name)));
}

LocalServer::ListenResult LocalServer::listen(const QString& name)
{
    close();
    m_error.clear();
    const ListenResult result = openSocket(name);
    if (result != ListenResult::Listening) {
        releaseName();
        return result;
    }
    m_name = name;
    qCDebug(lcShell) << "listening on" << m_path;
    return result;
}

LocalServer::ListenResult LocalServer::openSocket(const QString& name)
{
    if (name.trimmed().isEmpty()) {
        m_error = tr("Empty pipe name");
        return ListenResult::Failed;
    }
    const QString path = socketPath(name);
    if (!name.contains(QLatin1Char('/'))) {
        bool shared = false;
        const QString folder = runtimeFolder(&shared);
        if (!checkPrivateFolder(folder, shared, &m_error))
            return ListenResult::Failed;
    }
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un address;
    if (!toAddress(native, &address)) {
        m_error = tr("The pipe path %1 is too long for a socket").arg(path);
        return ListenResult::Failed;
    }

    // The lock decides who owns the name, even while the owner is too busy to answer.
    // A lock left by a program that has ended is stale and taken over.
    m_lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError) {
            m_error = tr("Pipe %1 is already used by another software").arg(path);
            return ListenResult::NameInUse;
        }
        m_error = tr("Cannot lock the pipe %1 (%2.lock)").arg(path, path);
        return ListenResult::Failed;
    }
    struct stat st;
    if (::lstat(native.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            m_error = tr("%1 is %2, not a socket; it is left as it is and no pipe is served")
                          .arg(path, kindOf(st.st_mode));
            return ListenResult::Failed;
        }
        // Under the lock, a socket is what a program that ended left behind, unless a
        // program that takes no lock serves it.
        if (socketAnswers(native)) {
            m_error = tr("Pipe %1 is already used by another software").arg(path);
            return ListenResult::NameInUse;
        }
        if (::unlink(native.constData()) != 0 && errno != ENOENT) {
            m_error = tr("Cannot remove the old socket %1: %2").arg(path, systemError(errno));
            return ListenResult::Failed;
        }
    } else if (errno != ENOENT) {
        m_error = tr("Cannot use the pipe %1: %2").arg(path, systemError(errno));
        return ListenResult::Failed;
    }

    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0 ||
        ::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        m_error = tr("Cannot listen on pipe %1: %2").arg(path, systemError(errno));
        return ListenResult::Failed;
    }
    m_path = path;
    if (::lstat(native.constData(), &st) == 0) {
        m_socketDevice = quint64(st.st_dev);
        m_socketInode = quint64(st.st_ino);
    }
    if (::chmod(native.constData(), 0600) != 0 || ::listen(m_listenFd, Backlog) != 0) {
        m_error = tr("Cannot listen on pipe %1: %2").arg(path, systemError(errno));
        return ListenResult::Failed;
    }
    m_acceptNotifier = new QSocketNotifier(qintptr(m_listenFd), QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, &LocalServer::acceptClients);
    return ListenResult::Listening;
}

void LocalServer::releaseName()
{
    m_acceptRetry->stop();
    delete m_acceptNotifier;
    m_acceptNotifier = nullptr;
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
    // Only the socket this server made goes; a file someone put there since stays.
    struct stat st;
    const QByteArray native = QFile::encodeName(m_path);
    if (m_socketInode && ::lstat(native.constData(), &st) == 0 &&
        quint64(st.st_dev) == m_socketDevice && quint64(st.st_ino) == m_socketInode)
        ::unlink(native.constData());
    m_socketDevice = m_socketInode = 0;
    m_lock.reset(); // unlocks: removes the lock file
    m_path.clear();
}

void LocalServer::close()
{
    releaseName();
    m_name.clear();
    const auto clients = m_clients;
    m_clients.clear();
    for (const ClientPtr& client : clients) {
        client->gone = true;
        if (QLocalSocket* socket = client->socket) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
    }
}

bool LocalServer::isListening() const
{
    return m_listenFd >= 0;
}

void LocalServer::acceptClients()
{
    while (m_listenFd >= 0) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED)
                continue;
            if (error == EAGAIN || error == EWOULDBLOCK)
                return;
            // Out of descriptors or memory: the connection waits in the backlog and the
            // name stays; try again shortly rather than spin on a socket that stays ready.
            m_acceptNotifier->setEnabled(false);
            m_acceptRetry->start();
            if (!m_acceptFailing)
                emit signal_log(
                    LogKind::Error,
                    tr("Pipe: cannot accept a client (%1); trying again").arg(systemError(error)));
            m_acceptFailing = true;
            return;
        }
        m_acceptFailing = false;
        if (m_clients.size() >= MaxClients) {
            ::close(fd);
            if (!m_refusing)
                emit signal_log(
                    LogKind::Error,
                    tr("Pipe: %1 clients connected; further clients are refused").arg(MaxClients));
            m_refusing = true;
            continue;
        }
        m_refusing = false;
        addClient(fd);
    }
}

void LocalServer::addClient(int fd)
{
    auto* socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(fd, QLocalSocket::ConnectedState, QIODevice::ReadWrite)) {
        ::close(fd);
        delete socket;
        return;
    }
    socket->setReadBufferSize(ReadBufferSize);
    auto client = std::make_shared<Client>();
    client->socket = socket;
    m_clients.insert(socket, client);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { pumpSocket(socket); });
    connect(socket, &QLocalSocket::bytesWritten, this, [this, socket] { pumpSocket(socket); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] { onDisconnected(socket); });
    // Data may have arrived together with the connection.
    pump(client);
}

void LocalServer::pumpSocket(QLocalSocket* socket)
{
    if (const ClientPtr client = m_clients.value(socket))
        pump(client);
}

void LocalServer::onDisconnected(QLocalSocket* socket)
{
    const ClientPtr client = m_clients.value(socket);
    if (!client)
        return;
    // Lines already complete are still served (their answers go nowhere); a partial
    // line is dropped.
    if (socket->bytesAvailable() > 0)
        client->in += socket->readAll();
    client->gone = true;
    pump(client);
}

void LocalServer::removeClient(const ClientPtr& client)
{
    if (QLocalSocket* socket = client->socket) {
        m_clients.remove(socket);
        socket->disconnect(this);
        socket->deleteLater();
    }
}

void LocalServer::hold(bool held)
{
    m_held = held;
    if (held)
        return;
    const auto clients = m_clients;
    for (const ClientPtr& client : clients)
        pump(client);
}

void LocalServer::pump(const ClientPtr& client)
{
    // One serving loop per client: a call from inside its running request (its socket
    // signals) leaves the next request to the loop already on the stack.
    if (client->pumping)
        return;
    client->pumping = true;
    while (serveNext(client)) {
    }
    client->pumping = false;
    if (client->gone && (client->closing || client->in.indexOf('\n', client->pos) < 0))
        removeClient(client);
}

// Serves the client's next request when it has one and may be served now. True when the
// loop may go on with the one after.
bool LocalServer::serveNext(const ClientPtr& client)
{
    QLocalSocket* socket = client->socket;
    if (!socket || client->closing || m_held)
        return false;
    if (!client->gone && socket->bytesToWrite() > MaxUnsentBytes)
        return false; // goes on when the client has read (bytesWritten)

    // The next line, reading no further ahead than it needs.
    QByteArray& in = client->in;
    qsizetype end = -1;
    while ((end = in.indexOf('\n', client->scan)) < 0) {
        client->scan = in.size();
        const qsizetype held = in.size() - client->pos;
        if (held > ScriptProtocol::MaxLineLength || client->gone || socket->bytesAvailable() <= 0)
            break;
        if (client->pos > 0) {
            in.remove(0, client->pos);
            client->scan -= client->pos;
            client->pos = 0;
        }
        in += socket->read(qMin(ReadChunk, ScriptProtocol::MaxLineLength + 2 - held));
    }
    const bool overLong =
        (end >= 0 ? end : in.size()) - client->pos > ScriptProtocol::MaxLineLength;
    if (overLong) {
        // Refused, complete or not, and nothing more is read from that client.
        client->closing = true;
        emit signal_log(LogKind::PipeTraffic, tr("Pipe: request line too long, client dropped"));
        if (!client->gone) {
            socket->write("err\n");
            socket->disconnectFromServer();
        }
        return false;
    }
    if (end < 0)
        return false;
    QByteArray line = in.mid(client->pos, end - client->pos);
    client->pos = client->scan = end + 1;
    if (line.endsWith('\r'))
        line.chop(1);

    ++m_depth;
    emit signal_log(LogKind::PipeTraffic, QStringLiteral("<< ") + logText(line));
    const QByteArray reply = ScriptProtocol::answer(line, *m_handler);
    emit signal_log(LogKind::PipeTraffic, QStringLiteral(">> ") + logText(reply));
    --m_depth;

    socket = client->socket; // the request may have outlived its client
    if (socket && socket->state() == QLocalSocket::ConnectedState) {
        socket->write(reply);
        socket->flush();
    }
    if (m_depth > 0) {
        // This ran inside another request's wait: let that one go on before this
        // client's next request, so a client that keeps sending cannot hold it forever.
        QMetaObject::invokeMethod(
            this,
            [this, weak = std::weak_ptr<Client>(client)] {
                if (const ClientPtr c = weak.lock())
                    pump(c);
            },
            Qt::QueuedConnection);
        return false;
    }
    return true;
}
