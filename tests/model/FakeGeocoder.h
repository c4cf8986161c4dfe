#pragma once

#include <QObject>
#include <QTimer>

#include <algorithm>
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

inline FakeReply found(std::vector<Placemark> placemarks, int delayMs = 0) {
    return {std::move(placemarks), std::nullopt, delayMs};
}

inline FakeReply failed(GeocodeError::Domain domain, int code) {
    return {std::nullopt, GeocodeError{domain, code}};
}

inline Placemark city(const QString& locality, const QString& country, double latitude,
                      double longitude) {
    return {locality, std::nullopt, std::nullopt, country, Coordinate{latitude, longitude}};
}

// What the fake geocoders of a test answer and what they were asked. The test
// holds it, so a lookup can complete after the geocoder and its model are
// gone, as a late platform completion would. Completions run from the event
// loop, never inside geocode() or cancel(), and at most once each.
class FakeGeocoderScript : public QObject {
  public:
    // Replies to the coming lookups, in order; a lookup without one stays
    // pending until cancelled.
    void queue(FakeReply reply) { replies_.push_back(std::move(reply)); }

    int cancelDelayMs = 0;           // from cancel() to the cancelled completion
    std::vector<std::string> calls;  // "geocode:<name>" and "cancel", in order
    int completions = 0;
    int pending() const { return static_cast<int>(pending_.size()); }

    void geocode(const QString& name, CityGeocoder::Completion completion) {
        calls.push_back("geocode:" + name.toStdString());
        auto request = std::make_shared<Request>(Request{std::move(completion)});
        pending_.push_back(request);
        if (!replies_.empty()) {
            FakeReply reply = std::move(replies_.front());
            replies_.pop_front();
            QTimer::singleShot(reply.delayMs, this, [this, request, reply] {
                if (!request->cancelled) {
                    complete(request, reply);
                }
            });
        }
    }

    void cancel() {
        calls.push_back("cancel");
        for (const auto& request : pending_) {
            if (!std::exchange(request->cancelled, true)) {
                QTimer::singleShot(cancelDelayMs, this, [this, request] {
                    complete(request,
                             failed(GeocodeError::Domain::location, GeocodeError::cancelled));
                });
            }
        }
    }

  private:
    struct Request {
        CityGeocoder::Completion completion;
        bool cancelled = false;
    };

    void complete(const std::shared_ptr<Request>& request, const FakeReply& reply) {
        const auto it = std::find(pending_.begin(), pending_.end(), request);
        if (it != pending_.end()) {
            pending_.erase(it);
            ++completions;
            request->completion(reply.placemarks, reply.error);
        }
    }

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
