// The only way into <windows.h> in this project.
#ifndef PLATFORM_WIN32_WINDOWS_API_H_
#define PLATFORM_WIN32_WINDOWS_API_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// Included after <windows.h>, which they need.
#include <shellapi.h>

#endif  // PLATFORM_WIN32_WINDOWS_API_H_
