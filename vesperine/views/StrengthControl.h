#pragma once

#include <QWidget>

#include "model/AppModel.h"

namespace vesperine {

class PanelSlider;
class PercentText;

// The filter strength: a slider over 0 to 1 and its percentage. Moving the
// thumb sets the live strength at once and stores what the filter reads back
// in the model; it neither switches the filter on nor refreshes the model.
class StrengthControl : public QWidget {
    Q_OBJECT

  public:
    explicit StrengthControl(AppModel& model, QWidget* parent = nullptr);

    // Slider positions per unit of strength: far finer than any thumb position
    // on screen, and 0 and the maximum map to exactly 0 and 1.
    static constexpr int steps = 10000;

    // "62%": the strength in percent, halves rounded away from zero.
    static QString percentText(double strength);

  private:
    void showStrength();
    void userMoved(int position);

    AppModel& model_;
    PanelSlider* slider_;
    PercentText* percent_;
    bool showing_ = false;
};

}  // namespace vesperine
