// The state record's one instance. Compiled into each program, since whether it starts at the
// transition stage is fixed by the images that program carries.
#include "core/upgrade_state.h"

#ifndef TEV_INITIAL_STAGE
#define TEV_INITIAL_STAGE 1
#endif

const std::int32_t INITIAL_STAGE = TEV_INITIAL_STAGE;

// Every field but the stage starts as zero bytes, as static storage gives them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constinit UpgradeState upgrade_state{.stage = TEV_INITIAL_STAGE};
#pragma GCC diagnostic pop
