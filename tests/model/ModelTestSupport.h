#pragma once

#include <QCoreApplication>
#include <QObject>

#include <functional>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/KeyValueStore.h"
#include "model/AppModel.h"

namespace vesperine::testing {

// The one application object of a test process, made on first use.
QCoreApplication& qtApp();

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns
// whether `done` held.
bool runEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Runs the event loop for `ms` milliseconds.
void runEventsFor(int ms);

class FixedClock final : public Clock {
  public:
    explicit FixedClock(Instant now) : now_(now) {}
    Instant now() const override { return now_; }

  private:
    Instant now_;
};

// An in-memory store that logs every write as "key=value" or "-key".
class RecordingStore final : public KeyValueStore {
  public:
    std::optional<std::string> value(std::string_view key) const override;
    void setValue(std::string_view key, std::string_view text) override;
    void remove(std::string_view key) override;

    std::vector<std::string> writes;

  private:
    InMemoryStore store_;
};

// Every notification of a model, in order: "will:<property>" or
// "did:<property>".
class PropertyRecorder {
  public:
    explicit PropertyRecorder(AppModel& model);
    std::vector<std::string> events;
    std::vector<AppModel::Property> changedProperties() const;
    void clear() { events.clear(); }

  private:
    QObject context_;  // ends the connections with the recorder
};

std::string propertyName(AppModel::Property property);

}  // namespace vesperine::testing
