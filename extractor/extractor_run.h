// extractor_run.h - the second half of the image extractor: read the image,
// build its directory tree, and list or extract the selected entries.
#pragma once

#include "extractor/command_line.h"

// Runs the extraction or listing the run state describes; returns the exit
// code, 0 or kExitError.
[[nodiscard]] int RunExtraction(ExtractorRunState* state);
