#include "views/StrengthControl.h"

#include <QHBoxLayout>

#include <cmath>

#include "views/Palette.h"
#include "views/PanelWidgets.h"

namespace vesperine {

StrengthControl::StrengthControl(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    slider_ = new PanelSlider(this);
    slider_->setRange(0, steps);
    slider_->setAccessibleName(QStringLiteral("Strength"));
    percent_ =
        new PercentText(36, panelFont(12, QFont::Medium), Palette::secondaryForeground(), this);
    row->addWidget(slider_, 1);
    row->addWidget(percent_);

    // Names for accessibility tools and for finding the parts in tests.
    slider_->setObjectName(QStringLiteral("strengthSlider"));
    percent_->setObjectName(QStringLiteral("strengthPercent"));

    connect(slider_, &QAbstractSlider::valueChanged, this, &StrengthControl::userMoved);
    connect(slider_, &QAbstractSlider::sliderReleased, &model_, &AppModel::finishStrength);
    // Keys and the wheel move the slider without a drag: the value is stored
    // once they pause, as a drag's is when it ends.
    settle_.setSingleShot(true);
    settle_.setInterval(AppModel::strengthStoreIntervalMilliseconds);
    connect(&settle_, &QTimer::timeout, &model_, &AppModel::finishStrength);
    connect(&model_, &AppModel::changed, this, [this](AppModel::Property property) {
        if (property == AppModel::Property::strength) {
            showStrength();
        }
    });
    showStrength();
}

QString StrengthControl::percentText(double strength) {
    const double percent = std::round(strength * 100.0);
    if (!std::isfinite(percent)) {
        return QStringLiteral("0%");
    }
    return QString::number(static_cast<long long>(percent)) + QLatin1Char('%');
}

void StrengthControl::showStrength() {
    const double strength = model_.strength();
    percent_->setText(percentText(strength));
    const double clamped = clampStrength(strength);
    showing_ = true;
    slider_->setValue(static_cast<int>(std::lround(clamped * steps)));
    showing_ = false;
}

void StrengthControl::userMoved(int position) {
    if (showing_) {
        return;
    }
    model_.moveStrength(static_cast<double>(position) / steps);
    if (!slider_->isSliderDown()) {
        settle_.start();
    }
}

}  // namespace vesperine
