#include "update/http_request_worker.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QUrl>

namespace {

const QByteArray kUserAgent = QByteArrayLiteral("Agent name goes here");
const QByteArray kCrLf = QByteArrayLiteral("\r\n");

bool isAsciiAlphanumeric(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9');
}

QByteArray percentEncoded(const QString& text) {
    // Qt's encoder keeps exactly the unreserved set and writes upper-case hex digits.
    return QUrl::toPercentEncoding(text);
}

QByteArray urlEncodedVariables(const QMap<QString, QString>& vars) {
    QByteArray body;
    for (auto it = vars.constBegin(); it != vars.constEnd(); ++it) {
        if (!body.isEmpty())
            body += '&';
        body += percentEncoded(it.key()) + '=' + percentEncoded(it.value());
    }
    return body;
}

QByteArray multipartBoundary() {
    // QRandomGenerator::global() is seeded by the system; no qsrand/qrand (deprecated).
    return QByteArrayLiteral("__-----------------------") +
           QByteArray::number(QDateTime::currentSecsSinceEpoch()) +
           QByteArray::number(QRandomGenerator::global()->generate());
}

QByteArray multipartBody(const HttpRequestParams& params, const QByteArray& boundary) {
    const QByteArray delimiter = "--" + boundary + kCrLf;
    QByteArray body;
    for (auto it = params.vars.constBegin(); it != params.vars.constEnd(); ++it) {
        body += delimiter;
        body += "Content-Disposition: form-data; " +
                encodeHeaderAttribute(QStringLiteral("name"), it.key()).toUtf8() + kCrLf;
        body += "Content-Type: text/plain" + kCrLf + kCrLf;
        body += it.value().toUtf8() + kCrLf;
    }
    for (const HttpRequestFile& file : params.files) {
        if (file.localFileName.isEmpty() || file.variableName.isEmpty())
            continue;
        const QFileInfo info(file.localFileName);
        if (!info.exists() || !info.isFile() || !info.isReadable())
            continue;
        QFile input(file.localFileName);
        if (!input.open(QIODevice::ReadOnly))
            continue;
        QString requestName = file.requestFileName;
        if (requestName.isEmpty())
            requestName = info.fileName();
        if (requestName.isEmpty())
            requestName = QStringLiteral("file");
        body += delimiter;
        body += QStringLiteral("Content-Disposition: form-data; %1; %2")
                    .arg(encodeHeaderAttribute(QStringLiteral("name"), file.variableName),
                         encodeHeaderAttribute(QStringLiteral("filename"), requestName))
                    .toUtf8() +
                kCrLf;
        if (!file.mimeType.isEmpty())
            body += "Content-Type: " + file.mimeType.toUtf8() + kCrLf;
        body += "Content-Transfer-Encoding: binary" + kCrLf + kCrLf;
        body += input.readAll();
        body += kCrLf;
    }
    body += "--" + boundary + "--";
    return body;
}

}  // namespace

QString encodeHeaderAttribute(const QString& name, const QString& value) {
    const QByteArray bytes = value.toUtf8();
    QByteArray quoted;
    bool extended = false;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\' || byte == '/' || byte < 0x20 || byte >= 0x7F) {
            extended = true;
        } else if (byte == '"') {
            quoted += "\\\"";
        } else {
            quoted += c;
        }
    }
    if (quoted.isEmpty())
        extended = true;
    if (!extended)
        return QStringLiteral("%1=\"%2\"").arg(name, QString::fromLatin1(quoted));

    QByteArray encoded;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (isAsciiAlphanumeric(byte)) {
            encoded += c;
        } else {
            encoded += '%' + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        }
    }
    return QStringLiteral("%1=\"%2\"; %1*=utf-8''%3")
        .arg(name, QString::fromLatin1(quoted), QString::fromLatin1(encoded));
}

HttpRequestWorker::HttpRequestWorker(QObject* parent)
    : QObject(parent), manager_(new QNetworkAccessManager(this)) {
    connect(manager_, &QNetworkAccessManager::finished, this,
            &HttpRequestWorker::on_manager_finished);
}

void HttpRequestWorker::send(const HttpRequestParams& params) {
    responseBody.clear();
    networkError = QNetworkReply::NoError;
    errorText.clear();

    VarLayout layout = params.layout;
    if (!params.files.isEmpty()) {
        layout = VarLayout::FormMultipart;
    } else if (layout == VarLayout::Unset) {
        const bool queryMethod =
            params.method == QLatin1String("GET") || params.method == QLatin1String("HEAD");
        layout = queryMethod ? VarLayout::InQuery : VarLayout::FormUrlEncoded;
    }

    QString url = params.url;
    QByteArray body;
    QByteArray boundary;
    if (layout == VarLayout::FormMultipart) {
        boundary = multipartBoundary();
        body = multipartBody(params, boundary);
    } else if (!params.vars.isEmpty()) {
        body = urlEncodedVariables(params.vars);
        if (layout == VarLayout::InQuery) {
            url += QLatin1Char('?') + QString::fromLatin1(body);
            body.clear();
        }
    }

    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("User-Agent", kUserAgent);
    if (layout == VarLayout::FormUrlEncoded) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
    } else if (layout == VarLayout::FormMultipart) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("multipart/form-data; boundary=") + boundary);
    }

    if (params.method == QLatin1String("GET")) {
        manager_->get(request);
    } else if (params.method == QLatin1String("POST")) {
        manager_->post(request, body);
    } else if (params.method == QLatin1String("PUT")) {
        manager_->put(request, body);
    } else if (params.method == QLatin1String("HEAD")) {
        manager_->head(request);
    } else if (params.method == QLatin1String("DELETE")) {
        manager_->deleteResource(request);
    } else {
        auto* device = new QBuffer;
        device->setData(body);
        device->open(QIODevice::ReadOnly);
        QNetworkReply* reply =
            manager_->sendCustomRequest(request, params.method.toLatin1(), device);
        // The body is read while the request goes out; it lives as long as the reply.
        device->setParent(reply);
    }
}

void HttpRequestWorker::on_manager_finished(QNetworkReply* reply) {
    networkError = reply->error();
    if (networkError != QNetworkReply::NoError) {
        errorText = reply->errorString();
    } else {
        responseBody = reply->readAll();
    }
    reply->deleteLater();
    emit on_execution_finished(this);
}
