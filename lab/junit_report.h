// A conformance run's reports: JUnit XML as CI servers read it (one test
// case per step; a failure or an error with the frames and times that show
// why) and a text report beside it for a person, with the verdict's rules.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace volmar {

class TConformanceRun;
class TVerdict;

QByteArray JUnitXml(const TConformanceRun& Run);
QByteArray RunReportText(const TConformanceRun& Run, const TVerdict& Verdict);
// REPORT.xml: REPORT.txt; any other name gains ".txt".
QString TextReportPath(const QString& JUnitPath);
// Writes both, each whole or not at all; throws with the reason when one
// cannot be. Returns the paths written.
QStringList WriteRunReports(const TConformanceRun& Run, const TVerdict& Verdict,
                            const QString& JUnitPath);

} // namespace volmar
