#include "Twitter.h"

#include <QLocale>
#include <QUrl>

namespace Tw {

int Twitter::compareIds(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

QDateTime Twitter::convertDateTime(const QString &text, bool utc)
{
    // "Sun Dec 06 05:40:12 +0000 2026": the offset sits between the time and the year,
    // where QDateTime's formats cannot read it, so it is taken apart by hand.
    const QStringList parts = text.simplified().split(QLatin1Char(' '));
    if (parts.size() != 6)
        return QDateTime();
    const QString withoutOffset = parts.mid(0, 4).join(QLatin1Char(' ')) + QLatin1Char(' ') + parts.at(5);
    QDateTime time = QLocale::c().toDateTime(withoutOffset, QStringLiteral("ddd MMM dd HH:mm:ss yyyy"));
    const QString offset = parts.at(4);
    bool hoursOk = false;
    bool minutesOk = false;
    const int hours = offset.mid(1, 2).toInt(&hoursOk);
    const int minutes = offset.mid(3, 2).toInt(&minutesOk);
    if (!time.isValid() || offset.size() != 5 || !hoursOk || !minutesOk
        || (offset.at(0) != QLatin1Char('+') && offset.at(0) != QLatin1Char('-')))
        return QDateTime();
    const int sign = offset.at(0) == QLatin1Char('-') ? -1 : 1;
    time.setOffsetFromUtc(sign * (hours * 3600 + minutes * 60));
    return utc ? time.toUTC() : time.toLocalTime();
}

QStringList Twitter::pictureHosts()
{
    return {QStringLiteral("twitpic.com"), QStringLiteral("yfrog.com"), QStringLiteral("instagr.am")};
}

bool Twitter::imageTypeSupported(const QString &url)
{
    const QUrl link(url);
    if (!link.isValid() || (link.scheme() != QLatin1String("http") && link.scheme() != QLatin1String("https")))
        return false;
    const QString path = link.path().toLower();
    QString host = link.host();
    if (host.startsWith(QLatin1String("www.")))
        host.remove(0, 4);
    if (pictureHosts().contains(host) && path.size() > 1)
        return true;
    static const QStringList suffixes = {QStringLiteral(".jpg"), QStringLiteral(".jpeg"),
                                         QStringLiteral(".png"), QStringLiteral(".gif")};
    for (const QString &suffix : suffixes) {
        if (path.endsWith(suffix))
            return true;
    }
    return false;
}

}
