#include "SocialGetPersonsRequest.h"

#include "SocialStream.h"

#include <QDebug>

namespace {

// A filter tests a few properties with short expressions; the bytes come from any
// process on the bus, and the matcher's work and memory grow with an expression's size
// once its counted repetitions are written out ("(a{1000}){1000}" is a million states).
const quint32 MaxFilterEntries = 16;
const int MaxPatternSize = 256;

// A repetition count as written between braces; an empty one counts as none, anything
// else that is not digits as -1 (no count: the brace is an ordinary character).
qint64 count(const QString &text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    // Past the limit every count is as good as any other.
    return text.size() > 6 ? MaxPatternSize + 1 : qMin<qint64>(text.toLongLong(), MaxPatternSize + 1);
}

// The pattern's size with each counted repetition written out (a{3} as aaa); stops
// counting once over the limit.
int expandedSize(const QString &pattern)
{
    QList<qint64> open; // the size before each open group
    qint64 size = 0;
    qint64 atom = 0; // the size of the last atom, for a repetition that follows it
    for (int i = 0; i < pattern.size() && size <= MaxPatternSize; ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\\')) {
            ++i;
            atom = 1;
        } else if (c == QLatin1Char('[')) {
            // A class is one atom: up to its closing bracket, which may come first.
            int j = i + 1;
            if (j < pattern.size() && pattern.at(j) == QLatin1Char('^'))
                ++j;
            for (++j; j < pattern.size() && pattern.at(j) != QLatin1Char(']'); ++j) {
                if (pattern.at(j) == QLatin1Char('\\'))
                    ++j;
            }
            size += j - i;
            i = j;
            atom = 1;
            continue;
        } else if (c == QLatin1Char('(')) {
            open.append(size);
            size = 0;
            atom = 0;
            continue;
        } else if (c == QLatin1Char(')') && !open.isEmpty()) {
            atom = size;
            size += open.takeLast();
            continue;
        } else if (c == QLatin1Char('{')) {
            // {n}, {n,} or {n,m}: the atom n or m times, one more for an open end.
            const int close = pattern.indexOf(QLatin1Char('}'), i);
            const QStringList bounds = pattern.mid(i + 1, qMax(0, close - i - 1)).split(QLatin1Char(','));
            qint64 times = close > i && bounds.size() <= 2 ? count(bounds.first()) : -1;
            if (times >= 0 && bounds.size() == 2) {
                const qint64 last = count(bounds.last());
                times = last < 0 ? -1 : bounds.last().isEmpty() ? times + 1 : qMax(times, last);
            }
            if (times >= 0) {
                size += atom * (times - 1);
                atom *= times;
                i = close;
                continue;
            }
            atom = 1;
        } else {
            atom = 1;
        }
        ++size;
    }
    while (!open.isEmpty())
        size += open.takeLast();
    return int(qMin<qint64>(size, MaxPatternSize + 1));
}

}

SocialGetPersonsRequest::SocialGetPersonsRequest(QObject *parent)
    : SocialDataRequest(Persons, parent)
{
}

void SocialGetPersonsRequest::setPropertyFilter(const QHash<QString, QRegExp> &filter)
{
    mPropertyFilter = filter;
}

void SocialGetPersonsRequest::setPersons(const QList<SocialNetworkPerson> &persons)
{
    mPersons = persons;
}

// Each entry as the property name and the expression's pattern (QRegExp::RegExp2,
// case-sensitive), sorted by name so that equal filters give equal bytes.
void SocialGetPersonsRequest::writeParameters(QDataStream &stream) const
{
    QStringList names = mPropertyFilter.keys();
    names.sort();
    stream << quint32(names.size());
    for (const QString &name : qAsConst(names))
        stream << name << mPropertyFilter.value(name).pattern();
}

bool SocialGetPersonsRequest::readParameters(QDataStream &stream)
{
    quint32 count = 0;
    if (!SocialStream::readCount(stream, count, SocialStream::MinimumEntrySize))
        return false;
    if (count > MaxFilterEntries) {
        qWarning() << Q_FUNC_INFO << "filter of" << count << "entries refused, at most" << MaxFilterEntries;
        return false;
    }
    QHash<QString, QRegExp> filter;
    for (quint32 i = 0; i < count; ++i) {
        QString name;
        QString pattern;
        if (!SocialStream::readString(stream, name) || !SocialStream::readString(stream, pattern))
            return false;
        if (pattern.size() > MaxPatternSize || expandedSize(pattern) > MaxPatternSize) {
            qWarning() << Q_FUNC_INFO << "filter pattern for" << name.left(64) << "of" << pattern.size()
                       << "characters refused: over" << MaxPatternSize << "with its repetitions written out";
            return false;
        }
        filter.insert(name, QRegExp(pattern, Qt::CaseSensitive, QRegExp::RegExp2));
    }
    mPropertyFilter = filter;
    return true;
}

void SocialGetPersonsRequest::writeResult(QDataStream &stream) const
{
    writeRecords(stream, mPersons);
}

bool SocialGetPersonsRequest::readResult(QDataStream &stream)
{
    return readRecords(stream, mPersons);
}
