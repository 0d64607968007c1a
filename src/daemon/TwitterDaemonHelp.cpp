// SPDX-License-Identifier: BSD-3-Clause
// Keeps the client's cached copy of the service's help configuration at most a day old.

#include "TwitterDaemon.h"

#include "Twitter.h"

#include <QDateTime>
#include <QDebug>

namespace {
const int RefreshPeriodSeconds = 86400;
}

void TwitterDaemon::checkAndRetrieveHelpConfiguration()
{
    QMap<QString, QVariant> configuration;
    const QMap<QString, QString> arguments;
    int queryId = -1;
    if (mTwitter)
        mTwitter->retrieveHelp(HelpType::Configuration, &configuration, arguments, &queryId,
                               Tw::Twitter::RETRIEVE_FROM_CACHE);

    // An absent or unreadable time gives an invalid due time, which is always due.
    const QDateTime dueTime = QDateTime::fromString(
        configuration.value(QStringLiteral("last_update_time")).toString(), Qt::ISODate)
                                  .addSecs(RefreshPeriodSeconds);
    const QDateTime now = QDateTime::currentDateTime();
    if (mTwitter && (!(now < dueTime) || configuration.isEmpty())) {
        mTwitter->retrieveHelp(HelpType::Configuration, &configuration, arguments, &queryId,
                               Tw::Twitter::RETRIEVE_FROM_NETWORK);
        return;
    }
    qDebug() << Q_FUNC_INFO << "not yet time to retrieve config: " << now << " < " << dueTime;
}

void TwitterDaemon::onHelpRetrieved(const HelpType::HelpType &type, const QVariantList &,
                                    const QMap<QString, QString> &, int)
{
    if (type == HelpType::Configuration)
        qDebug() << Q_FUNC_INFO << " : HELP/CONFIGURATION RETRIEVED";
}
