#pragma once
// Decoding the JPEG photograph of the about dialogs with libjpeg.
#include <QByteArray>
#include <QImage>

namespace veresk {

// The decoded picture, or a null image when the data is not a JPEG libjpeg can read.
QImage DecodeJpeg(const QByteArray& data);

}  // namespace veresk
