#include "shell/StatusPanel.h"

#include <QEvent>
#include <QGraphicsEffect>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QShowEvent>
#include <QVBoxLayout>

#include "shell/X11Session.h"

namespace vesperine {
namespace {

// Draws the content through an antialiased rounded rectangle. Only used on a
// translucent window, where the cut-off corners show what lies behind.
class RoundedCornersEffect final : public QGraphicsEffect {
  public:
    explicit RoundedCornersEffect(QObject* parent) : QGraphicsEffect(parent) {}

  protected:
    void draw(QPainter* painter) override {
        QPoint offset;
        const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &offset);
        if (pixmap.isNull()) {
            return;
        }
        const qreal ratio = pixmap.devicePixelRatio();
        const QRectF target(offset, QSizeF(pixmap.size()) / ratio);
        QBrush brush(pixmap);
        brush.setTransform(
            QTransform::fromTranslate(offset.x(), offset.y()).scale(1 / ratio, 1 / ratio));
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(brush);
        painter->drawRoundedRect(target, StatusPanel::cornerRadius, StatusPanel::cornerRadius);
        painter->restore();
    }
};

QRegion roundedRegion(const QSize& size) {
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), StatusPanel::cornerRadius,
                        StatusPanel::cornerRadius);
    return QRegion(path.toFillPolygon().toPolygon());
}

}  // namespace

StatusPanel::StatusPanel(const QRect& contentRect)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QStringLiteral("Vesperine"));
    setGeometry(contentRect);
    // Translucency has to be chosen before the native window exists.
    translucent_ = X11Session::compositorActive();
    if (translucent_) {
        setAttribute(Qt::WA_TranslucentBackground);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The owner sets the size; the layout must not fight it.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    updateCorners();
}

StatusPanel::~StatusPanel() = default;

bool StatusPanel::isFloatingPanel() const {
    return isWindow() && windowType() == Qt::Tool &&
           windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

bool StatusPanel::becomesKeyOnlyIfNeeded() const {
    return testAttribute(Qt::WA_ShowWithoutActivating) ||
           windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus);
}

bool StatusPanel::hidesOnDeactivate() const {
    return windowType() == Qt::Popup || windowType() == Qt::ToolTip;
}

void StatusPanel::setContentWidget(QWidget* content) {
    if (content_ != nullptr) {
        layout()->removeWidget(content_);
        delete content_;
    }
    content_ = content;
    if (content_ == nullptr) {
        return;
    }
    layout()->addWidget(content_);
    if (translucent_) {
        content_->setGraphicsEffect(new RoundedCornersEffect(content_));
    }
    // Qt counts the children of a window that was never shown as hidden, and
    // a layout measures hidden children as empty. One show that reaches no
    // screen makes the content measurable before the first real show.
    if (!isVisible() && !testAttribute(Qt::WA_WState_ExplicitShowHide)) {
        setAttribute(Qt::WA_DontShowOnScreen, true);
        show();
        hide();
        setAttribute(Qt::WA_DontShowOnScreen, false);
    }
}

void StatusPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        Q_EMIT didResignKey(this);
    }
}

bool StatusPanel::closedByResignWithin(int milliseconds) const {
    return closedByResign_.isValid() && closedByResign_.elapsed() < milliseconds;
}

void StatusPanel::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        X11Session::skipTaskbarAndPager(*this);
    }
    updateCorners();
    QWidget::showEvent(event);
}

void StatusPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateCorners();
}

void StatusPanel::updateCorners() {
    // The compositor may have gone since the window was made; a mask keeps the
    // corners round (if jagged) without it.
    if (translucent_ && X11Session::compositorActive()) {
        clearMask();
    } else {
        setMask(roundedRegion(size()));
    }
}

}  // namespace vesperine
