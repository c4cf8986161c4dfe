#pragma once

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QBoxLayout>
#include <QColor>
#include <QEasingCurve>
#include <QFont>
#include <QString>
#include <QWidget>

class QLineEdit;
class QPushButton;
class QTimer;
class QVariantAnimation;

// Building blocks shared by the panel's pages. Sizes are logical pixels.
namespace vesperine {

// The application's font at a size in logical pixels (fractions allowed).
QFont panelFont(qreal pixelSize, QFont::Weight weight = QFont::Normal);

// The ease-in-out curve of the panel's animations.
QEasingCurve easeInOut();

// A flexible gap in a row: takes what the other children leave, at least
// `minimum` logical pixels (8 when not given).
void addGap(QBoxLayout& row, int minimum = 8);

// A page's column. It always answers heightForWidth(), with its plain height
// when nothing in it wraps, so that a host can ask any page the same way.
class PageColumn : public QVBoxLayout {
  public:
    using QVBoxLayout::QVBoxLayout;
    bool hasHeightForWidth() const override {
        QVBoxLayout::hasHeightForWidth();  // brings the cached geometry up to date
        return true;
    }
};

// Rounded-border text fields and bordered push buttons in the panel's dark look.
void styleTextField(QLineEdit& field);
void styleBorderedButton(QPushButton& button);

// A text in one font and colour: on one line, cut with an ellipsis at the end
// when narrower than the text, or wrapped onto as many lines as it needs.
class TextView : public QWidget {
    Q_OBJECT

  public:
    enum class Lines { one, wrapping };

    TextView(const QString& text, const QFont& font, const QColor& colour,
             QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);
    const QColor& colour() const { return colour_; }
    void setColour(const QColor& colour);
    Lines lines() const { return lines_; }
    void setLines(Lines lines);
    void setAlignment(Qt::Alignment alignment);
    // The text as drawn at the current width (with the ellipsis when cut).
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void updatePolicy();

    QString text_;
    QColor colour_;
    Lines lines_ = Lines::one;
    Qt::Alignment alignment_ = Qt::AlignLeft;
};

// A button without bezel, border or background: it draws only its children,
// and a press anywhere in its rectangle, gaps included, runs it.
class PlainButton : public QAbstractButton {
    Q_OBJECT

  public:
    explicit PlainButton(QWidget* parent = nullptr);

    // Adds a child to the label; children take no mouse input of their own.
    void addToLabel(QWidget* child);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A horizontal line across the full width, at half opacity.
class Separator : public QWidget {
  public:
    explicit Separator(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {0, 1}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A switch-style toggle in the small control size. It shows `isOn()` and, when
// the user flips it, emits `flipped` with the requested value; it never changes
// what it shows by itself.
class SwitchToggle : public QAbstractButton {
    Q_OBJECT

  public:
    explicit SwitchToggle(QWidget* parent = nullptr);

    bool isOn() const { return on_; }
    void setOn(bool on);

    QSize sizeHint() const override { return {28, 16}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

  Q_SIGNALS:
    void flipped(bool on);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool on_ = false;
};

// A small spinning activity indicator; it only runs its timer while spinning
// and visible.
class BusyIndicator : public QWidget {
  public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    bool isSpinning() const { return spinning_; }
    void setSpinning(bool spinning);

    QSize sizeHint() const override { return {12, 12}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void updateTimer();

    QTimer* timer_;
    bool spinning_ = false;
    int step_ = 0;
};

// A continuous horizontal slider in the small control size. A press anywhere
// on it moves the thumb there, and dragging follows the pointer.
class PanelSlider : public QAbstractSlider {
  public:
    explicit PanelSlider(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {120, 16}; }
    QSize minimumSizeHint() const override { return {32, 16}; }

    // The thumb's centre for a value, and the value at a horizontal position,
    // in this widget's coordinates.
    qreal thumbCentre(int value) const;
    int valueAt(qreal x) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A percentage right-aligned in a box of fixed width, its digits in cells of
// equal width so that the number does not shift as it changes.
class PercentText : public QWidget {
  public:
    PercentText(int boxWidth, const QFont& font, const QColor& colour, QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int boxWidth_;
    QColor colour_;
    QString text_;
};

// Shows a share (0 to 1) of its content's height, from the top; the content is
// laid out at its full height and clipped. At 0 the box is hidden.
class RevealBox : public QWidget {
    Q_OBJECT

  public:
    RevealBox(QWidget* content, bool revealed, QWidget* parent = nullptr);

    bool isRevealed() const { return revealed_; }
    // Animates to shown or hidden over `seconds`; 0 switches at once.
    void setRevealed(bool revealed, double seconds);
    qreal share() const { return share_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void setShare(qreal share);
    void placeContent();

    QWidget* content_;
    QVariantAnimation* animation_;
    bool revealed_;
    qreal share_;
};

}  // namespace vesperine
