#pragma once

namespace satnic_test {
// False in the sanitizer builds, where operator new is not replaced and nothing is counted.
bool allocationCounting();
// Number of operator new calls made so far by the calling thread.
long allocationsOnThisThread();
} // namespace satnic_test
