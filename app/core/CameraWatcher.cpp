#include "app/core/CameraWatcher.h"

#include "app/core/WindowTexts.h"
#include "meta/phJpegInfo.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <utility>

namespace {

const char* const kCameraFolder = "DCIM";
const char* const kPhotoMask = "*.jpg";
const char* const kTargetFolder = "Eigene Bilder";
constexpr size_t kCopiesInFlight = 32;
constexpr auto kGroupTime = std::chrono::milliseconds(500);

bool SameText(const std::string& a, const std::string& b)
{
    return TStringList::CompareText(a, b) == 0;
}

/// The first line, in list order, whose name (the text before its first "=")
/// equals name without regard to case; its value goes to value.
bool FindLine(const TStringList& list, const std::string& name, std::string& value)
{
    for (const std::string& line : list.Items()) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos && SameText(line.substr(0, eq), name)) {
            value = line.substr(eq + 1);
            return true;
        }
    }
    return false;
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::string Count(int n, const char* text)
{
    return std::to_string(n) + text;
}

} // namespace

std::string DayFolderFromDate(const TLocalDate& date)
{
    if (date.Year < 1 || date.Year > 9999 || date.Month < 1 || date.Month > 12 || date.Day < 1 ||
        date.Day > DaysInMonth(date.Year, date.Month))
        return {};
    char text[48];
    std::snprintf(text, sizeof text, "%04d%02d%02d", date.Year, date.Month, date.Day);
    return text;
}

std::string DayFolderFromExifDate(const std::string& value)
{
    // The date is the first ten characters, "YYYY:MM:DD", with the colons removed.
    if (value.size() < 10)
        return {};
    std::string digits;
    for (size_t i = 0; i < 10; ++i) {
        if (value[i] != ':')
            digits += value[i];
    }
    if (digits.size() != 8)
        return {};
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return {};
    }
    const auto number = [&](size_t at, size_t n) { return std::stoi(digits.substr(at, n)); };
    return DayFolderFromDate(TLocalDate{number(0, 4), number(4, 2), number(6, 2)});
}

int OrientationFromValue(const std::string& value)
{
    return value.size() == 1 && value[0] >= '0' && value[0] <= '9' ? value[0] - '0' : 0;
}

TCameraWatcher::TCameraWatcher(TPlatform& platform, TWatcherView& view)
    : FPlatform(platform)
    , FView(view)
{
}

void TCameraWatcher::FormCreate()
{
    FCameraHandled = false;
}

void TCameraWatcher::Timer1Timer()
{
    FCameraFound = false;
    FPlatform.RefreshDrives();
    // Every letter is looked at; the last one that qualifies wins.
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        if (!FPlatform.DriveIsReady(letter))
            continue;
        const std::string root = FPlatform.DriveRoot(letter);
        if (root.empty())
            continue;
        const std::string path = FPlatform.JoinPath(root, kCameraFolder);
        if (FPlatform.DirectoryExists(path)) {
            FCameraFound = true;
            FCameraPath = path;
        }
    }
    // The volume the user opened the program with is the one meant, as long as it is there.
    if (!FOfferedRoot.empty()) {
        const std::string path = FPlatform.JoinPath(FOfferedRoot, kCameraFolder);
        if (FPlatform.DirectoryExists(path)) {
            FCameraFound = true;
            FCameraPath = path;
        } else {
            FOfferedRoot.clear();
        }
    }

    if (!FCameraFound) {
        FCameraHandled = false;
        FView.SetButton2Enabled(false);
        FView.SetTrayHint(kTextWaitForCamera);
        FView.SetCaption(kTextWaitForCamera);
        FView.SetLabel1(kTextNoCamera);
        FView.SetStatusPanel(0, kTextNoCamera);
        FView.SetStatusPanel(1, "");
        FView.SetBeendenEnabled(true);
        return;
    }
    if (FCameraHandled)
        return;
    ShowCamera();
}

