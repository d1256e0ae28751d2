// fuzz_command_line.cpp - the extractor's command-line parser on an arbitrary
// argument vector: the input's NUL-separated pieces are the arguments after
// the program name. The run state must come out consistent: fields ended by
// a NUL, spans inside the vector.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "console/console.h"
#include "extractor/command_line.h"
#include "fuzz/fuzz_support.h"

static constexpr std::size_t kArgumentsSize = 64;
static constexpr std::size_t kBytesSize = 4096;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SendOutputToNull();
    SetOutputVariant(OutputVariant::kFile);
    return 0;
}

static bool IsEnded(const char* field, std::size_t fieldSize) {
    return std::memchr(field, 0, fieldSize) != nullptr;
}

static bool IsSpanInside(int first, int last, int argumentCount) {
    if (first == kSpanNotSet) return true;
    return first >= 1 && last <= argumentCount - 1 && last >= first - 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= kBytesSize) return 0;
    char bytes[kBytesSize];
    std::memcpy(bytes, data, size);
    bytes[size] = '\0';
    char programName[] = "imgextract";
    char* arguments[kArgumentsSize + 1];
    int argumentCount = 0;
    arguments[argumentCount++] = programName;
    std::size_t start = 0;
    while (start <= size && argumentCount < static_cast<int>(kArgumentsSize)) {
        arguments[argumentCount++] = bytes + start;
        start += std::strlen(bytes + start) + 1;
    }
    arguments[argumentCount] = nullptr;

    ExtractorRunState state{};
    StartExtractorRun(&state, argumentCount, arguments);
    const int result = ParseExtractorArguments(&state);
    if (result != 0 && result != 1) ReportFinding("parser result neither 0 nor 1");
    if (!IsEnded(state.imageFileName, sizeof(state.imageFileName)) ||
        !IsEnded(state.extractionDirectory, sizeof(state.extractionDirectory)) ||
        !IsEnded(state.programName, sizeof(state.programName))) {
        ReportFinding("a run-state field without its NUL");
    }
    if (result == 1 && (!IsSpanInside(state.includeFirst, state.includeLast, argumentCount) ||
                        !IsSpanInside(state.excludeFirst, state.excludeLast, argumentCount))) {
        ReportFinding("a pattern span outside the argument vector");
    }
    if (result == 1 && state.imageFileName[0] == '\0') PrintExtractorHelp(state.programName);
    return 0;
}
