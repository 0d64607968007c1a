// SPDX-License-Identifier: BSD-3-Clause
#include "SocialGetPersonsRequest.h"

#include "SocialStream.h"

#include <QDebug>

namespace {

// A filter tests a few properties with short expressions; the bytes come from any
// process on the bus. The matcher's memory grows with an expression's size once its
// counted repetitions are written out ("(a{1000}){1000}" is a million states), its
// time with the choices it has to follow ("(.?){64}" takes 2 ms for one name).
const quint32 MaxFilterEntries = 16;
const int MaxPatternSize = 256;
const int MaxPatternChoices = 16;

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

// What an expression costs the matcher: its size with each counted repetition written
// out (a{3} as aaa), and its choices: each *, + and ?, and each optional repetition
// once written out (a{1,3} as aa?a?).
struct PatternCost
{
    qint64 size = 0;
    qint64 choices = 0;
    bool within() const { return size <= MaxPatternSize && choices <= MaxPatternChoices; }
};

PatternCost patternCost(const QString &pattern)
{
    QList<PatternCost> open; // the cost before each open group
    PatternCost cost;
    PatternCost atom; // the last atom's, for a repetition that follows it
    const auto add = [&](const PatternCost &part) {
        cost.size += part.size;
        cost.choices += part.choices;
        atom = part;
    };
    for (int i = 0; i < pattern.size() && cost.within(); ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\\')) {
            ++i;
            add({1, 0});
        } else if (c == QLatin1Char('[')) {
            // A class is one atom, up to its closing bracket, which may come first.
            int j = i + 1;
            if (j < pattern.size() && pattern.at(j) == QLatin1Char('^'))
                ++j;
            for (++j; j < pattern.size() && pattern.at(j) != QLatin1Char(']'); ++j) {
                if (pattern.at(j) == QLatin1Char('\\'))
                    ++j;
            }
            add({j - i + 1, 0});
            i = j;
        } else if (c == QLatin1Char('(')) {
            open.append(cost);
            cost = PatternCost();
        } else if (c == QLatin1Char(')') && !open.isEmpty()) {
            const PatternCost group = cost;
            cost = open.takeLast();
            add(group);
        } else if (c == QLatin1Char('*') || c == QLatin1Char('+') || c == QLatin1Char('?')) {
            ++cost.choices;
            ++cost.size;
        } else if (c == QLatin1Char('{')) {
            // {n}, {n,} or {n,m}: n copies of the atom, then m - n optional ones or a loop.
            const int close = pattern.indexOf(QLatin1Char('}'), i);
            const QStringList bounds = pattern.mid(i + 1, qMax(0, close - i - 1)).split(QLatin1Char(','));
            const qint64 least = close > i && bounds.size() <= 2 ? count(bounds.first()) : -1;
            const qint64 most = bounds.size() == 1 ? least : count(bounds.last());
            if (least < 0 || most < 0 || (bounds.size() == 2 && !bounds.last().isEmpty() && most < least)) {
                add({1, 0});
                continue;
            }
            const bool endless = bounds.size() == 2 && bounds.last().isEmpty();
            const qint64 copies = endless ? least + 1 : most;
            cost.size += atom.size * (copies - 1);
            cost.choices += atom.choices * (copies - 1) + (endless ? 1 : most - least);
            atom = {atom.size * copies, atom.choices * copies};
            i = close;
        } else {
            add({1, 0});
        }
    }
    while (!open.isEmpty()) {
        cost.size += open.last().size;
        cost.choices += open.takeLast().choices;
    }
    return cost;
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
        if (pattern.size() > MaxPatternSize || !patternCost(pattern).within()) {
            qWarning() << Q_FUNC_INFO << "filter pattern for" << name.left(64) << "of" << pattern.size()
                       << "characters refused: over" << MaxPatternSize << "characters with its repetitions"
                       << "written out or over" << MaxPatternChoices << "choices";
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
