#pragma once
// What the command-line tools share: one-line error messages, strict number
// parsing, and "--set NAME=VALUE" applied to a plug-in the way a host would.

#include <string>
#include <vector>

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

// One "--set NAME=VALUE" or "--preset NAME", kept in command-line order so that
// a later --set changes what a preset set.
struct Setting
{
  bool preset;
  std::string text;
};
// Applies them in order; returns 0, or 1 after printing why not.
int ApplySettings(IPlugBase& plug, const std::vector<Setting>& settings);
// Prints every factory preset on a line of its own: name, category and what
// it is for, separated by tabs.
void ListPresets();
}  // namespace tool_args
