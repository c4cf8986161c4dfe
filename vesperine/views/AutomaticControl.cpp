#include "views/AutomaticControl.h"

#include <QHBoxLayout>

#include "views/Palette.h"
#include "views/PanelWidgets.h"

namespace vesperine {

AutomaticControl::AutomaticControl(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(new TextView(QStringLiteral("Automatic"), panelFont(12, QFont::Medium),
                                Palette::primaryForeground(), this));
    addGap(*row);
    toggle_ = new SwitchToggle(this);
    toggle_->setAccessibleName(QStringLiteral("Automatic"));
    toggle_->setOn(model_.automationEnabled());
    row->addWidget(toggle_);

    // Names for accessibility tools and for finding the parts in tests.
    toggle_->setObjectName(QStringLiteral("automaticSwitch"));

    connect(toggle_, &SwitchToggle::flipped, this, [this](bool on) { model_.setAutomation(on); });
    connect(&model_, &AppModel::changed, this, [this](AppModel::Property property) {
        if (property == AppModel::Property::automationEnabled) {
            toggle_->setOn(model_.automationEnabled());
        }
    });
}

}  // namespace vesperine
