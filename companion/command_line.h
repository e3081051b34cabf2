#pragma once
// The companion's command line as the addon writes it: the program, the
// game's process id and the application id; later arguments are ignored.
// The same reading serves the narrow arguments of main (Linux) and the wide
// ones that CommandLineToArgvW splits (Windows).

#include "companion/companion.h"

struct CompanionArguments {
    int processId = 0;
    char applicationId[kApplicationIdSize] = {};  // always terminated
};

// The process id: leading white space, an optional sign, then decimal digits
// up to the first other character; text without digits gives 0. Values
// beyond the 32-bit range are clamped to it.
int DecimalArgument(const char* text);
int DecimalArgument(const wchar_t* text);

// Reads arguments 1 and 2; false when either is missing, or when a wide
// application id is no wide text (a lone surrogate). A narrow application id
// is copied as it is, a wide one converted to UTF-8; either way the id is cut
// to 259 bytes so that it stays terminated. The application-id rule refuses
// an id so long (application_id.h), so a cut id is never used.
bool ReadCompanionArguments(int argc, const char* const* argv, CompanionArguments& arguments);
bool ReadCompanionArguments(int argc, const wchar_t* const* argv, CompanionArguments& arguments);

// The script's path for an application id: `format` ("scripts/%s.lua") with
// the id, cut to 259 characters and terminated, so that an id of 248
// characters or more loses all or part of ".lua".
void FormatScriptPath(char (&path)[kScriptPathSize], const char* format, const char* applicationId);
