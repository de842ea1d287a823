#include "platform/Platform.h"

std::string TPlatform::ExtractFileName(const std::string& path) const
{
    const size_t at = path.find_last_of(PathDelim());
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string TPlatform::JoinPath(const std::string& folder, const std::string& name) const
{
    if (folder.empty())
        return name;
    if (folder.back() == PathDelim())
        return folder + name;
    return folder + PathDelim() + name;
}
