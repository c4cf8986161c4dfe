#pragma once

#include "schedule/Instant.h"

namespace vesperine {

// Where "now" comes from. Everything that needs the time is handed a Clock or
// an Instant; only SystemClock reads the real one.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;
};

class SystemClock final : public Clock {
  public:
    Instant now() const override;
};

}  // namespace vesperine
