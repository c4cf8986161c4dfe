#include "views/FrontPage.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "views/FilterGlyph.h"
#include "views/Palette.h"
#include "views/PanelWidgets.h"
#include "views/RunPauseButton.h"
#include "views/Symbols.h"

namespace vesperine {

FrontPage::FrontPage(AppModel& model, std::function<void()> openSettings, QWidget* parent)
    : QWidget(parent), model_(model), openSettings_(std::move(openSettings)) {
    Palette::applyDarkAppearance(*this);

    auto* column = new PageColumn(this);
    column->setContentsMargins(0, 0, 0, 6);
    column->setSpacing(0);

    // Title row. The glyph's widget carries a bleed margin for the ring, so the
    // row's padding and spacing are that much smaller next to it.
    auto* title = new QHBoxLayout;
    constexpr int bleed = FilterGlyph::bleed;
    title->setContentsMargins(16 - bleed, 14 - bleed, 16, 12 - bleed);
    title->setSpacing(0);
    constexpr int spacing = 10;
    title->addWidget(new FilterGlyph(QSize(22, 22), this));
    title->addSpacing(spacing - bleed);
    title->addWidget(new TextView(QStringLiteral("Vesperine"), panelFont(14, QFont::DemiBold),
                                  Palette::primaryForeground(), this));
    title->addSpacing(spacing + 8 + spacing);
    title->addStretch(1);
    settingsButton_ = new PlainButton(this);
    settingsButton_->layout()->setContentsMargins(5, 5, 5, 5);
    settingsButton_->addToLabel(
        new SymbolView(Symbol::gearshape, 12, QFont::DemiBold, Palette::primaryForeground()));
    settingsButton_->setToolTip(QStringLiteral("Settings"));
    settingsButton_->setAccessibleName(QStringLiteral("Settings"));
    title->addWidget(settingsButton_);
    column->addLayout(title);

    column->addWidget(new Separator(this));

    auto* control = new QVBoxLayout;
    control->setContentsMargins(16, 14, 16, 10);
    runPause_ = new RunPauseButton(model_, this);
    control->addWidget(runPause_);
    column->addLayout(control);

    // Shown only while the screen cannot be reached, so the run/pause look
    // never pretends.
    notice_ = new TextView(model_.screenNotice(), panelFont(10.5), Palette::warn(), this);
    notice_->setLines(TextView::Lines::wrapping);
    notice_->setVisible(!model_.screenNotice().isEmpty());
    auto* noticeBox = new QVBoxLayout;
    noticeBox->setContentsMargins(16, 0, 16, 0);
    noticeBox->addWidget(notice_);
    column->addLayout(noticeBox);

    auto* placeBox = new QVBoxLayout;
    placeBox->setContentsMargins(16, 10, 16, 10);
    placeRow_ = new PlainButton(this);
    auto* placeLayout = static_cast<QHBoxLayout*>(placeRow_->layout());
    placeLayout->setSpacing(8);
    placeRow_->addToLabel(
        new SymbolView(Symbol::locationFill, 11, QFont::Normal, Palette::secondaryForeground()));
    place_ =
        new TextView(model_.place(), panelFont(12, QFont::Medium), Palette::primaryForeground());
    placeRow_->addToLabel(place_);
    addGap(*placeLayout);
    placeRow_->addToLabel(
        new SymbolView(Symbol::chevronRight, 9, QFont::DemiBold, Palette::tertiaryForeground()));
    placeRow_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    placeBox->addWidget(placeRow_);
    column->addLayout(placeBox);

    auto open = [this] {
        if (openSettings_) {
            openSettings_();
        }
    };
    // Names for accessibility tools and for finding the parts in tests.
    runPause_->setObjectName(QStringLiteral("runPauseButton"));
    settingsButton_->setObjectName(QStringLiteral("settingsButton"));
    placeRow_->setObjectName(QStringLiteral("placeRow"));
    place_->setObjectName(QStringLiteral("placeLabel"));
    notice_->setObjectName(QStringLiteral("screenNotice"));

    connect(settingsButton_, &QAbstractButton::clicked, this, open);
    connect(placeRow_, &QAbstractButton::clicked, this, open);
    connect(&model_, &AppModel::changed, this, [this](AppModel::Property property) {
        if (property == AppModel::Property::place) {
            place_->setText(model_.place());
        }
        if (property == AppModel::Property::screenNotice) {
            notice_->setText(model_.screenNotice());
            notice_->setVisible(!model_.screenNotice().isEmpty());
        }
    });
}

}  // namespace vesperine
