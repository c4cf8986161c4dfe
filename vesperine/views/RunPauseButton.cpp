#include "views/RunPauseButton.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include "views/Palette.h"
#include "views/PanelWidgets.h"
#include "views/Symbols.h"

namespace vesperine {
namespace {

// The small status dot, 6 by 6 logical pixels.
class Dot : public QWidget {
  public:
    explicit Dot(QWidget* parent) : QWidget(parent) {
        setFixedSize(6, 6);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setColour(const QColor& colour) {
        colour_ = colour;
        update();
    }
    const QColor& colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour_);
        painter.drawEllipse(QRectF(rect()));
    }

  private:
    QColor colour_;
};

}  // namespace

RunPauseButton::RunPauseButton(AppModel& model, QWidget* parent)
    : QAbstractButton(parent), model_(model) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 11, 14, 11);
    row->setSpacing(9);
    symbol_ = new SymbolView(Symbol::playFill, 12, QFont::Bold, Qt::white, this);
    title_ = new TextView(QString(), panelFont(14, QFont::DemiBold), Qt::white, this);
    row->addWidget(symbol_);
    row->addWidget(title_);
    addGap(*row);

    auto* status = new QHBoxLayout;
    status->setSpacing(6);
    dot_ = new Dot(this);
    status_ = new TextView(QString(), panelFont(11, QFont::Medium), Qt::white, this);
    status->addWidget(dot_);
    status->addWidget(status_);
    row->addLayout(status);

    for (QWidget* child : {static_cast<QWidget*>(symbol_), static_cast<QWidget*>(title_), dot_,
                           static_cast<QWidget*>(status_)}) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    connect(this, &QAbstractButton::clicked, this, &RunPauseButton::press);
    connect(&model_, &AppModel::changed, this, [this](AppModel::Property property) {
        if (property == AppModel::Property::filterOn) {
            updateLook();
        }
    });
    updateLook();
}

QSize RunPauseButton::sizeHint() const {
    return layout()->totalSizeHint();
}

QSize RunPauseButton::minimumSizeHint() const {
    return layout()->totalMinimumSize();
}

void RunPauseButton::press() {
    model_.setRunning(!model_.filterOn());
}

void RunPauseButton::updateLook() {
    on_ = model_.filterOn();
    symbol_->setSymbol(on_ ? Symbol::pauseFill : Symbol::playFill);
    title_->setText(on_ ? QStringLiteral("Pause") : QStringLiteral("Run"));
    static_cast<Dot*>(dot_)->setColour(on_ ? Palette::runOnDot() : Palette::white(0.28f));
    status_->setText(on_ ? QStringLiteral("Filter on") : QStringLiteral("Filter off"));
    status_->setColour(Palette::white(on_ ? 0.92f : 0.45f));
    update();
}

void RunPauseButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline is 1 logical pixel wide and lies inside the control's edge.
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 10, 10);
    painter.fillPath(shape, on_ ? Palette::runOn() : Palette::controlFill());
    painter.setPen(QPen(on_ ? Palette::runOnBorder() : Palette::controlBorder(), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(outline, 9.5, 9.5);
}

}  // namespace vesperine
