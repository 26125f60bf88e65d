// Pictures of the program for a reviewer, kept in the build folder's
// artefacts; a run under QT_SCALE_FACTOR names its own ("main_window@1.5x.png").
#pragma once

#include <QDir>
#include <QImage>
#include <QString>

namespace volmar::testing {

inline bool SavePicture(const QImage& Picture, const QString& Name) {
    const QString folder = QStringLiteral(VOLMAR_ARTEFACT_DIR);
    if (!QDir().mkpath(folder)) return false;
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR");
    const QString suffix = scale.isEmpty() ? QString() : QStringLiteral("@%1x").arg(scale);
    return Picture.save(folder + QLatin1Char('/') + Name + suffix + QStringLiteral(".png"));
}

} // namespace volmar::testing
