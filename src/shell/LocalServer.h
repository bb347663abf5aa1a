#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>

class QLocalServer;
class QLocalSocket;
class ScriptHandler;

// The scripting pipe: a local server (named pipe / local socket) restricted to the
// current user. Request lines are collected per client and served one at a time, in
// order of arrival, in the GUI thread (see ScriptProtocol for the line format).
// A request that spins the event loop (a board transaction, a wait) may let further
// lines arrive; they are queued and served after it, never nested.
class LocalServer : public QObject
{
    Q_OBJECT
public:
    enum class ListenResult { Listening, NameInUse, Failed };

    explicit LocalServer(ScriptHandler* handler, QObject* parent = nullptr);
    ~LocalServer() override;

    // Another program answering on the name is "in use"; a name left behind by a
    // crashed process (nobody answers) is removed and taken.
    ListenResult listen(const QString& name);
    void close();
    bool isListening() const;
    QString serverName() const;
    QString errorString() const { return m_error; }
    int clientCount() const { return m_buffers.size(); }

    // While held, requests are collected but not served (start-up); releasing serves
    // them in order.
    void hold(bool held);

    // True when some program serves the name.
    static bool isNameInUse(const QString& name);

signals:
    // Pipe traffic (type 110) for the log window.
    void signal_log(int type, QString text);

private:
    struct Pending
    {
        QPointer<QLocalSocket> socket;
        QByteArray line;
        bool overLong = false;
    };

    void onNewConnection();
    void onReadyRead(QLocalSocket* socket);
    void onDisconnected(QLocalSocket* socket);
    void serveQueue();

    ScriptHandler* m_handler;
    QLocalServer* m_server;
    QHash<QLocalSocket*, QByteArray> m_buffers;
    QQueue<Pending> m_queue;
    bool m_serving = false;
    bool m_held = false;
    QString m_error;
};
