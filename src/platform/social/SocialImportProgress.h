// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QDataStream>
#include <QMetaType>

// How far a contacts import is: carried by an account record under
// SocialServiceAccount::ImportProgress, as the meta-type "SocialImportProgress".
struct SocialImportProgress
{
    bool importing = false;
    qint32 count = 0;
    qint32 reserved1 = 0;
    qint32 reserved2 = 0;

    bool operator==(const SocialImportProgress &other) const;
};

// Four 32-bit fields.
QDataStream &operator<<(QDataStream &out, const SocialImportProgress &progress);
QDataStream &operator>>(QDataStream &in, SocialImportProgress &progress);

Q_DECLARE_METATYPE(SocialImportProgress)
