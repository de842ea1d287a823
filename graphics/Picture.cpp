#include "graphics/Graphics.h"

#include <algorithm>

namespace {

// A picture class of the runtime that this program does not carry (metafiles,
// icons): its registry entry exists, but a file of that kind cannot be loaded.
TGraphicFactory Unsupported(const std::string& extension)
{
    return [extension]() -> std::unique_ptr<TGraphic> {
        throw EInvalidGraphic(FormatS("Bilddateien vom Typ .%s werden nicht unterstützt", extension));
    };
}

std::vector<TFileFormat>& Registry()
{
    static std::vector<TFileFormat> formats = {
        {"wmf", "Metadateien", "TMetafile", Unsupported("wmf")},
        {"emf", "Erweiterte Metadateien", "TMetafile", Unsupported("emf")},
        {"ico", "Symbole", "TIcon", Unsupported("ico")},
        {"bmp", "Bitmaps", "TBitmap", [] { return std::unique_ptr<TGraphic>(std::make_unique<TBitmap>()); }},
    };
    return formats;
}

} // namespace

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::RegisterFormat(const std::string& extension, const std::string& description,
                              const std::string& className, TGraphicFactory factory)
{
    Registry().push_back(TFileFormat{LowerCaseExt(extension), description, className, std::move(factory)});
}

void TPicture::UnregisterGraphicClass(const std::string& className)
{
    auto& formats = Registry();
    formats.erase(std::remove_if(formats.begin(), formats.end(),
                                 [&](const TFileFormat& f) { return f.ClassName == className; }),
                  formats.end());
}

const TFileFormat* TPicture::FindByExtension(const std::string& extension)
{
    const std::string ext = LowerCaseExt(extension);
    const auto& formats = Registry();
    for (auto it = formats.rbegin(); it != formats.rend(); ++it)
        if (it->Extension == ext)
            return &*it;
    return nullptr;
}

std::vector<TFileFormat> TPicture::Formats()
{
    return Registry();
}

void TPicture::LoadFromFile(const std::string& fileName)
{
    const std::string ext = ExtractExtension(fileName);
    const TFileFormat* format = FindByExtension(ext);
    if (format == nullptr)
        throw EInvalidGraphic(FormatS("Unbekannte Bilddateierweiterung (.%s)", ext));
    // The previous picture is replaced only once the new one has loaded.
    std::unique_ptr<TGraphic> graphic = format->Factory();
    graphic->OnProgress = [this](const TGraphic& sender, TProgressStage stage, uint8_t percent, bool redraw,
                                 const TRect& rect, const std::string& msg) {
        if (OnProgress)
            OnProgress(sender, stage, percent, redraw, rect, msg);
    };
    graphic->LoadFromFile(fileName);
    FGraphic = std::move(graphic);
    Hook(*FGraphic);
    Changed();
}

void TPicture::SaveToFile(const std::string& fileName)
{
    if (FGraphic)
        FGraphic->SaveToFile(fileName);
}

void TPicture::SetGraphic(const TGraphic* graphic)
{
    if (graphic == FGraphic.get())
        return;
    if (graphic == nullptr) {
        FGraphic.reset();
        Changed();
        return;
    }
    const TFileFormat* format = nullptr;
    for (const auto& f : Registry())
        if (f.ClassName == graphic->ClassName())
            format = &f;
    if (format == nullptr)
        throw EInvalidGraphic(FormatS("Unbekannte Grafikklasse %s", graphic->ClassName()));
    std::unique_ptr<TGraphic> copy = format->Factory();
    copy->Assign(graphic);
    FGraphic = std::move(copy);
    Hook(*FGraphic);
    Changed();
}

TBitmap& TPicture::Bitmap()
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(FGraphic.get()))
        return *bitmap;
    auto bitmap = std::make_unique<TBitmap>();
    TBitmap& result = *bitmap;
    FGraphic = std::move(bitmap);
    Hook(*FGraphic);
    Changed();
    return result;
}

void TPicture::Hook(TGraphic& graphic)
{
    graphic.OnChange = [this](const TGraphic&) { Changed(); };
    graphic.OnProgress = [this](const TGraphic& sender, TProgressStage stage, uint8_t percent, bool redraw,
                                const TRect& rect, const std::string& msg) {
        if (OnProgress)
            OnProgress(sender, stage, percent, redraw, rect, msg);
    };
}

void TPicture::Changed()
{
    if (OnChange)
        OnChange(*this);
}
