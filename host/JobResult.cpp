#include "JobResult.h"

QString JobResult::outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Succeeded:
        return QStringLiteral("succeeded");
    case Outcome::Failed:
        return QStringLiteral("failed");
    case Outcome::Skipped:
        return QStringLiteral("skipped");
    case Outcome::Aborted:
        return QStringLiteral("aborted");
    }
    return QString();
}
