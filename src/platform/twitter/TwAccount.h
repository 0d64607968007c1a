// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "TwTypes.h"

#include <QFileSystemWatcher>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

// The user's one Twitter account as the platform keeps it: an INI file,
// "$XDG_CONFIG_HOME/Halvex/TwitterAccount.conf", with the groups [account], [services]
// and [settings]. Edits to the file by anyone reach the account's users as signals.
class TwAccount : public QObject
{
    Q_OBJECT

public:
    explicit TwAccount(QObject *parent = nullptr);

    static QString defaultFilePath();
    // The service's API address from the file's [account] api_base, ending in "/"; the
    // public API v1.1 when unset.
    static QString apiBase(const QString &filePath = defaultFilePath());
    QString filePath() const { return mPath; }

    bool hasAccount() const;
    bool isServiceEnabled(TwServiceType::Servicetype service) const;

    // Answers later with loginResponse once the service has accepted the account's
    // credentials, or with loginError when the account cannot log in.
    void login(bool force, int flags);
    void markAccountInvalid();

    // Changes of these preference keys are reported by settingsChanged from now on.
    void watchSettings(const QStringList &keys);
    QMap<QString, bool> settingValues(const QStringList &keys) const;

Q_SIGNALS:
    void accountAdded();
    void accountRemoved();
    void accountStateChanged(TwServiceType::Servicetype type, bool enabled);
    void loginResponse(const QString &token, const QString &tokenSecret, const QString &userId,
                       const QString &username, const QString &consumerKey,
                       const QString &consumerSecret);
    void loginError(TwLoginError::TwLoginError type, const QString &error);
    void settingsChanged(const QString &name, bool value);

private Q_SLOTS:
    void reload();
    void recheck();
    void answerLogin();

private:
    struct State {
        bool present = false;
        QMap<int, bool> services;
        QMap<QString, bool> settings;
    };
    enum class Read { Done, Absent, Unusable };

    // The file's "group/key" values, read without blocking and parsed as QSettings does.
    static Read readValues(const QString &path, QVariantMap *values, QByteArray *bytes = nullptr);
    // The state the values say; false when they say nothing clear about the account.
    static bool stateOf(const QVariantMap &values, State *state);
    // Whether a "services" or "settings" key of the last good file is missing.
    bool lostSwitch(const QVariantMap &values) const;
    Read readState(QVariantMap *values, State *state, QByteArray *bytes = nullptr) const;
    // settled: the file was found gone or unusable a while ago and is looked at again.
    void take(bool settled);
    void watchFile();
    void reportChanges(const State &before, const State &after);

    QString mPath;
    State mState;
    // The values of the last good read, for a login that finds the file unusable.
    QVariantMap mValues;
    QStringList mWatchedKeys;
    QFileSystemWatcher mWatcher;
    // Writers replace the file in several steps; one reload covers a burst of them.
    QTimer mReloadTimer;
    // What the last reload read: a read is taken once the next one finds the same bytes,
    // so that a file caught half written is not.
    QByteArray mLastBytes;
    // A file gone or unusable is looked at again after a while: only a file that stays
    // absent removes the account, and a glitch keeps the last good state.
    QTimer mRecheckTimer;
};
