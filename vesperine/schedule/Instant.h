#pragma once

namespace vesperine {

// A point in time: seconds since 1970-01-01 00:00:00 UTC, with no time zone.
// Time zones only appear when the command line prints an instant.
class Instant {
  public:
    constexpr Instant() = default;
    static constexpr Instant fromSecondsSince1970(double seconds) { return Instant(seconds); }

    constexpr double secondsSince1970() const { return seconds_; }
    constexpr Instant addingSeconds(double seconds) const { return Instant(seconds_ + seconds); }

    friend constexpr bool operator<(Instant a, Instant b) { return a.seconds_ < b.seconds_; }

  private:
    constexpr explicit Instant(double seconds) : seconds_(seconds) {}
    double seconds_ = 0.0;
};

}  // namespace vesperine
