#include "shell/WakeWatcher.h"

namespace vesperine {

WakeWatcher::WakeWatcher(QDBusConnection bus, QObject* parent) : QObject(parent) {
    // Matching on the well-known name: only the owner of login1 is believed.
    listening_ = bus.isConnected() &&
                 bus.connect(QString::fromLatin1(service), QString::fromLatin1(path),
                             QString::fromLatin1(interface), QString::fromLatin1(signal), this,
                             SLOT(onPrepareForSleep(bool)));
}

void WakeWatcher::onPrepareForSleep(bool goingToSleep) {
    if (!goingToSleep) {
        Q_EMIT didWake();
    }
}

}  // namespace vesperine
