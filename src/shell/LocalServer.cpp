#include "LocalServer.h"
#include "LogKind.h"

#include "NameLock.h"
#include "ScriptProtocol.h"
#include "ShellLog.h"
#include "TextConvert.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int LogTextLimit = 200;
// Unserved request bytes held per client: room for one line of the longest length and
// its line end, so that an over-long line is always seen whole enough to be refused.
constexpr qint64 InputLimit = ScriptProtocol::MaxLineLength + 2;
constexpr size_t ReadChunk = 16 * 1024;
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

// The peer closed its socket: POLLHUP. A peer that only ended its sending side
// (shutdown(SHUT_WR)) gives end of input but no POLLHUP, and still reads its answers.
bool hasHungUp(int fd)
{
    pollfd p{fd, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
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
        *error = QObject::tr("Cannot create the pipe folder %1: %2")
                     .arg(folder, TextConvert::systemError(errno));
        return false;
    }
    struct stat st;
    if (::lstat(native.constData(), &st) != 0) {
        *error = QObject::tr("Cannot use the pipe folder %1: %2")
                     .arg(folder, TextConvert::systemError(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode))
        *error = QObject::tr("The pipe folder %1 is %2, not a folder")
                     .arg(folder, NameLock::describeFileType(st.st_mode));
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
    int fd = -1;
    QSocketNotifier* reader = nullptr;
    QSocketNotifier* writer = nullptr;
    QByteArray in;           // received bytes; served from `pos`
    qsizetype pos = 0;       // start of the next request in `in`
    qsizetype scan = 0;      // no line end in `in` before this
    QByteArray out;          // answers not yet sent
    bool pumping = false;    // a serving loop for this client is on the stack
    bool closing = false;    // an over-long line was refused: nothing more is served
    bool inputEnded = false; // the client ended its sending side; it still gets answers
    bool gone = false;       // removed: nothing more is read, served or sent

    qsizetype unserved() const { return in.size() - pos; }
    bool hasRequest() const { return in.indexOf('\n', pos) >= 0; }
};

LocalServer::LocalServer(ScriptHandler* handler, QObject* parent)
    : QObject(parent), m_handler(handler), m_acceptRetry(new QTimer(this)),
      m_hangUpCheck(new QTimer(this))
{
    m_acceptRetry->setSingleShot(true);
    m_acceptRetry->setInterval(AcceptRetryMs);
    connect(m_acceptRetry, &QTimer::timeout, this, [this] {
        if (m_acceptNotifier)
            m_acceptNotifier->setEnabled(true);
    });
    m_hangUpCheck->setInterval(HangUpCheckMs);
    connect(m_hangUpCheck, &QTimer::timeout, this, &LocalServer::checkHangUps);
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
    m_lock = std::make_unique<NameLock>(path + QStringLiteral(".lock"));
    switch (m_lock->lock()) {
    case NameLock::Result::Locked:
        break;
    case NameLock::Result::HeldByOther:
        m_error = tr("Pipe %1 is already used by another software").arg(path);
        return ListenResult::NameInUse;
    case NameLock::Result::Failed:
        m_error = m_lock->errorString();
        return ListenResult::Failed;
    }
    struct stat st;
    if (::lstat(native.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            m_error = tr("%1 is %2, not a socket; it is left as it is and no pipe is served")
                          .arg(path, NameLock::describeFileType(st.st_mode));
            return ListenResult::Failed;
        }
        // Under the lock, a socket is what a program that ended left behind, unless a
        // program that takes no lock serves it.
        if (socketAnswers(native)) {
            m_error = tr("Pipe %1 is already used by another software").arg(path);
            return ListenResult::NameInUse;
        }
        if (::unlink(native.constData()) != 0 && errno != ENOENT) {
            m_error = tr("Cannot remove the old socket %1: %2")
                          .arg(path, TextConvert::systemError(errno));
            return ListenResult::Failed;
        }
    } else if (errno != ENOENT) {
        m_error = tr("Cannot use the pipe %1: %2").arg(path, TextConvert::systemError(errno));
        return ListenResult::Failed;
    }

    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0 ||
        ::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        m_error = tr("Cannot listen on pipe %1: %2").arg(path, TextConvert::systemError(errno));
        return ListenResult::Failed;
    }
    m_path = path;
    if (::lstat(native.constData(), &st) == 0) {
        m_socketDevice = quint64(st.st_dev);
        m_socketInode = quint64(st.st_ino);
    }
    if (::chmod(native.constData(), 0600) != 0 || ::listen(m_listenFd, Backlog) != 0) {
        m_error = tr("Cannot listen on pipe %1: %2").arg(path, TextConvert::systemError(errno));
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
    m_hangUpCheck->stop();
    const auto clients = m_clients;
    for (const ClientPtr& client : clients) {
        flush(client); // answers already given leave if the client takes them now
        removeClient(client);
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
                emit signal_log(LogKind::Error,
                                tr("Pipe: cannot accept a client (%1); trying again")
                                    .arg(TextConvert::systemError(error)));
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
    auto client = std::make_shared<Client>();
    client->fd = fd;
    client->reader = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    client->writer = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    client->writer->setEnabled(false);
    const std::weak_ptr<Client> weak = client;
    connect(client->reader, &QSocketNotifier::activated, this, [this, weak] {
        if (const ClientPtr c = weak.lock())
            readFrom(c);
    });
    connect(client->writer, &QSocketNotifier::activated, this, [this, weak] {
        if (const ClientPtr c = weak.lock()) {
            flush(c);
            pump(c); // it may be served again now that it has read
        }
    });
    m_clients << client;
    // Data may have arrived together with the connection.
    readFrom(client);
}

bool LocalServer::wantsToRead(const Client& client) const
{
    return !client.gone && !client.closing && !client.inputEnded &&
           client.unserved() < InputLimit && client.out.size() <= MaxUnsentBytes;
}

void LocalServer::readFrom(const ClientPtr& client)
{
    while (wantsToRead(*client)) {
        QByteArray& in = client->in;
        if (client->pos > 0) { // what was served goes
            in.remove(0, client->pos);
            client->scan -= client->pos;
            client->pos = 0;
        }
        char buffer[ReadChunk];
        const size_t room = size_t(qMin(qint64(sizeof buffer), InputLimit - client->unserved()));
        const ssize_t n = ::recv(client->fd, buffer, room, MSG_DONTWAIT);
        if (n > 0) {
            in.append(buffer, n);
        } else if (n == 0) {
            client->inputEnded = true;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else if (errno != EINTR) {
            removeClient(client); // reset by the peer: it has gone
            return;
        }
    }
    if (client->inputEnded && hasHungUp(client->fd)) {
        removeClient(client);
        return;
    }
    // Now, not after serving: a request of this client may be running, and a socket at
    // its end of input, or with more than may be held, stays readable.
    watch(client);
    pump(client);
}

void LocalServer::watch(const ClientPtr& client)
{
    const bool reading = wantsToRead(*client);
    client->reader->setEnabled(reading);
    if (!reading && !m_hangUpCheck->isActive())
        m_hangUpCheck->start();
}

void LocalServer::flush(const ClientPtr& client)
{
    QByteArray& out = client->out;
    qsizetype sent = 0;
    while (!client->gone && sent < out.size()) {
        const ssize_t n = ::send(client->fd, out.constData() + sent, size_t(out.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else if (n < 0 && errno != EINTR) {
            removeClient(client); // the client closed: its answers go nowhere
            return;
        }
    }
    out.remove(0, sent);
    if (client->writer)
        client->writer->setEnabled(!out.isEmpty());
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

void LocalServer::pump(ClientPtr client)
{
    // One serving loop per client: a call from inside its running request (its socket
    // signals) leaves the next request to the loop already on the stack.
    if (client->pumping || client->gone)
        return;
    client->pumping = true;
    while (serveNext(client)) {
    }
    client->pumping = false;
    settle(client);
}

// After serving: read on when there is room, close a client whose every answer is out
// once it has nothing more to send, and watch for departures while not reading.
void LocalServer::settle(const ClientPtr& client)
{
    if (client->gone)
        return;
    const bool done = client->closing || (client->inputEnded && !client->hasRequest());
    if (done && !client->pumping && client->out.isEmpty()) {
        removeClient(client);
        return;
    }
    watch(client);
}

void LocalServer::checkHangUps()
{
    bool watching = false;
    const auto clients = m_clients;
    for (const ClientPtr& client : clients) {
        if (client->reader->isEnabled())
            continue;
        if (hasHungUp(client->fd))
            removeClient(client);
        else
            watching = true;
    }
    if (!watching)
        m_hangUpCheck->stop();
}

// Serves the client's next request when it has one and may be served now. True when the
// loop may go on with the one after.
bool LocalServer::serveNext(const ClientPtr& client)
{
    if (client->gone || client->closing || m_held || !m_handler->acceptsRequests())
        return false;
    if (client->out.size() > MaxUnsentBytes)
        return false; // goes on when the client has read (the writer's signal)

    const QByteArray& in = client->in;
    const qsizetype end = in.indexOf('\n', client->scan);
    if (end < 0)
        client->scan = in.size();
    // The CR of a CR LF line end is no part of the line.
    qsizetype length = (end >= 0 ? end : in.size()) - client->pos;
    if (length > 0 && in.at(client->pos + length - 1) == '\r')
        --length;
    if (length > ScriptProtocol::MaxLineLength) {
        // Refused, complete or not, and nothing more is read from that client.
        client->closing = true;
        emit signal_log(LogKind::PipeTraffic, tr("Pipe: request line too long, client dropped"));
        client->out += "err\n";
        flush(client);
        return false;
    }
    if (end < 0)
        return false;
    const QByteArray line = in.mid(client->pos, length);
    client->pos = client->scan = end + 1;

    ++m_depth;
    emit signal_log(LogKind::PipeTraffic, QStringLiteral("<< ") + logText(line));
    const QByteArray reply = ScriptProtocol::answer(line, *m_handler);
    emit signal_log(LogKind::PipeTraffic, QStringLiteral(">> ") + logText(reply));
    --m_depth;

    if (client->gone)
        return false; // it left while its request ran: the answer goes nowhere
    client->out += reply;
    flush(client);
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

// The client's place is free at once; requests of it that have not started are dropped.
void LocalServer::removeClient(const ClientPtr& client)
{
    if (client->gone)
        return;
    client->gone = true;
    m_clients.removeOne(client);
    if (!client->closing && client->hasRequest())
        emit signal_log(LogKind::PipeTraffic,
                        tr("Pipe: a client left; its requests not yet served are dropped"));
    // The notifiers may be the ones whose signal is running: disabled now, deleted later.
    for (QSocketNotifier* notifier : {client->reader, client->writer}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    client->reader = client->writer = nullptr;
    ::close(client->fd);
    client->fd = -1;
    client->in.clear();
    client->out.clear();
    client->pos = client->scan = 0;
}
