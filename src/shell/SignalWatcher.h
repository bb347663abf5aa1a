#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal in the thread that made the watcher, so that
// they end the program through its normal quit (applets deactivated, chip back to its
// default configuration, port closed, pipe removed) instead of killing it. The handler
// only writes the signal number into a socket pair; a socket notifier reads it.
// One watcher per process.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // False when the socket pair or the handlers could not be set up.
    bool isWatching() const { return m_notifier != nullptr; }
    // Run in the handler itself, for what cannot wait until the event loop turns (a
    // blocking board transaction ends through it). Must be async-signal-safe.
    static void setImmediateAction(void (*action)() noexcept);

signals:
    void signal_received(int signalNumber);

private:
    static void handle(int signalNumber);
    void readSignals();

    QSocketNotifier* m_notifier = nullptr;
};
