// The rxpack commands. Each takes the arguments after its name and returns the exit status.
#pragma once

#include <string>
#include <vector>

using ARGS = std::vector<std::string>;

int CommandCreate(const ARGS& args);
int CommandList(const ARGS& args);
int CommandCheck(const ARGS& args);
int CommandExtract(const ARGS& args);
