// A file of lines a person writes (faults to arm, a conformance run): a
// regular file or a pipe (a FIFO, or a shell's <(...)); nothing else is
// opened, since opening a device can itself do something, and nothing about
// it ever holds the program up for long.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

namespace volmar {

// How long a pipe's writer has to finish, in all.
constexpr int kLineFilePipeWaitMs = 5000;

// What the file holds (a pipe's until its writer closes it); nothing, with
// Error naming the file and what is wrong, when it cannot be read.
std::optional<QByteArray> ReadLineFile(const QString& Path, QString& Error);

// Takes each line of Text that is neither blank nor a comment ('#' first)
// as a JSON object (Take: false, saying why, when it will not do); false at
// the first that is no object or not taken, with Error "<Name> line <n>: why".
bool TakeJsonLines(const QByteArray& Text, const QString& Name,
                   const std::function<bool(const QJsonObject& Object, int Line, QString& Why)>& Take,
                   QString& Error);

} // namespace volmar
