#include "app/InstanceChannel.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {
// A link is a short line; anything longer is not one.
constexpr qsizetype kMaxLine = 4096;
} // namespace

LinkServer::LinkServer(QString path, QObject* parent)
    : QObject(parent), path_(std::move(path)), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &LinkServer::onConnection);
}

bool LinkServer::listen() {
    QLocalServer::removeServer(path_);
    return server_->listen(path_);
}

void LinkServer::onConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxLine)
                    socket->abort();
                return;
            }
            const QString link = QString::fromUtf8(socket->readLine(kMaxLine)).trimmed();
            socket->write("ok\n");
            socket->flush();
            socket->disconnectFromServer();
            emit linkReceived(link);
        });
    }
}

bool SendLinkToRunningInstance(const QString& path, const QString& link, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (socket.waitForConnected(500)) {
            socket.write(link.toUtf8() + '\n');
            if (socket.waitForBytesWritten(1000)) {
                while (!socket.canReadLine() &&
                       socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())))) {
                }
                if (socket.canReadLine() && socket.readLine().trimmed() == "ok")
                    return true;
            }
            return false; // it answered but did not take the link
        }
        QThread::msleep(100);
    }
    return false;
}
