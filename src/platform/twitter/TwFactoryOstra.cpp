// SPDX-License-Identifier: BSD-3-Clause
#include "TwFactoryOstra.h"

#include "TwAccount.h"

#include <QCoreApplication>
#include <QPointer>

namespace TwOstra {

TwFactoryOstra::TwFactoryOstra(QObject *parent)
    : QObject(parent)
{
}

TwFactoryOstra *TwFactoryOstra::getInstance()
{
    static QPointer<TwFactoryOstra> instance;
    if (!instance)
        instance = new TwFactoryOstra(QCoreApplication::instance());
    return instance;
}

TwAccount *TwFactoryOstra::account()
{
    if (!mAccount)
        mAccount = new TwAccount(this);
    return mAccount;
}

}
