// SPDX-License-Identifier: BSD-3-Clause
#include "SimulatorView.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <QUrl>

#include <algorithm>

namespace {

const int DetailWidth = 100;
// Short of 80, so that no line wraps on a terminal of 80 columns.
const int CompactWidth = 79;
const int CompactItems = 10;
const int CompactEventLines = 4;
const int CompactContactLines = 2;
const int CompactErrors = 3;

// Text on one line, where a character that a terminal could take for a command is "?".
QString printable(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown) {
        if (c.category() == QChar::Other_Control)
            c = c.isSpace() ? QLatin1Char(' ') : QLatin1Char('?');
    }
    return shown;
}

QString cut(const QString &text, int width)
{
    const QString shown = printable(text);
    return shown.size() <= width ? shown : shown.left(width - 3) + QStringLiteral("...");
}

QString entityText(const QString &entity)
{
    static const QHash<QString, QString> named = {
        {QStringLiteral("&lt;"), QStringLiteral("<")},    {QStringLiteral("&gt;"), QStringLiteral(">")},
        {QStringLiteral("&amp;"), QStringLiteral("&")},   {QStringLiteral("&quot;"), QStringLiteral("\"")},
        {QStringLiteral("&apos;"), QStringLiteral("'")},  {QStringLiteral("&nbsp;"), QString(QChar(0xa0))}};
    if (!entity.startsWith(QLatin1String("&#")))
        return named.value(entity, entity);
    const bool hex = entity.at(2) == QLatin1Char('x') || entity.at(2) == QLatin1Char('X');
    bool ok = false;
    const uint code = entity.mid(hex ? 3 : 2, entity.size() - (hex ? 4 : 3)).toUInt(&ok, hex ? 16 : 10);
    if (!ok || code == 0 || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return entity;
    const char32_t character = code;
    return QString::fromUcs4(&character, 1);
}

// Markup as its reader sees it: the tags left out and the entities read.
QString readerText(const QString &markup)
{
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    static const QRegularExpression entity(QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[a-zA-Z]{2,8});"));
    QString stripped = markup;
    stripped.remove(tag);
    QString text;
    int last = 0;
    for (auto it = entity.globalMatch(stripped); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        text += stripped.midRef(last, match.capturedStart() - last) + entityText(match.captured());
        last = match.capturedEnd();
    }
    text += stripped.midRef(last);
    return text.simplified();
}

QString field(const QJsonObject &object, const char *name)
{
    return object.value(QLatin1String(name)).toString();
}

QJsonObject itemOf(const QJsonValue &entry)
{
    return entry.toObject().value(QStringLiteral("item")).toObject();
}

QString itemTime(const QJsonObject &item, const QString &format = QStringLiteral("yyyy-MM-dd hh:mm"))
{
    const QString stamp = field(item, "timestamp");
    const QDateTime time = QDateTime::fromString(stamp, Qt::ISODate);
    return time.isValid() ? time.toString(format) : stamp;
}

QStringList thumbnails(const QJsonObject &item)
{
    QStringList files;
    for (const QJsonValue &image : item.value(QStringLiteral("imageList")).toArray()) {
        if (!image.toString().isEmpty())
            files.append(image.toString());
    }
    return files;
}

// Newest first, by the tweet's time; the feed keeps them in the order they came.
QList<QJsonObject> newestFirst(const QJsonArray &entries)
{
    QList<QJsonObject> items;
    for (const QJsonValue &entry : entries)
        items.append(itemOf(entry));
    std::stable_sort(items.begin(), items.end(), [](const QJsonObject &a, const QJsonObject &b) {
        return QDateTime::fromString(field(a, "timestamp"), Qt::ISODate)
            > QDateTime::fromString(field(b, "timestamp"), Qt::ISODate);
    });
    return items;
}

QList<QJsonObject> notificationsOf(const SimulatorSnapshot &snapshot, const QJsonValue &group)
{
    QList<QJsonObject> found;
    for (const QJsonValue &notification : snapshot.notifications) {
        if (notification[QStringLiteral("group")] == group[QStringLiteral("id")])
            found.append(notification.toObject());
    }
    return found;
}

QString kindName(const QString &eventType)
{
    if (eventType == QLatin1String("mentions.service.twitter"))
        return QStringLiteral("mentions");
    if (eventType == QLatin1String("messages.service.twitter"))
        return QStringLiteral("direct messages");
    return eventType;
}

QString fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toHtmlEscaped();
}

