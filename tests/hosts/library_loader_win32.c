#include <windows.h>

#include "library_loader.h"

void* load_library(const char* path) {
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0) return NULL;
    return (void*)LoadLibraryW(wide);
}

void* find_symbol(void* library, const char* name) {
    /* FARPROC to an object pointer goes through an integer: ISO C has no
       direct conversion between function and object pointers. */
    return (void*)(INT_PTR)GetProcAddress((HMODULE)library, name);
}

void unload_library(void* library) { FreeLibrary((HMODULE)library); }
