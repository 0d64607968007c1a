// SPDX-License-Identifier: BSD-3-Clause
#include "TwAccount.h"

#include "TwFactoryOstra.h"
#include "TwLoginCheck.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString AccountGroup = QStringLiteral("account");
const QString ServicesGroup = QStringLiteral("services");
const QString SettingsGroup = QStringLiteral("settings");
const QString DefaultApiBase = QStringLiteral("https://api.twitter.com/1.1/");
const QString PresentKey = QStringLiteral("account/present");
// Far above any real account file; a bigger one is not ours to parse.
const qint64 MaxFileSize = 64 * 1024;
const int ReloadDelayMs = 50;
// How long a file must stay gone before the account counts as removed.
const int RecheckMs = 3000;

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

QString apiBaseOf(const QVariantMap &values)
{
    const QString base = values.value(QStringLiteral("account/api_base")).toString().trimmed();
    if (base.isEmpty())
        return DefaultApiBase;
    return base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
}

// A boolean as QSettings writes one; anything else, such as a value cut short, is no answer.
bool boolean(const QVariant &value, bool *ok)
{
    const QString text = value.toString().trimmed().toLower();
    const bool isTrue = text == QLatin1String("true") || text == QLatin1String("1");
    *ok = isTrue || text == QLatin1String("false") || text == QLatin1String("0");
    return isTrue;
}

}

TwAccount::TwAccount(QObject *parent)
    : QObject(parent)
    , mPath(defaultFilePath())
    , mReloadTimer(this)
    , mRecheckTimer(this)
{
    Tw::registerMetaTypes();
    mReloadTimer.setObjectName(QStringLiteral("accountReloadTimer"));
    mReloadTimer.setSingleShot(true);
    mReloadTimer.setInterval(ReloadDelayMs);
    mRecheckTimer.setObjectName(QStringLiteral("accountRecheckTimer"));
    mRecheckTimer.setSingleShot(true);
    mRecheckTimer.setInterval(RecheckMs);
    connect(&mReloadTimer, &QTimer::timeout, this, &TwAccount::reload);
    connect(&mRecheckTimer, &QTimer::timeout, this, &TwAccount::recheck);
    connect(&mWatcher, &QFileSystemWatcher::fileChanged, &mReloadTimer, qOverload<>(&QTimer::start));
    connect(&mWatcher, &QFileSystemWatcher::directoryChanged, &mReloadTimer, qOverload<>(&QTimer::start));
    if (readState(&mValues, &mState, &mLastBytes) == Read::Unusable)
        qCritical() << Q_FUNC_INFO << "account file unusable, no account until it is readable:" << mPath;
    watchFile();
}

QString TwAccount::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Halvex/TwitterAccount.conf");
}

QString TwAccount::apiBase(const QString &filePath)
{
    QVariantMap values;
    State state;
    // A file caught half way tells nothing: a client made then takes the session
    // account's last good read, not the service's default address.
    if (readValues(filePath, &values) != Read::Done || !stateOf(values, &state))
        values = TwOstra::TwFactoryOstra::getInstance()->account()->mValues;
    return apiBaseOf(values);
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
    // A file caught in a glitch logs in with what was last read well.
    QVariantMap values;
    State state;
    if (readState(&values, &state) == Read::Done && !(state.present && lostSwitch(values)))
        mValues = values;
    else
        state = mState;
    const auto value = [this](const char *key) {
        return mValues.value(AccountGroup + QLatin1Char('/') + QLatin1String(key)).toString();
    };
    if (!state.present) {
        emit loginError(TwLoginError::LOGIN_ERROR_ACCOUNT_UNUSABLE, QStringLiteral("No account"));
        return;
    }
    const QString errorType = value("login_error_type");
    if (!errorType.isEmpty()) {
        bool ok = false;
        const int type = errorType.toInt(&ok);
        emit loginError(ok ? TwLoginError::TwLoginError(type) : TwLoginError::LOGIN_ERROR_GENERIC,
                        value("login_error_text"));
        return;
    }
    auto *check = new TwLoginCheck(apiBaseOf(mValues), value("token"), value("token_secret"), value("user_id"),
                                   value("screen_name"), value("consumer_key"), value("consumer_secret"), this);
    connect(check, &TwLoginCheck::accepted, this, &TwAccount::loginResponse);
    connect(check, &TwLoginCheck::refused, this, &TwAccount::loginError);
    connect(check, &TwLoginCheck::accepted, check, &QObject::deleteLater);
    connect(check, &TwLoginCheck::refused, check, &QObject::deleteLater);
    check->start();
}

