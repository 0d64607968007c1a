// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "HttpResponse.h"

#include <QString>
#include <QUrl>

// Small real pictures made up for any picture address: profile images, media and their
// ":thumb" size, and the thumbnail addresses of the photo-sharing sites. The same address
// always gives the same picture; a ".png" address a PNG, any other a JPEG. A file name
// ending in "_huge" (before its suffix) gives a picture of 4096 x 4096, the largest the
// client takes.
class PictureFactory
{
public:
    static bool isPicture(const QUrl &url);
    static HttpResponse picture(const QUrl &url);
};
