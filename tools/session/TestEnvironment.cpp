// SPDX-License-Identifier: BSD-3-Clause
#include "TestEnvironment.h"

#include <QDir>
#include <QSettings>

TestEnvironment::TestEnvironment(const QString &root)
{
    if (root.isEmpty()) {
        mTemporary.reset(new QTemporaryDir);
        if (!mTemporary->isValid())
            return;
        mRootPath = mTemporary->path();
    } else {
        mRootPath = QDir(root).absolutePath();
        // A first start: nothing of a former session in this folder is kept.
        for (const QString &sub : {configHome(), cacheHome(), dataHome(), runtimeDir(), logDir()})
            QDir(sub).removeRecursively();
    }
    for (const QString &dir : {configHome(), cacheHome(), dataHome(), runtimeDir(), logDir()}) {
        if (!QDir().mkpath(dir)) {
            mRootPath.clear();
            return;
        }
    }
    QFile::setPermissions(runtimeDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestEnvironment::applyToProcess() const
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir()));
    qputenv("XDG_DATA_DIRS", DATA_BUILD_DIR);
}

QProcessEnvironment TestEnvironment::processEnvironment(const QString &busAddress) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), dataHome());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    return environment;
}

void TestEnvironment::writeAccount(const QVariantMap &values) const
{
    QSettings file(accountFile(), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        file.setValue(it.key(), it.value());
    file.sync();
}

void TestEnvironment::writeDefaultAccount() const
{
    writeAccount({{QStringLiteral("account/present"), true},
                  {QStringLiteral("account/screen_name"), QStringLiteral("AliceInData")},
                  {QStringLiteral("account/user_id"), QStringLiteral("1111111111")},
                  {QStringLiteral("account/token"), QStringLiteral("token")},
                  {QStringLiteral("account/token_secret"), QStringLiteral("token-secret")},
                  {QStringLiteral("account/consumer_key"), QStringLiteral("consumer-key")},
                  {QStringLiteral("account/consumer_secret"), QStringLiteral("consumer-secret")},
                  // A closed port on loopback: a real client never leaves the machine.
                  {QStringLiteral("account/api_base"), QStringLiteral("http://127.0.0.1:9/1.1/")}});
    // Every switch written out, as the account framework does: one missing from a
    // rewritten file would be taken for a writer caught half way.
    QVariantMap switches;
    for (const char *service : {"account", "contacts", "event_feed", "notifications"})
        switches.insert(QStringLiteral("services/") + QLatin1String(service), true);
    for (const char *setting : {"tw-notif-main", "tw-notif-msg", "tw-notif-mention", "tw-notif-followed", "tw-notif-anyone"})
        switches.insert(QStringLiteral("settings/") + QLatin1String(setting), false);
    writeAccount(switches);
}
