#include "schedule/Scheduler.h"

#include "schedule/Solar.h"

namespace vesperine::Scheduler {

Decision decide(double latitudeDegrees, double longitudeDegrees, double sunriseOffsetMinutes,
                double sunsetOffsetMinutes, Instant now) {
    Decision decision;
    decision.sun = Solar::compute(latitudeDegrees, longitudeDegrees, now);

    switch (decision.sun.kind) {
        case SunTimes::Kind::polarDay:
            decision.wantOn = false;
            decision.reason = Reason::polarDay;
            return decision;
        case SunTimes::Kind::polarNight:
            decision.wantOn = true;
            decision.reason = Reason::polarNight;
            return decision;
        case SunTimes::Kind::normal:
            break;
    }

    const Instant sunrise = decision.sun.sunrise->addingSeconds(sunriseOffsetMinutes * 60.0);
    const Instant sunset = decision.sun.sunset->addingSeconds(sunsetOffsetMinutes * 60.0);
    decision.adjustedSunrise = sunrise;
    decision.adjustedSunset = sunset;

    // Only the strict earlier-than test: exactly at sunrise it is light, exactly
    // at sunset it is dark. NaN instants compare false and land on "after sunset".
    if (now < sunrise) {
        decision.wantOn = true;
        decision.reason = Reason::beforeSunrise;
    } else if (now < sunset) {
        decision.wantOn = false;
        decision.reason = Reason::daylight;
    } else {
        decision.wantOn = true;
        decision.reason = Reason::afterSunset;
    }
    return decision;
}

}  // namespace vesperine::Scheduler
