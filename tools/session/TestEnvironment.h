// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QProcessEnvironment>
#include <QScopedPointer>
#include <QString>
#include <QTemporaryDir>
#include <QVariantMap>

// Private XDG folders for one session, so that nothing touches the user's files. This
// process reads the translation catalogue from the build tree's data folder; the child
// processes have no data folder but their own, so that the daemon has to find its
// catalogue beside itself, as it does when run by hand.
class TestEnvironment
{
public:
    // In a temporary folder removed with this object; or in the given folder, kept, with
    // whatever a former session left there removed first.
    explicit TestEnvironment(const QString &root = QString());

    bool isValid() const { return !mRootPath.isEmpty(); }
    QString root() const { return mRootPath; }
    QString configHome() const { return root() + QStringLiteral("/config"); }
    QString cacheHome() const { return root() + QStringLiteral("/cache"); }
    QString dataHome() const { return root() + QStringLiteral("/data"); }
    QString runtimeDir() const { return root() + QStringLiteral("/runtime"); }
    // The session processes' logs, when they are kept.
    QString logDir() const { return root() + QStringLiteral("/logs"); }
    QString notificationStore() const { return runtimeDir() + QStringLiteral("/ostra-notifications/notifications.json"); }

    QString accountFile() const { return configHome() + QStringLiteral("/Halvex/TwitterAccount.conf"); }
    QString daemonSettingsFile() const { return configHome() + QStringLiteral("/Halvex/Twitter.ini"); }
    QString cacheDatabase() const { return cacheHome() + QStringLiteral("/data/twitter-ostra/twitter-cache.db"); }

    // Sets this process's XDG variables to the private folders.
    void applyToProcess() const;
    // The same for a child process, on top of the current environment.
    QProcessEnvironment processEnvironment(const QString &busAddress) const;

    // Writes the account file: "group/key" to value, e.g. "account/present" = true.
    void writeAccount(const QVariantMap &values) const;
    // A present account with credentials, every service on and every preference off.
    void writeDefaultAccount() const;

private:
    QScopedPointer<QTemporaryDir> mTemporary;
    QString mRootPath;
};
