// Where DLLs may come from. Installers run from download folders, where other
// files land unasked, and Windows searches the application's own folder first
// for every DLL that is not one of its protected known DLLs. So the image
// imports only known DLLs, the search is narrowed to the system folder before
// anything else runs, and every other DLL is loaded from the system folder by
// name.
#ifndef LAUNCHER_DLL_SEARCH_H_
#define LAUNCHER_DLL_SEARCH_H_

namespace launcher {

// Makes the system folder the only place from which DLLs are loaded for the
// rest of the process, also those the system loads on the launcher's behalf
// (message boxes, the shell start): SetDefaultDllDirectories where the system
// has it, otherwise SetDllDirectoryA("") where that exists (which takes the
// current folder out of the search, though not the application's folder).
// Both are looked up at run time. Without SetDefaultDllDirectories, the DLLs
// the system loads for the launcher are then loaded from the system folder
// at once, so that the application's folder is never searched for them.
void RestrictDllSearch();

// Loads `name` (for example "mpr.dll") from the system folder and never from
// anywhere else; null when it cannot be loaded there.
void* LoadSystemLibrary(const char* name);

}  // namespace launcher

#endif  // LAUNCHER_DLL_SEARCH_H_
