#include "views/LocationControl.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "views/Palette.h"
#include "views/PanelWidgets.h"

namespace vesperine {
namespace {

constexpr double kFineTuneSeconds = 0.12;

// Shows the model's text unless the field already holds it, so that the caret
// stays where the user is typing. A field not being edited shows the text's
// beginning, which names the place, rather than its end.
void showText(QLineEdit& field, const QString& text) {
    if (field.text() != text) {
        field.setText(text);
        if (!field.hasFocus()) {
            field.setCursorPosition(0);
        }
    }
}

// A bordered push button that shows a spinning indicator in place of its title
// while a lookup runs.
class FindButton : public QPushButton {
  public:
    explicit FindButton(QWidget* parent) : QPushButton(QStringLiteral("Find"), parent) {
        styleBorderedButton(*this);
        ensurePolished();
        // Keeps its width when the title gives way to the indicator.
        setMinimumWidth(sizeHint().width());
        busy_ = new BusyIndicator(this);
        busy_->setSpinning(false);
    }

    BusyIndicator& busy() const { return *busy_; }

    void setBusy(bool busy) {
        setText(busy ? QString() : QStringLiteral("Find"));
        setEnabled(!busy);
        busy_->setSpinning(busy);
        placeIndicator();
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QPushButton::resizeEvent(event);
        placeIndicator();
    }

  private:
    void placeIndicator() {
        const QSize size = busy_->sizeHint();
        busy_->setGeometry((width() - size.width()) / 2, (height() - size.height()) / 2,
                           size.width(), size.height());
    }

    BusyIndicator* busy_;
};

}  // namespace

LocationControl::LocationControl(AppModel& model, bool showFineTune, QWidget* parent)
    : QWidget(parent), model_(model), showFineTune_(showFineTune) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    // City row.
    auto* cityRow = new QHBoxLayout;
    cityRow->setSpacing(8);
    city_ = new QLineEdit(this);
    styleTextField(*city_);
    city_->setPlaceholderText(QStringLiteral("Your location"));
    showText(*city_, model_.cityText());
    auto* find = new FindButton(this);
    find_ = find;
    busy_ = &find->busy();
    cityRow->addWidget(city_, 1);
    cityRow->addWidget(find_);
    column->addLayout(cityRow);

    // Message row; both texts share a font, so aligning their tops aligns
    // their first baselines.
    auto* messageRow = new QHBoxLayout;
    messageRow->setSpacing(8);
    message_ = new TextView(QString(), panelFont(10.5), Palette::secondaryForeground(), this);
    link_ = new PlainButton(this);
    linkText_ = new TextView(QString(), panelFont(10.5), Palette::tertiaryForeground());
    link_->addToLabel(linkText_);
    messageRow->addWidget(message_, 0, Qt::AlignTop);
    addGap(*messageRow, 8);
    messageRow->addWidget(link_, 0, Qt::AlignTop);
    column->addLayout(messageRow);

    // Coordinates row.
    auto* coordinates = new QWidget;
    auto* coordinatesRow = new QHBoxLayout(coordinates);
    coordinatesRow->setContentsMargins(0, 0, 0, 0);
    coordinatesRow->setSpacing(8);
    latitude_ = new QLineEdit(coordinates);
    longitude_ = new QLineEdit(coordinates);
    for (auto [field, placeholder] : {std::pair{latitude_, QStringLiteral("Lat")},
                                      std::pair{longitude_, QStringLiteral("Lon")}}) {
        styleTextField(*field);
        field->setPlaceholderText(placeholder);
        field->setAlignment(Qt::AlignCenter);
        field->setMinimumWidth(40);
        coordinatesRow->addWidget(field, 1);
    }
    fieldStyle_ = latitude_->styleSheet();
    showText(*latitude_, model_.latitudeText());
    showText(*longitude_, model_.longitudeText());
    set_ = new QPushButton(QStringLiteral("Set"), coordinates);
    styleBorderedButton(*set_);
    coordinatesRow->addWidget(set_);
    coordinates_ = new RevealBox(coordinates, showFineTune_, this);
    column->addWidget(coordinates_);

