// SPDX-License-Identifier: BSD-3-Clause
#include "OwnFiles.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

void OwnFiles::keepPrivate()
{
    umask(S_IRWXG | S_IRWXO);
}

void OwnFiles::replaceLink(const QString &path)
{
    const QFileInfo file(path);
    if (!file.isSymLink())
        return;
    qWarning() << Q_FUNC_INFO << "a link stands where the daemon's file should be, replaced:" << path << "->"
               << file.symLinkTarget();
    if (!QFile::remove(path))
        qWarning() << Q_FUNC_INFO << "cannot remove the link" << path;
}
