// SPDX-License-Identifier: BSD-3-Clause
#include "SocialImportProgress.h"

bool SocialImportProgress::operator==(const SocialImportProgress &other) const
{
    return importing == other.importing && count == other.count && reserved1 == other.reserved1
        && reserved2 == other.reserved2;
}

QDataStream &operator<<(QDataStream &out, const SocialImportProgress &progress)
{
    return out << qint32(progress.importing) << progress.count << progress.reserved1 << progress.reserved2;
}

QDataStream &operator>>(QDataStream &in, SocialImportProgress &progress)
{
    qint32 importing = 0;
    SocialImportProgress read;
    in >> importing >> read.count >> read.reserved1 >> read.reserved2;
    if (in.status() == QDataStream::Ok) {
        read.importing = importing != 0;
        progress = read;
    }
    return in;
}
