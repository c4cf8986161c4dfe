#include "views/PanelWidgets.h"

#include <QApplication>
#include <QBoxLayout>
#include <QEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QTextLayout>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "views/Palette.h"

namespace vesperine {
namespace {

constexpr int kSliderSteps = 10000;
constexpr qreal kThumbDiameter = 14.0;

QString rgba(const QColor& colour) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alpha());
}

const QColor& accent() {
    static const QColor colour = QColor::fromRgbF(0.04f, 0.52f, 1.0f);
    return colour;
}

// Lines of `text` wrapped at `width`, breaking inside a word only when the word
// alone is wider than the line.
int wrappedHeight(const QString& text, const QFont& font, qreal width,
                  QTextLayout* layoutOut = nullptr) {
    QTextLayout local(text, font);
    QTextLayout& layout = layoutOut ? *layoutOut : local;
    if (layoutOut) {
        layout.setText(text);
        layout.setFont(font);
    }
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    const QFontMetricsF metrics(font);
    qreal y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max<qreal>(width, 1.0));
        line.setPosition(QPointF(0, y));
        y += metrics.height();
    }
    layout.endLayout();
    return static_cast<int>(std::ceil(std::max(y, metrics.height())));
}

}  // namespace

QFont panelFont(qreal pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    if (pixelSize == std::floor(pixelSize)) {
        font.setPixelSize(static_cast<int>(pixelSize));
    } else {
        // Fractional sizes exist only as point sizes; convert at the screen's
        // logical resolution so that the text still measures `pixelSize`.
        const QScreen* screen = QGuiApplication::primaryScreen();
        const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
        font.setPointSizeF(pixelSize * 72.0 / dpi);
    }
    font.setWeight(weight);
    return font;
}

QEasingCurve easeInOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

void addGap(QBoxLayout& row, int minimum) {
    // A box layout puts its spacing once between the widgets on either side of
    // a stretch; the gap itself is spaced from both of its neighbours.
    row.addSpacing(minimum + std::max(row.spacing(), 0));
    row.addStretch(1);
}

void styleTextField(QLineEdit& field) {
    field.setFont(panelFont(12));
    field.setStyleSheet(
        QStringLiteral("QLineEdit { color: %1; background: %2; border: 1px solid %3;"
                       " border-radius: 5px; padding: 2px 5px; selection-background-color: %4; }"
                       "QLineEdit:focus { border: 1px solid %5; }")
            .arg(rgba(Palette::primaryForeground()), rgba(Palette::white(0.06f)),
                 rgba(Palette::white(0.16f)), rgba(QColor::fromRgbF(0.04f, 0.52f, 1.0f, 0.6f)),
                 rgba(QColor::fromRgbF(0.04f, 0.52f, 1.0f, 0.8f))));
}

void styleBorderedButton(QPushButton& button) {
    button.setFont(panelFont(13));
    button.setAutoDefault(false);
    button.setFocusPolicy(Qt::TabFocus);
    button.setStyleSheet(
        QStringLiteral("QPushButton { color: %1; background: %2; border: 1px solid %3;"
                       " border-radius: 5px; padding: 2px 10px; }"
                       "QPushButton:pressed { background: %4; }"
                       "QPushButton:disabled { color: %5; background: %6; }")
            .arg(rgba(Palette::primaryForeground()), rgba(Palette::white(0.12f)),
                 rgba(Palette::white(0.14f)), rgba(Palette::white(0.22f)),
                 rgba(Palette::tertiaryForeground()), rgba(Palette::white(0.07f))));
}

// --- TextView

TextView::TextView(const QString& text, const QFont& font, const QColor& colour, QWidget* parent)
    : QWidget(parent), text_(text), colour_(colour) {
    setFont(font);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    updatePolicy();
}

void TextView::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    updateGeometry();
    update();
}

void TextView::setColour(const QColor& colour) {
    colour_ = colour;
    update();
}

void TextView::setLines(Lines lines) {
    if (lines == lines_) {
        return;
    }
    lines_ = lines;
    updatePolicy();
    updateGeometry();
    update();
}

void TextView::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

void TextView::updatePolicy() {
    QSizePolicy policy(QSizePolicy::Preferred,
                       lines_ == Lines::one ? QSizePolicy::Fixed : QSizePolicy::Preferred);
    policy.setHeightForWidth(lines_ == Lines::wrapping);
    setSizePolicy(policy);
}

QString TextView::shownText() const {
    if (lines_ == Lines::wrapping) {
        return text_;
    }
    return fontMetrics().elidedText(text_, Qt::ElideRight, width());
}

QSize TextView::sizeHint() const {
    const QFontMetricsF metrics(font());
    return {static_cast<int>(std::ceil(metrics.horizontalAdvance(text_))),
            static_cast<int>(std::ceil(metrics.height()))};
}

