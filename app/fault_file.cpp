#include "app/fault_file.h"

#include <optional>
#include <vector>

#include "lab/line_file.h"

namespace volmar {

bool ArmFaultFile(TFaults& Faults, const QString& Path, QString& Error) {
    const std::optional<QByteArray> text = ReadLineFile(Path, Error);
    if (!text) return false;
    std::vector<TFaultRule> rules;
    const auto take = [&rules](const QJsonObject& Object, int, QString& Why) {
        const std::optional<TFaultRule> rule = FaultFromJson(Object, Why);
        if (rule) rules.push_back(*rule);
        return rule.has_value();
    };
    if (!TakeJsonLines(*text, Path, take, Error)) return false;
    for (const TFaultRule& rule : rules) Faults.Arm(rule);
    return true;
}

} // namespace volmar
