#include "networkcounterpattern.h"

QString networkCounterPattern(const QString &adapterName)
{
    // Counter sets spell "(R)" as "[R]" and "/" as "_"; brackets are special in a LIKE
    // pattern, so the bracketed run becomes one wildcard.
    QString pattern = adapterName;
    pattern.replace(QLatin1Char('/'), QLatin1Char('_'));
    pattern.replace(QLatin1Char('('), QLatin1Char('['));
    pattern.replace(QLatin1Char(')'), QLatin1Char(']'));
    if (pattern.contains(QLatin1Char(']'))) {
        const int open = pattern.indexOf(QLatin1Char('['));
        const int close = pattern.lastIndexOf(QLatin1Char(']'));
        pattern = (open >= 0 ? pattern.left(open) : QString()) + QLatin1Char('%') +
                  pattern.mid(close + 1);
    }
    return pattern;
}
