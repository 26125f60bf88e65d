#include "lab/json_line.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <set>
#include <vector>

namespace volmar {

namespace {

// A string token's text; Text is valid JSON, so its escapes are too.
QString StringToken(const QByteArray& Token) {
    if (!Token.contains('\\')) return QString::fromUtf8(Token.mid(1, Token.size() - 2));
    return QJsonDocument::fromJson('[' + Token + ']').array().at(0).toString();
}

// The first key found twice in one object of Text, which is valid JSON.
std::optional<QString> DuplicatedKey(const QByteArray& Text) {
    struct TScope {
        bool Object;
        bool ExpectKey;
        std::set<QString> Keys;
    };
    std::vector<TScope> scopes;
    for (qsizetype i = 0; i < Text.size(); ++i) {
        switch (const char c = Text[i]) {
        case '{':
        case '[': scopes.push_back({c == '{', c == '{', {}}); break;
        case '}':
        case ']': scopes.pop_back(); break;
        case ',':
            if (scopes.back().Object) scopes.back().ExpectKey = true;
            break;
        case '"': {
            const qsizetype start = i;
            for (++i; Text[i] != '"'; ++i)
                if (Text[i] == '\\') ++i;
            TScope& scope = scopes.back();
            if (!scope.Object || !scope.ExpectKey) break;
            scope.ExpectKey = false;
            QString key = StringToken(Text.mid(start, i - start + 1));
            if (!scope.Keys.insert(key).second) return key;
            break;
        }
        default: break;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<QJsonObject> ParseJsonObjectLine(const QByteArray& Line, QString& Error) {
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(Line, &parse);
    if (parse.error != QJsonParseError::NoError) {
        Error = QStringLiteral("not a JSON object: ") + parse.errorString();
        return std::nullopt;
    }
    if (!document.isObject()) {
        Error = QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    if (const std::optional<QString> key = DuplicatedKey(Line)) {
        Error = QStringLiteral("duplicated key: \"%1\"").arg(*key);
        return std::nullopt;
    }
    return document.object();
}

} // namespace volmar
