// SPDX-License-Identifier: BSD-3-Clause
#include "OLocale.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>

namespace {
const OLocale *gDefault = nullptr;
}

OLocale::OLocale(QObject *parent)
    : QObject(parent)
{
}

OLocale::~OLocale()
{
    if (gDefault == this) {
        removeTranslators();
        gDefault = nullptr;
    }
}

QStringList OLocale::catalogueDirectories()
{
    QStringList directories = QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                        QStringLiteral("twitter-ostra/translations"),
                                                        QStandardPaths::LocateDirectory);
    // Beside the program rather than at a fixed path: the installed daemon finds the
    // installed catalogue wherever the prefix put both, and the built one the build's.
    if (QCoreApplication::instance())
        directories.append(QDir::cleanPath(QCoreApplication::applicationDirPath()
                                           + QStringLiteral("/" TWITTEROSTRA_CATALOGUE_FROM_PROGRAM)));
    return directories;
}

void OLocale::installTrCatalog(const QString &catalogue)
{
    for (const QString &directory : catalogueDirectories()) {
        auto *translator = new QTranslator(this);
        // The locale's own catalogue first, then the plain one (English, id-based).
        if (translator->load(QLocale(), catalogue, QStringLiteral("_"), directory)
            || translator->load(catalogue, directory)) {
            qDebug() << Q_FUNC_INFO << catalogue << "from" << directory;
            mTranslators.append(translator);
            if (gDefault == this)
                QCoreApplication::installTranslator(translator);
            return;
        }
        delete translator;
    }
    qWarning() << Q_FUNC_INFO << "no catalogue" << catalogue << "in" << catalogueDirectories();
}

void OLocale::setDefault(const OLocale &locale)
{
    if (gDefault == &locale)
        return;
    if (gDefault)
        gDefault->removeTranslators();
    gDefault = &locale;
    locale.installTranslators();
}

void OLocale::installTranslators() const
{
    for (QTranslator *translator : mTranslators)
        QCoreApplication::installTranslator(translator);
}

void OLocale::removeTranslators() const
{
    for (QTranslator *translator : mTranslators)
        QCoreApplication::removeTranslator(translator);
}
