#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// The texts running and later instances exchange over the local socket: ";"-terminated
// segments, no length prefix.
namespace instance_protocol {

// A later instance's request that the running one shows its window, in the local 8-bit code.
QByteArray showCommand();

// The running instance's answer to a command segment: "RES:<process id>;" in UTF-8.
QByteArray answer(qint64 processId);

// Takes the complete segments from the front of `input`, decoded from the local 8-bit code
// page, without their ";"; `input` keeps the bytes after the last ";" for the next read.
QStringList takeSegments(QByteArray& input);

// The command a segment names ("CMD:" followed by the name, case-sensitive), or nothing.
std::optional<QString> commandName(const QString& segment);

// What a later instance has received so far: nothing until it holds a complete answer, then
// the process id the answer names, or 0 when its digits name no process id.
std::optional<std::uint32_t> answerProcessId(const QString& received);

}  // namespace instance_protocol