void TwAccount::markAccountInvalid()
{
    qWarning() << Q_FUNC_INFO << mPath;
    // QSettings would block on a FIFO put in the file's place, or take a broken file apart.
    QVariantMap values;
    if (readValues(mPath, &values) != Read::Done) {
        qWarning() << Q_FUNC_INFO << "account file unusable, not marked";
        return;
    }
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

TwAccount::Read TwAccount::readValues(const QString &path, QVariantMap *values, QByteArray *bytes)
{
    // Without blocking: a FIFO or a device put in the file's place must not stall anyone.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return Read::Absent;
        qWarning() << Q_FUNC_INFO << "cannot open the account file" << path << strerror(errno);
        return Read::Unusable;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaxFileSize) {
        qWarning() << Q_FUNC_INFO << "account file refused, not a regular file of at most" << MaxFileSize
                   << "bytes:" << path;
        ::close(fd);
        return Read::Unusable;
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    QByteArray content = file.read(MaxFileSize + 1);
    // Kept as the last bytes read: without the room read() made for the largest file.
    content.squeeze();
    if (content.isEmpty() || content.size() > MaxFileSize) {
        qWarning() << Q_FUNC_INFO << "account file empty or too big:" << path << content.size();
        return Read::Unusable;
    }
    // Every line ends with a line break: a last line without one is a writer caught half
    // way, whose value may be cut short.
    if (!content.endsWith('\n')) {
        qWarning() << Q_FUNC_INFO << "account file ends within a line (cut short?):" << path;
        return Read::Unusable;
    }
    // Parsed from a private copy of exactly these bytes, by QSettings' own INI reader.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(content) != content.size() || !copy.flush()) {
        qWarning() << Q_FUNC_INFO << "cannot copy the account file for reading:" << copy.errorString();
        return Read::Unusable;
    }
    QSettings parsed(copy.fileName(), QSettings::IniFormat);
    if (parsed.status() != QSettings::NoError) {
        qWarning() << Q_FUNC_INFO << "account file unparsable:" << path;
        return Read::Unusable;
    }
    for (const QString &key : parsed.allKeys())
        values->insert(key, parsed.value(key));
    if (bytes)
        *bytes = content;
    return Read::Done;
}

bool TwAccount::stateOf(const QVariantMap &values, State *state)
{
    bool ok = false;
    state->present = boolean(values.value(PresentKey), &ok);
    for (TwServiceType::Servicetype service : AllServices) {
        bool serviceOk = false;
        state->services.insert(service, boolean(values.value(ServicesGroup + QLatin1Char('/') + serviceKey(service), true), &serviceOk));
        ok = ok && serviceOk;
    }
    const QString settingsPrefix = SettingsGroup + QLatin1Char('/');
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (!it.key().startsWith(settingsPrefix))
            continue;
        bool settingOk = false;
        state->settings.insert(it.key().mid(settingsPrefix.size()), boolean(it.value(), &settingOk));
        ok = ok && settingOk;
    }
    return ok;
}

bool TwAccount::lostSwitch(const QVariantMap &values) const
{
    for (auto it = mValues.cbegin(); it != mValues.cend(); ++it) {
        const bool isSwitch = it.key().startsWith(ServicesGroup + QLatin1Char('/'))
            || it.key().startsWith(SettingsGroup + QLatin1Char('/'));
        if (isSwitch && !values.contains(it.key()))
            return true;
    }
    return false;
}

TwAccount::Read TwAccount::readState(QVariantMap *values, State *state, QByteArray *bytes) const
{
    const Read read = readValues(mPath, values, bytes);
    if (read != Read::Done || stateOf(*values, state))
        return read;
    qWarning() << Q_FUNC_INFO << "account file without a readable" << PresentKey
               << "or with a switch that is no boolean (cut short?):" << mPath;
    values->clear();
    return Read::Unusable;
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
    take(false);
}

void TwAccount::recheck()
{
    take(true);
}

// Only a good read that says so, or a file that stays gone, removes the account; a file
// caught empty, half written, unparsable or unreadable keeps the last good state.
void TwAccount::take(bool settled)
{
    watchFile();
    QVariantMap values;
    State state;
    QByteArray bytes;
    const Read read = readState(&values, &state, &bytes);
    if (read == Read::Absent && settled) {
        qWarning() << Q_FUNC_INFO << "account file still gone, the account is removed:" << mPath;
        mLastBytes.clear();
        state = State();
    } else if (read != Read::Done) {
        // Looked at once more later, counted from the first sight (other files of the
        // folder change too); after that the watcher reports the next change.
        if (!settled && !mRecheckTimer.isActive())
            mRecheckTimer.start();
        return;
    } else if (!settled && state.present && lostSwitch(values)) {
        // A writer caught between two lines leaves out the switches after them: a file
        // without a switch of the last good one is taken only once it stays so.
        qWarning() << Q_FUNC_INFO << "account file lost a switch (cut short?), looked at again:" << mPath;
        if (bytes != mLastBytes || !mRecheckTimer.isActive())
            mRecheckTimer.start();
        mLastBytes = bytes;
        return;
    } else if (bytes != mLastBytes) {
        // Taken once a second read finds the same bytes: a writer may be half way.
        mLastBytes = bytes;
        mReloadTimer.start();
        return;
    }
    mRecheckTimer.stop();
    mValues = values;
    const State before = mState;
    mState = state;
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
