#pragma once

#include <QObject>

#include <functional>

namespace vesperine {

// An application-wide key filter while the panel is open: Escape runs the
// handler and is swallowed, every other key goes on to its widget.
class EscapeKeyMonitor : public QObject {
    Q_OBJECT

  public:
    // Installs itself on the application.
    explicit EscapeKeyMonitor(std::function<void()> onEscape);
    ~EscapeKeyMonitor() override { uninstall(); }

    // Stops filtering at once; safe from inside the handler.
    void uninstall();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void()> onEscape_;
};

}  // namespace vesperine
