// How a second start hands its link to the running instance: a local socket in the user's
// runtime folder, reachable by the user only. One line of text each way: the link, then "ok".
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

class LinkServer : public QObject {
    Q_OBJECT
public:
    explicit LinkServer(QString path, QObject* parent = nullptr);
    // Starts listening; the caller holds the single-instance lock, so a socket left at the path
    // is a crashed instance's and is replaced.
    bool listen();

signals:
    // A link handed over by a second start (not yet checked).
    void linkReceived(const QString& link);

private:
    void onConnection();

    QString path_;
    QLocalServer* server_;
};

// Hands `link` to the running instance listening at `path`; true once it took it. Retries for
// a while, since the instance may still be starting.
bool SendLinkToRunningInstance(const QString& path, const QString& link, int timeoutMs = 5000);
