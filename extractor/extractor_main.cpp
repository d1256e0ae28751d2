// extractor_main.cpp - the image extractor's entry point.
#include "console/program.h"
#include "extractor/command_line.h"

int main(int argumentCount, char** arguments) {
    StartConsoleProgram(OutputVariant::kFile);
    return RunExtractorProgram(argumentCount, arguments);
}
