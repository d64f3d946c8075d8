// Shared pieces of the quorvel command-line tool.
#ifndef QUORVEL_TOOLS_CLI_H_
#define QUORVEL_TOOLS_CLI_H_

#include <span>
#include <string>
#include <string_view>

#include "quorvel/quorvel.h"

namespace quorvel::cli {

// A command takes the arguments after its name and returns the exit status.
using Command = int (*)(std::span<char*> args);

int RunDemo(std::span<char*> args);
int RunCsv(std::span<char*> args);
int RunBase64(std::span<char*> args);
int RunLzss(std::span<char*> args);
int RunRc4(std::span<char*> args);
int RunVerhoeff(std::span<char*> args);
void DemoDataset();
void DemoCArray();

int RunJson(std::span<char*> args);
void DemoJson();

int RunKv(std::span<char*> args);

int RunDocs(std::span<char*> args);
void DemoDocs();

int RunMsgPack(std::span<char*> args);

// Reads all of FILE, or standard input for "-", into `bytes`. Returns false
// after saying why on standard error.
bool ReadInput(std::string_view file, std::string* bytes);
// The same, as UTF-8 text without a leading byte order mark.
bool ReadTextInput(std::string_view file, std::u16string* text);

// Writes UTF-16 text to standard output as UTF-8.
void Print(std::u16string_view text);
void PrintLine(std::u16string_view text = u"");

// Prints "quorvel: error NUMBER (SOURCE): DESCRIPTION" to standard error.
void ReportError(const Error& e);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_CLI_H_
