#include <algorithm>

#include "rxpack_commands.h"

bool SplitOptions(const ARGS& args, const std::vector<std::string>& names, std::map<std::string, std::string>* options,
                  ARGS* positional, std::string* error, const std::vector<std::string>& switches)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            positional->push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (std::find(switches.begin(), switches.end(), name) != switches.end()) {
            if (equals != std::string::npos) {
                *error = name + " takes no value";
                return false;
            }
            if (options->count(name) != 0) {
                *error = name + " is given twice";
                return false;
            }
            (*options)[name] = "";
            continue;
        }
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            *error = "unknown option '" + name + "'";
            return false;
        }
        if (options->count(name) != 0) {
            *error = name + " is given twice";
            return false;
        }
        if (equals != std::string::npos) {
            (*options)[name] = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            (*options)[name] = args[++i];
        } else {
            *error = name + " needs a value";
            return false;
        }
        if ((*options)[name].empty()) {
            *error = name + " needs a value";
            return false;
        }
    }
    return true;
}
