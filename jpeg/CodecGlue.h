#pragma once

// What every libjpeg object of this area shares: the error manager, the
// setjmp discipline around codec calls, and the source over bytes in memory.
// Only the files of jpeg/ include this header; it names libjpeg's structs
// without including <jpeglib.h>.

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

struct jpeg_common_struct;
struct jpeg_decompress_struct;
struct jpeg_error_mgr;
struct jpeg_source_mgr;

/// The error side of one libjpeg object: its error manager, the jump target
/// of the step running in the codec, the code and text of the error that
/// ended it, the warnings the codec went on after, and an exception one of
/// our callbacks raised.
///
/// A codec error ends in a longjmp back to the frame that called setjmp; the
/// C++ exception is thrown only there, never through the codec's C frames.
class TCodecErrors
{
public:
    TCodecErrors();
    ~TCodecErrors();
    TCodecErrors(const TCodecErrors&) = delete;
    TCodecErrors& operator=(const TCodecErrors&) = delete;

    /// The error manager to put into the codec object's err field before the
    /// object is created.
    jpeg_error_mgr* Manager();
    /// The errors of the codec object whose err field is Manager().
    static TCodecErrors& Of(jpeg_common_struct* cinfo);

    /// Runs one step of codec calls. A codec error, or an exception a
    /// callback kept, leaves the step by longjmp; Run then throws EJPEG (with
    /// the codec's code and text) or the kept exception. The step and every
    /// frame it opens outside the codec hold only trivially destructible
    /// objects, since a longjmp skips their destructors.
    template <class F> void Run(F step)
    {
        if (!Protected(&CallStep<F>, &step))
            Raise();
    }

    /// For our callbacks that the codec calls: runs body; an exception it
    /// raises is kept and the codec left by longjmp to the running step.
    template <class F> static void Guard(jpeg_common_struct* cinfo, F&& body)
    {
        bool failed = false;
        try {
            body();
        } catch (...) { // any exception must stop here: the codec's frames lie above
            Of(cinfo).FPending = std::current_exception();
            failed = true;
        }
        if (failed)
            Of(cinfo).Leave();
    }

    /// Warnings so far: corrupt data the codec went on with, a file cut short.
    int WarningCount() const { return FWarnings; }
    /// The codec's text of the first warning; empty when there was none.
    std::string FirstWarning() const { return FFirstWarning; }
    /// Warnings so far that mean the picture is not all there as it was
    /// written: the file cut short, scan data that does not decode, a
    /// progression out of order (see IsDamageWarning).
    int DamageCount() const { return FDamage; }
    /// The codec's text of the first such warning; empty when there was none.
    std::string FirstDamage() const { return FFirstDamage; }

    /// Whether the codec's warning code stands for damaged picture data.
    static bool IsDamageWarning(int code);

    /// Room for one formatted codec message (libjpeg's JMSG_LENGTH_MAX).
    static constexpr size_t kTextSize = 200;

private:
    struct TManager;
    /// The codec's error exit and message output (warnings and traces).
    static void ErrorExit(jpeg_common_struct* cinfo);
    static void EmitMessage(jpeg_common_struct* cinfo, int level);

    template <class F> static void CallStep(void* step) { (*static_cast<F*>(step))(); }
    /// The frame of setjmp: holds nothing but the two pointers.
    [[gnu::noinline]] bool Protected(void (*step)(void*), void* arg);
    [[noreturn]] void Leave();
    [[noreturn]] void Raise();

    std::unique_ptr<TManager> FManager;
    std::jmp_buf FJump{};
    int FCode = 0;
    char FMessage[kTextSize] = {};
    int FWarnings = 0;
    char FFirstWarning[kTextSize] = {};
    int FDamage = 0;
    char FFirstDamage[kTextSize] = {};
    std::exception_ptr FPending;
};

/// Makes size bytes at data the codec's input (not copied). When they run out
/// the codec is handed an end-of-image marker with a warning, so a file cut
/// short decodes with the missing part filled in.
void UseMemorySource(jpeg_decompress_struct& cinfo, jpeg_source_mgr& source, const uint8_t* data,
                     size_t size);
