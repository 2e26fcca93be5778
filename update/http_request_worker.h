#pragma once

// A small HTTP client on top of QNetworkAccessManager: one request description in, one
// signal out.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QNetworkAccessManager;

// How a request's variables travel.
enum class VarLayout { Unset = 0, InQuery = 1, FormUrlEncoded = 2, FormMultipart = 3 };

struct HttpRequestFile {
    QString variableName;
    QString localFileName;    // read from disk
    QString requestFileName;  // sent to the server
    QString mimeType;
};

struct HttpRequestParams {
    QString url;
    QString method = QStringLiteral("GET");
    VarLayout layout = VarLayout::Unset;
    QMap<QString, QString> vars;  // sent in ascending key order
    QList<HttpRequestFile> files;
};

// A form-data header attribute: name="value", plus the RFC 2231 form name*=utf-8''... when
// the value holds bytes the quoted form cannot carry.
QString encodeHeaderAttribute(const QString& name, const QString& value);

class HttpRequestWorker : public QObject {
    Q_OBJECT
  public:
    explicit HttpRequestWorker(QObject* parent = nullptr);

    // Issues the request and returns; `on_execution_finished` follows. One request at a time.
    void send(const HttpRequestParams& params);

    QByteArray responseBody;
    QNetworkReply::NetworkError networkError = QNetworkReply::NoError;
    QString errorText;

  signals:
    void on_execution_finished(HttpRequestWorker* worker);

  public slots:
    void on_manager_finished(QNetworkReply* reply);

  private:
    QNetworkAccessManager* manager_;
};
