#include "shell/PanelHostingController.h"

#include <QEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vesperine {

PanelHostingController::PanelHostingController(QWidget* content, QWidget* parent)
    : QWidget(parent), content_(content) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(content_);
    // A change deep in the content stops at the content's own layout; it does
    // not always reach this container.
    content_->installEventFilter(this);
}

QSizeF PanelHostingController::sizeThatFits(double width) const {
    const int w = static_cast<int>(std::lround(width));
    int h = content_->hasHeightForWidth() ? content_->heightForWidth(w) : -1;
    if (h < 0) {
        h = content_->sizeHint().height();
    }
    h = std::clamp(h, content_->minimumHeight(), content_->maximumHeight());
    return QSizeF(width, h);
}

void PanelHostingController::setPreferredContentSize(const QSizeF& size) {
    const QSizeF before = preferredContentSize_;
    preferredContentSize_ = size;
    // NaN never compares equal, so it always counts as a change.
    const bool same = before.width() == size.width() && before.height() == size.height();
    if (!same && preferredSizeDidChange_) {
        preferredSizeDidChange_(preferredContentSize_);
    }
}

bool PanelHostingController::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest) {
        remeasure(*this);
    }
    return handled;
}

bool PanelHostingController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == content_ && event->type() == QEvent::LayoutRequest) {
        remeasure(*content_);
    }
    return QWidget::eventFilter(watched, event);
}

void PanelHostingController::remeasure(QWidget& widget) {
    // While the panel is hidden Qt does not activate layouts, and an inactive
    // layout posts no further requests; activating it keeps the next change
    // coming.
    if (QLayout* layout = widget.layout()) {
        layout->activate();
    }
    setPreferredContentSize(sizeThatFits(measuringWidth));
}

}  // namespace vesperine
