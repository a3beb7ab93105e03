// The unit tests' resource table: empty until a test sets it.
#include "test_resources.h"

namespace {
std::vector<EmbeddedResource> current;
}

void set_test_resources(const std::vector<EmbeddedResource>& resources) { current = resources; }

const EmbeddedResource* embedded_resources(int* count) {
    *count = static_cast<int>(current.size());
    return current.data();
}
