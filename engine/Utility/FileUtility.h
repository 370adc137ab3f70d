// File helpers with the engine's Windows-style names.
#pragma once

#include <cstdint>
#include <string>

// The file's size as a 32-bit value; 0 for a null path, a file that cannot be
// examined or an empty file.
uint32_t GetFileSize(const char* path);

// Copies a file, or a folder recursively, with its data, permission bits,
// times and extended attributes. The integer is ignored. 0 success, -1 failure.
int CopyFileA(const char* from, const char* to, int unused);

// The application's work folder: the folder of the running executable
// (VELMORA_WORK_PATH overrides it).
std::string GetAppWorkPath();

// True when the string is non-null and is well-formed UTF-8.
bool isValidString(const char* text);
bool isValidString(const char* text, size_t length);
