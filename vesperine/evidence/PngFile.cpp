#include "evidence/PngFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vesperine::PngFile {
namespace {

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return true;
}

}  // namespace

QString write(const QImage& picture, const QString& path) {
    const QString failure = QStringLiteral("cannot write ") + path + QStringLiteral(": ");
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) {
        return failure + QStringLiteral("the picture could not be encoded");
    }
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".tmp-XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return failure + QString::fromLocal8Bit(std::strerror(errno));
    }
    // mkostemp makes 0600; the pictures are for review by others.
    bool written = fchmod(fd, 0644) == 0 && writeAll(fd, bytes);
    int error = errno;
    written = close(fd) == 0 && written;
    if (written && rename(temporary.constData(), target.constData()) != 0) {
        error = errno;
        written = false;
    }
    if (!written) {
        unlink(temporary.constData());
        return failure + QString::fromLocal8Bit(std::strerror(error != 0 ? error : EIO));
    }
    return {};
}

}  // namespace vesperine::PngFile
