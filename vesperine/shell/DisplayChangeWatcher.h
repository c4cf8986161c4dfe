#pragma once

#include <QObject>
#include <QTimer>

class QScreen;

namespace vesperine {

// Tells when monitors were added, removed or reconfigured (RandR changes as Qt
// reports them). A burst of changes, as a hot-plug makes, is told once, a
// moment after the last of them.
class DisplayChangeWatcher : public QObject {
    Q_OBJECT

  public:
    static constexpr int settleMilliseconds = 500;

    explicit DisplayChangeWatcher(QObject* parent = nullptr);

  Q_SIGNALS:
    void displaysChanged();

  private:
    void watchScreen(QScreen* screen);

    QTimer settle_;
};

}  // namespace vesperine
