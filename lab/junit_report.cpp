#include "lab/junit_report.h"

#include <QDateTime>
#include <QXmlStreamWriter>

#include "dataport/file_store.h"
#include "lab/conformance.h"

namespace volmar {

namespace {

struct TTally {
    int Failures = 0;
    int Errors = 0;
    double Seconds = 0;
};

TTally Tally(const TConformanceRun& Run) {
    TTally t;
    for (const TStepResult& r : Run.Results()) {
        t.Failures += r.Outcome == TStepResult::Failed;
        t.Errors += r.Outcome == TStepResult::Error;
        t.Seconds += r.Seconds;
    }
    return t;
}

QString Seconds(double S) { return QString::number(S, 'f', 3); }

QString CaseName(const TConformanceRun& Run, std::size_t Index) {
    return QStringLiteral("%1. %2").arg(Index + 1).arg(Run.Plan().Steps[Index].Name);
}

void Write(const QString& Path, const QByteArray& Bytes) {
    ReplaceFile(Path.toStdString(),
                std::string_view(Bytes.constData(), static_cast<std::size_t>(Bytes.size())));
}

} // namespace

QByteArray JUnitXml(const TConformanceRun& Run) {
    const TTally t = Tally(Run);
    const QString tests = QString::number(Run.Plan().Steps.size());
    QByteArray xml;
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("testsuites"));
    w.writeAttribute(QStringLiteral("name"), QStringLiteral("volmarsim conformance"));
    w.writeAttribute(QStringLiteral("tests"), tests);
    w.writeAttribute(QStringLiteral("failures"), QString::number(t.Failures));
    w.writeAttribute(QStringLiteral("errors"), QString::number(t.Errors));
    w.writeAttribute(QStringLiteral("time"), Seconds(t.Seconds));
    w.writeStartElement(QStringLiteral("testsuite"));
    w.writeAttribute(QStringLiteral("name"), Run.Plan().Name);
    w.writeAttribute(QStringLiteral("tests"), tests);
    w.writeAttribute(QStringLiteral("failures"), QString::number(t.Failures));
    w.writeAttribute(QStringLiteral("errors"), QString::number(t.Errors));
    // Steps a run did not reach are skipped.
    w.writeAttribute(QStringLiteral("skipped"),
                     QString::number(Run.Plan().Steps.size() - Run.Results().size()));
    w.writeAttribute(QStringLiteral("time"), Seconds(t.Seconds));
    w.writeAttribute(QStringLiteral("timestamp"),
                     QDateTime::fromMSecsSinceEpoch(Run.StartedWallUs() / 1000)
                         .toString(Qt::ISODate));
    for (std::size_t i = 0; i < Run.Plan().Steps.size(); ++i) {
        w.writeStartElement(QStringLiteral("testcase"));
        w.writeAttribute(QStringLiteral("classname"), QStringLiteral("conformance.") + Run.Plan().Name);
        w.writeAttribute(QStringLiteral("name"), CaseName(Run, i));
        if (i >= Run.Results().size()) {
            w.writeAttribute(QStringLiteral("time"), Seconds(0));
            w.writeEmptyElement(QStringLiteral("skipped"));
            w.writeAttribute(QStringLiteral("message"), QStringLiteral("the run ended before this step"));
            w.writeEndElement();
            continue;
        }
        const TStepResult& r = Run.Results()[i];
        w.writeAttribute(QStringLiteral("time"), Seconds(r.Seconds));
        if (r.Outcome != TStepResult::Passed) {
            const bool failed = r.Outcome == TStepResult::Failed;
            w.writeStartElement(failed ? QStringLiteral("failure") : QStringLiteral("error"));
            w.writeAttribute(QStringLiteral("message"), r.Message);
            w.writeAttribute(QStringLiteral("type"),
                             failed ? QStringLiteral("rule broken") : QStringLiteral("not judged"));
            w.writeCharacters(r.Detail.isEmpty() ? r.Message : r.Detail);
            w.writeEndElement();
        }
        w.writeTextElement(QStringLiteral("system-out"),
                           r.Message + (r.Detail.isEmpty() ? QString() : QLatin1Char('\n') + r.Detail));
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return xml;
}

QByteArray RunReportText(const TConformanceRun& Run, const TVerdict& Verdict) {
    const TTally t = Tally(Run);
    QString text = QStringLiteral("Conformance run \"%1\", started %2\n\n")
                       .arg(Run.Plan().Name,
                            QDateTime::fromMSecsSinceEpoch(Run.StartedWallUs() / 1000)
                                .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    for (std::size_t i = 0; i < Run.Plan().Steps.size(); ++i) {
        if (i >= Run.Results().size()) {
            text += QStringLiteral("SKIPPED  %1\n").arg(CaseName(Run, i));
            continue;
        }
        const TStepResult& r = Run.Results()[i];
        text += QStringLiteral("%1  %2: %3\n")
                    .arg(QString::fromLatin1(OutcomeText(r.Outcome)).toUpper().leftJustified(7),
                         CaseName(Run, i), r.Message);
        if (r.Outcome != TStepResult::Passed && !r.Detail.isEmpty())
            text += QStringLiteral("         ") +
                    QString(r.Detail).replace(QLatin1Char('\n'), QStringLiteral("\n         ")) +
                    QLatin1Char('\n');
    }
    text += QStringLiteral("\n%1 steps: %2 passed, %3 failed, %4 errors\n\nThe rules, over the whole run:\n")
                .arg(Run.Plan().Steps.size())
                .arg(static_cast<int>(Run.Results().size()) - t.Failures - t.Errors)
                .arg(t.Failures)
                .arg(t.Errors);
    for (int r = 0; r < ruCount; ++r) {
        const auto rule = static_cast<TRule>(r);
        text += QStringLiteral("  %1. %2: %3 (judged %4, broken %5)\n")
                    .arg(r + 1)
                    .arg(QLatin1String(RuleNames[rule].Text),
                         QLatin1String(RuleStatusText(Verdict.Status(rule))))
                    .arg(Verdict[rule].Judged)
                    .arg(Verdict[rule].Broken);
    }
    return text.toUtf8();
}

QString TextReportPath(const QString& JUnitPath) {
    if (JUnitPath.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive))
        return JUnitPath.chopped(4) + QStringLiteral(".txt");
    return JUnitPath + QStringLiteral(".txt");
}

QStringList WriteRunReports(const TConformanceRun& Run, const TVerdict& Verdict,
                            const QString& JUnitPath) {
    const QStringList paths = {JUnitPath, TextReportPath(JUnitPath)};
    Write(paths[0], JUnitXml(Run));
    Write(paths[1], RunReportText(Run, Verdict));
    return paths;
}

} // namespace volmar
