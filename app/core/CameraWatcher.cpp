#include "app/core/CameraWatcher.h"

#include "app/core/WindowTexts.h"
#include "meta/phJpegInfo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <utility>

namespace {

const char* const kCameraFolder = "DCIM";
const char* const kPhotoMask = "*.jpg";
const char* const kTargetFolder = "Eigene Bilder";
constexpr size_t kCopiesInFlight = 32;
/// How long a drive's answer stands in for one that does not come: a drive that stopped answering counts as
/// gone after that.
constexpr auto kAnswerAge = std::chrono::milliseconds(2500);
constexpr auto kGroupTime = std::chrono::milliseconds(500);
/// How long the run waits for the turning workers before it paints the window again.
constexpr auto kTurnPatience = std::chrono::milliseconds(200);
/// How often the run paints the window at least, between photos.
constexpr auto kPaintInterval = std::chrono::milliseconds(200);
/// How many other names (NAME_1 ... NAME_9999) a photo may try.
constexpr int kMaxAlternatives = 9999;

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

/// The orientations the correction turns, and then marks as upright (1).
bool IsTurnedOrientation(int orientation)
{
    return orientation == 3 || orientation == 6 || orientation == 8;
}

/// Entries that the correction may change or drop in the copy it saves: the
/// orientation, and those that describe how a picture is stored, which the
/// thumbnail's directory carries (a thumbnail may be turned or left out).
bool MayChangeWhenTurned(const std::string& line)
{
    static const char* const kNames[] = {"Orientation",           "ImageWidth",
                                         "ImageLength",           "BitsPerSample",
                                         "Compression",           "PhotometricInterpretation",
                                         "StripOffsets",          "SamplesPerPixel",
                                         "RowsPerStrip",          "StripByteCounts",
                                         "XResolution",           "YResolution",
                                         "PlanarConfiguration",   "ResolutionUnit",
                                         "JPEGInterchangeFormat", "JPEGInterchangeFormatLength",
                                         "YCbCrCoefficients",     "YCbCrSubSampling",
                                         "YCbCrPositioning",      "ReferenceBlackWhite"};
    const std::string name = line.substr(0, line.find('='));
    for (const char* known : kNames) {
        if (SameText(name, known))
            return true;
    }
    return false;
}

/// The lines of a sorted metadata list that say which photo it is.
std::vector<std::string> IdentifyingLines(const TStringList& list)
{
    std::vector<std::string> lines;
    for (const std::string& line : list.Items()) {
        if (!MayChangeWhenTurned(line))
            lines.push_back(line);
    }
    return lines;
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

std::string AlternativeName(const std::string& name, int index)
{
    if (index <= 0)
        return name;
    // Appended rather than "_" + ...: GCC 12 warns falsely (-Wrestrict) about that form at -O3.
    std::string suffix(1, '_');
    suffix += std::to_string(index);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

// The copy this program turned upright differs from the photo in its bytes,
// so it is recognised by what the correction keeps: the photo's metadata. It
// is the turned copy of the photo when
//  - the photo's orientation (as the run reads it) asked for a correction
//    (greater than 1), and the copy's is 1, or, for the orientations the
//    correction does not turn (the mirrored ones), still the photo's;
//  - both carry the same DateTimeOriginal;
//  - every other entry of either list is also in the other, except the
//    orientation and the entries that describe how a picture is stored,
//    which the thumbnail's directory holds (the camera, the exposure, the
//    sub-seconds, the maker note, GPS and the like all stay);
//  - and (checked by the caller) the files' modification times are the same,
//    to the part of a second the card keeps (exFAT cards keep hundredths),
//    since the copy keeps the photo's. (A documents folder on a FAT disk,
//    which keeps only every other second, may then see a turned copy as
//    another photo: the photo arrives once more under another name, but
//    nothing is lost.)
// Whether turning is switched on now does not matter: the copy may be from a
// run that had it on. Two different photos pass only when they agree in all
// of this: two cameras of one make and model with the same settings, shooting
// in the same second (and hundredth, on exFAT cards) with one of them held
// turned, whose files also carry the same name.
bool IsTurnedCopyOf(const TStringList& copy, const TStringList& photo)
{
    std::string value;
    const int photoOrientation = FindLine(photo, "Orientation", value) ? OrientationFromValue(value) : 0;
    if (photoOrientation <= 1)
        return false;
    const int copyOrientation = FindLine(copy, "Orientation", value) ? OrientationFromValue(value) : 0;
    if (copyOrientation != 1 &&
        (IsTurnedOrientation(photoOrientation) || copyOrientation != photoOrientation))
        return false;
    std::string photoDate;
    std::string copyDate;
    if (!FindLine(photo, "DateTimeOriginal", photoDate) || !FindLine(copy, "DateTimeOriginal", copyDate) ||
        photoDate != copyDate)
        return false;
    return IdentifyingLines(copy) == IdentifyingLines(photo);
}

TCameraWatcher::TCameraWatcher(TPlatform& platform, TWatcherView& view)
    : FPlatform(platform)
    , FView(view)
    , FLog(platform)
    , FQueries(platform.DriveQueries())
    , FDriveAnswers(FPatience.Drives, kAnswerAge)
    , FListings(FPatience.Listing, kAnswerAge)
{
}

void TCameraWatcher::FormCreate()
{
    FCameraHandled = false;
}

void TCameraWatcher::SetPatience(const TWatcherPatience& patience)
{
    FPatience = patience;
    FDriveAnswers.SetPatience(patience.Drives);
    FListings.SetPatience(patience.Listing);
}

void TCameraWatcher::AskDrive(const std::string& root)
{
    // Only the card's own DCIM counts: not a link, nor another volume mounted there. The question owns what
    // it uses, so one that hangs past the watcher's end touches nothing that is gone.
    FDriveAnswers.Ask(root, [queries = FQueries, root] {
        return queries->DriveIsReady(root) && queries->CardFolderExists(root, kCameraFolder);
    });
}

bool TCameraWatcher::ListPhotos(const std::string& cameraPath)
{
    // A camera whose list is shown already keeps it while a slow device lists anew; only its first list is
    // waited for long.
    const bool listed = cameraPath == FListedPath;
    const auto photos = FListings.Get(
        cameraPath,
        [queries = FQueries, cameraPath] {
            TStringList list;
            queries->FindFiles(cameraPath, kPhotoMask, list);
            return list.Items();
        },
        listed ? FPatience.Drives : FPatience.Listing);
    if (!photos)
        return listed;
    FPhotoList.BeginUpdate();
    FPhotoList.Clear();
    for (const std::string& photo : *photos)
        FPhotoList.Add(photo);
    FPhotoList.EndUpdate();
    FListedPath = cameraPath;
    return true;
}

void TCameraWatcher::Timer1Timer()
{
    FCameraFound = false;
    FPlatform.RefreshDrives();
    // Every letter is looked at; the last one that qualifies wins. The drives are asked all at once, each on
    // a worker thread, and one that has not answered when the patience is used up is passed over.
    std::vector<std::string> roots;
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        std::string root = FPlatform.DriveRoot(letter);
        if (root.empty())
            continue;
        AskDrive(root);
        roots.push_back(std::move(root));
    }
    if (!FOfferedRoot.empty())
        AskDrive(FOfferedRoot);
    std::vector<std::string> cameras; // the camera folders of the qualifying drives, the winner last
    for (const std::string& root : roots) {
        if (FDriveAnswers.Answer(root).value_or(false))
            cameras.push_back(FPlatform.JoinPath(root, kCameraFolder));
    }
    // The volume the user opened the program with is the one meant, as long as it is there.
    if (!FOfferedRoot.empty()) {
        const std::optional<bool> there = FDriveAnswers.Answer(FOfferedRoot);
        if (there == true)
            cameras.push_back(FPlatform.JoinPath(FOfferedRoot, kCameraFolder));
        else if (there == false)
            FOfferedRoot.clear();
    }
    FDriveAnswers.Prune();

    if (FCameraHandled) {
        if (!cameras.empty()) {
            FCameraFound = true;
            FCameraPath = cameras.back();
        }
    } else {
        // A camera whose photos cannot be listed in time is passed over as well, for the next one down.
        for (auto it = cameras.rbegin(); it != cameras.rend() && !FCameraFound; ++it) {
            if (ListPhotos(*it)) {
                FCameraFound = true;
                FCameraPath = *it;
            }
        }
        FListings.Prune();
    }

    if (!FCameraFound) {
        FCameraHandled = false;
        FListedPath.clear();
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
    AskDrive(root);
    if (FDriveAnswers.Answer(root) != true)
        return false;
    const std::string path = FPlatform.JoinPath(root, kCameraFolder);
    FOfferedRoot = root;
    // The user asked for this card: whatever was dismissed or transferred before, it is a new attachment,
    // and the watcher runs again as after "Fenster Schliessen".
    FRunFinished = false;
    FView.SetTimer1Enabled(true);
    FView.SetProgressPosition(0);
    FView.SetCheckBox1(kTextTurnIfPossible, true);
    FCameraHandled = false;
    // Its photos are looked at afresh; a device too slow to list them now shows them at a later tick.
    FListedPath.clear();
    if (ListPhotos(path)) {
        FCameraFound = true;
        FCameraPath = path;
        ShowCamera();
    }
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
    FTurnFailedCount = 0;
    FRecords.clear();
    FCleanedFolders.clear();
    FStopping = false;

    // A card dismissed with "Fenster Schliessen" and still attached keeps the button enabled: pressing it
    // asks for exactly that card, so its photos are listed afresh and transferred.
    const bool dismissed = FCameraHandled && FCameraFound;
    if (dismissed) {
        // A device that cannot list them in time gives nothing rather than another camera's list.
        if (!ListPhotos(FCameraPath))
            FPhotoList.Clear();
        FView.SetProgressMax(FPhotoList.Count());
    }
    const int n = FPhotoList.Count();
    const bool move = FView.RadioButton2Checked();
    const bool runs = n > 0 && (!FCameraHandled || dismissed);
    FLog.RunStarted(FCameraPath, move, runs ? n : 0, FTargetBase);
    if (runs) {
        FView.ShowMainWindow();
        // Without a documents folder there is no place of the user's to write
        // to. A missing documents folder is made only inside the home folder
        // (elsewhere it is a disk that is not attached); a missing "Eigene
        // Bilder" is made inside it.
        TResult targetBase = documents.empty()
                                 ? TResult::Fail(TFailure::Unavailable, FTargetBase, "no documents folder")
                                 : FPlatform.ForceUserFolder(documents);
        if (targetBase)
            targetBase = FPlatform.ForceDirectories(FTargetBase);
        // Copies are staged a few at a time before they are flushed and named:
        // one flush of the file system's journal then serves several photos.
        // Moves go one by one.
        // A group is also closed after half a second, so that the window is
        // painted and counts up often even when the card is slow.
        // Photos to be turned go to the turning workers as soon as their copy
        // has its name, and copying goes on meanwhile; each worker has a
        // corrector of its own, made here, where the picture formats are
        // registered.
        const int workers = FTurnWorkers > 0 ? FTurnWorkers : std::max(FPlatform.ProcessorCount(), 1);
        while (FCorrectors.size() < static_cast<size_t>(workers))
            FCorrectors.push_back(std::make_unique<TOrientationCorrector>(FPlatform));
        FTurns = std::make_unique<TTurnPool>(
            workers, [this](int worker, const std::string& file, int orientation) {
                return CorrectPhoto(*FCorrectors[static_cast<size_t>(worker)], file, orientation);
            });
        std::vector<TPhotoPass> inFlight;
        auto groupStart = std::chrono::steady_clock::now();
        FLastPaint = groupStart;
        int started = 0;
        for (; started < n && !FStopping; ++started) {
            if (inFlight.empty())
                groupStart = std::chrono::steady_clock::now();
            inFlight.push_back(PreparePhoto(FPhotoList[started], metaList, targetBase, inFlight));
            // A group of copies may take a while to stage: the window is painted meanwhile.
            if (std::chrono::steady_clock::now() - FLastPaint >= kPaintInterval)
                Paint();
            // A photo to be turned closes its group at once when no other one waits for a worker, so that
            // the workers are never idle for want of a named copy.
            const bool feedTurns = inFlight.back().Result == TPhotoResult::Pending &&
                                   TurnDue(inFlight.back()) && FTurns->NoneWaiting();
            if (move || feedTurns || inFlight.size() >= kCopiesInFlight || started == n - 1 ||
                std::chrono::steady_clock::now() - groupStart >= kGroupTime) {
                for (TPhotoPass& pass : inFlight)
                    CompletePhoto(pass);
                inFlight.clear();
            }
        }
        // A stop between two photos of a group: the copies in hand are finished.
        for (TPhotoPass& pass : inFlight)
            CompletePhoto(pass);
        inFlight.clear();
        // The run ends when the last turn is saved.
        while (FTurns->Outstanding() > 0) {
            if (FStopping)
                TurnsAbandoned(FTurns->Abandon());
            CollectTurns(kTurnPatience);
            Paint();
        }
        FTurns.reset();
        if (started < n)
            FLog.RunStopped(n - started);
        // Until their folders are flushed, the new names could still vanish
        // in a power cut: copies whose names cannot be made safe count as failed.
        if (const TResult flushed = FPlatform.FlushFolders(); !flushed) {
            FFailedCount += FTransferredCount;
            FTurnFailedCount = 0;
            for (TPhotoRecord& record : FRecords) {
                if (record.Outcome != TPhotoOutcome::Skipped && record.Outcome != TPhotoOutcome::Failed) {
                    record.Outcome = TPhotoOutcome::Failed;
                    record.Reason = flushed;
                    FLog.PhotoDone(record);
                }
            }
        }
    }
    TRunCounts counts;
    for (const TPhotoRecord& record : FRecords) {
        switch (record.Outcome) {
        case TPhotoOutcome::Failed:
            ++counts.Failed;
            continue;
        case TPhotoOutcome::Skipped:
            counts.AlreadyThere += record.Reason.Kind() == TFailure::Exists ? 1 : 0;
            continue;
        case TPhotoOutcome::Turned:
            ++counts.Turned;
            break;
        case TPhotoOutcome::TurnFailed:
            ++counts.NotTurned;
            break;
        case TPhotoOutcome::Transferred:
            break;
        }
        ++counts.Transferred;
        counts.Renamed += record.Renamed ? 1 : 0;
        counts.KeptOnCard += record.KeptOnCard ? 0 : 1;
    }
    FLog.RunEnded(counts);
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

    pass.Result = PlacePhoto(photo, metaList, dated, targetBase, inFlight, pass);
    pass.TargetFile = FTargetFile;
    pass.Orientation = FPhotoOrientation;
    return pass;
}

TCameraWatcher::TPhotoResult TCameraWatcher::PlacePhoto(const std::string& photo, const TStringList& metaList,
                                                        bool dated, const TResult& targetBase,
                                                        const std::vector<TPhotoPass>& inFlight,
                                                        TPhotoPass& pass)
{
    TResult& reason = pass.Record.Reason;
    if (!dated)
        return TPhotoResult::Failed;
    const std::string name = FPlatform.ExtractFileName(photo);
    FTargetFile = FPlatform.JoinPath(FDayFolder, name);
    pass.Record.Target = FTargetFile;
    if (name.empty() || name == "." || name == "..") {
        reason = TResult::Fail(TFailure::NotSafe, photo, "no file name");
        return TPhotoResult::Failed;
    }
    if (!targetBase) {
        reason = targetBase;
        return TPhotoResult::Failed;
    }
    FPlatform.CreateDir(FDayFolder); // usually there already
    CleanDayFolder(FDayFolder);

    const bool move = FView.RadioButton2Checked();
    const bool copy = FView.RadioButton1Checked();
    if (!move && !copy)
        return TPhotoResult::Skipped;
    if (const TPhotoResult found = FindPlace(photo, name, metaList, inFlight, pass);
        found != TPhotoResult::Pending)
        return found;
    pass.Record.Target = FTargetFile;
    if (move) {
        reason = FPlatform.MovePhoto(photo, FTargetFile, &pass.Record.KeptOnCard);
        return reason ? TPhotoResult::Transferred : TPhotoResult::Failed;
    }
    reason = FPlatform.StageCopy(photo, FTargetFile, pass.Copy);
    return reason && pass.Copy ? TPhotoResult::Pending : TPhotoResult::Failed;
}

TCameraWatcher::TPhotoResult TCameraWatcher::FindPlace(const std::string& photo, const std::string& name,
                                                       const TStringList& metaList,
                                                       const std::vector<TPhotoPass>& inFlight,
                                                       TPhotoPass& pass)
{
    // The photo's own name first, then NAME_1, NAME_2, ...: the first that is
    // free is its place, unless a file under one of them before it is this
    // very photo. A name an earlier photo of this pass is about to take is
    // not free; that photo is this one when their bytes are the same.
    for (int index = 0; index <= kMaxAlternatives; ++index) {
        const std::string candidate = FPlatform.JoinPath(FDayFolder, AlternativeName(name, index));
        const auto pending = std::find_if(inFlight.begin(), inFlight.end(), [&](const TPhotoPass& earlier) {
            return earlier.Result == TPhotoResult::Pending && earlier.TargetFile == candidate;
        });
        bool there = false;
        if (pending != inFlight.end()) {
            bool same = false;
            there = FPlatform.SameFileContents(photo, pending->Record.Source, same) && same;
        } else if (!FPlatform.FileExists(candidate) && !FPlatform.DirectoryExists(candidate)) {
            FTargetFile = candidate;
            pass.Record.Renamed = index > 0;
            return TPhotoResult::Pending;
        } else {
            there = IsThisPhoto(photo, metaList, candidate);
        }
        if (there) {
            // In its day folder already: left alone, on the card as well.
            FTargetFile = candidate;
            pass.Record.Target = candidate;
            pass.Record.Reason = TResult::Fail(TFailure::Exists, candidate, "the photo is there already");
            return TPhotoResult::Skipped;
        }
    }
    pass.Record.Reason = TResult::Fail(TFailure::Exists, FTargetFile, "no free name for the photo");
    return TPhotoResult::Failed;
}

bool TCameraWatcher::IsThisPhoto(const std::string& photo, const TStringList& metaList,
                                 const std::string& target)
{
    bool same = false;
    if (FPlatform.SameFileContents(photo, target, same) && same)
        return true;
    // The copy keeps the photo's modification time, to the part of a second
    // the card keeps.
    int64_t photoTime = 0;
    int64_t targetTime = 0;
    int photoPart = 0;
    int targetPart = 0;
    if (!FPlatform.FileModifiedTime(photo, photoTime, photoPart) ||
        !FPlatform.FileModifiedTime(target, targetTime, targetPart) || photoTime != targetTime ||
        photoPart != targetPart)
        return false;
    TStringList targetList;
    targetList.SetSorted(true);
    return ReadMetadata(target, targetList) && IsTurnedCopyOf(targetList, metaList);
}

void TCameraWatcher::CleanDayFolder(const std::string& folder)
{
    if (!FCleanedFolders.insert(folder).second)
        return;
    int removed = 0;
    const TResult result = FPlatform.RemoveStaleTemporaries(folder, removed);
    FLog.TemporariesRemoved(folder, removed, result);
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
    const bool turn = pass.Result == TPhotoResult::Transferred && TurnDue(pass);
    FRecords.push_back(std::move(record));
    if (turn) {
        // Logged when its turn has ended.
        HandOverTurn(FRecords.size() - 1, pass.TargetFile, pass.Orientation);
    } else {
        FLog.PhotoDone(FRecords.back());
    }
    ShowProgress();
    Paint();
    CollectTurns(std::chrono::milliseconds::zero());
}

bool TCameraWatcher::TurnDue(const TPhotoPass& pass) const
{
    return pass.Orientation > 1 && FView.CheckBox1Checked();
}

void TCameraWatcher::HandOverTurn(size_t index, const std::string& file, int orientation)
{
    TTurnJob job{index, file, orientation};
    // At most one photo waits for a free worker; until there is room, the
    // window is painted and the turns that end are counted.
    while (!FStopping) {
        if (FTurns->Submit(job, kTurnPatience))
            return;
        CollectTurns(std::chrono::milliseconds::zero());
        Paint();
    }
    TurnsAbandoned({std::move(job)});
}

void TCameraWatcher::CollectTurns(std::chrono::milliseconds patience)
{
    std::vector<TTurnDone> ended = FTurns->TakeDone(patience);
    for (TTurnDone& done : ended)
        TurnEnded(done);
    if (!ended.empty())
        ShowProgress();
}

void TCameraWatcher::TurnEnded(TTurnDone& done)
{
    TPhotoRecord& record = FRecords[done.Record];
    switch (done.Result.Outcome) {
    case TCorrectionOutcome::Corrected:
        ++FRotatedCount;
        record.Outcome = TPhotoOutcome::Turned;
        if (FTurnFailedCount == 0)
            FView.SetStatusPanel(1, Count(FRotatedCount, kTextPhotosTurned));
        break;
    case TCorrectionOutcome::Failed:
        // Transferred all the same: it counts apart from the photos that did not arrive.
        ++FTurnFailedCount;
        record.Outcome = TPhotoOutcome::TurnFailed;
        record.Reason = done.Result.Reason
                            ? TResult::Fail(TFailure::Other, record.Target, "could not be turned upright")
                            : std::move(done.Result.Reason);
        FView.SetStatusPanel(1, Count(FTurnFailedCount, kTextPhotosNotTurned));
        break;
    case TCorrectionOutcome::Skipped:
        break;
    }
    FLog.PhotoDone(record);
}

void TCameraWatcher::TurnsAbandoned(std::vector<TTurnJob> jobs)
{
    for (TTurnJob& job : jobs) {
        TTurnDone done{job.Record,
                       {TCorrectionOutcome::Failed,
                        TResult::Fail(TFailure::Other, job.File, "not turned: the program ended")}};
        TurnEnded(done);
    }
}

void TCameraWatcher::Paint()
{
    FLastPaint = std::chrono::steady_clock::now();
    FView.Repaint();
}

void TCameraWatcher::ShowProgress()
{
    // A photo to be turned is done when its turn is saved.
    const size_t turning = FTurns ? FTurns->Outstanding() : 0;
    FView.SetProgressPosition(FTransferredCount -
                              static_cast<int>(std::min<size_t>(turning, FTransferredCount)));
}

bool TCameraWatcher::ReadPhotoInfo(const std::string& photo, TStringList& metaList)
{
    return ReadExifInfo(photo, metaList);
}

TCorrectionResult TCameraWatcher::CorrectPhoto(TOrientationCorrector& corrector,
                                               const std::string& targetFile, int orientation)
{
    return corrector.Correct(targetFile, orientation);
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
