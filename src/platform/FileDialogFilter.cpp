#include "platform/FileDialogFilter.h"

namespace melvora {
namespace {

QString qtPatterns(const QString &patternList) {
    QStringList patterns;
    for (const QString &part : patternList.split(QLatin1Char(';'))) {
        const QString pattern = part.trimmed();
        if (pattern.isEmpty())
            continue;
        patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    return patterns.join(QLatin1Char(' '));
}

} // namespace

QStringList qtFileFilters(const QString &barText) {
    const QStringList parts = barText.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &name = parts[i];
        const QString &patternList = parts[i + 1];
        if (name.isEmpty() || patternList.isEmpty())
            break;
        const QString patterns = qtPatterns(patternList);
        if (patterns.isEmpty())
            break;
        filters << QStringLiteral("%1 (%2)").arg(name, patterns);
    }
    return filters;
}

QString qtFileFilterString(const QString &barText) {
    return qtFileFilters(barText).join(QStringLiteral(";;"));
}

} // namespace melvora
