// charset_win.cpp - on Windows the console shows code page 437 (or the
// console's own OEM code page) itself, and names reach the file system as
// the bytes they are: no text is ever converted to UTF-8.
#include "console/console.h"

bool IsLocaleUtf8() { return false; }
