// An HTTP server on 127.0.0.1 for the tests of the network features: it
// answers every request with one fixed response, or holds the connection
// silent. Tests never talk to any other host.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

// Answers every request with `response`, or holds the connection silent
// when it is empty.
class LoopbackServer : public QObject {
public:
    explicit LoopbackServer(QByteArray response) : response_(std::move(response)) {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request += socket->readAll();
                    if (!request.contains("\r\n\r\n") || response_.isEmpty())
                        return;
                    socket->write(response_);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QString Url(const QString& path = "/") const {
        return QString("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }
    int connections = 0;
    QByteArray request;

private:
    QTcpServer server_;
    QByteArray response_;
};

inline QByteArray Http(int status, const QByteArray& body) {
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// A port on 127.0.0.1 where nobody listens.
inline quint16 ClosedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
