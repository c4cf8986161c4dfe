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
    const double value = clampStrength(static_cast<double>(position) / steps);
    ColorFilterState& filter = model_.filter();
    model_.noteDisplay(filter.setStrength(value).display);
    model_.setStrength(filter.strength());
}

}  // namespace vesperine
