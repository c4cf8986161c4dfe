#include "schedule/Solar.h"

#include <cmath>

namespace vesperine::Solar {
namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kSecondsPerDay = 86400.0;
constexpr double kJulianDateOfUnixEpoch = 2440587.5;
constexpr double kJulianDateOfJ2000 = 2451545.0;
// The sunrise equation: the Earth's axial tilt, and the altitude of the sun's
// centre at rise and set (refraction plus the sun's apparent radius).
constexpr double kSinObliquity = 0.39778370349342274;         // sin 23.4397 degrees
constexpr double kSinApparentHorizon = -0.01453808050249695;  // sin -0.833 degrees

double wrapDegrees(double x) {
    double wrapped = std::fmod(x, 360.0);
    return wrapped < 0.0 ? wrapped + 360.0 : wrapped;
}

Instant instantFromJulianDate(double julianDate) {
    return Instant::fromSecondsSince1970((julianDate - kJulianDateOfUnixEpoch) * kSecondsPerDay);
}

}  // namespace

SunTimes compute(double latitudeDegrees, double longitudeDegrees, Instant date) {
    const double t = date.secondsSince1970();
    // 0.0008 days: leap seconds and the offset of terrestrial time.
    const double daysSinceJ2000 =
        ((t / kSecondsPerDay + kJulianDateOfUnixEpoch) - kJulianDateOfJ2000) + 0.0008;
    const double dayNumber = std::round(daysSinceJ2000 + longitudeDegrees / 360.0);
    const double meanSolarNoon = dayNumber - longitudeDegrees / 360.0;

    // Mean anomaly at J2000 and its daily motion, degrees; then the equation
    // of the centre and the perihelion's longitude (102.9372 degrees).
    const double meanAnomaly = wrapDegrees(357.5291 + 0.98560028 * meanSolarNoon);
    const double m = meanAnomaly * kRadiansPerDegree;
    const double equationOfCentre =
        (1.9148 * std::sin(m) + 0.02 * std::sin(m + m)) + 0.0003 * std::sin(m * 3);
    const double eclipticLongitude =
        wrapDegrees(((equationOfCentre + meanAnomaly) + 180.0) + 102.9372);
    const double l = eclipticLongitude * kRadiansPerDegree;

    const double sinDeclination = std::sin(l) * kSinObliquity;
    const double cosDeclination = std::cos(std::asin(sinDeclination));

    const double phi = latitudeDegrees * kRadiansPerDegree;
    const double sinLatitude = std::sin(phi);
    const double cosLatitude = std::cos(phi);
    const double cosHourAngle =
        (kSinApparentHorizon - sinLatitude * sinDeclination) / (cosLatitude * cosDeclination);

    if (cosHourAngle > 1.0) {
        return {SunTimes::Kind::polarNight, std::nullopt, std::nullopt};
    }
    if (cosHourAngle < -1.0) {
        return {SunTimes::Kind::polarDay, std::nullopt, std::nullopt};
    }

    // Solar transit: mean noon corrected by the equation of time, in days.
    const double transit =
        ((meanSolarNoon + kJulianDateOfJ2000) + 0.0053 * std::sin(m)) + (-0.0069 * std::sin(l + l));
    const double halfDay = std::acos(cosHourAngle) * kDegreesPerRadian / 360.0;
    return {SunTimes::Kind::normal, instantFromJulianDate(transit - halfDay),
            instantFromJulianDate(transit + halfDay)};
}

}  // namespace vesperine::Solar
