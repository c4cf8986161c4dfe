#pragma once

#include <QDBusConnection>
#include <QObject>

namespace vesperine {

// Tells when the machine has woken from sleep: logind's
// PrepareForSleep(false) on the system bus. Without a bus it never fires.
class WakeWatcher : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* service = "org.freedesktop.login1";
    static constexpr const char* path = "/org/freedesktop/login1";
    static constexpr const char* interface = "org.freedesktop.login1.Manager";
    static constexpr const char* signal = "PrepareForSleep";

    explicit WakeWatcher(QDBusConnection bus, QObject* parent = nullptr);

    bool isListening() const { return listening_; }

  Q_SIGNALS:
    void didWake();

  private Q_SLOTS:
    void onPrepareForSleep(bool goingToSleep);

  private:
    bool listening_ = false;
};

}  // namespace vesperine
