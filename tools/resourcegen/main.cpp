// SPDX-License-Identifier: BSD-3-Clause
// twitter-ostra-resourcegen <output folder>
//
// Writes the daemon's generated images into the output folder:
//   avatar-mask.png     73 x 73 RGBA: white disc on black with a soft translucent rim
//   default-avatar.png  73 x 73 RGBA: grey person silhouette on a light background
//
// Pure computation with integer sample grids: every run writes byte-identical files.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QString>

#include <cstdio>
#include <functional>

namespace {

constexpr int Size = 73;
// Samples per pixel side for coverage.
constexpr int Grid = 16;
constexpr int SamplesPerPixel = Grid * Grid;

// Sample (i, j) of pixel (x, y) lies at (x + (i + 0.5) / Grid, y + (j + 0.5) / Grid).
// In units of 1 / (2 * Grid) pixel that is an odd integer, so the circle test below is
// exact integer arithmetic and the result exactly symmetric.
constexpr int sampleCoordinate(int pixel, int sample)
{
    return 2 * Grid * pixel + 2 * sample + 1;
}

// Number of samples of pixel (x, y) that the predicate puts inside the shape; the
// predicate gets the sample position in pixel coordinates.
int coverage(int x, int y, const std::function<bool(double, double)> &inside)
{
    int count = 0;
    for (int j = 0; j < Grid; ++j) {
        for (int i = 0; i < Grid; ++i) {
            const double sx = sampleCoordinate(x, i) / (2.0 * Grid);
            const double sy = sampleCoordinate(y, j) / (2.0 * Grid);
            if (inside(sx, sy))
                ++count;
        }
    }
    return count;
}

// Samples of pixel (x, y) inside the disc of diameter Size centred in the square.
int maskCoverage(int x, int y)
{
    // Centre and radius are both Size / 2 pixels = Size * Grid sample units.
    const long long centre = static_cast<long long>(Size) * Grid;
    const long long radiusSquared = centre * centre;
    int count = 0;
    for (int j = 0; j < Grid; ++j) {
        const long long dy = sampleCoordinate(y, j) - centre;
        for (int i = 0; i < Grid; ++i) {
            const long long dx = sampleCoordinate(x, i) - centre;
            if (dx * dx + dy * dy <= radiusSquared)
                ++count;
        }
    }
    return count;
}

QImage avatarMask()
{
    QImage image(Size, Size, QImage::Format_ARGB32);
    for (int y = 0; y < Size; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < Size; ++x) {
            const int k = maskCoverage(x, y);
            if (k == 0) {
                line[x] = qRgba(0, 0, 0, 255);
            } else if (k == SamplesPerPixel) {
                line[x] = qRgba(255, 255, 255, 255);
            } else {
                // Rim pixel with coverage c = k / SamplesPerPixel: grey 255 * c. Its alpha
                // dips towards the middle of the rim (255 - 2 * 255 * c * (1 - c)), so that
                // the mask's edge is translucent and blends softly with what lies under the
                // masked avatar instead of cutting a hard stair-stepped outline.
                const int grey = (255 * k + SamplesPerPixel / 2) / SamplesPerPixel;
                const long long dip = (2LL * 255 * k * (SamplesPerPixel - k)
                                       + SamplesPerPixel * SamplesPerPixel / 2)
                    / (static_cast<long long>(SamplesPerPixel) * SamplesPerPixel);
                const int alpha = qBound(1, 255 - static_cast<int>(dip), 254);
                line[x] = qRgba(grey, grey, grey, alpha);
            }
        }
    }
    return image;
}

int blend(int from, int to, int k)
{
    return (from * (SamplesPerPixel - k) + to * k + SamplesPerPixel / 2) / SamplesPerPixel;
}

QImage defaultAvatar()
{
    const QRgb background = qRgb(226, 229, 233);
    const QRgb figure = qRgb(150, 156, 164);

    // Head: a disc. Shoulders: the top of an ellipse reaching below the picture. A thin
    // gap of background around the head keeps the two parts apart.
    const double centreX = Size / 2.0;
    const double headY = 28.0;
    const double headRadius = 13.0;
    const double gap = 2.5;
    const double shouldersY = 79.0;
    const double shouldersHalfWidth = 29.0;
    const double shouldersHalfHeight = 33.0;

    const auto inside = [=](double x, double y) {
        const double hx = x - centreX;
        const double hy = y - headY;
        const double headDistance = hx * hx + hy * hy;
        if (headDistance <= headRadius * headRadius)
            return true;
        if (headDistance <= (headRadius + gap) * (headRadius + gap))
            return false;
        const double ex = (x - centreX) / shouldersHalfWidth;
        const double ey = (y - shouldersY) / shouldersHalfHeight;
        return ex * ex + ey * ey <= 1.0;
    };

    QImage image(Size, Size, QImage::Format_ARGB32);
    for (int y = 0; y < Size; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < Size; ++x) {
            const int k = coverage(x, y, inside);
            line[x] = qRgba(blend(qRed(background), qRed(figure), k),
                            blend(qGreen(background), qGreen(figure), k),
                            blend(qBlue(background), qBlue(figure), k), 255);
        }
    }
    return image;
}

bool write(const QImage &image, const QString &path)
{
    // Through a temporary name, so that an interrupted run leaves no half-written file.
    const QString temporary = path + QStringLiteral(".part");
    QImageWriter writer(temporary, "png");
    if (!writer.write(image)) {
        std::fprintf(stderr, "twitter-ostra-resourcegen: cannot write %s: %s\n",
                     qPrintable(QDir::toNativeSeparators(temporary)), qPrintable(writer.errorString()));
        QFile::remove(temporary);
        return false;
    }
    if (QFile::exists(path) && !QFile::remove(path)) {
        std::fprintf(stderr, "twitter-ostra-resourcegen: cannot replace %s\n",
                     qPrintable(QDir::toNativeSeparators(path)));
        QFile::remove(temporary);
        return false;
    }
    if (!QFile::rename(temporary, path)) {
        std::fprintf(stderr, "twitter-ostra-resourcegen: cannot rename %s to %s\n",
                     qPrintable(QDir::toNativeSeparators(temporary)),
                     qPrintable(QDir::toNativeSeparators(path)));
        QFile::remove(temporary);
        return false;
    }
    return true;
}

}

int main(int argc, char *argv[])
{
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: twitter-ostra-resourcegen <output folder>\n");
        return 2;
    }
    const QString folder = QFile::decodeName(QByteArray(argv[1]));
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "twitter-ostra-resourcegen: cannot create folder %s\n",
                     qPrintable(QDir::toNativeSeparators(folder)));
        return 1;
    }
    const QDir directory(folder);
    if (!write(avatarMask(), directory.filePath(QStringLiteral("avatar-mask.png"))))
        return 1;
    if (!write(defaultAvatar(), directory.filePath(QStringLiteral("default-avatar.png"))))
        return 1;
    return 0;
}
