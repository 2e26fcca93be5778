#include "tests/update/http_fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>

#include <csignal>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString findNginx() {
    const QString inPath = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (!inPath.isEmpty())
        return inPath;
    return QStandardPaths::findExecutable(
        QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
}

bool accepting(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

}  // namespace

NginxServer::NginxServer() = default;

NginxServer::~NginxServer() {
    stop();
}

QString NginxServer::start(const QString& locations) {
    if (!dir_.isValid())
        return QStringLiteral("no temporary folder");
    const QString nginxPath = findNginx();
    if (nginxPath.isEmpty())
        return QStringLiteral("nginx is not installed (scripts/setup.sh installs it)");
    port_ = freePort();
    if (port_ == 0)
        return QStringLiteral("no free port");
    const QString d = dir_.path();
    QDir().mkpath(root());
    const QString config =
        QStringLiteral(
            "daemon off;\n"
            "master_process off;\n"
            "pid %1/nginx.pid;\n"
            "error_log %1/error.log;\n"
            "events { worker_connections 64; }\n"
            "http {\n"
            "  default_type application/octet-stream;\n"
            "  log_format probe '$request_method|$request_uri|$http_user_agent|$http_range|"
            "$status';\n"
            "  access_log %1/access.log probe;\n"
            "  client_body_temp_path %1/client_body;\n"
            "  proxy_temp_path %1/proxy;\n"
            "  fastcgi_temp_path %1/fastcgi;\n"
            "  uwsgi_temp_path %1/uwsgi;\n"
            "  scgi_temp_path %1/scgi;\n"
            "  sendfile on;\n"
            "  server {\n"
            "    listen 127.0.0.1:%2;\n"
            "    root %3;\n"
            "%4\n"
            "  }\n"
            "}\n")
            .arg(d, QString::number(port_), root(), locations);
    const QString configPath = d + QStringLiteral("/nginx.conf");
    if (!writeFile(configPath, config.toUtf8()))
        return QStringLiteral("cannot write %1").arg(configPath);

    const QByteArray program = QFile::encodeName(nginxPath);
    const QByteArray prefix = QFile::encodeName(d + QLatin1Char('/'));
    const QByteArray configArg = QFile::encodeName(configPath);
    const QByteArray errorLog = QFile::encodeName(d + QStringLiteral("/error.log"));
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Dies with the test process, whatever ends it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
        execl(program.constData(), program.constData(), "-p", prefix.constData(), "-c",
              configArg.constData(), "-e", errorLog.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid_ < 0)
        return QStringLiteral("fork failed");
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return QStringLiteral("nginx exited: %1")
                .arg(QString::fromUtf8(readAll(d + QStringLiteral("/error.log"))));
        }
        if (accepting(port_))
            return QString();
        QThread::msleep(20);
    }
    stop();
    return QStringLiteral("nginx did not start listening");
}

void NginxServer::stop() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    QElapsedTimer timer;
    timer.start();
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (timer.elapsed() > 5000) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        QThread::msleep(10);
    }
    pid_ = -1;
}

QString NginxServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
}

QStringList NginxServer::accessLog() const {
    return QString::fromUtf8(readAll(dir_.path() + QStringLiteral("/access.log")))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList NginxServer::requestsFor(const QString& path) const {
    QStringList lines;
    for (const QString& line : accessLog()) {
        const QString uri = line.section(QLatin1Char('|'), 1, 1);
        if (uri.section(QLatin1Char('?'), 0, 0) == path)
            lines.append(line);
    }
    return lines;
}

bool NginxServer::putFile(const QString& relativePath, const QByteArray& bytes) const {
    const QString path = root() + QLatin1Char('/') + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    return writeFile(path, bytes);
}

QByteArray ScriptedServer::Request::header(const QByteArray& name) const {
    for (const auto& pair : headers) {
        if (pair.first.toLower() == name.toLower())
            return pair.second;
    }
    return QByteArray();
}

ScriptedServer::ScriptedServer(Responder respond) : respond_(std::move(respond)) {
    listen(QHostAddress::LocalHost, 0);
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString ScriptedServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
}

void ScriptedServer::readFrom(QTcpSocket* socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    for (;;) {
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            break;
        Request request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.append(
                    {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        const int length = request.header("Content-Length").toInt();
        if (buffer.size() < headerEnd + 4 + length)
            break;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        requests_.append(request);
        respond_(request, socket);
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
    }
    socket->setProperty("buffer", buffer);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

void pumpFor(int milliseconds) {
    waitUntil([] { return false; }, milliseconds);
}

QByteArray randomBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char& c : bytes)
        c = static_cast<char>(generator.bounded(256));
    return bytes;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}
