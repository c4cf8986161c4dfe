#pragma once

#include <QSizeF>
#include <QWidget>

#include <functional>

#include "views/Palette.h"

namespace vesperine {

// Hosts the panel's views and reports the size they want at the panel's width:
// whenever the content's layout asks for another size, the new preferred size
// goes to the callback, but only when it differs from the last one.
class PanelHostingController : public QWidget {
    Q_OBJECT

  public:
    static constexpr double measuringWidth = Palette::panelWidth;  // logical pixels

    // Takes ownership of `content`. The callback starts empty.
    explicit PanelHostingController(QWidget* content, QWidget* parent = nullptr);

    QWidget* content() const { return content_; }

    // The content's size at `width` with unlimited height.
    QSizeF sizeThatFits(double width) const;

    QSizeF preferredContentSize() const { return preferredContentSize_; }
    // Stores `size`; calls the callback when width or height changed (a NaN on
    // either side counts as a change).
    void setPreferredContentSize(const QSizeF& size);

    void setPreferredSizeDidChange(std::function<void(QSizeF)> callback) {
        preferredSizeDidChange_ = std::move(callback);
    }

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void remeasure(QWidget& widget);

    QWidget* content_;
    QSizeF preferredContentSize_{0.0, 0.0};
    std::function<void(QSizeF)> preferredSizeDidChange_;
};

}  // namespace vesperine
