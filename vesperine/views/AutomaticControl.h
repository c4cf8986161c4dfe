#pragma once

#include <QWidget>

#include "model/AppModel.h"

namespace vesperine {

class SwitchToggle;

// "Automatic" and its switch. The switch shows the model's flag; flipping it
// asks the model to store the new flag and reconcile, and shows whatever the
// model holds afterwards.
class AutomaticControl : public QWidget {
    Q_OBJECT

  public:
    explicit AutomaticControl(AppModel& model, QWidget* parent = nullptr);

  private:
    AppModel& model_;
    SwitchToggle* toggle_;
};

}  // namespace vesperine