void TCameraWatcher::ShowCamera()
{
    FView.ShowMainWindow();
    FPlatform.FindFiles(FCameraPath, kPhotoMask, FPhotoList, true, true);
    FView.SetProgressMax(FPhotoList.Count());
    FView.SetButton2Enabled(true);
    FView.SetTrayHint(kTextFetchingPhotos);
    FView.SetCaption(kTextFetchingPhotos);
    const std::string found = Count(FPhotoList.Count(), kTextPhotosFound);
    FView.SetLabel1(found);
    FView.SetStatusPanel(0, found);
}

bool TCameraWatcher::OfferVolume(const std::string& root)
{
    if (root.empty())
        return false;
    const std::string path = FPlatform.JoinPath(root, kCameraFolder);
    if (!FPlatform.DirectoryExists(path))
        return false;
    FOfferedRoot = root;
    // The user asked for this card: whatever was dismissed or transferred before, it is a new attachment,
    // and the watcher runs again as after "Fenster Schliessen".
    FRunFinished = false;
    FView.SetTimer1Enabled(true);
    FView.SetProgressPosition(0);
    FView.SetCheckBox1(kTextTurnIfPossible, true);
    FCameraFound = true;
    FCameraPath = path;
    FCameraHandled = false;
    ShowCamera();
    return true;
}

void TCameraWatcher::Button1Click()
{
    Rearm(true);
}

void TCameraWatcher::WindowHidden()
{
    // The window is hidden already; the other steps are those of "Fenster Schliessen".
    if (FRunFinished)
        Rearm(false);
}

void TCameraWatcher::Rearm(bool hideWindow)
{
    FRunFinished = false;
    FView.SetTimer1Enabled(true);
    FCameraHandled = true;
    FView.SetLabel1(kTextWaitForPhotos);
    FView.SetProgressPosition(0);
    if (hideWindow)
        FView.HideMainWindow();
    FView.SetCheckBox1(kTextTurnIfPossible, true);
}

void TCameraWatcher::Button2Click()
{
    FView.SetTimer1Enabled(false);
    FView.SetButton2Enabled(false);
    TStringList metaList;
    const std::string documents = FPlatform.DocumentsFolder();
    FTargetBase = documents.empty() ? std::string(1, FPlatform.PathDelim()) + kTargetFolder
                                    : FPlatform.JoinPath(documents, kTargetFolder);
    FRotatedCount = 0;
    FTransferredCount = 0;
    FFailedCount = 0;
    FRecords.clear();

    // A card dismissed with "Fenster Schliessen" and still attached keeps the button enabled: pressing it
    // asks for exactly that card, so its photos are listed afresh and transferred.
    const bool dismissed = FCameraHandled && FCameraFound;
    if (dismissed) {
        FPlatform.FindFiles(FCameraPath, kPhotoMask, FPhotoList, true, true);
        FView.SetProgressMax(FPhotoList.Count());
    }
    const int n = FPhotoList.Count();
    if (n > 0 && (!FCameraHandled || dismissed)) {
        FView.ShowMainWindow();
        // Without a documents folder there is no place of the user's to write
        // to; a missing "Eigene Bilder" is made here, with its parents.
        const TResult targetBase =
            documents.empty() ? TResult::Fail(TFailure::Unavailable, FTargetBase, "no documents folder")
                              : FPlatform.ForceDirectories(FTargetBase);
        // Copies are staged a few at a time before they are flushed and named:
        // one flush of the file system's journal then serves several photos.
        // Moves go one by one.
        const bool move = FView.RadioButton2Checked();
        // A group is also closed after half a second, so that the window is
        // painted and counts up often even when the card is slow.
        std::vector<TPhotoPass> inFlight;
        auto groupStart = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i) {
            if (inFlight.empty())
                groupStart = std::chrono::steady_clock::now();
            inFlight.push_back(PreparePhoto(FPhotoList[i], metaList, targetBase, inFlight));
            if (move || inFlight.size() >= kCopiesInFlight || i == n - 1 ||
                std::chrono::steady_clock::now() - groupStart >= kGroupTime) {
                for (TPhotoPass& pass : inFlight)
                    CompletePhoto(pass);
                inFlight.clear();
            }
        }
        // Until their folders are flushed, the new names could still vanish
        // in a power cut: copies whose names cannot be made safe count as failed.
        if (const TResult flushed = FPlatform.FlushFolders(); !flushed) {
            FFailedCount += FTransferredCount;
            for (TPhotoRecord& record : FRecords) {
                if (record.Outcome != TPhotoOutcome::Skipped && record.Outcome != TPhotoOutcome::Failed) {
                    record.Outcome = TPhotoOutcome::Failed;
                    record.Reason = flushed;
                }
            }
        }
    }
    EndRun();
}

