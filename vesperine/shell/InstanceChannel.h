#pragma once

#include <QObject>

#include <string>

class QSocketNotifier;

namespace vesperine {

// How a second start reaches the running tray application: a Unix socket
// beside the instance lock, answered only for processes of the same user.
class InstanceChannel : public QObject {
    Q_OBJECT

  public:
    // The socket that goes with the lock at `lockPath`.
    static std::string socketPath(const std::string& lockPath);

    // Asks the instance listening at `path` to open its panel; true when it
    // took the request.
    static bool askToOpenPanel(const std::string& path);

    explicit InstanceChannel(QObject* parent = nullptr);
    ~InstanceChannel() override;

    // Listens at `path` (replacing what a crashed instance left there; the
    // caller holds the lock). False when no socket could be made.
    bool listen(const std::string& path);

  Q_SIGNALS:
    void openPanelRequested();

  private:
    void acceptOne();

    int fd_ = -1;
    std::string path_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vesperine
