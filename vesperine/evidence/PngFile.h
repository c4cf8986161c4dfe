#pragma once

#include <QImage>
#include <QString>

namespace vesperine::PngFile {

// Encodes `picture` as PNG in memory, then replaces `path` atomically: a
// failed encoding or an interrupted write never leaves a truncated file.
// Failures are silent; the file is then simply not (re)written.
void write(const QImage& picture, const QString& path);

}  // namespace vesperine::PngFile
