// What the subcommands share inside the console program.
#pragma once
#include <string>
#include <vector>

namespace morph {

// "Parameter Error: TEXT" and the usage on standard error; the usage status.
int UsageError(const std::string& text);
bool IsDirectory(const std::string& path);
// Why a list of files to look at (identify, info) cannot be taken: empty, or
// standard input given twice; empty when it can.
std::string FileListProblem(const std::vector<std::string>& files, const std::string& command);

// morphalite convert SOURCE... --to CODE [OPTION]...
int RunConvertCommand(const std::vector<std::string>& args);

}  // namespace morph
