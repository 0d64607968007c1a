#include "SocialGetPersonsRequest.h"

#include "SocialStream.h"

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
    QHash<QString, QRegExp> filter;
    for (quint32 i = 0; i < count; ++i) {
        QString name;
        QString pattern;
        if (!SocialStream::readString(stream, name) || !SocialStream::readString(stream, pattern))
            return false;
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
