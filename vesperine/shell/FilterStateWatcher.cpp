#include "shell/FilterStateWatcher.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include <sys/stat.h>

namespace vesperine {
namespace {

QByteArray contents(const QString& file) {
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
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
    lastSeen_ = contents(file_);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FilterStateWatcher::look);
}

void FilterStateWatcher::look() {
    QByteArray now = contents(file_);
    if (now != lastSeen_) {
        lastSeen_ = std::move(now);
        Q_EMIT stateChanged();
    }
}

}  // namespace vesperine
