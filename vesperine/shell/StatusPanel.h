#pragma once

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

namespace vesperine {

// The window the panel is shown in: frameless, above other windows, out of
// taskbars and pagers, taking keyboard focus when shown, with corners rounded
// to 12 pixels (antialiased through translucency when a compositor runs, a
// shape mask otherwise). The three flags are read back from the window's own
// flags and attributes, never stored.
class StatusPanel : public QWidget {
    Q_OBJECT

  public:
    static constexpr int cornerRadius = 12;  // logical pixels

    // Sized to `contentRect`, not shown.
    explicit StatusPanel(const QRect& contentRect);
    ~StatusPanel() override;

    // Stays above ordinary windows as a tool window.
    bool isFloatingPanel() const;
    // Would only take focus when a control asks for it (shown without
    // activation, or refusing focus altogether).
    bool becomesKeyOnlyIfNeeded() const;
    // Closes by itself when the application loses focus, as a popup does.
    bool hidesOnDeactivate() const;

    // Notes that losing focus closed the panel just now, and asks whether that
    // happened less than `milliseconds` ago. On trays that take focus when
    // clicked, that close and the click that caused it arrive one after the
    // other.
    void noteClosedByResign() { closedByResign_.start(); }
    bool closedByResignWithin(int milliseconds) const;

    // Makes `content` fill the panel; the panel takes ownership.
    void setContentWidget(QWidget* content);
    QWidget* contentWidget() const { return content_; }

  Q_SIGNALS:
    // The panel stopped being the active window; `window` is the panel.
    void didResignKey(QWidget* window);

  protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void updateCorners();

    QWidget* content_ = nullptr;
    bool translucent_ = false;
    QElapsedTimer closedByResign_;
};

}  // namespace vesperine
