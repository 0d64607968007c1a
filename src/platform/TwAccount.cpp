#include "TwAccount.h"

#include "TwLoginCheck.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString AccountGroup = QStringLiteral("account");
const QString ServicesGroup = QStringLiteral("services");
const QString SettingsGroup = QStringLiteral("settings");
const QString DefaultApiBase = QStringLiteral("https://api.twitter.com/1.1/");

const QList<TwServiceType::Servicetype> AllServices = {
    TwServiceType::SERVICE_ACCOUNT, TwServiceType::SERVICE_CONTACTS,
    TwServiceType::SERVICE_EVENT_FEED, TwServiceType::SERVICE_NOTIFICATIONS};

QString serviceKey(TwServiceType::Servicetype service)
{
    switch (service) {
    case TwServiceType::SERVICE_ACCOUNT:
        return QStringLiteral("account");
    case TwServiceType::SERVICE_CONTACTS:
        return QStringLiteral("contacts");
    case TwServiceType::SERVICE_EVENT_FEED:
        return QStringLiteral("event_feed");
    case TwServiceType::SERVICE_NOTIFICATIONS:
        return QStringLiteral("notifications");
    }
    return QString();
}

}

TwAccount::TwAccount(QObject *parent)
    : QObject(parent)
    , mPath(defaultFilePath())
{
    Tw::registerMetaTypes();
    mReloadTimer.setSingleShot(true);
    mReloadTimer.setInterval(50);
    connect(&mReloadTimer, &QTimer::timeout, this, &TwAccount::reload);
    connect(&mWatcher, &QFileSystemWatcher::fileChanged, &mReloadTimer, qOverload<>(&QTimer::start));
    connect(&mWatcher, &QFileSystemWatcher::directoryChanged, &mReloadTimer, qOverload<>(&QTimer::start));
    mState = readState();
    watchFile();
}

QString TwAccount::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Halvex/TwitterAccount.conf");
}

QString TwAccount::apiBase(const QString &filePath)
{
    const QString base = QSettings(filePath, QSettings::IniFormat)
                             .value(AccountGroup + QStringLiteral("/api_base")).toString().trimmed();
    if (base.isEmpty())
        return DefaultApiBase;
    return base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
}

bool TwAccount::hasAccount() const
{
    return mState.present;
}

bool TwAccount::isServiceEnabled(TwServiceType::Servicetype service) const
{
    return mState.present && mState.services.value(service, false);
}

void TwAccount::login(bool force, int flags)
{
    qDebug() << Q_FUNC_INFO << force << flags;
    // Asynchronous like a real login, so that the caller's state is settled first.
    QMetaObject::invokeMethod(this, &TwAccount::answerLogin, Qt::QueuedConnection);
}

void TwAccount::answerLogin()
{
    QSettings file(mPath, QSettings::IniFormat);
    file.beginGroup(AccountGroup);
    if (!file.value(QStringLiteral("present"), false).toBool()) {
        emit loginError(TwLoginError::LOGIN_ERROR_ACCOUNT_UNUSABLE, QStringLiteral("No account"));
        return;
    }
    const QString errorType = file.value(QStringLiteral("login_error_type")).toString();
    if (!errorType.isEmpty()) {
        bool ok = false;
        const int type = errorType.toInt(&ok);
        emit loginError(ok ? TwLoginError::TwLoginError(type) : TwLoginError::LOGIN_ERROR_GENERIC,
                        file.value(QStringLiteral("login_error_text")).toString());
        return;
    }
    auto *check = new TwLoginCheck(apiBase(mPath), file.value(QStringLiteral("token")).toString(),
                                   file.value(QStringLiteral("token_secret")).toString(),
                                   file.value(QStringLiteral("user_id")).toString(),
                                   file.value(QStringLiteral("screen_name")).toString(),
                                   file.value(QStringLiteral("consumer_key")).toString(),
                                   file.value(QStringLiteral("consumer_secret")).toString(), this);
    connect(check, &TwLoginCheck::accepted, this, &TwAccount::loginResponse);
    connect(check, &TwLoginCheck::refused, this, &TwAccount::loginError);
    connect(check, &TwLoginCheck::accepted, check, &QObject::deleteLater);
    connect(check, &TwLoginCheck::refused, check, &QObject::deleteLater);
    check->start();
}

void TwAccount::markAccountInvalid()
{
    qWarning() << Q_FUNC_INFO << mPath;
    QSettings file(mPath, QSettings::IniFormat);
    file.setValue(AccountGroup + QStringLiteral("/invalid"), true);
    file.sync();
}

void TwAccount::watchSettings(const QStringList &keys)
{
    for (const QString &key : keys) {
        if (!mWatchedKeys.contains(key))
            mWatchedKeys.append(key);
    }
}

QMap<QString, bool> TwAccount::settingValues(const QStringList &keys) const
{
    QMap<QString, bool> values;
    for (const QString &key : keys)
        values.insert(key, mState.settings.value(key, false));
    return values;
}

TwAccount::State TwAccount::readState() const
{
    State state;
    if (!QFileInfo::exists(mPath))
        return state;
    QSettings file(mPath, QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        qWarning() << Q_FUNC_INFO << "unreadable account file" << mPath;
    state.present = file.value(AccountGroup + QStringLiteral("/present"), false).toBool();
    file.beginGroup(ServicesGroup);
    for (TwServiceType::Servicetype service : AllServices)
        state.services.insert(service, file.value(serviceKey(service), true).toBool());
    file.endGroup();
    file.beginGroup(SettingsGroup);
    for (const QString &key : file.childKeys())
        state.settings.insert(key, file.value(key).toBool());
    return state;
}

void TwAccount::watchFile()
{
    // The directory is watched as well: a file replaced by rename, or created later,
    // is not seen by a watch on the file alone.
    const QString dir = QFileInfo(mPath).absolutePath();
    QDir().mkpath(dir);
    mWatcher.addPath(dir);
    if (QFileInfo::exists(mPath) && !mWatcher.files().contains(mPath))
        mWatcher.addPath(mPath);
}

void TwAccount::reload()
{
    watchFile();
    const State before = mState;
    mState = readState();
    reportChanges(before, mState);
}

void TwAccount::reportChanges(const State &before, const State &after)
{
    if (!before.present && after.present) {
        emit accountAdded();
        return;
    }
    if (before.present && !after.present) {
        emit accountRemoved();
        return;
    }
    if (!after.present)
        return;
    for (TwServiceType::Servicetype service : AllServices) {
        const bool enabled = after.services.value(service);
        if (before.services.value(service) != enabled)
            emit accountStateChanged(service, enabled);
    }
    for (const QString &key : qAsConst(mWatchedKeys)) {
        const bool value = after.settings.value(key, false);
        if (before.settings.value(key, false) != value)
            emit settingsChanged(key, value);
    }
}
