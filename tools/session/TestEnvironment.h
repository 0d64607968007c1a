// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <QVariantMap>

// Private XDG folders for one test, so that nothing touches the user's files; the data
// folders are the build tree's, where the translation catalogue is.
class TestEnvironment
{
public:
    TestEnvironment();

    bool isValid() const { return mRoot.isValid(); }
    QString root() const { return mRoot.path(); }
    QString configHome() const { return mRoot.path() + QStringLiteral("/config"); }
    QString cacheHome() const { return mRoot.path() + QStringLiteral("/cache"); }
    QString dataHome() const { return mRoot.path() + QStringLiteral("/data"); }
    QString runtimeDir() const { return mRoot.path() + QStringLiteral("/runtime"); }

    QString accountFile() const { return configHome() + QStringLiteral("/Halvex/TwitterAccount.conf"); }
    QString daemonSettingsFile() const { return configHome() + QStringLiteral("/Halvex/Twitter.ini"); }
    QString cacheDatabase() const { return cacheHome() + QStringLiteral("/data/twitter-ostra/twitter-cache.db"); }

    // Sets this process's XDG variables to the private folders.
    void applyToProcess() const;
    // The same for a child process, on top of the current environment.
    QProcessEnvironment processEnvironment(const QString &busAddress) const;

    // Writes the account file: "group/key" to value, e.g. "account/present" = true.
    void writeAccount(const QVariantMap &values) const;
    // A present account with credentials and every service on.
    void writeDefaultAccount() const;

private:
    QTemporaryDir mRoot;
};
