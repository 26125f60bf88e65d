#include "app/fault_file.h"

#include <optional>
#include <vector>

#include "lab/json_line.h"
#include "lab/line_file.h"

namespace volmar {

bool ArmFaultFile(TFaults& Faults, const QString& Path, QString& Error) {
    const std::optional<QByteArray> text = ReadLineFile(Path, Error);
    if (!text) return false;
    std::vector<TFaultRule> rules;
    int number = 0;
    for (const QByteArray& raw : text->split('\n')) {
        ++number;
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        QString why;
        std::optional<TFaultRule> rule;
        if (const std::optional<QJsonObject> object = ParseJsonObjectLine(line, why))
            rule = FaultFromJson(*object, why);
        if (!rule) {
            Error = QStringLiteral("%1 line %2: %3").arg(Path).arg(number).arg(why);
            return false;
        }
        rules.push_back(*rule);
    }
    for (const TFaultRule& rule : rules) Faults.Arm(rule);
    return true;
}

} // namespace volmar
