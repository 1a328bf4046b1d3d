#pragma once
// What the command-line tools share: one-line error messages, strict number
// parsing, and "--set NAME=VALUE" applied to a plug-in the way a host would.

#include <string>

class IPlugBase;

namespace tool_args
{
// The name Fail puts in front of every message; set once at the start of main.
void SetToolName(const char* name);

// Prints "<tool>: <message>" as one line on stderr and returns 1.
int Fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The whole of `text` as a base-10 integer from `lo` to `hi`.
bool ParseInt(const char* text, long lo, long hi, int* out);
// The whole of `text` as a finite number.
bool ParseDouble(const char* text, double* out);

// Applies "NAME=VALUE" as a host would: the parameter whose reported name is
// exactly NAME takes VALUE, which must lie inside its range (stepped ones round
// to a position); the editor, if any, shows it; then the plug-in hears of the
// change. Returns 0, or 1 after printing why not.
int ApplySetting(IPlugBase& plug, const std::string& setting);
}  // namespace tool_args
