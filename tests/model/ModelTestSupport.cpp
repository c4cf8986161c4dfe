#include "ModelTestSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaEnum>

namespace vesperine::testing {

QCoreApplication& qtApp() {
    static int argc = 1;
    static char name[] = "vesperine-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                                : new QCoreApplication(argc, argv);
    return *app;
}

bool runEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    qtApp();
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

void runEventsFor(int ms) {
    qtApp();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                        static_cast<int>(ms - timer.elapsed()) + 1);
    }
}

std::optional<std::string> RecordingStore::value(std::string_view key) const {
    return store_.value(key);
}

void RecordingStore::setValue(std::string_view key, std::string_view text) {
    writes.push_back(std::string(key) + "=" + std::string(text));
    store_.setValue(key, text);
}

void RecordingStore::remove(std::string_view key) {
    writes.push_back("-" + std::string(key));
    store_.remove(key);
}

std::string propertyName(AppModel::Property property) {
    return QMetaEnum::fromType<AppModel::Property>().valueToKey(static_cast<int>(property));
}

PropertyRecorder::PropertyRecorder(AppModel& model) {
    QObject::connect(&model, &AppModel::willChange, &context_, [this](AppModel::Property property) {
        events.push_back("will:" + propertyName(property));
    });
    QObject::connect(&model, &AppModel::changed, &context_, [this](AppModel::Property property) {
        events.push_back("did:" + propertyName(property));
    });
}

std::vector<AppModel::Property> PropertyRecorder::changedProperties() const {
    std::vector<AppModel::Property> properties;
    const QMetaEnum meta = QMetaEnum::fromType<AppModel::Property>();
    for (const std::string& event : events) {
        if (event.rfind("did:", 0) == 0) {
            properties.push_back(
                static_cast<AppModel::Property>(meta.keyToValue(event.substr(4).c_str())));
        }
    }
    return properties;
}

}  // namespace vesperine::testing
