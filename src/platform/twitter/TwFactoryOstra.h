// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QObject>

class TwAccount;

namespace TwOstra {

// Entry point of the client library: hands out the one account object of the session.
class TwFactoryOstra : public QObject
{
    Q_OBJECT

public:
    // The factory lives as a child of the application object, so that the account and
    // its file watcher go before the application does.
    static TwFactoryOstra *getInstance();

    TwAccount *account();

private:
    explicit TwFactoryOstra(QObject *parent);

    TwAccount *mAccount = nullptr;
};

}
