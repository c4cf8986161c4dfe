#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QFileSystemWatcher;

namespace vesperine {

// Notices at once when the stored filter state changes, whoever wrote it (a
// script's --set-enabled, another process). The store replaces the file by
// renaming over it, so its folder is what is watched. The kernel reports the
// change: nothing polls.
class FilterStateWatcher : public QObject {
    Q_OBJECT

  public:
    // Watches `file`, making its folder when missing.
    explicit FilterStateWatcher(const QString& file, QObject* parent = nullptr);

  Q_SIGNALS:
    // The file was replaced or its bytes changed since it was last seen.
    void stateChanged();

  private:
    void look();

    QString file_;
    QFileSystemWatcher* watcher_;
    QByteArray lastSeen_;
};

}  // namespace vesperine
