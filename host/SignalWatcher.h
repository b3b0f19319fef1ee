#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on this thread. The handler only writes the signal's number
// into a pipe (all a handler may safely do); the event loop reads it through a socket notifier.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // False when the pipe or the handlers could not be set up.
    bool isValid() const { return mNotifier != nullptr; }

signals:
    void signalReceived(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* mNotifier = nullptr;
};
