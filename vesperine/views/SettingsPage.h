#pragma once

#include <QWidget>

#include <functional>

#include "model/AppModel.h"

namespace vesperine {

class AutomaticControl;
class LocationControl;
class PlainButton;
class StrengthControl;

// The panel's second page: back, strength, place, automatic scheduling, quit.
class SettingsPage : public QWidget {
    Q_OBJECT

  public:
    // `locationExpanded`: the latitude/longitude row is shown from the start.
    SettingsPage(AppModel& model, std::function<void()> back, std::function<void()> quit,
                 bool locationExpanded, QWidget* parent = nullptr);

  private:
    std::function<void()> backAction_;
    std::function<void()> quitAction_;
    PlainButton* back_;
    PlainButton* quit_;
    StrengthControl* strength_;
    LocationControl* location_;
    AutomaticControl* automatic_;
};

}  // namespace vesperine
