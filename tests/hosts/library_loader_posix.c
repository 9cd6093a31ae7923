#include <dlfcn.h>

#include "library_loader.h"

void* load_library(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* find_symbol(void* library, const char* name) { return dlsym(library, name); }

void unload_library(void* library) { dlclose(library); }
