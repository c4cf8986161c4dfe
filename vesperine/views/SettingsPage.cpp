#include "views/SettingsPage.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "views/AutomaticControl.h"
#include "views/LocationControl.h"
#include "views/Palette.h"
#include "views/PanelWidgets.h"
#include "views/StrengthControl.h"
#include "views/Symbols.h"

namespace vesperine {

SettingsPage::SettingsPage(AppModel& model, std::function<void()> back, std::function<void()> quit,
                           bool locationExpanded, QWidget* parent)
    : QWidget(parent), backAction_(std::move(back)), quitAction_(std::move(quit)) {
    Palette::applyDarkAppearance(*this);

    auto* column = new PageColumn(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 14, 16, 12);
    header->setSpacing(8);
    back_ = new PlainButton(this);
    back_->layout()->setContentsMargins(6, 6, 6, 6);
    back_->addToLabel(
        new SymbolView(Symbol::chevronLeft, 12, QFont::DemiBold, Palette::primaryForeground()));
    back_->setAccessibleName(QStringLiteral("Back"));
    header->addWidget(back_);
    addGap(*header);
    column->addLayout(header);

    column->addWidget(new Separator(this));

    auto* controls = new QVBoxLayout;
    controls->setContentsMargins(16, 16, 16, 14);
    controls->setSpacing(17);
    strength_ = new StrengthControl(model, this);
    location_ = new LocationControl(model, locationExpanded, this);
    automatic_ = new AutomaticControl(model, this);
    controls->addWidget(strength_);
    controls->addWidget(location_);
    controls->addWidget(automatic_);
    column->addLayout(controls);

    column->addWidget(new Separator(this));

    auto* quitBox = new QVBoxLayout;
    quitBox->setContentsMargins(16, 11, 16, 11);
    quit_ = new PlainButton(this);
    auto* quitRow = static_cast<QHBoxLayout*>(quit_->layout());
    quitRow->setSpacing(7);
    quit_->addToLabel(
        new SymbolView(Symbol::power, 11, QFont::Normal, Palette::secondaryForeground()));
    quit_->addToLabel(
        new TextView(QStringLiteral("Quit"), panelFont(12), Palette::secondaryForeground()));
    addGap(*quitRow);
    quit_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    quitBox->addWidget(quit_);
    column->addLayout(quitBox);

    // Names for accessibility tools and for finding the parts in tests.
    back_->setObjectName(QStringLiteral("backButton"));
    quit_->setObjectName(QStringLiteral("quitRow"));
    strength_->setObjectName(QStringLiteral("strengthControl"));
    location_->setObjectName(QStringLiteral("locationControl"));
    automatic_->setObjectName(QStringLiteral("automaticControl"));

    connect(back_, &QAbstractButton::clicked, this, [this] {
        if (backAction_) {
            backAction_();
        }
    });
    connect(quit_, &QAbstractButton::clicked, this, [this] {
        if (quitAction_) {
            quitAction_();
        }
    });
}

}  // namespace vesperine
