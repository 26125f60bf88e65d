// One request line as JSON: the control socket's requests and the faults
// file's lines. A key given twice in one object is refused rather than
// letting the last one win, since which one the sender meant is a guess.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace volmar {

// The object Line holds; nothing, with Error saying why, when it is no JSON
// object or when an object at any depth has a key twice.
std::optional<QJsonObject> ParseJsonObjectLine(const QByteArray& Line, QString& Error);

} // namespace volmar
