#pragma once

// Web servers on 127.0.0.1 for the HTTP tests: nginx as an update host runs it, and a small
// scripted server for what nginx will not do (ignore Range, drop a connection half way, send
// a wrong range).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <functional>

#include <sys/types.h>

// nginx in one process of its own, with a configuration written into a temporary folder:
// its own pid file, logs and temporary paths, a free port. It is stopped by stop(), by the
// destructor, and by the kernel when the test process dies.
class NginxServer {
  public:
    NginxServer();
    ~NginxServer();

    // Serves the files below root() plus `locations` (nginx location blocks). An empty
    // text on success, else what went wrong.
    QString start(const QString& locations = QString());
    void stop();

    QString root() const { return dir_.path() + QStringLiteral("/www"); }
    QString url(const QString& path) const;
    // One line per request: method|request URI|User-Agent|Range|status.
    QStringList accessLog() const;
    // The access log lines for `path` (the URI's path, without the query).
    QStringList requestsFor(const QString& path) const;
    // Writes `bytes` below root().
    bool putFile(const QString& relativePath, const QByteArray& bytes) const;

  private:
    QTemporaryDir dir_;
    pid_t pid_ = -1;
    quint16 port_ = 0;
};

// The test process's nginx, started once by the test main.
NginxServer& nginx();

// Answers each request with what `respond` writes to the socket, after recording the request.
class ScriptedServer : public QTcpServer {
  public:
    struct Request {
        QByteArray method;
        QByteArray target;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        QByteArray header(const QByteArray& name) const;
    };
    // Gets the request and the connection; writes the answer and may close the connection.
    using Responder = std::function<void(const Request&, QTcpSocket*)>;

    explicit ScriptedServer(Responder respond);
    QString url(const QString& path) const;
    const QList<Request>& requests() const { return requests_; }

  private:
    void readFrom(QTcpSocket* socket);

    Responder respond_;
    QList<Request> requests_;
};

// Runs the event loop until `condition` holds or `timeoutMs` passed.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);
void pumpFor(int milliseconds);

QByteArray randomBytes(int size);
QByteArray readAll(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);

// The engine log of the test process.
QString engineLogText();
