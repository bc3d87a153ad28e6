#pragma once
// Checks a script-file destination path before a run.

#include <string>

// Throws tk_exception (level 1) when the path cannot take a script file: a
// folder, a read-only file, a missing folder, a folder without write access.
void common_check_dest(const std::wstring& path);
