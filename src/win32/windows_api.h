// The Windows API headers of this front end, in their wide-character forms.
// <windows.h> defines MessageBox as a macro (MessageBoxW), which would rename
// platform::MessageBox in every file that sees both; the macro goes here.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#ifdef MessageBox
#undef MessageBox
#endif
