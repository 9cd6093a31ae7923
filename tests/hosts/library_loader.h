/* Loading the library at run time, as a foreign host does. */
#ifndef VAREK_HOSTS_LIBRARY_LOADER_H
#define VAREK_HOSTS_LIBRARY_LOADER_H

/* Null when the library cannot be loaded. */
void* load_library(const char* path);
/* Null when the library has no such export. */
void* find_symbol(void* library, const char* name);
void unload_library(void* library);

#endif
