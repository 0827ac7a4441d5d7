// The panel background arrives as a JPEG file chosen by the user: anything
// from a camera photo to a half-copied file. Decoding goes straight through
// libjpeg with an error manager that returns instead of exiting the process.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace kovra {

// Pictures larger than this many pixels are refused rather than allocated:
// a corrupt header can claim 65500 x 65500.
inline constexpr qint64 kMaxJpegPixels = qint64(64) * 1024 * 1024;

// The decoded picture in kPictureFormat (RGB32), or a null image when the data
// is not a JPEG libjpeg can decode completely (a fatal error, or data that ends
// before the picture does).
QImage DecodeJpeg(const QByteArray& data);

// The same for a file; a missing or unreadable file gives a null image too.
QImage DecodeJpegFile(const QString& path);

}  // namespace kovra
