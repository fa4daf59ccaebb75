// The rxpack commands. Each takes the arguments after its name and returns the exit status.
#pragma once

#include <map>
#include <string>
#include <vector>

using ARGS = std::vector<std::string>;

int CommandCreate(const ARGS& args);
int CommandList(const ARGS& args);
int CommandCheck(const ARGS& args);
int CommandExtract(const ARGS& args);
int CommandSignRelease(const ARGS& args);
int CommandVerifyRelease(const ARGS& args);
int CommandRelease(const ARGS& args);

// Takes the "--name VALUE" and "--name=VALUE" options named in `names`, and the "--name"
// switches named in `switches` (stored with an empty value), out of args; the rest are
// positional. False with a message for an unknown or repeated option, a missing value or
// a switch given one.
bool SplitOptions(const ARGS& args, const std::vector<std::string>& names, std::map<std::string, std::string>* options,
                  ARGS* positional, std::string* error, const std::vector<std::string>& switches = {});

