#include "platform/instance/instance_name.h"

#include <cstring>

namespace instance {

namespace {

bool alphanumeric(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

std::string& currentName()
{
    static std::string name;
    return name;
}

bool accept(const std::string& value, std::string* name, std::string* error)
{
    if (!validName(value)) {
        if (error)
            *error = "the instance name \"" + value.substr(0, 64)
                + "\" is not valid: use 1 to 32 letters, digits, '-' or '_', starting with a letter or digit";
        return false;
    }
    *name = value;
    return true;
}

} // namespace

bool validName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxNameLength || !alphanumeric(name[0]))
        return false;
    for (char c : name)
        if (!alphanumeric(c) && c != '-' && c != '_')
            return false;
    return true;
}

bool fromCommandLine(int argc, char** argv, const char* environment, std::string* name, std::string* error)
{
    name->clear();
    const char* given = environment != nullptr && *environment != '\0' ? environment : nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--instance") == 0) {
            if (i + 1 >= argc) {
                if (error)
                    *error = "--instance needs a name";
                return false;
            }
            given = argv[++i];
        } else if (std::strncmp(argv[i], "--instance=", 11) == 0) {
            given = argv[i] + 11;
        }
    }
    return given == nullptr || accept(given, name, error);
}

const std::string& current() { return currentName(); }
void setCurrent(const std::string& name) { currentName() = name; }

std::string applicationId(const std::string& name) { return name.empty() ? "KestIPData" : "KestIPData@" + name; }

std::string windowTitle(const std::string& cardTitle, const std::string& name)
{
    return name.empty() ? cardTitle : cardTitle + " [" + name + "]";
}

} // namespace instance
