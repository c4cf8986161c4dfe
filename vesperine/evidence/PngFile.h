#pragma once

#include <QImage>
#include <QString>

namespace vesperine::PngFile {

// Encodes `picture` as PNG in memory, writes it to a temporary file beside
// `path` and renames that over `path`: an interrupted write never leaves a
// truncated file, and a link planted at `path` is replaced, never followed.
// Returns why it failed ("cannot write <path>: <reason>"), or an empty text.
QString write(const QImage& picture, const QString& path);

}  // namespace vesperine::PngFile
