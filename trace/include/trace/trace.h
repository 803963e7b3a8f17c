// The server's optional diagnostic log. A "qelvor.dbg" file or folder beside the executable
// switches it on at start-up; records then go to "qelvor.log" in the same folder. Without the
// marker every record is still formatted and then dropped.
#pragma once

#include <windows.h>

#include <cstdarg>

// Decides once whether the log is on and, if so, starts a fresh log whose first line is the
// executable's path. Called first thing by the server entry, before any other thread exists.
void openTraceLog();

// Ends the log at an orderly exit. Records arriving afterwards are dropped.
void closeTraceLog();

// `className` belongs to the calling convention and is never written. Writes `text` as it stands
// (a '%' stays a '%'); a negative `status` adds the system's text for it as a second record.
void trace(const char* className, const char* text, LONG status);

void traceFormat(const char* className, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void traceFormatV(const char* className, const char* format, va_list arguments)
    __attribute__((format(printf, 2, 0)));

// Writes `format` with "\n" appended. With `argumentIsList` 1, `argument` points to a va_list
// (copy a va_list parameter with va_copy and pass the copy's address); otherwise `argument` is
// the one text the format takes.
void traceLine(const char* className, const char* format, const void* argument, int argumentIsList);

// Writes "0x<thread> Error (<code>): <system text>". Codes without system text (WMI status
// codes, for one) get "(no system text)".
void traceSystemError(DWORD code);
