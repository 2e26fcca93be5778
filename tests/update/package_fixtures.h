#pragma once

// Package bodies built by hand, so that tests can store what no writer would.

#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QVector>

#include <ostream>

#include <gtest/gtest.h>

#include "tests/commands/qt_printers.h"

inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << bytes.size() << " bytes " << bytes.left(64).toHex().toStdString();
}

namespace update_test {

struct Entry {
    QString name;
    quint32 size;
    QByteArray data;
};

inline Entry entry(const QString& name, const QByteArray& data) {
    return {name, quint32(data.size()), data};
}

inline QByteArray body(const QString& version, quint32 count, const QVector<Entry>& entries) {
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_5_1);
    stream << version << count;
    for (const Entry& e : entries)
        stream << e.name << e.size << e.data;
    return bytes;
}

inline QByteArray body(const QString& version, const QVector<Entry>& entries) {
    return body(version, quint32(entries.size()), entries);
}

// The stored decompressed size, at offset 153.
inline void setStoredSize(QByteArray& package, qint32 size) {
    for (int i = 0; i < 4; ++i)
        package[153 + i] = char(quint32(size) >> (8 * i));
}

// Writes `data` to `path`, making its folders.
inline void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

}  // namespace update_test
