#include "shell/FilterStateWatcher.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include <sys/stat.h>

#include "engine/PrivateFile.h"

namespace vesperine {
namespace {

// One version of the file: its bytes, and which file holds them. Every writer
// renames a new file over the old, so the tray's own write followed by another
// process's write of the old bytes still reads as a change.
// Read as the store reads it: a pipe, a device or a huge file in its place
// reads as nothing instead of holding up the application.
QByteArray version(const QString& file) {
    const QByteArray path = QFile::encodeName(file);
    struct stat info {};
    if (::stat(path.constData(), &info) != 0) {
        return {};
    }
    const std::string bytes = PrivateFile::read(path.toStdString()).bytes;
    return QByteArray::number(static_cast<qulonglong>(info.st_ino)) + ' ' +
           QByteArray::number(static_cast<qlonglong>(info.st_mtim.tv_sec)) + '.' +
           QByteArray::number(static_cast<qlonglong>(info.st_mtim.tv_nsec)) + '\n' +
           QByteArray::fromStdString(bytes);
}

// mkdir -p with 0700 for each folder made, as the store makes them.
void makeFolders(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        ::mkdir((slash < 0 ? path : path.left(slash)).constData(), 0700);
        if (slash < 0) {
            return;
        }
    }
}

}  // namespace

FilterStateWatcher::FilterStateWatcher(const QString& file, QObject* parent)
    : QObject(parent), file_(file), watcher_(new QFileSystemWatcher(this)) {
    const QString folder = QFileInfo(file).absolutePath();
    makeFolders(folder);
    watcher_->addPath(folder);
    lastSeen_ = version(file_);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FilterStateWatcher::look);
}

void FilterStateWatcher::look() {
    QByteArray now = version(file_);
    if (now != lastSeen_) {
        lastSeen_ = std::move(now);
        Q_EMIT stateChanged();
    }
}

}  // namespace vesperine
