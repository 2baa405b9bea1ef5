// Binds a VirtualRun to the unit model: the model answers, and its unplugging is the link's.
#pragma once
#include "sim/unit_model.h"
#include "virtual_run.h"

// unit must be plugged in already and outlive the run. Short messages the model sends are
// not SysEx replies and never reach the parser.
void AttachUnitModel(VirtualRun& run, UnitModel& unit);