QSize TextView::minimumSizeHint() const {
    const QFontMetricsF metrics(font());
    const int height = static_cast<int>(std::ceil(metrics.height()));
    if (lines_ == Lines::wrapping) {
        return {std::min(sizeHint().width(), 24), height};
    }
    const int ellipsis = static_cast<int>(std::ceil(metrics.horizontalAdvance(QChar(0x2026))));
    return {std::min(sizeHint().width(), ellipsis), height};
}

bool TextView::hasHeightForWidth() const {
    return lines_ == Lines::wrapping;
}

int TextView::heightForWidth(int width) const {
    if (lines_ == Lines::one) {
        return sizeHint().height();
    }
    return wrappedHeight(text_, font(), width);
}

void TextView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

void TextView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(colour_);
    painter.setFont(font());
    if (lines_ == Lines::one) {
        painter.drawText(rect(),
                         static_cast<int>(alignment_ | Qt::AlignVCenter) | Qt::TextSingleLine,
                         shownText());
        return;
    }
    QTextLayout layout;
    wrappedHeight(text_, font(), width(), &layout);
    layout.draw(&painter, QPointF(0, 0));
}

// --- PlainButton

PlainButton::PlainButton(QWidget* parent) : QAbstractButton(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
}

void PlainButton::addToLabel(QWidget* child) {
    child->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout()->addWidget(child);
}

QSize PlainButton::sizeHint() const {
    return layout()->totalSizeHint();
}

QSize PlainButton::minimumSizeHint() const {
    return layout()->totalMinimumSize();
}

void PlainButton::paintEvent(QPaintEvent*) {}

// --- Separator

Separator::Separator(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(1);
}

void Separator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor colour = Palette::separator();
    colour.setAlphaF(colour.alphaF() * 0.5f);
    painter.fillRect(rect(), colour);
}

// --- SwitchToggle

SwitchToggle::SwitchToggle(QWidget* parent) : QAbstractButton(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::clicked, this, [this] { Q_EMIT flipped(!on_); });
}

void SwitchToggle::setOn(bool on) {
    on_ = on;
    update();
}

void SwitchToggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QSizeF track(26.0, 15.0);
    const QRectF trackRect(
        QPointF((width() - track.width()) / 2.0, (height() - track.height()) / 2.0), track);
    const qreal radius = track.height() / 2.0;
    painter.setPen(QPen(Palette::white(on_ ? 0.0f : 0.12f), 1.0));
    painter.setBrush(on_ ? accent() : Palette::white(0.16f));
    painter.drawRoundedRect(trackRect.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    const qreal knob = track.height() - 2.0;
    const qreal knobX = on_ ? trackRect.right() - 1.0 - knob : trackRect.left() + 1.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(isEnabled() ? QColor(Qt::white) : Palette::white(0.5f));
    painter.drawEllipse(QRectF(knobX, trackRect.top() + 1.0, knob, knob));
    if (hasFocus()) {
        painter.setPen(QPen(QColor::fromRgbF(0.04f, 0.52f, 1.0f, 0.6f), 2.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(trackRect.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    }
}

// --- BusyIndicator

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    timer_->setInterval(80);
    connect(timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 8;
        update();
    });
}

void BusyIndicator::setSpinning(bool spinning) {
    spinning_ = spinning;
    setVisible(spinning);
    updateTimer();
}

void BusyIndicator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateTimer();
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateTimer();
}

void BusyIndicator::updateTimer() {
    if (spinning_ && isVisible()) {
        timer_->start();
    } else {
        timer_->stop();
    }
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const qreal outer = std::min(width(), height()) / 2.0;
    for (int i = 0; i < 8; ++i) {
        // The spoke at the current step is brightest; the others fade behind it.
        const int age = (step_ - i + 8) % 8;
        const qreal angle = i * 2.0 * std::numbers::pi / 8.0 - std::numbers::pi / 2.0;
        const QPointF direction(std::cos(angle), std::sin(angle));
        painter.setPen(QPen(Palette::white(0.85f - 0.09f * static_cast<float>(age)), outer * 0.26,
                            Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(centre + direction * outer * 0.45, centre + direction * outer * 0.88);
    }
}

// --- PanelSlider

PanelSlider::PanelSlider(QWidget* parent) : QAbstractSlider(parent) {
    setOrientation(Qt::Horizontal);
    setRange(0, kSliderSteps);
    setSingleStep(kSliderSteps / 100);
    setPageStep(kSliderSteps / 10);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
}

qreal PanelSlider::thumbCentre(int value) const {
    const qreal span = std::max<qreal>(width() - kThumbDiameter, 0.0);
    const qreal share = maximum() > minimum()
                            ? static_cast<qreal>(value - minimum()) / (maximum() - minimum())
                            : 0.0;
    return kThumbDiameter / 2.0 + share * span;
}

int PanelSlider::valueAt(qreal x) const {
    const qreal span = width() - kThumbDiameter;
    if (span <= 0) {
        return minimum();
    }
    const qreal share = std::clamp((x - kThumbDiameter / 2.0) / span, 0.0, 1.0);
    return minimum() + static_cast<int>(std::lround(share * (maximum() - minimum())));
}

void PanelSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal middle = height() / 2.0;
    const qreal centre = thumbCentre(sliderPosition());
    const QRectF groove(kThumbDiameter / 2.0 - 2.0, middle - 2.0, width() - kThumbDiameter + 4.0,
                        4.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::white(0.16f));
    painter.drawRoundedRect(groove, 2.0, 2.0);
    painter.setBrush(isEnabled() ? accent() : Palette::white(0.3f));
    painter.drawRoundedRect(QRectF(groove.left(), groove.top(), centre - groove.left(), 4.0), 2.0,
                            2.0);
    const QRectF thumb(centre - kThumbDiameter / 2.0, middle - kThumbDiameter / 2.0, kThumbDiameter,
                       kThumbDiameter);
    painter.setPen(QPen(QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.25f), 0.5));
    painter.setBrush(isSliderDown() ? QColor::fromRgbF(0.86f, 0.86f, 0.86f) : QColor(Qt::white));
    painter.drawEllipse(thumb.adjusted(0.5, 0.5, -0.5, -0.5));
    if (hasFocus()) {
        painter.setPen(QPen(QColor::fromRgbF(0.04f, 0.52f, 1.0f, 0.6f), 2.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(thumb.adjusted(-1, -1, 1, 1));
    }
}

void PanelSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    setSliderDown(true);
    setSliderPosition(valueAt(event->position().x()));
    event->accept();
}

void PanelSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!isSliderDown()) {
        event->ignore();
        return;
    }
    setSliderPosition(valueAt(event->position().x()));
    event->accept();
}

void PanelSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (!isSliderDown() || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    setSliderPosition(valueAt(event->position().x()));
    setSliderDown(false);
    event->accept();
}

// --- PercentText

PercentText::PercentText(int boxWidth, const QFont& font, const QColor& colour, QWidget* parent)
    : QWidget(parent), boxWidth_(boxWidth), colour_(colour) {
    setFont(font);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PercentText::setText(const QString& text) {
    text_ = text;
    update();
}

QSize PercentText::sizeHint() const {
    return {boxWidth_, static_cast<int>(std::ceil(QFontMetricsF(font()).height()))};
}

void PercentText::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(colour_);
    const QFontMetricsF metrics(font());
    qreal cell = 0;
    for (char digit = '0'; digit <= '9'; ++digit) {
        cell = std::max(cell, metrics.horizontalAdvance(QChar(digit)));
    }
    auto advance = [&](QChar c) { return c.isDigit() ? cell : metrics.horizontalAdvance(c); };
    qreal x = width();
    for (const QChar c : text_) {
        x -= advance(c);
    }
    const qreal baseline = (height() - metrics.height()) / 2.0 + metrics.ascent();
    for (const QChar c : text_) {
        const qreal w = advance(c);
        const qreal glyph = metrics.horizontalAdvance(c);
        painter.drawText(QPointF(x + (w - glyph) / 2.0, baseline), QString(c));
        x += w;
    }
}

// --- RevealBox

RevealBox::RevealBox(QWidget* content, bool revealed, QWidget* parent)
    : QWidget(parent),
      content_(content),
      animation_(new QVariantAnimation(this)),
      revealed_(revealed),
      share_(revealed ? 1.0 : 0.0) {
    content_->setParent(this);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    animation_->setEasingCurve(easeInOut());
    connect(animation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setShare(value.toReal()); });
    // The curve may stop a hair short of its end; land exactly on it.
    connect(animation_, &QVariantAnimation::finished, this,
            [this] { setShare(revealed_ ? 1.0 : 0.0); });
    setVisible(revealed);
}

void RevealBox::setRevealed(bool revealed, double seconds) {
    revealed_ = revealed;
    animation_->stop();
    const qreal target = revealed ? 1.0 : 0.0;
    if (seconds <= 0) {
        setShare(target);
        return;
    }
    if (revealed) {
        setVisible(true);
    }
    animation_->setStartValue(share_);
    animation_->setEndValue(target);
    animation_->setDuration(static_cast<int>(std::lround(seconds * 1000)));
    animation_->start();
}

void RevealBox::setShare(qreal share) {
    share_ = share;
    setVisible(share_ > 0.0);
    updateGeometry();
    placeContent();
}

QSize RevealBox::sizeHint() const {
    const QSize full = content_->sizeHint();
    return {full.width(), static_cast<int>(std::lround(full.height() * share_))};
}

QSize RevealBox::minimumSizeHint() const {
    const QSize full = content_->minimumSizeHint();
    return {full.width(), static_cast<int>(std::lround(content_->sizeHint().height() * share_))};
}

void RevealBox::placeContent() {
    content_->setGeometry(0, 0, width(), content_->sizeHint().height());
}

void RevealBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeContent();
}

bool RevealBox::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        placeContent();
    }
    return QWidget::event(event);
}

}  // namespace vesperine
