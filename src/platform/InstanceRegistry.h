#pragma once

namespace pelio::platform {

// Tells whether another copy of this very program file runs for the same user.
class InstanceRegistry {
  public:
    virtual ~InstanceRegistry() = default;
    virtual bool PreviousInstanceExists() = 0;
};

}  // namespace pelio::platform