// The parts joined by "; ", word-wrapped in lines of the width, at most so many of them.
QStringList wrapped(const QStringList &parts, int maxLines)
{
    const QString indent = QStringLiteral("  ");
    QStringList lines;
    QString line;
    for (const QString &word : printable(parts.join(QStringLiteral("; "))).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && indent.size() + line.size() + 1 + word.size() > CompactWidth) {
            lines.append(indent + line);
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        lines.append(indent + line);
    if (lines.size() > maxLines) {
        lines = lines.mid(0, maxLines);
        lines.last() = cut(lines.last(), CompactWidth - 4) + QStringLiteral(" ...");
    }
    for (QString &each : lines)
        each = cut(each, CompactWidth);
    return lines;
}

void writeHeader(QTextStream &out, const SimulatorSnapshot &snapshot, const QString &hint)
{
    out << "twitter-ostra on the platform simulator: round " << snapshot.round;
    if (snapshot.rounds > 0)
        out << " of " << snapshot.rounds;
    out << "   (" << hint << ")\n";
}

}

SimulatorView::SimulatorView(bool clearScreen, bool details)
    : mClearScreen(clearScreen)
    , mDetails(details)
{
}

QString SimulatorView::notificationCounts(const SimulatorSnapshot &snapshot)
{
    QStringList kinds;
    for (const QJsonValue &group : snapshot.groups)
        kinds.append(QStringLiteral("%1 %2").arg(group[QStringLiteral("count")].toInt()).arg(
            kindName(group[QStringLiteral("eventType")].toString())));
    if (kinds.isEmpty())
        return QStringLiteral("none");
    // The daemon folds a kind's older notifications into one as news comes.
    return QStringLiteral("%1 in %2 notification(s), older ones folded")
        .arg(kinds.join(QStringLiteral(", ")))
        .arg(snapshot.notifications.size());
}

QString SimulatorView::terminalText(const SimulatorSnapshot &snapshot) const
{
    return mDetails ? detailedText(snapshot) : compactText(snapshot);
}

// At most 35 lines: the header and 5 of the round's events, 2 + 11 of the feed, 3 + 2 of
// the notifications (the daemon's two groups), 2 + 2 of contacts, 2 of rate limits, 2 + 3
// of errors.
QString SimulatorView::compactText(const SimulatorSnapshot &snapshot) const
{
    QString text;
    QTextStream out(&text);
    writeHeader(out, snapshot, QStringLiteral("Ctrl-C stops"));
    out << "This round:\n";
    for (const QString &line : wrapped(snapshot.events, CompactEventLines))
        out << line << '\n';

    const QList<QJsonObject> items = newestFirst(snapshot.items);
    out << "\nEVENT FEED: " << items.size() << " items, newest first\n";
    for (const QJsonObject &item : items.mid(0, CompactItems)) {
        QString line = QStringLiteral("  %1 %2 ").arg(itemTime(item, QStringLiteral("MM-dd hh:mm")),
                                                     cut(readerText(field(item, "title")), 14).leftJustified(14));
        if (!thumbnails(item).isEmpty())
            line += QStringLiteral("[picture] ");
        line += readerText(field(item, "body"));
        if (!field(item, "footer").isEmpty())
            line += QStringLiteral(" / ") + readerText(field(item, "footer"));
        out << cut(line, CompactWidth) << '\n';
    }
    if (items.size() > CompactItems)
        out << "  ... and " << items.size() - CompactItems << " older item(s): --details, or feed.html\n";

    out << "\nNOTIFICATIONS: " << snapshot.groups.size() << " group(s)\n  "
        << cut(notificationCounts(snapshot), CompactWidth - 2) << '\n';
    for (const QJsonValue &group : snapshot.groups)
        out << cut(QStringLiteral("  %1: %2, from %3")
                       .arg(kindName(group[QStringLiteral("eventType")].toString()),
                            readerText(group[QStringLiteral("body")].toString()),
                            readerText(group[QStringLiteral("summary")].toString())),
                   CompactWidth)
            << '\n';

    out << "\nCONTACTS: " << snapshot.contacts.size() << '\n';
    for (const QString &line : wrapped(snapshot.contacts, CompactContactLines))
        out << line << '\n';

    if (!snapshot.rateLimits.isEmpty()) {
        const auto least = std::min_element(snapshot.rateLimits.cbegin(), snapshot.rateLimits.cend(),
                                            [](const SimulatorSnapshot::RateWindow &a,
                                               const SimulatorSnapshot::RateWindow &b) {
                                                return a.remaining * b.limit < b.remaining * a.limit;
                                            });
        out << '\n'
            << cut(QStringLiteral("RATE LIMITS: %1 window(s); least left %2: %3 of %4, reset in %5 s")
                       .arg(snapshot.rateLimits.size())
                       .arg(least->endpoint)
                       .arg(least->remaining)
                       .arg(least->limit)
                       .arg(least->resetInSeconds),
                   CompactWidth)
            << '\n';
    }

    if (!snapshot.errors.isEmpty()) {
        out << "\nERRORS: " << snapshot.errors.size() << '\n';
        for (const QString &error : snapshot.errors.mid(qMax(0, snapshot.errors.size() - CompactErrors)))
            out << "  " << cut(error, CompactWidth - 2) << '\n';
    }
    out.flush();
    return text;
}

