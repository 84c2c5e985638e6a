#pragma once

#include <functional>

namespace pelio::test {

// Lets events run until the condition holds or `timeoutMs` have passed; returns the condition. The
// one way tests wait for something to happen: never sleep to synchronise.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

}  // namespace pelio::test
