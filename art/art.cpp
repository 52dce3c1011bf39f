// SPDX-License-Identifier: GPL-3.0-or-later
#include "art/art.h"

#include <QImageReader>
#include <QtGlobal>

#include <cmath>

// Q_INIT_RESOURCE declares its function at the point of use, so it must stay outside any namespace.
void InitTessalyArt() { Q_INIT_RESOURCE(tessaly_art); }

namespace {

QImage Read(const QString& path) {
  QImageReader reader(path);
  return reader.read();
}

}  // namespace

QImage ArtImage(const QString& file, qreal dpr) {
  const QString path = QStringLiteral(":/art/") + file;
  QImage base = Read(path);
  if (base.isNull() || dpr <= 1.0) return base;
  const int dot = file.lastIndexOf(QLatin1Char('.'));
  QImage big = Read(QStringLiteral(":/art/") + file.left(dot) + QStringLiteral("@2x") + file.mid(dot));
  if (big.isNull()) return base;
  if (std::abs(dpr - 2.0) > 1e-6) {
    // The screen's own pixels, from the sharper picture.
    const QSize device(qRound(base.width() * dpr), qRound(base.height() * dpr));
    big = big.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  big.setDevicePixelRatio(dpr);
  return big;
}

QPixmap ArtPixmap(const QString& file, qreal dpr) { return QPixmap::fromImage(ArtImage(file, dpr)); }
