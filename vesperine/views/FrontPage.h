#pragma once

#include <QWidget>

#include <functional>

#include "model/AppModel.h"

namespace vesperine {

class PlainButton;
class RunPauseButton;
class TextView;

// The panel's first page: the title row with the settings button, the
// run/pause control and the row with the chosen place.
class FrontPage : public QWidget {
    Q_OBJECT

  public:
    FrontPage(AppModel& model, std::function<void()> openSettings, QWidget* parent = nullptr);

  private:
    AppModel& model_;
    std::function<void()> openSettings_;
    RunPauseButton* runPause_;
    PlainButton* settingsButton_;
    PlainButton* placeRow_;
    TextView* place_;
    TextView* notice_;
};

}  // namespace vesperine
