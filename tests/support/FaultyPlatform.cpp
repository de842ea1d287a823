#include "tests/support/FaultyPlatform.h"

#include <utility>

namespace {

/// The inner platform's staged copy with the name it is to get.
class TWrappedCopy : public TStagedCopy
{
public:
    TWrappedCopy(std::unique_ptr<TStagedCopy> inner, std::string dst)
        : Inner(std::move(inner))
        , Dst(std::move(dst))
    {
    }
    std::unique_ptr<TStagedCopy> Inner;
    std::string Dst;
};

} // namespace

TFaultyPlatform::TFaultyPlatform(std::unique_ptr<TPlatform> inner)
    : FInner(std::move(inner))
{
}

void TFaultyPlatform::FailTransferOf(const std::string& src, TResult reason)
{
    FTransferFailures[src] = std::move(reason);
}

void TFaultyPlatform::FailFinishOf(const std::string& dst, TResult reason)
{
    FFinishFailures[dst] = std::move(reason);
}

void TFaultyPlatform::FailReplaceOf(const std::string& target, TResult reason)
{
    FReplaceFailures[target] = std::move(reason);
}

void TFaultyPlatform::KeepSourceOf(const std::string& src, TResult reason)
{
    FKeptSources[src] = std::move(reason);
}

void TFaultyPlatform::Heal()
{
    FKeptSources.clear();
    FTransferFailures.clear();
    FFinishFailures.clear();
    FReplaceFailures.clear();
    FFlushFailure.reset();
}

TResult TFaultyPlatform::CopyNoOverwrite(const std::string& src, const std::string& dst)
{
    if (const auto it = FTransferFailures.find(src); it != FTransferFailures.end())
        return it->second;
    if (const auto it = FFinishFailures.find(dst); it != FFinishFailures.end())
        return it->second;
    return FInner->CopyNoOverwrite(src, dst);
}

TResult TFaultyPlatform::StageCopy(const std::string& src, const std::string& dst,
                                   std::unique_ptr<TStagedCopy>& copy)
{
    copy.reset();
    if (const auto it = FTransferFailures.find(src); it != FTransferFailures.end())
        return it->second;
    std::unique_ptr<TStagedCopy> inner;
    TResult result = FInner->StageCopy(src, dst, inner);
    if (inner)
        copy = std::make_unique<TWrappedCopy>(std::move(inner), dst);
    return result;
}

TResult TFaultyPlatform::FinishCopy(TStagedCopy& copy)
{
    auto* wrapped = dynamic_cast<TWrappedCopy*>(&copy);
    if (wrapped == nullptr)
        return TResult::Fail(TFailure::Other, {}, "not a copy staged by this platform");
    if (const auto it = FFinishFailures.find(wrapped->Dst); it != FFinishFailures.end()) {
        wrapped->Inner.reset();
        return it->second;
    }
    return FInner->FinishCopy(*wrapped->Inner);
}

TResult TFaultyPlatform::FlushFolders()
{
    TResult result = FInner->FlushFolders();
    return FFlushFailure ? *FFlushFailure : result;
}

TResult TFaultyPlatform::MovePhoto(const std::string& src, const std::string& dst, TResult* sourceKept)
{
    if (const auto it = FTransferFailures.find(src); it != FTransferFailures.end())
        return it->second;
    if (const auto it = FKeptSources.find(src); it != FKeptSources.end()) {
        if (sourceKept == nullptr)
            return it->second;
        if (TResult copied = FInner->CopyNoOverwrite(src, dst); !copied)
            return copied;
        *sourceKept = it->second;
        return {};
    }
    return FInner->MovePhoto(src, dst, sourceKept);
}

TResult TFaultyPlatform::RemovePhoto(const std::string& path)
{
    if (const auto it = FKeptSources.find(path); it != FKeptSources.end())
        return it->second;
    return FInner->RemovePhoto(path);
}

TResult TFaultyPlatform::ReplaceFileContents(const std::string& target, std::span<const TDataPiece> pieces)
{
    if (const auto it = FReplaceFailures.find(target); it != FReplaceFailures.end())
        return it->second;
    return FInner->ReplaceFileContents(target, pieces);
}
