// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

class QTranslator;

// The platform's locale: the translation catalogues installed into it take effect for
// qtTrId() once the locale is made the default.
class OLocale : public QObject
{
    Q_OBJECT

public:
    explicit OLocale(QObject *parent = nullptr);
    ~OLocale() override;

    // Loads "<catalogue>_<language>.qm" (or "<catalogue>.qm") from the first folder of
    // catalogueDirectories() that has one. A missing catalogue leaves the text ids as they are.
    void installTrCatalog(const QString &catalogue);
    static void setDefault(const OLocale &locale);

    // "twitter-ostra/translations" under each XDG data folder, then the catalogue folder
    // as installed relative to the program's own folder.
    static QStringList catalogueDirectories();

private:
    void installTranslators() const;
    void removeTranslators() const;

    QList<QTranslator *> mTranslators;
};
