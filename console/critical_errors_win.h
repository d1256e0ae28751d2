// critical_errors_win.h - Windows only: the system's critical-error dialogs
// off for the life of a local, so that a drive without a diskette, or one
// that cannot be read, answers with an error code instead of a dialog.
#pragma once
#include <windows.h>

// The previous mode comes back on every way out of the enclosing block.
class CriticalErrorsOff {
public:
    CriticalErrorsOff() : previousMode_(SetErrorMode(SEM_FAILCRITICALERRORS)) {}
    ~CriticalErrorsOff() { SetErrorMode(previousMode_); }
    CriticalErrorsOff(const CriticalErrorsOff&) = delete;
    CriticalErrorsOff& operator=(const CriticalErrorsOff&) = delete;

private:
    UINT previousMode_;
};
