#pragma once

#include <QWidget>

#include <functional>

#include "model/AppModel.h"
#include "views/Palette.h"

class QVariantAnimation;
class QVBoxLayout;

namespace vesperine {

enum class Page { front, settings };

// The panel's root: Palette::panelWidth wide, as high as the page it shows, on
// the panel's background. The settings page is made anew on every visit.
class PanelView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int panelWidth = Palette::panelWidth;  // logical pixels

    PanelView(AppModel& model, std::function<void()> quit, Page page, QWidget* parent = nullptr);

    Page page() const { return page_; }
    // Switches with a 0.15 s ease-in-out cross-fade while on screen; the
    // height follows the new page at once.
    void setPage(Page page);

    // The page widget shown now.
    QWidget* currentPage() const { return current_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* makePage(Page page);
    void showFade(qreal progress);
    void finishFade();

    AppModel& model_;
    std::function<void()> quit_;
    Page page_;
    QVBoxLayout* layout_;
    QWidget* current_ = nullptr;
    QWidget* outgoing_ = nullptr;  // the snapshot of the page being faded out
    QVariantAnimation* fade_;
    bool appeared_ = false;
};

}  // namespace vesperine
