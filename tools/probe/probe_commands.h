#pragma once
// The probe's commands. Each takes the arguments that follow its name,
// prints its result to the standard output (problems with its own arguments
// or the process to the standard error) and returns the exit code.

#include <string>
#include <vector>

// Exit codes, the same for every command.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;     // the script did not load, or nothing was found or read
constexpr int kExitUsage = 2;      // bad arguments: the command's usage line was printed
constexpr int kExitNoTarget = 3;   // the process cannot be opened for reading
constexpr int kExitOtherProbe = 4;  // run: the launcher starts the companion of the other bitness

// The poll interval when --count asks for several polls without --every:
// the companion's own.
constexpr unsigned kDefaultIntervalMs = 15000;

int RunCommand(const std::vector<std::string>& arguments);
int FindCommand(const std::vector<std::string>& arguments);
int ModulesCommand(const std::vector<std::string>& arguments);
int ReadCommand(const std::vector<std::string>& arguments);
int ScanCommand(const std::vector<std::string>& arguments);
int RescanCommand(const std::vector<std::string>& arguments);
int SigCommand(const std::vector<std::string>& arguments);
int ProcessesCommand(const std::vector<std::string>& arguments);

// The usage line of one command ("run", "find", ...), or of all of them.
const char* CommandUsage(const std::string& command);
