// SPDX-License-Identifier: BSD-3-Clause
// The service's dates as the daemon reads them by hand in their one fixed form, against
// QLocale's reading of the same text: any text, in a time zone of four (the first byte
// chooses), as local time and as UTC, gives the same instant in the same form from both,
// or is refused by both.

#include "FuzzSupport.h"
#include "Twitter.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include <cstdlib>
#include <ctime>

namespace {

// Zones with a half-hour offset, with daylight saving at either end, and none.
const char *const Zones[] = {"UTC", "Europe/Helsinki", "America/St_Johns", "Asia/Kolkata"};

// The dates as QLocale alone reads them, as convertDateTime did before it read the
// service's own form by hand: whatever that form gives must be the same.
QDateTime localeReading(const QString &text, bool utc)
{
    const QStringList parts = text.simplified().split(QLatin1Char(' '));
    if (parts.size() != 6)
        return QDateTime();
    const QDate date = QLocale::c().toDate(parts.mid(0, 3).join(QLatin1Char(' ')) + QLatin1Char(' ') + parts.at(5),
                                           QStringLiteral("ddd MMM dd yyyy"));
    QDateTime time(date, QLocale::c().toTime(parts.at(3), QStringLiteral("HH:mm:ss")), Qt::UTC);
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

bool same(const QDateTime &read, const QDateTime &expected)
{
    if (read.isValid() != expected.isValid())
        return false;
    return !expected.isValid()
        || (read.timeSpec() == expected.timeSpec() && read.date() == expected.date() && read.time() == expected.time()
            && read.offsetFromUtc() == expected.offsetFromUtc()
            && read.toMSecsSinceEpoch() == expected.toMSecsSinceEpoch());
}

}

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    FuzzSupport::start((*argv)[0]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    setenv("TZ", Zones[data[0] % 4], 1);
    tzset();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, int(size) - 1);
    for (const bool utc : {false, true}) {
        if (!same(Tw::Twitter::convertDateTime(text, utc), localeReading(text, utc)))
            abort();
    }
    return 0;
}
