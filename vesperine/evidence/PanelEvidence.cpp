#include "evidence/PanelEvidence.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "engine/Clock.h"
#include "engine/ColorFilterState.h"
#include "engine/KeyValueStore.h"
#include "engine/Settings.h"
#include "evidence/PngFile.h"
#include "model/AppModel.h"
#include "model/CityGeocoder.h"
#include "views/FrontPage.h"
#include "views/MenuBarIcon.h"
#include "views/Palette.h"
#include "views/PanelView.h"
#include "views/PanelWidgets.h"
#include "views/SettingsPage.h"

namespace vesperine::PanelEvidence {
namespace {

constexpr qreal kPictureScale = 2;  // device pixels per logical pixel

// A 624 by 204 pixel PNG: the tray icon on a dark and on a light tile.
// Returns why it failed, or an empty text.
QString writeIconEvidence(const QString& path) {
    const QSizeF icon(MenuBarIcon::imageSize());
    const qreal tileWidth = icon.width() + 24;
    const qreal tileHeight = icon.height() + 18;
    constexpr qreal scale = 6;
    QImage canvas(static_cast<int>((2 * tileWidth + 20) * scale),
                  static_cast<int>(tileHeight * scale), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);

    // The layout is given with y upwards from the bottom edge; this turns such
    // a rectangle into the canvas's top-down coordinates.
    auto fromBottom = [&](qreal x, qreal y, qreal w, qreal h) {
        return QRectF(x, tileHeight - y - h, w, h);
    };

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.scale(scale, scale);
    painter.setPen(Qt::NoPen);

    const auto tile = [&](qreal left, const QColor& ground, const QColor& ink) {
        QPainterPath shape;
        shape.addRoundedRect(fromBottom(left, 0, tileWidth, tileHeight), 4, 4);
        painter.fillPath(shape, ground);
        painter.drawImage(fromBottom(left + 12, 9, icon.width(), icon.height()),
                          MenuBarIcon::tinted(ink, scale));
    };
    tile(0, QColor::fromRgbF(0.13f, 0.13f, 0.13f), Qt::white);
    tile(tileWidth + 20, QColor::fromRgbF(0.93f, 0.93f, 0.93f), QColor::fromRgbF(0.1f, 0.1f, 0.1f));
    painter.end();

    return PngFile::write(canvas, path);
}

// The sample models never look a city up; were one asked to, it would end as
// cancelled, later, as every lookup does.
class NoGeocoder final : public CityGeocoder {
  public:
    void geocode(const QString&, Completion completion) override {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [completion = std::move(completion)] {
                if (completion) {
                    completion(std::nullopt, GeocodeError{GeocodeError::Domain::location,
                                                          GeocodeError::cancelled});
                }
            },
            Qt::QueuedConnection);
    }
    void cancel() override {}
};

struct Sample {
    bool filterOn;
    std::optional<double> strength;
    bool automationEnabled;
    const char* statusText;
};

std::unique_ptr<AppModel> makeSample(Settings& settings, ColorFilterState& filter,
                                     const Clock& clock, const Sample& sample) {
    auto model =
        std::make_unique<AppModel>(settings, filter, clock, std::make_unique<NoGeocoder>());
    model->setFilterOn(sample.filterOn);
    if (sample.strength) {
        model->setStrength(*sample.strength);
    }
    model->setAutomationEnabled(sample.automationEnabled);
    model->setLatitudeText(QStringLiteral("38.72"));
    model->setLongitudeText(QStringLiteral("-9.14"));
    model->setCityText(QStringLiteral("Lisbon, Portugal"));
    model->setGeocodeMessage(QStringLiteral("Lisbon, Portugal \u00B7 38.7223, -9.1393"));
    model->setLastGeocodeOK(true);
    model->setStatusText(QString::fromUtf8(sample.statusText));
    return model;
}

QString renderAll(const QString& directory) {
    if (!QDir().mkpath(directory)) {
        return QStringLiteral("cannot make the folder ") + directory;
    }

    InMemoryStore store;
    Settings settings(store);
    settings.setLatitude(38.72);
    settings.setLongitude(-9.14);
    settings.setLocationName("Lisbon, Portugal");
    // Read only: model creation takes the live switch and strength from it.
    ColorFilterState& filter = ColorFilterState::shared();
    const SystemClock clock;

    const auto running = makeSample(settings, filter, clock, {true, 0.62, false, "On"});
    const auto paused =
        makeSample(settings, filter, clock, {false, std::nullopt, true, "Off \u00B7 auto"});

    const QString icon = directory + QStringLiteral("/menubar-icon-light-dark.png");
    // Pages need a widget application; a bare core application gets the icon only.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return writeIconEvidence(icon);
    }
    QString failure;
    {
        FrontPage page(*running, [] {});
        failure = save(page, directory + QStringLiteral("/panel-front-running.png"));
    }
    if (failure.isEmpty()) {
        FrontPage page(*paused, [] {});
        failure = save(page, directory + QStringLiteral("/panel-front-paused.png"));
    }
    if (failure.isEmpty()) {
        SettingsPage page(
            *running, [] {}, [] {}, true);
        failure = save(page, directory + QStringLiteral("/panel-settings.png"));
    }
    return failure.isEmpty() ? writeIconEvidence(icon) : failure;
}

}  // namespace

QString save(QWidget& page, const QString& path) {
    QWidget box;
    box.setAttribute(Qt::WA_DontShowOnScreen);
    Palette::applyDarkAppearance(box);
    box.setAutoFillBackground(true);
    box.setFixedWidth(PanelView::panelWidth);
    auto* layout = new PageColumn(&box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(&page);

    box.ensurePolished();
    layout->activate();
    const int height = box.heightForWidth(PanelView::panelWidth);
    box.resize(PanelView::panelWidth, std::max(height, 1));
    box.show();
    layout->activate();

    QImage picture(QSize(PanelView::panelWidth, box.height()) * kPictureScale,
                   QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(kPictureScale);
    picture.fill(Palette::panel());
    box.render(&picture);
    box.hide();

    layout->removeWidget(&page);
    page.setParent(nullptr);
    if (picture.isNull()) {
        return QStringLiteral("cannot draw ") + path;
    }
    return PngFile::write(picture, path);
}

QString render(const QString& directory) {
    // Only the one line is printed; the toolkit's own notices (no runtime
    // folder, an offscreen window) would only be noise.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
            if (type == QtFatalMsg) {
                std::abort();
            }
        });
    std::unique_ptr<QApplication> application;
    if (QCoreApplication::instance() == nullptr) {
        // The pictures are drawn off screen, the same with or without a display.
        static int argc = 3;
        static char name[] = "vesperine";
        static char option[] = "-platform";
        static char platform[] = "offscreen";
        static char* argv[] = {name, option, platform, nullptr};
        application = std::make_unique<QApplication>(argc, argv);
    }
    const QString failure = renderAll(directory);
    application.reset();
    qInstallMessageHandler(previous);
    if (!failure.isEmpty()) {
        return failure;
    }
    const QByteArray line = "wrote panel evidence -> " + QFile::encodeName(directory) + "\n";
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fflush(stdout);
    return {};
}

}  // namespace vesperine::PanelEvidence
