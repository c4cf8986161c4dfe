#pragma once

#include <QWidget>

#include "model/AppModel.h"

class QLineEdit;
class QPushButton;

namespace vesperine {

class BusyIndicator;
class PlainButton;
class RevealBox;
class TextView;

// The place: a city field with Find, a message row with the "Lat/long" link,
// and, while the link has opened it, a latitude/longitude row with Set. The
// three fields edit the model's texts as the user types.
class LocationControl : public QWidget {
    Q_OBJECT

  public:
    // The coordinates row starts shown when `showFineTune` is true.
    LocationControl(AppModel& model, bool showFineTune, QWidget* parent = nullptr);

    bool showFineTune() const { return showFineTune_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void toggleFineTune();
    // Marks a coordinate text that Set would not store in the warn colour.
    void markCoordinates();
    void showGeocoding();
    void showMessage();

    AppModel& model_;
    bool showFineTune_;
    QLineEdit* city_;
    QPushButton* find_;
    BusyIndicator* busy_;
    TextView* message_;
    PlainButton* link_;
    TextView* linkText_;
    RevealBox* coordinates_;
    QLineEdit* latitude_;
    QLineEdit* longitude_;
    QPushButton* set_;
    QString fieldStyle_;
};

}  // namespace vesperine
