// Waiting in a test for something that happens a moment later.
#pragma once

#include <chrono>
#include <functional>

// Asks done every `every` until it is true or limit has passed. Returns its last answer.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(20),
             std::chrono::milliseconds every = std::chrono::milliseconds(20));
