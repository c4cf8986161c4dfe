#include "FakeGeocoder.h"

#include <QTimer>

#include <algorithm>

namespace vesperine::testing {

FakeReply found(std::vector<Placemark> placemarks, int delayMs) {
    return {std::move(placemarks), std::nullopt, delayMs};
}

FakeReply failed(GeocodeError::Domain domain, int code, int delayMs) {
    return {std::nullopt, GeocodeError{domain, code}, delayMs};
}

Placemark city(const QString& locality, const QString& country, double latitude, double longitude) {
    Placemark placemark;
    placemark.locality = locality;
    placemark.country = country;
    placemark.location = Coordinate{latitude, longitude};
    return placemark;
}

void FakeGeocoderScript::geocode(const QString& name, CityGeocoder::Completion completion) {
    calls.push_back("geocode:" + name.toStdString());
    names.push_back(name);
    auto request = std::make_shared<Request>();
    request->completion = std::move(completion);
    pending_.push_back(request);
    if (replies_.empty()) {
        return;
    }
    FakeReply reply = std::move(replies_.front());
    replies_.pop_front();
    QTimer::singleShot(reply.delayMs, this, [this, request, reply] {
        if (!request->cancelled) {
            complete(request, reply);
        }
    });
}

void FakeGeocoderScript::cancel() {
    calls.push_back("cancel");
    for (const auto& request : pending_) {
        if (request->cancelled) {
            continue;
        }
        request->cancelled = true;
        QTimer::singleShot(cancelDelayMs, this, [this, request] {
            complete(request, failed(GeocodeError::Domain::location, GeocodeError::cancelled));
        });
    }
}

void FakeGeocoderScript::complete(const std::shared_ptr<Request>& request, const FakeReply& reply) {
    const auto it = std::find(pending_.begin(), pending_.end(), request);
    if (it == pending_.end()) {
        return;  // completed already
    }
    pending_.erase(it);
    ++completions;
    request->completion(reply.placemarks, reply.error);
}

}  // namespace vesperine::testing
