/// @file
/// VAREK_API marks what the shared library exports. Building the library
/// defines VAREK_BUILDING_LIBRARY; hosts that include the headers get the
/// import side.
#ifndef VAREK_EXPORT_H
#define VAREK_EXPORT_H

#if defined(_WIN32)
#if defined(VAREK_BUILDING_LIBRARY)
#define VAREK_API __declspec(dllexport)
#else
#define VAREK_API __declspec(dllimport)
#endif
#else
/// Marks a declaration that the shared library exports.
#define VAREK_API __attribute__((visibility("default")))
#endif

#endif
