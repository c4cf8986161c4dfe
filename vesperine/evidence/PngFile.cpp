#include "evidence/PngFile.h"

#include <QBuffer>
#include <QByteArray>
#include <QSaveFile>

namespace vesperine::PngFile {

void write(const QImage& picture, const QString& path) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) {
        return;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
    }
    file.commit();
}

}  // namespace vesperine::PngFile