QString SimulatorView::detailedText(const SimulatorSnapshot &snapshot) const
{
    QString text;
    QTextStream out(&text);
    writeHeader(out, snapshot, QStringLiteral("Ctrl-C stops"));
    for (const QString &event : snapshot.events)
        out << "  * " << cut(event, DetailWidth) << '\n';

    out << "\nEVENT FEED: " << snapshot.items.size() << " items, newest first\n";
    for (const QJsonObject &item : newestFirst(snapshot.items)) {
        out << "  [" << itemTime(item) << "] " << cut(readerText(field(item, "title")), 60) << '\n'
            << "      " << cut(readerText(field(item, "body")), DetailWidth) << '\n';
        if (!field(item, "footer").isEmpty())
            out << "      " << cut(readerText(field(item, "footer")), DetailWidth) << '\n';
        out << "      avatar: " << field(item, "icon") << '\n';
        for (const QString &thumbnail : thumbnails(item))
            out << "      thumbnail: " << thumbnail << '\n';
    }

    out << "\nNOTIFICATIONS: " << snapshot.groups.size() << " group(s); " << notificationCounts(snapshot) << '\n';
    for (const QJsonValue &group : snapshot.groups) {
        out << "  " << group[QStringLiteral("eventType")].toString() << " (" << group[QStringLiteral("count")].toInt()
            << "): " << cut(readerText(group[QStringLiteral("body")].toString()), DetailWidth) << '\n'
            << "      from " << cut(readerText(group[QStringLiteral("summary")].toString()), DetailWidth) << '\n';
        for (const QJsonObject &notification : notificationsOf(snapshot, group))
            out << "      [" << field(notification, "timestamp") << "] "
                << cut(readerText(field(notification, "body")), 60) << " (+" << notification.value(QStringLiteral("count")).toInt()
                << ")\n";
    }

    out << "\nCONTACTS: " << snapshot.contacts.size() << '\n';
    for (const QString &contact : snapshot.contacts)
        out << "  " << cut(contact, DetailWidth) << '\n';

    out << "\nRATE LIMITS: " << snapshot.rateLimits.size() << " window(s) running\n";
    for (const SimulatorSnapshot::RateWindow &window : snapshot.rateLimits)
        out << "  " << window.endpoint << ": " << window.remaining << " of " << window.limit << " left, reset in "
            << window.resetInSeconds << " s\n";

    if (!snapshot.errors.isEmpty()) {
        out << "\nERRORS: " << snapshot.errors.size() << '\n';
        for (const QString &error : snapshot.errors.mid(qMax(0, snapshot.errors.size() - 5)))
            out << "  " << cut(error, DetailWidth) << '\n';
    }
    out.flush();
    return text;
}

void SimulatorView::draw(const SimulatorSnapshot &snapshot) const
{
    QTextStream out(stdout);
    if (mClearScreen)
        out << "\033[H\033[2J";
    else
        out << QString(CompactWidth, QLatin1Char('=')) << '\n';
    out << terminalText(snapshot);
    out.flush();
}