    // Names for accessibility tools and for finding the parts in tests.
    city_->setObjectName(QStringLiteral("cityField"));
    find_->setObjectName(QStringLiteral("findButton"));
    busy_->setObjectName(QStringLiteral("busyIndicator"));
    message_->setObjectName(QStringLiteral("locationMessage"));
    link_->setObjectName(QStringLiteral("fineTuneLink"));
    linkText_->setObjectName(QStringLiteral("fineTuneLinkText"));
    coordinates_->setObjectName(QStringLiteral("coordinatesRow"));
    latitude_->setObjectName(QStringLiteral("latitudeField"));
    longitude_->setObjectName(QStringLiteral("longitudeField"));
    set_->setObjectName(QStringLiteral("setButton"));

    connect(city_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_.setCityText(text); });
    connect(latitude_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_.setLatitudeText(text); });
    connect(longitude_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_.setLongitudeText(text); });
    connect(city_, &QLineEdit::returnPressed, this, [this] { model_.resolveCity(); });
    connect(find_, &QPushButton::clicked, this, [this] { model_.resolveCity(); });
    connect(set_, &QPushButton::clicked, this, [this] { model_.applyLocation(); });
    // Return in either coordinate field sets the place, as Set does.
    connect(latitude_, &QLineEdit::returnPressed, this, [this] { model_.applyLocation(); });
    connect(longitude_, &QLineEdit::returnPressed, this, [this] { model_.applyLocation(); });
    for (QLineEdit* field : {city_, latitude_, longitude_}) {
        field->installEventFilter(this);
    }
    connect(link_, &QAbstractButton::clicked, this, &LocationControl::toggleFineTune);

    connect(&model_, &AppModel::changed, this, [this](AppModel::Property property) {
        switch (property) {
            case AppModel::Property::cityText:
                showText(*city_, model_.cityText());
                break;
            case AppModel::Property::latitudeText:
                showText(*latitude_, model_.latitudeText());
                markCoordinates();
                break;
            case AppModel::Property::longitudeText:
                showText(*longitude_, model_.longitudeText());
                markCoordinates();
                break;
            case AppModel::Property::isGeocoding:
                showGeocoding();
                break;
            case AppModel::Property::geocodeMessage:
            case AppModel::Property::lastGeocodeOK:
            case AppModel::Property::place:
                showMessage();
                break;
            default:
                break;
        }
    });

    showGeocoding();
    showMessage();
    markCoordinates();
    linkText_->setText(showFineTune_ ? QStringLiteral("Hide lat/long")
                                     : QStringLiteral("Lat/long"));
}

bool LocationControl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (auto* field = qobject_cast<QLineEdit*>(watched)) {
            field->setCursorPosition(0);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LocationControl::markCoordinates() {
    for (auto [field, limit] : {std::pair{latitude_, 90.0}, std::pair{longitude_, 180.0}}) {
        // An empty field is not a mistake yet; it only stores nothing.
        const bool wrong =
            !field->text().isEmpty() && !AppModel::storableCoordinate(field->text(), limit);
        const QString style = wrong ? fieldStyle_ + QStringLiteral(
                                                        "QLineEdit, QLineEdit:focus { color: %1;"
                                                        " border: 1px solid %1; }")
                                                        .arg(Palette::warn().name())
                                    : fieldStyle_;
        if (field->styleSheet() != style) {
            field->setStyleSheet(style);
        }
    }
}

void LocationControl::toggleFineTune() {
    showFineTune_ = !showFineTune_;
    linkText_->setText(showFineTune_ ? QStringLiteral("Hide lat/long")
                                     : QStringLiteral("Lat/long"));
    link_->updateGeometry();
    coordinates_->setRevealed(showFineTune_, isVisible() ? kFineTuneSeconds : 0.0);
}

void LocationControl::showGeocoding() {
    static_cast<FindButton*>(find_)->setBusy(model_.isGeocoding());
}

void LocationControl::showMessage() {
    const QString& text = model_.geocodeMessage();
    if (!text.isEmpty()) {
        message_->setLines(TextView::Lines::wrapping);
        message_->setText(text);
        message_->setColour(model_.lastGeocodeOK() ? Palette::secondaryForeground()
                                                   : Palette::warn());
        message_->setVisible(true);
        return;
    }
    if (model_.hasLocation()) {
        message_->setLines(TextView::Lines::one);
        message_->setText(model_.place());
        message_->setColour(Palette::secondaryForeground());
        message_->setVisible(true);
        return;
    }
    message_->setText(QString());
    message_->setVisible(false);
}

}  // namespace vesperine
