#include "platform/Platform.h"

#include <utility>

namespace {

/// Staging that only remembers the pair: the whole copy happens when it is finished.
class TDeferredCopy : public TStagedCopy
{
public:
    TDeferredCopy(std::string src, std::string dst)
        : Src(std::move(src))
        , Dst(std::move(dst))
    {
    }
    std::string Src;
    std::string Dst;
};

} // namespace

TResult TPlatform::StageCopy(const std::string& src, const std::string& dst,
                             std::unique_ptr<TStagedCopy>& copy)
{
    copy = std::make_unique<TDeferredCopy>(src, dst);
    return {};
}

TResult TPlatform::FinishCopy(TStagedCopy& copy)
{
    auto* deferred = dynamic_cast<TDeferredCopy*>(&copy);
    if (deferred == nullptr)
        return TResult::Fail(TFailure::Other, {}, "not a copy staged by this platform");
    return CopyNoOverwrite(deferred->Src, deferred->Dst);
}

bool TPlatform::DriveIsReady(char letter)
{
    const std::string root = DriveRoot(letter);
    return !root.empty() && DriveQueries()->DriveIsReady(root);
}

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