// Item texts, group summaries and notification bodies are markup, as the platform shows
// them; everything else is text.
QString SimulatorView::html(const SimulatorSnapshot &snapshot)
{
    QString page;
    QTextStream out(&page);
    out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>twitter-ostra on the platform simulator</title>\n"
        << "<style>body{font-family:sans-serif;max-width:76em;margin:auto;padding:0 1em}"
           ".columns{display:flex;gap:2em;align-items:flex-start}main{flex:3}aside{flex:2}"
           ".item{display:flex;gap:1em;border-bottom:1px solid #ccc;padding:.6em 0}"
           ".title{font-weight:bold}.footer,.time,.note{color:#666;font-size:smaller}"
           ".thumbs img{margin:.3em .3em 0 0}aside section{background:#f4f6f8;border-radius:6px;padding:.2em 1em;"
           "margin-bottom:1em}aside ul{padding-left:1.2em}.error{color:#a00}</style></head><body>\n"
        << "<h1>twitter-ostra on the platform simulator</h1>\n<p>Round " << snapshot.round;
    if (snapshot.rounds > 0)
        out << " of " << snapshot.rounds;
    out << ". This round: " << snapshot.events.join(QStringLiteral("; ")).toHtmlEscaped() << ".</p>\n"
        << "<div class=\"columns\"><main>\n<h2>Event feed</h2>\n<p class=\"note\">" << snapshot.items.size()
        << " items, newest first.</p>\n";
    for (const QJsonObject &item : newestFirst(snapshot.items)) {
        out << "<div class=\"item\">";
        const QString icon = field(item, "icon");
        if (!icon.isEmpty())
            out << "<img class=\"avatar\" src=\"" << fileUrl(icon) << "\" alt=\"\" width=\"73\" height=\"73\">";
        out << "<div><div class=\"title\">" << field(item, "title") << "</div>\n<div class=\"body\">"
            << field(item, "body") << "</div>\n";
        if (!field(item, "footer").isEmpty())
            out << "<div class=\"footer\">" << field(item, "footer") << "</div>\n";
        out << "<div class=\"time\">" << itemTime(item).toHtmlEscaped() << "</div>\n";
        const QStringList files = thumbnails(item);
        if (!files.isEmpty()) {
            out << "<div class=\"thumbs\">";
            for (const QString &file : files)
                out << "<img src=\"" << fileUrl(file) << "\" alt=\"\">";
            out << "</div>\n";
        }
        out << "</div></div>\n";
    }
    out << "</main><aside>\n<section><h2>Notifications</h2>\n<p class=\"note\">"
        << notificationCounts(snapshot).toHtmlEscaped() << ".</p>\n";
    for (const QJsonValue &group : snapshot.groups) {
        out << "<h3>" << kindName(group[QStringLiteral("eventType")].toString()).toHtmlEscaped() << ": "
            << group[QStringLiteral("body")].toString() << "</h3>\n<p>from "
            << group[QStringLiteral("summary")].toString() << "</p>\n<ul>\n";
        for (const QJsonObject &notification : notificationsOf(snapshot, group))
            out << "<li>" << field(notification, "body") << " <span class=\"time\">"
                << field(notification, "timestamp").toHtmlEscaped() << "</span></li>\n";
        out << "</ul>\n";
    }
    out << "</section>\n<section><h2>Contacts</h2>\n<p class=\"note\">" << snapshot.contacts.size()
        << " from the runner.</p>\n<ul>\n";
    for (const QString &contact : snapshot.contacts)
        out << "<li>" << contact.toHtmlEscaped() << "</li>\n";
    out << "</ul></section>\n<section><h2>Rate limits</h2>\n<ul>\n";
    for (const SimulatorSnapshot::RateWindow &window : snapshot.rateLimits)
        out << "<li>" << window.endpoint.toHtmlEscaped() << ": " << window.remaining << " of " << window.limit
            << " left, reset in " << window.resetInSeconds << " s</li>\n";
    out << "</ul></section>\n";
    if (!snapshot.errors.isEmpty()) {
        out << "<section><h2>Errors</h2>\n<ul>\n";
        for (const QString &error : snapshot.errors)
            out << "<li class=\"error\">" << error.toHtmlEscaped() << "</li>\n";
        out << "</ul></section>\n";
    }
    out << "</aside></div>\n</body></html>\n";
    out.flush();
    return page;
}

bool SimulatorView::writeHtml(const SimulatorSnapshot &snapshot, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning() << Q_FUNC_INFO << "cannot write" << path << file.errorString();
        return false;
    }
    file.write(html(snapshot).toUtf8());
    return file.commit();
}
