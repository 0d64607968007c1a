// SPDX-License-Identifier: BSD-3-Clause
#include "SimulatorView.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>
#include <QUrl>

#include <algorithm>

namespace {

const int TextWidth = 100;

QString cut(const QString &text, int width = TextWidth)
{
    const QString flat = text.simplified();
    return flat.size() <= width ? flat : flat.left(width - 3) + QStringLiteral("...");
}

QJsonObject itemOf(const QJsonValue &entry)
{
    return entry.toObject().value(QStringLiteral("item")).toObject();
}

QString itemTime(const QJsonObject &item)
{
    const QString stamp = item.value(QStringLiteral("timestamp")).toString();
    const QDateTime time = QDateTime::fromString(stamp, Qt::ISODate);
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd hh:mm")) : stamp;
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
        return QDateTime::fromString(a.value(QStringLiteral("timestamp")).toString(), Qt::ISODate)
            > QDateTime::fromString(b.value(QStringLiteral("timestamp")).toString(), Qt::ISODate);
    });
    return items;
}

QString fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toHtmlEscaped();
}

}

SimulatorView::SimulatorView(bool clearScreen)
    : mClearScreen(clearScreen)
{
}

QString SimulatorView::terminalText(const SimulatorSnapshot &snapshot) const
{
    QString text;
    QTextStream out(&text);
    out << "twitter-ostra on the platform simulator: round " << snapshot.round;
    if (snapshot.rounds > 0)
        out << " of " << snapshot.rounds;
    out << "   (Ctrl-C stops)\n";
    for (const QString &event : snapshot.events)
        out << "  * " << event << '\n';

    out << "\nEVENT FEED: " << snapshot.items.size() << " items, newest first\n";
    for (const QJsonObject &item : newestFirst(snapshot.items)) {
        out << "  [" << itemTime(item) << "] " << cut(item.value(QStringLiteral("title")).toString(), 60) << '\n'
            << "      " << cut(item.value(QStringLiteral("body")).toString()) << '\n';
        if (!item.value(QStringLiteral("footer")).toString().isEmpty())
            out << "      " << cut(item.value(QStringLiteral("footer")).toString()) << '\n';
        out << "      avatar: " << item.value(QStringLiteral("icon")).toString() << '\n';
        for (const QString &thumbnail : thumbnails(item))
            out << "      thumbnail: " << thumbnail << '\n';
    }

    out << "\nNOTIFICATIONS: " << snapshot.groups.size() << " groups, " << snapshot.notifications.size()
        << " notifications\n";
    for (const QJsonValue &group : snapshot.groups) {
        out << "  " << group[QStringLiteral("eventType")].toString() << " (" << group[QStringLiteral("count")].toInt()
            << "): " << cut(group[QStringLiteral("summary")].toString()) << '\n';
        for (const QJsonValue &notification : snapshot.notifications) {
            if (notification[QStringLiteral("group")] == group[QStringLiteral("id")])
                out << "      [" << notification[QStringLiteral("timestamp")].toString() << "] "
                    << cut(notification[QStringLiteral("body")].toString(), 60) << " (+"
                    << notification[QStringLiteral("count")].toInt() << ")\n";
        }
    }

    out << "\nCONTACTS: " << snapshot.contacts.size() << '\n';
    for (const QString &contact : snapshot.contacts)
        out << "  " << contact << '\n';

    out << "\nRATE LIMITS: " << snapshot.rateLimits.size() << " window(s) running\n";
    for (const QString &window : snapshot.rateLimits)
        out << "  " << window << '\n';

    if (!snapshot.errors.isEmpty()) {
        out << "\nERRORS: " << snapshot.errors.size() << '\n';
        for (int i = qMax(0, snapshot.errors.size() - 5); i < snapshot.errors.size(); ++i)
            out << "  " << cut(snapshot.errors.at(i)) << '\n';
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
        out << QString(TextWidth, QLatin1Char('=')) << '\n';
    out << terminalText(snapshot);
    out.flush();
}

QString SimulatorView::html(const SimulatorSnapshot &snapshot)
{
    QString page;
    QTextStream out(&page);
    out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>twitter-ostra: event feed</title>\n"
        << "<style>body{font-family:sans-serif;max-width:48em;margin:auto}"
           ".item{display:flex;gap:1em;border-bottom:1px solid #ccc;padding:.6em 0}"
           ".title{font-weight:bold}.footer,.time{color:#666;font-size:smaller}"
           ".thumbs img{margin:.3em .3em 0 0}</style></head><body>\n"
        << "<h1>Event feed</h1>\n<p>Round " << snapshot.round;
    if (snapshot.rounds > 0)
        out << " of " << snapshot.rounds;
    out << ": " << snapshot.items.size() << " items, newest first.</p>\n";
    for (const QJsonObject &item : newestFirst(snapshot.items)) {
        out << "<div class=\"item\">";
        const QString icon = item.value(QStringLiteral("icon")).toString();
        if (!icon.isEmpty())
            out << "<img class=\"avatar\" src=\"" << fileUrl(icon) << "\" alt=\"\" width=\"73\" height=\"73\">";
        // Title, body and footer are markup, as the platform's feed shows them.
        out << "<div><div class=\"title\">" << item.value(QStringLiteral("title")).toString()
            << "</div>\n<div class=\"body\">" << item.value(QStringLiteral("body")).toString() << "</div>\n";
        if (!item.value(QStringLiteral("footer")).toString().isEmpty())
            out << "<div class=\"footer\">" << item.value(QStringLiteral("footer")).toString() << "</div>\n";
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
    out << "<h2>Notifications</h2>\n<ul>\n";
    for (const QJsonValue &group : snapshot.groups)
        out << "<li>" << group[QStringLiteral("eventType")].toString().toHtmlEscaped() << " ("
            << group[QStringLiteral("count")].toInt() << "): "
            << group[QStringLiteral("summary")].toString() << "</li>\n";
    out << "</ul>\n<h2>Contacts</h2>\n<ul>\n";
    for (const QString &contact : snapshot.contacts)
        out << "<li>" << contact.toHtmlEscaped() << "</li>\n";
    out << "</ul>\n</body></html>\n";
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
