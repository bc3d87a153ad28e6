#pragma once
// How a database side reports an item that failed inside a batch operation (a view, a foreign
// key, rows of a pending multi-row INSERT) before it goes on with the next one. The program's
// error handler lives above the database libraries, so the program installs a reporter at
// start-up: the reporter names the item with the prefix and reports the exception at its level; it may
// throw tk_final_exception when the user chooses to abort, which ends the batch operation.
// Without a reporter the error is written to the trace log (level 3) and the operation goes on.
#include <functional>
#include <string>

class tk_exception;

// prefix: the failed item as the user should read it ("View 'v1'", "Foreign key 'fk'", or a
// table name).
using udb_error_reporter = std::function<void(const std::wstring& prefix, const tk_exception& error)>;

// Installs the reporter (an empty function removes it). Set once at start-up, before any
// database operation runs.
void udb_set_error_reporter(udb_error_reporter reporter);

// Reports through the installed reporter, or traces when there is none.
void udb_report_error(const std::wstring& prefix, const tk_exception& error);
