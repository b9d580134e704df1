#include "run/run_state.h"

RunStateData RunState = {};
