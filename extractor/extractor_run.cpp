// extractor_run.cpp - the run over the image.
#include "extractor/extractor_run.h"

#include "console/message.h"

int RunExtraction(ExtractorRunState* state) {
    (void)state;
    ReportMessage("Extraction is not available in this build.", kMessageError, 0);
    return kExitError;
}
