// extractor_main.cpp - the image extractor's entry point.
#include "extractor/command_line.h"

int main(int argumentCount, char** arguments) {
    return RunExtractorProgram(argumentCount, arguments);
}
