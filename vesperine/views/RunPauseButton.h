#pragma once

#include <QAbstractButton>

#include "model/AppModel.h"

namespace vesperine {

class SymbolView;
class TextView;

// The large control that switches the live filter: green with "Pause" while
// the model says the filter is on, faint with "Run" while it is off. A press
// sets the live switch to the opposite of the model's value, then refreshes
// the model.
class RunPauseButton : public QAbstractButton {
    Q_OBJECT

  public:
    explicit RunPauseButton(AppModel& model, QWidget* parent = nullptr);

    // The look drawn now: true for the "Pause" (filter on) look.
    bool showsOn() const { return on_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void press();
    void updateLook();

    AppModel& model_;
    bool on_ = false;
    SymbolView* symbol_;
    TextView* title_;
    QWidget* dot_;
    TextView* status_;
};

}  // namespace vesperine