bool TCameraWatcher::ReadMetadata(const std::string& photo, TStringList& metaList)
{
    // A photo whose metadata cannot be read is still a photo: it counts as
    // undated, and the run goes on.
    try {
        return ReadPhotoInfo(photo, metaList);
    } catch (const std::exception&) {
        return false;
    }
}

TCameraWatcher::TPhotoPass TCameraWatcher::PreparePhoto(const std::string& photo, TStringList& metaList,
                                                        const TResult& targetBase,
                                                        const std::vector<TPhotoPass>& inFlight)
{
    metaList.Clear();
    metaList.SetSorted(true);

    bool dated = false;
    if (!ReadMetadata(photo, metaList)) {
        FPhotoOrientation = 0;
    } else {
        std::string value;
        if (FindLine(metaList, "Orientation", value)) {
            FPhotoOrientation = OrientationFromValue(value);
            FView.SetCheckBox1(kTextTurning, true);
        } else {
            FPhotoOrientation = 0;
            FView.SetCheckBox1(kTextNoAutoTurn, false);
        }
        if (FindLine(metaList, "DateTimeOriginal", value)) {
            const std::string day = DayFolderFromExifDate(value);
            if (!day.empty()) {
                FDayFolder = FPlatform.JoinPath(FTargetBase, day);
                dated = true;
            }
        }
    }
    TPhotoPass pass;
    pass.Record.Source = photo;
    if (!dated) {
        // Cameras stamp the file with the time they wrote the photo: the next
        // best date for a photo without a usable one.
        TLocalDate date;
        pass.Record.Reason = FPlatform.FileModifiedDate(photo, date);
        if (pass.Record.Reason) {
            const std::string day = DayFolderFromDate(date);
            if (!day.empty()) {
                FDayFolder = FPlatform.JoinPath(FTargetBase, day);
                dated = true;
            } else {
                pass.Record.Reason = TResult::Fail(TFailure::Damaged, photo, "no usable shooting date");
            }
        }
    }

    pass.Result = PlacePhoto(photo, dated, targetBase, inFlight, pass);
    pass.TargetFile = FTargetFile;
    pass.Orientation = FPhotoOrientation;
    return pass;
}

