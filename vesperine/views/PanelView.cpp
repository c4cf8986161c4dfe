#include "views/PanelView.h"

#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPixmap>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "views/FrontPage.h"
#include "views/Palette.h"
#include "views/PanelWidgets.h"
#include "views/SettingsPage.h"

namespace vesperine {
namespace {

constexpr int kFadeMilliseconds = 150;

// A picture of the outgoing page, drawn over the incoming one while it fades.
class Snapshot : public QWidget {
  public:
    Snapshot(QPixmap picture, QWidget* parent) : QWidget(parent), picture_(std::move(picture)) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setOpacity(qreal opacity) {
        opacity_ = opacity;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setOpacity(opacity_);
        painter.drawPixmap(0, 0, picture_);
    }

  private:
    QPixmap picture_;
    qreal opacity_ = 1.0;
};

}  // namespace

PanelView::PanelView(AppModel& model, std::function<void()> quit, Page page, QWidget* parent)
    : QWidget(parent),
      model_(model),
      quit_(std::move(quit)),
      page_(page),
      fade_(new QVariantAnimation(this)) {
    Palette::applyDarkAppearance(*this);
    setAutoFillBackground(true);
    setFixedWidth(panelWidth);

    layout_ = new PageColumn(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);

    fade_->setDuration(kFadeMilliseconds);
    fade_->setEasingCurve(easeInOut());
    fade_->setStartValue(0.0);
    fade_->setEndValue(1.0);
    connect(fade_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { showFade(value.toReal()); });
    connect(fade_, &QVariantAnimation::finished, this, &PanelView::finishFade);

    current_ = makePage(page_);
    layout_->addWidget(current_);
}

QWidget* PanelView::makePage(Page page) {
    if (page == Page::settings) {
        return new SettingsPage(
            model_, [this] { setPage(Page::front); },
            [this] {
                if (quit_) {
                    quit_();
                }
            },
            false, this);
    }
    return new FrontPage(
        model_, [this] { setPage(Page::settings); }, this);
}

void PanelView::setPage(Page page) {
    if (page == page_) {
        return;
    }
    finishFade();
    page_ = page;
    QWidget* old = current_;
    const bool animate = isVisible() && old->isVisible();
    QPixmap picture;
    if (animate) {
        picture = old->grab();
    }
    const QRect oldGeometry = old->geometry();
    layout_->removeWidget(old);
    old->hide();
    // The press that asked for the switch may still be running inside the old page.
    old->deleteLater();

    current_ = makePage(page);
    layout_->addWidget(current_);
    if (!animate) {
        return;
    }
    current_->show();
    auto* effect = new QGraphicsOpacityEffect(current_);
    effect->setOpacity(0.0);
    current_->setGraphicsEffect(effect);
    auto* snapshot = new Snapshot(std::move(picture), this);
    snapshot->setGeometry(oldGeometry);
    snapshot->show();
    snapshot->raise();
    outgoing_ = snapshot;
    fade_->start();
}

void PanelView::showFade(qreal progress) {
    if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(current_->graphicsEffect())) {
        effect->setOpacity(progress);
    }
    if (outgoing_ != nullptr) {
        static_cast<Snapshot*>(outgoing_)->setOpacity(1.0 - progress);
    }
}

void PanelView::finishFade() {
    if (fade_->state() == QAbstractAnimation::Running) {
        fade_->stop();
    }
    delete outgoing_;
    outgoing_ = nullptr;
    if (current_ != nullptr && current_->graphicsEffect() != nullptr) {
        current_->setGraphicsEffect(nullptr);
    }
}

void PanelView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The shell shows the panel once off screen to measure it; only a real
    // appearance counts.
    const bool offScreen = window()->testAttribute(Qt::WA_DontShowOnScreen);
    if (!appeared_ && !event->spontaneous() && !offScreen) {
        appeared_ = true;
        model_.refresh();
    }
}

}  // namespace vesperine
