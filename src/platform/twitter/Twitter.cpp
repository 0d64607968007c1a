// SPDX-License-Identifier: BSD-3-Clause
#include "Twitter.h"

#include <QLocale>
#include <QUrl>

namespace Tw {

namespace {
// 100 pages of the service's largest size hold its largest following.
const int MaxFriendsPages = 100;
}

QString Twitter::screenName(const QVariantMap &person)
{
    return person.value(QLatin1String(ScreenNameKey)).toString();
}

QString Twitter::nextFriendsCursor(const QVariantMap &page, const QSet<QString> &asked, QString *oddEnd)
{
    const QString next = page.value(QStringLiteral("next_cursor_str")).toString();
    QString why;
    if (next.isEmpty())
        why = QStringLiteral("a page without next_cursor_str, taken as the last");
    else if (asked.contains(next))
        why = QStringLiteral("cursor %1 asked for before in this paging, taken as the last page").arg(next);
    else if (next != QLatin1String("0") && asked.size() >= MaxFriendsPages)
        why = QStringLiteral("ended after %1 pages, the cursors go on").arg(asked.size());
    if (oddEnd)
        *oddEnd = why;
    return why.isEmpty() && next != QLatin1String("0") ? next : QString();
}

int Twitter::compareIds(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

QDateTime Twitter::idTime(const QString &id)
{
    // The service's epoch, 2010-11-04 01:42:54.657 UTC, and the bits below the time.
    const qint64 epochMs = 1288834974657;
    const int timeShift = 22;
    bool ok = false;
    const quint64 value = id.toULongLong(&ok);
    if (!ok)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(epochMs + qint64(value >> timeShift), Qt::UTC);
}

namespace {

// Two decimal digits, or -1.
int twoDigits(const QChar *at)
{
    const ushort high = at[0].unicode() - '0';
    const ushort low = at[1].unicode() - '0';
    return high < 10 && low < 10 ? high * 10 + low : -1;
}

// 1 + the index of the three letters among names, exactly as written there; 0 if absent.
int nameNumber(const QChar *at, const char (*names)[4], int count)
{
    for (int i = 0; i < count; ++i) {
        if (at[0] == QLatin1Char(names[i][0]) && at[1] == QLatin1Char(names[i][1]) && at[2] == QLatin1Char(names[i][2]))
            return i + 1;
    }
    return 0;
}

// The service writes every date the same way, "Sun Dec 06 05:40:12 +0000 2026", and
// QLocale takes far longer to read it than the rest of a friend's conversion: that one
// form is read here. False for any text that differs from it in the least (case, spacing,
// digits, a date or a day name that is wrong), which is then left to QLocale.
bool readServiceForm(const QString &text, QDateTime *time, int *offset)
{
    static const char days[7][4] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char months[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() != 30)
        return false;
    const QChar *c = text.constData();
    for (const int at : {3, 7, 10, 19, 25}) {
        if (c[at] != QLatin1Char(' '))
            return false;
    }
    if (c[13] != QLatin1Char(':') || c[16] != QLatin1Char(':')
        || (c[20] != QLatin1Char('+') && c[20] != QLatin1Char('-')))
        return false;
    const int dayOfWeek = nameNumber(c, days, 7);
    const int month = nameNumber(c + 4, months, 12);
    const int century = twoDigits(c + 26);
    const int yearOfCentury = twoDigits(c + 28);
    const int offsetHours = twoDigits(c + 21);
    const int offsetMinutes = twoDigits(c + 23);
    const int day = twoDigits(c + 8);
    const int hour = twoDigits(c + 11);
    const int minute = twoDigits(c + 14);
    const int second = twoDigits(c + 17);
    if (!dayOfWeek || !month || century < 0 || yearOfCentury < 0 || offsetHours < 0 || offsetMinutes < 0
        || day < 0 || hour < 0 || minute < 0 || second < 0)
        return false;
    const QDate date(century * 100 + yearOfCentury, month, day);
    if (!date.isValid() || date.dayOfWeek() != dayOfWeek || !QTime::isValid(hour, minute, second))
        return false;
    // The fields are the service's clock, not the local one: read as UTC, a time in the
    // hour a local clock skips for daylight saving is still a time.
    *time = QDateTime(date, QTime(hour, minute, second), Qt::UTC);
    *offset = (c[20] == QLatin1Char('-') ? -1 : 1) * (offsetHours * 3600 + offsetMinutes * 60);
    return true;
}

// Any other text: the offset sits between the time and the year, where QDateTime's
// formats cannot read it, so it is taken apart by hand and the rest given to QLocale.
bool readWithLocale(const QString &text, QDateTime *time, int *offset)
{
    const QStringList parts = text.simplified().split(QLatin1Char(' '));
    if (parts.size() != 6)
        return false;
    // Date and clock apart, so that neither is read as local time (see above).
    const QString day = parts.mid(0, 3).join(QLatin1Char(' ')) + QLatin1Char(' ') + parts.at(5);
    const QDate date = QLocale::c().toDate(day, QStringLiteral("ddd MMM dd yyyy"));
    const QTime clock = QLocale::c().toTime(parts.at(3), QStringLiteral("HH:mm:ss"));
    *time = QDateTime(date, clock, Qt::UTC);
    const QString offsetText = parts.at(4);
    bool hoursOk = false;
    bool minutesOk = false;
    const int hours = offsetText.mid(1, 2).toInt(&hoursOk);
    const int minutes = offsetText.mid(3, 2).toInt(&minutesOk);
    if (!time->isValid() || offsetText.size() != 5 || !hoursOk || !minutesOk
        || (offsetText.at(0) != QLatin1Char('+') && offsetText.at(0) != QLatin1Char('-')))
        return false;
    const int sign = offsetText.at(0) == QLatin1Char('-') ? -1 : 1;
    *offset = sign * (hours * 3600 + minutes * 60);
    return true;
}

}

QDateTime Twitter::convertDateTime(const QString &text, bool utc)
{
    QDateTime time;
    int offset = 0;
    if (!readServiceForm(text, &time, &offset) && !readWithLocale(text, &time, &offset))
        return QDateTime();
    time.setOffsetFromUtc(offset);
    return utc ? time.toUTC() : time.toLocalTime();
}

QStringList Twitter::pictureHosts()
{
    return {QStringLiteral("twitpic.com"), QStringLiteral("yfrog.com"), QStringLiteral("instagr.am")};
}

QByteArray Twitter::pictureFormat(const QByteArray &head)
{
    if (head.startsWith("\xFF\xD8"))
        return QByteArrayLiteral("jpeg");
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return QByteArrayLiteral("png");
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return QByteArrayLiteral("gif");
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return QByteArrayLiteral("tiff");
    return QByteArray();
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
