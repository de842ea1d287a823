#include "app/win/SingleInstance.h"

#include "platform/Platform.h"

namespace {

/// WM_COPYDATA kinds ("FI" and a number).
constexpr ULONG_PTR kOpenVolume = 0x46490001;
constexpr ULONG_PTR kShowWindow = 0x46490002;
/// A longer name is no request of ours.
constexpr DWORD kMaxRequestBytes = 64 * 1024;

bool Send(HWND window, ULONG_PTR kind, const std::wstring& text)
{
    COPYDATASTRUCT data{};
    data.dwData = kind;
    data.cbData = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(text.data());
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                                 5000, &result) != 0 &&
           result == TRUE;
}

} // namespace

std::wstring TSingleInstance::DefaultName()
{
    return L"Local\\fotoimport-" + WideText(UserKey());
}

TSingleInstance::TSingleInstance(const std::wstring& name)
{
    FMutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    // Without a mutex the program runs rather than not at all.
    FFirst = FMutex == nullptr || ::GetLastError() != ERROR_ALREADY_EXISTS;
}

TSingleInstance::~TSingleInstance()
{
    if (FMutex != nullptr)
        ::CloseHandle(FMutex);
}

bool TSingleInstance::HandOver(const wchar_t* windowClass, const std::vector<std::string>& volumes,
                               DWORD patience) const
{
    const ULONGLONG deadline = ::GetTickCount64() + patience;
    HWND window = nullptr;
    while ((window = ::FindWindowW(windowClass, nullptr)) == nullptr && ::GetTickCount64() < deadline)
        ::Sleep(50);
    if (window == nullptr)
        return false;
    // Only the program in front may bring another one forward: this start, which the user just made, lets
    // the running program do so.
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    ::AllowSetForegroundWindow(process);
    for (const std::string& volume : volumes)
        if (!Send(window, kOpenVolume, WideText(volume)))
            return false;
    return Send(window, kShowWindow, {});
}

bool HandleInstanceRequest(const COPYDATASTRUCT& data,
                           const std::function<void(const std::string&)>& openVolume,
                           const std::function<void()>& show)
{
    if (data.dwData == kShowWindow && data.cbData == 0) {
        show();
        return true;
    }
    if (data.dwData != kOpenVolume || data.cbData == 0 || data.cbData > kMaxRequestBytes ||
        data.cbData % sizeof(wchar_t) != 0 || data.lpData == nullptr)
        return false;
    const std::wstring volume(static_cast<const wchar_t*>(data.lpData), data.cbData / sizeof(wchar_t));
    if (volume.find(L'\0') != std::wstring::npos)
        return false;
    openVolume(Utf8Text(volume));
    return true;
}

std::vector<std::string> VolumeArguments(const std::vector<std::string>& arguments)
{
    std::vector<std::string> volumes;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::wstring argument = WideText(arguments[i]);
        if (argument.empty() || argument.find(L'\0') != std::wstring::npos)
            continue;
        // A drive letter alone means the drive's root, not the folder last used on it.
        if (argument.size() == 2 && argument[1] == L':')
            argument += L'\\';
        const DWORD size = ::GetFullPathNameW(argument.c_str(), 0, nullptr, nullptr);
        if (size == 0)
            continue;
        std::wstring full(size, L'\0');
        const DWORD length = ::GetFullPathNameW(argument.c_str(), size, full.data(), nullptr);
        if (length == 0 || length >= size)
            continue;
        full.resize(length);
        volumes.push_back(Utf8Text(full));
    }
    return volumes;
}