TCameraWatcher::TPhotoResult TCameraWatcher::PlacePhoto(const std::string& photo, bool dated,
                                                        const TResult& targetBase,
                                                        const std::vector<TPhotoPass>& inFlight,
                                                        TPhotoPass& pass)
{
    TResult& reason = pass.Record.Reason;
    if (!dated)
        return TPhotoResult::Failed;
    if (targetBase)
        FPlatform.CreateDir(FDayFolder); // usually there already
    const std::string name = FPlatform.ExtractFileName(photo);
    FTargetFile = FPlatform.JoinPath(FDayFolder, name);
    pass.Record.Target = FTargetFile;
    if (name.empty() || name == "." || name == "..") {
        reason = TResult::Fail(TFailure::NotSafe, photo, "no file name");
        return TPhotoResult::Failed;
    }

    const bool move = FView.RadioButton2Checked();
    const bool copy = FView.RadioButton1Checked();
    if (!move && !copy)
        return TPhotoResult::Skipped;
    // A photo already at its place is left alone, on the card as well; so is
    // one whose place an earlier photo of this pass is about to take.
    if (FPlatform.FileExists(FTargetFile)) {
        reason = TResult::Fail(TFailure::Exists, FTargetFile);
        return TPhotoResult::Skipped;
    }
    for (const TPhotoPass& earlier : inFlight) {
        if (earlier.Result == TPhotoResult::Pending && earlier.TargetFile == FTargetFile) {
            reason = TResult::Fail(TFailure::Exists, FTargetFile);
            return TPhotoResult::Skipped;
        }
    }
    if (!targetBase) {
        reason = targetBase;
        return TPhotoResult::Failed;
    }
    if (move) {
        reason = FPlatform.MovePhoto(photo, FTargetFile);
        return reason ? TPhotoResult::Transferred : TPhotoResult::Failed;
    }
    reason = FPlatform.StageCopy(photo, FTargetFile, pass.Copy);
    return reason && pass.Copy ? TPhotoResult::Pending : TPhotoResult::Failed;
}

void TCameraWatcher::CompletePhoto(TPhotoPass& pass)
{
    TPhotoRecord& record = pass.Record;
    if (pass.Result == TPhotoResult::Pending) {
        record.Reason = FPlatform.FinishCopy(*pass.Copy);
        pass.Result = record.Reason ? TPhotoResult::Transferred : TPhotoResult::Failed;
        pass.Copy.reset();
    }
    if (pass.Result == TPhotoResult::Transferred) {
        ++FTransferredCount;
        record.Outcome = TPhotoOutcome::Transferred;
    } else if (pass.Result == TPhotoResult::Failed) {
        ++FFailedCount;
        record.Outcome = TPhotoOutcome::Failed;
    } else {
        record.Outcome = TPhotoOutcome::Skipped;
    }

    const std::string copied = Count(FTransferredCount, kTextPhotosCopied);
    FView.SetLabel1(copied);
    FView.SetStatusPanel(0, copied);
    FView.SetProgressPosition(FTransferredCount);
    FView.Repaint();

    if (pass.Orientation > 1 && FView.CheckBox1Checked() && pass.Result == TPhotoResult::Transferred) {
        switch (CorrectPhoto(pass.TargetFile, pass.Orientation).Outcome) {
        case TCorrectionOutcome::Corrected:
            ++FRotatedCount;
            record.Outcome = TPhotoOutcome::Turned;
            FView.SetStatusPanel(1, Count(FRotatedCount, kTextPhotosTurned));
            break;
        case TCorrectionOutcome::Failed:
            ++FFailedCount;
            record.Outcome = TPhotoOutcome::TurnFailed;
            record.Reason = TResult::Fail(TFailure::Other, pass.TargetFile, "could not be turned upright");
            break;
        case TCorrectionOutcome::Skipped:
            break;
        }
    }
    FRecords.push_back(std::move(record));
}

bool TCameraWatcher::ReadPhotoInfo(const std::string& photo, TStringList& metaList)
{
    return ReadExifInfo(photo, metaList);
}

TCorrectionResult TCameraWatcher::CorrectPhoto(const std::string& targetFile, int orientation)
{
    return FCorrector.Correct(targetFile, orientation);
}

void TCameraWatcher::EndRun()
{
    FCameraFound = false;
    FCameraHandled = true;
    FRunFinished = true;
    const bool failures = FFailedCount > 0;
    FView.SetTrayHint(failures ? kTextTransferFaults : kTextPhotosTransferred);
    FView.SetCaption(kTextTransferEnded);
    if (failures) {
        FView.SetLabel1(kTextTransferEndedWithFaults);
        FView.SetStatusPanel(0, Count(FFailedCount, kTextPhotosNotTransferred));
    } else {
        FView.SetLabel1(FTransferredCount >= 1 ? kTextTransferEnded : kTextNoNewPhotos);
    }
    FView.SetBeendenEnabled(true);
    FView.SetButton2Enabled(false);
}
