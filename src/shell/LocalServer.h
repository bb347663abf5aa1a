#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class NameLock;
class QSocketNotifier;
class QTimer;
class ScriptHandler;

// The scripting pipe: a local (Unix-domain) socket in a folder only the user can write,
// owned through a lock file beside it, so that exactly one program serves a name.
// Requests are served in the GUI thread (see ScriptProtocol for the line format).
// Each client's requests are answered one at a time and in order: its next request
// waits until the previous one returned. A request that spins the event loop (a wait of
// the applets) lets the requests of other clients be served inside it. A client is read
// only while its unsent answers stay under a bound, so one that never reads holds a
// bounded amount of memory and slows nobody else.
// A client that closes its socket frees its place at once: its requests that have not
// started are dropped, and the answer of one that is running is discarded. A client that
// only ends its sending side (half-close) gets every answer, then is closed.
class LocalServer : public QObject
{
    Q_OBJECT
public:
    enum class ListenResult { Listening, NameInUse, Failed };

    // Clients served at once; further connections are closed at once.
    static constexpr int MaxClients = 64;
    // A client is not read while more of its answers than this wait to be sent.
    static constexpr qint64 MaxUnsentBytes = 256 * 1024;

    explicit LocalServer(ScriptHandler* handler, QObject* parent = nullptr);
    ~LocalServer() override;

    // name: a plain name, or a full path (see socketPath). NameInUse when another program
    // holds the name; Failed (with errorString) when the folder is not private, something
    // that is not a socket stands at the path (it is left alone), or the socket fails.
    ListenResult listen(const QString& name);
    void close();
    bool isListening() const;
    QString serverName() const { return m_name; }
    // The socket's path while listening.
    QString fullServerName() const { return m_path; }
    QString errorString() const { return m_error; }
    int clientCount() const { return int(m_clients.size()); }
    // How soon a client that closed is noticed while it is not being read.
    static constexpr int HangUpCheckMs = 50;

    // While held, requests are read but not served (start-up); releasing serves them.
    void hold(bool held);

    // A name with a "/" is the socket's path. Any other name is a file in the user's
    // runtime folder $XDG_RUNTIME_DIR, or where that is not set, in the folder
    // "rmx4218-<uid>" of the temp folder (created owner-only).
    static QString socketPath(const QString& name);
    // True when some program serves the name.
    static bool isNameInUse(const QString& name);

signals:
    // Pipe traffic and pipe faults for the log window.
    void signal_log(int type, QString text);

private:
    struct Client;
    using ClientPtr = std::shared_ptr<Client>;

    ListenResult openSocket(const QString& name);
    void releaseName();
    void acceptClients();
    void addClient(int fd);
    void readFrom(const ClientPtr& client);
    void flush(const ClientPtr& client);
    void pump(ClientPtr client);
    bool serveNext(const ClientPtr& client);
    void settle(const ClientPtr& client);
    // Reads while there is room, else watches for the client's departure.
    void watch(const ClientPtr& client);
    bool wantsToRead(const Client& client) const;
    void checkHangUps();
    void removeClient(const ClientPtr& client);

    ScriptHandler* m_handler;
    QList<ClientPtr> m_clients;
    std::unique_ptr<NameLock> m_lock;
    QSocketNotifier* m_acceptNotifier = nullptr;
    QTimer* m_acceptRetry;
    QTimer* m_hangUpCheck;
    int m_listenFd = -1;
    quint64 m_socketDevice = 0; // identity of the socket file this server made
    quint64 m_socketInode = 0;
    QString m_name;
    QString m_path;
    QString m_error;
    int m_depth = 0; // requests running (nested inside each other's waits)
    bool m_held = false;
    bool m_acceptFailing = false;
    bool m_refusing = false;
};
