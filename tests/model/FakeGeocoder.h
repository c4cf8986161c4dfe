#pragma once

#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "model/CityGeocoder.h"

namespace vesperine::testing {

struct FakeReply {
    std::optional<std::vector<Placemark>> placemarks;
    std::optional<GeocodeError> error;
    int delayMs = 0;
};

FakeReply found(std::vector<Placemark> placemarks, int delayMs = 0);
FakeReply failed(GeocodeError::Domain domain, int code, int delayMs = 0);
Placemark city(const QString& locality, const QString& country, double latitude, double longitude);

// What the fake geocoders of a test answer, and what they were asked. It is
// held by the test, so a lookup can still complete after the geocoder (and
// the model owning it) has gone, the way a late platform completion would.
// Every completion runs from the event loop, never inside geocode() or
// cancel(), and at most once.
class FakeGeocoderScript : public QObject {
  public:
    // Replies for the coming lookups, in order. A lookup with no queued reply
    // stays pending until it is cancelled.
    void queue(FakeReply reply) { replies_.push_back(std::move(reply)); }

    // How long after cancel() the cancelled completion arrives.
    int cancelDelayMs = 0;

    // "geocode:<name>" and "cancel", in call order.
    std::vector<std::string> calls;
    std::vector<QString> names;  // the names asked for
    int completions = 0;         // completions run so far

    int pendingCount() const { return static_cast<int>(pending_.size()); }

    void geocode(const QString& name, CityGeocoder::Completion completion);
    void cancel();

  private:
    struct Request {
        CityGeocoder::Completion completion;
        bool cancelled = false;
    };
    void complete(const std::shared_ptr<Request>& request, const FakeReply& reply);

    std::deque<FakeReply> replies_;
    std::vector<std::shared_ptr<Request>> pending_;
};

class FakeGeocoder final : public CityGeocoder {
  public:
    explicit FakeGeocoder(std::shared_ptr<FakeGeocoderScript> script)
        : script_(std::move(script)) {}
    void geocode(const QString& name, Completion completion) override {
        script_->geocode(name, std::move(completion));
    }
    void cancel() override { script_->cancel(); }

  private:
    std::shared_ptr<FakeGeocoderScript> script_;
};

}  // namespace vesperine::testing
