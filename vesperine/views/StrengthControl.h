#pragma once

#include <QTimer>
#include <QWidget>

#include "model/AppModel.h"

namespace vesperine {

class PanelSlider;
class PercentText;

// The filter strength: a slider over 0 to 1 and its percentage. Moving the
// thumb tints the screen as it goes and stores the strength when the drag ends
// (AppModel::moveStrength); it never switches the filter on.
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
    QTimer settle_;
};

}  // namespace vesperine
