// SPDX-License-Identifier: BSD-3-Clause
#include "PersonCollectorInterface.h"

PersonCollectorInterface::PersonCollectorInterface(QObject *parent)
    : QObject(parent)
{
}

void PersonCollectorInterface::onAttached()
{
}

QVariantMap PersonCollectorInterface::metaData()
{
    return QVariantMap();
}
